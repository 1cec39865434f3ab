// The console's picture and keys: what reached the screen is taken whole the
// first time and then only where it changed, its update messages decode (with
// libpng's own reader) to exactly the screen's pixels in both pixel formats,
// and a browser's asks and taps are read strictly and held long enough for the
// key thread's debounce.
#include "PictureMessage.h"

#include "draw/Damage.h"
#include "draw/Fb.h"
#include "remote/AudioTap.h"
#include "web/Audio.h"
#include "web/Control.h"
#include "web/Picture.h"

#include <cstring>

namespace {

void paint(FrameBuffer* fb, const PixelRect& r, uint8_t seed) {
    for (int y = r.y0; y < r.y1; y++)
        for (int x = r.x0; x < r.x1; x++)
            for (int i = 0; i < fb->pixelSize; i++)
                fb->work[y * fb->lineSize + x * fb->pixelSize + i] = uint8_t(seed + x * 7 + y * 13 + i * 101);
}

class WebPictureFormats : public ::testing::TestWithParam<int> {};

TEST_P(WebPictureFormats, UpdatesRebuildTheScreenExactlyFromWhatChanged) {
    FrameBuffer* fb = fbInitMemory(120, 80, GetParam());
    ASSERT_NE(fb, nullptr);
    paint(fb, {0, 0, 120, 80}, 1);
    fbRealize(fb); // before anyone watches: taken whole at the first take

    WebPicture pic;
    std::vector<PixelRect> changed;
    std::string mirror(120 * 80 * 3, '\0');
    auto take = [&] {
        changed.clear();
        WebPictureTake(fb, &pic, &changed);
    };
    // The pieces of the update message of what changed, once the page's mirror
    // is the screen again (the first whole, as nothing was there); -1 when not.
    auto sent = [&] {
        std::vector<uint8_t> m;
        int pieces = -1;
        const bool ok =
            WebPictureMessage(pic, changed, &m) &&
            ApplyPictureMessage(std::string(m.begin(), m.end()), 120, 80, &mirror, &pieces);
        return ok && mirror == ScreenRgb(fb) ? pieces : -1;
    };
    take();
    EXPECT_EQ(sent(), 1);

    // Nothing shown since: nothing to send.
    take();
    EXPECT_TRUE(changed.empty());

    // Pieces painted and shown by a tick, each pixel unlike what was there.
    auto show = [&](const std::vector<PixelRect>& rects, uint8_t seed) {
        for (const PixelRect& r : rects) {
            paint(fb, r, seed);
            for (int y = r.y0; y < r.y1; y++)
                std::memcpy(fb->screen + y * fb->lineSize + r.x0 * fb->pixelSize,
                            fb->work + y * fb->lineSize + r.x0 * fb->pixelSize,
                            (r.x1 - r.x0) * fb->pixelSize);
            PictureLock lock(PictureMutex());
            fbShown(fb, &r);
        }
    };
    // Two pieces shown: only they come, and the mirror follows.
    std::vector<PixelRect> ticks = {{3, 4, 20, 9}, {60, 50, 119, 79}};
    show(ticks, 77);
    take();
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(fbArea(changed[0]) + fbArea(changed[1]), fbArea(ticks[0]) + fbArea(ticks[1]));
    EXPECT_EQ(sent(), 2);

    // Many scattered pieces: the list stays bounded, and what it merges them
    // into still covers every pixel shown.
    std::vector<PixelRect> scattered;
    for (int i = 0; i < 60; i++)
        scattered.push_back({(i * 37) % 114, (i * 53) % 76, (i * 37) % 114 + 6, (i * 53) % 76 + 4});
    show(scattered, 9);
    EXPECT_LE(fb->shown.size(), kShownRects);
    take();
    EXPECT_EQ(sent(), static_cast<int>(changed.size()));

    // A whole copy (a page change) is one whole piece again.
    paint(fb, {0, 0, 120, 80}, 200);
    fbRealize(fb);
    take();
    EXPECT_EQ(sent(), 1);

    // Unwatched, the framebuffer keeps no list.
    WebPictureDrop(fb, &pic);
    show({{0, 0, 10, 10}}, 5);
    EXPECT_TRUE(fb->shown.empty());
    fbRelease(fb, true);
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, WebPictureFormats, ::testing::Values(32, 16));

// (The other asks a browser sends, each with its value, reach the panel:
// WebConsoleRun.TheConsoleMirrors…, browser.console.)
TEST(WebAsks, OnlyTheExactShortTextsAreAsks) {
    int key = 0;
    for (const std::string& bad : std::vector<std::string>{
             "{\"key\":7,\"down\":true}", "{\"key\":0,\"down\":true}", "{\"key\":12,\"down\":true}",
             "{\"key\":3,\"down\":maybe}", "{\"key\":3,\"down\":true}x", "{\"key\":3}",
             "{\"take\":false}", "", "{\"key\":3,\"down\":true" + std::string(60, ' ') + "}",
             "{\"talk\":yes}"})
        EXPECT_EQ(WebParseAsk(bad.data(), bad.size(), &key), WebAsk::None) << bad;
    // Talk off: the server's own gate of the microphone.
    EXPECT_EQ(WebParseAsk("{\"talk\":false}", 14, &key), WebAsk::Talk);
    EXPECT_EQ(key, 0);
    // Taken by its length: what follows is not read.
    EXPECT_EQ(WebParseAsk("{\"take\":true}GARBAGE", 13, &key), WebAsk::Take);
}

TEST(WebKeyTaps, AShortTapIsHeldForItsMinimumAndALongPressAsLongAsTheFinger) {
    WebKeys k;
    WebKeyDown(&k, 6, 1000);
    EXPECT_EQ(k.held, 0x20);
    WebKeyUp(&k, 6, 1010); // a 10 ms tap
    EXPECT_EQ(k.held, 0x20);
    EXPECT_FALSE(WebKeysDue(&k, 1000 + kWebTapMs - 1));
    EXPECT_TRUE(WebKeysDue(&k, 1000 + kWebTapMs));
    EXPECT_EQ(k.held, 0);

    WebKeyDown(&k, 2, 5000);
    EXPECT_FALSE(WebKeysDue(&k, 6500));
    WebKeyUp(&k, 2, 6500); // held 1.5 s: released at once
    EXPECT_EQ(k.held, 0);

    // A new press of a key whose tap is still held cancels the waiting release.
    WebKeyDown(&k, 3, 9000);
    WebKeyUp(&k, 3, 9001);
    WebKeyDown(&k, 3, 9050);
    EXPECT_FALSE(WebKeysDue(&k, 9200));
    EXPECT_EQ(k.held, 0x04);
    WebKeyUp(&k, 4, 9300); // a key not held: nothing
    EXPECT_EQ(k.held, 0x04);
    WebKeysClear(&k);
    EXPECT_EQ(k.held, 0);
}

TEST(WebAudio, TheStationsAudioGoesOutAsPcmOrOpusAndTheMicrophoneIsBounded) {
    // Closed, the tap takes nothing.
    std::vector<int16_t> stereo;
    for (int i = 0; i < 960; i++)
        stereo.insert(stereo.end(), {int16_t(i), int16_t(i + 2)});
    AudioTapOpen(false);
    AudioTapOffer(stereo.data(), 960);
    WebAudioDown down;
    std::vector<int16_t> raw, out;
    WebAudioTake(&raw);
    EXPECT_TRUE(raw.empty());
    // Open: mono, and at 16 kHz every three samples one.
    AudioTapOpen(true);
    AudioTapOffer(stereo.data(), 960);
    WebAudioTake(&raw);
    ASSERT_EQ(raw.size(), 960u);
    EXPECT_EQ(raw[5], 6); // (5 + 7) / 2
    WebAudioDecimate(&down, raw, &out);
    ASSERT_EQ(out.size(), 320u);
    EXPECT_EQ(out[0], 2);   // (1 + 2 + 3) / 3
    EXPECT_EQ(out[10], 32); // (31 + 32 + 33) / 3
    // A listener that fell behind keeps the newest half second of the ring.
    for (int i = 0; i < 40; i++)
        AudioTapOffer(stereo.data(), 960);
    raw.clear();
    WebAudioTake(&raw);
    EXPECT_EQ(raw.size(), kAudioTapFrames);
    AudioTapOpen(false);
    // Opus: whole 20 ms packets, the rest kept for the next take. (That they
    // decode into the station's tone: browser.console.)
    WebOpus opus;
    std::vector<std::vector<uint8_t>> packets;
    ASSERT_TRUE(WebOpusEncode(&opus, std::vector<int16_t>(2500, 1000), &packets));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(opus.frame.size(), 2500u - 2 * kWebOpusFrame);
    std::vector<uint8_t> m0;
    WebOpusMessage(packets, 0, &m0);
    ASSERT_EQ(m0.size(), 6 + 4 + packets[0].size() + packets[1].size());
    EXPECT_EQ(std::string(m0.begin(), m0.begin() + 4), "OPS1");
    EXPECT_EQ(m0[4], 2);
    EXPECT_EQ(m0[6], packets[0].size());
    WebOpusEnd(&opus);
    // A console's queue keeps its newest half second.
    std::vector<int16_t> pending, block(6000, 7);
    block.back() = 9;
    WebAudioQueue(&pending, block);
    WebAudioQueue(&pending, block);
    EXPECT_EQ(pending.size(), kWebAudioKeep);
    EXPECT_EQ(pending.back(), 9);
    std::vector<uint8_t> m;
    WebAudioMessage({1, -2}, 3, &m);
    EXPECT_EQ(m, (std::vector<uint8_t>{0, 0, 0, 'P', 'C', 'M', '1', 1, 0, 0xFE, 0xFF}));

    // The microphone: its tag, whole samples, bounded.
    std::vector<int16_t> mono;
    const uint8_t mic[] = {'M', 'I', 'C', '1', 0x10, 0x00, 0xFF, 0x7F};
    ASSERT_TRUE(WebMicSamples(mic, sizeof mic, &mono));
    EXPECT_EQ(mono, (std::vector<int16_t>{16, 32767}));
    EXPECT_FALSE(WebMicSamples(mic, 7, &mono));
    const uint8_t notMic[] = {'P', 'C', 'M', '1', 0, 0};
    EXPECT_FALSE(WebMicSamples(notMic, sizeof notMic, &mono));
    std::vector<uint8_t> huge(4 + 2 * (kWebMicFrames + 1), 0);
    std::memcpy(huge.data(), "MIC1", 4);
    EXPECT_FALSE(WebMicSamples(huge.data(), huge.size(), &mono));
    EXPECT_TRUE(WebMicSamples(huge.data(), huge.size() - 2, &mono));
}

} // namespace
