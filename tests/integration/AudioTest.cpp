// The audio threads on the model of the USB sound interface (an ALSA plugin that
// keeps real time): capture sends whole blocks as "SO" messages, raw or Opus;
// playback plays received blocks, with its latency control and underruns; the
// interface unplugged ends both threads.
#include "RootedWorks.h"

#include "app/Main.h"
#include "devsim/SimAudio.h"
#include "remote/AudioDevice.h"
#include "wire/Messages.h"
#include "remote/th_leggi.h"
#include "remote/th_scrivi.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <opus/opus.h>
#include <sys/socket.h>

namespace {

class Audio : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4); // the playback thread's 3 s before it opens its device
        w->startupFlags.replace(0);
        capture = {"tavin", 700, "", "", dir.path + "/sim/tavin", "", ""};
        playback = {"tavout", 0, "", dir.path + "/played.raw", dir.path + "/sim/tavout", "", ""};
        ASSERT_TRUE(SimAudioWriteConfig(dir.path, {capture, playback}));
        ASSERT_TRUE(SimAudioPlug(dir.path, {capture, playback}, true));
        // alsa-lib reads the devices from $HOME/.asoundrc, afresh for each test.
        const char* home = std::getenv("HOME");
        savedHome = home ? home : "";
        setenv("HOME", dir.path.c_str(), 1);
        snd_config_update_free_global();
        setup->AudioIn.set("tavin");
        setup->AudioOut.set("tavout");
        setup->InChannels.set("1");
        w->settings.audioMultiplier = 240; // Multiplier 1
    }
    void TearDown() override {
        w->running = 0;
        // The remote restart starts the CAT relay and the USB receiver too.
        for (Thread t : {Thread::AudioIn, Thread::AudioOut, Thread::CatRelay, Thread::UsbRx})
            JoinThread(SlotOf(t));
        DestroyAudioCodec(w.get());
        setenv("HOME", savedHome.c_str(), 1);
        snd_config_update_free_global();
        RootedWorks::TearDown();
    }
    // The next "SO" frame the unit sends: its payload.
    std::vector<uint8_t> nextAudio(int timeoutMs = 3000) {
        uint8_t head[10];
        if (!readPeer(head, sizeof head, timeoutMs) || head[0] != 0x82 || head[1] != 0x7E || head[4] != 'S' ||
            head[5] != 'O')
            return {};
        const size_t n = (static_cast<size_t>(head[6]) << 24) | (head[7] << 16) | (head[8] << 8) | head[9];
        const size_t len16 = (static_cast<size_t>(head[2]) << 8) | head[3];
        EXPECT_EQ(len16, n + 6);
        std::vector<uint8_t> payload(n);
        if (!readPeer(payload.data(), n, timeoutMs))
            return {};
        return payload;
    }
    void startCapture() {
        remoteSession();
        setup->EnableRead = '1';
        StartThreadAudioRead(w.get());
    }
    void startPlayback() {
        setup->EnableWrite = '1';
        StartThreadAudioWrite(w.get());
    }
    // Playback in a session whose blocks are `frames` frames long, its device ready.
    void playbackReady(int frames) {
        w->settings.audioMultiplier = frames;
        w->remoteConnected = 1; // a session: the thread prepares its device
        startPlayback();
        ASSERT_TRUE(logged("6 output audio interface prepared", 8000));
    }
    // What the session thread does with a block received: in a thread of its
    // own, as the playback's latency is counted per session thread.
    void received(bool server, const uint8_t* data, size_t n) {
        std::thread([&] { PlayReceivedAudio(w.get(), server, data, n); }).join();
    }

    SimAudioDevice capture, playback;
    std::string savedHome;
};

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& raw) {
    std::vector<int16_t> s(raw.size() / 2);
    for (size_t i = 0; i < s.size(); i++)
        s[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    return s;
}

TEST(AudioBlocks, TheQueueMayGrowBy4800FramesAndNoMore) {
    PlaybackLatency t;
    EXPECT_TRUE(PlaybackKeepsUp(&t, 16384)); // the first reading
    EXPECT_TRUE(PlaybackKeepsUp(&t, 16384 - 4800));
    EXPECT_FALSE(PlaybackKeepsUp(&t, 16384 - 4801));
    EXPECT_EQ(t.minfree, 16384); // counted again from the first reading
    EXPECT_TRUE(PlaybackKeepsUp(&t, 16000));
    EXPECT_TRUE(PlaybackKeepsUp(&t, -32)); // an error reading is not counted
}

TEST_F(Audio, CaptureSendsWholeStereoBlocksOfTheTone) {
    startCapture();
    std::vector<int16_t> tone;
    for (int i = 0; i < 50; i++) {
        const std::vector<uint8_t> p = nextAudio();
        ASSERT_EQ(p.size(), 960u) << i; // 240 stereo frames, raw
        const std::vector<int16_t> s = samplesOf(p);
        for (size_t f = 0; f < 240; f++)
            ASSERT_EQ(s[2 * f], s[2 * f + 1]) << "mono widened: both channels alike";
        tone.insert(tone.end(), s.begin(), s.end());
    }
    EXPECT_NEAR(SimAudioToneHz(tone, 2, 0, tone.size() / 2), 700.0, 2.0);
    EXPECT_TRUE(logged("6 capture audio interface tavin opened"));
    EXPECT_TRUE(logged("6 capture hw_params number of channels set to 1"));
}

TEST_F(Audio, CompressedBlocksDecodeIntoTheToneWithAnIndependentDecoder) {
    w->settings.audioBitrate = 64000;
    CreateAudioCodec(w.get());
    ASSERT_NE(w->audio.opusEncoder, nullptr);
    w->settings.audioMultiplier = 480; // 10 ms at 48 kHz
    startCapture();
    int err = 0;
    OpusDecoder* dec = opus_decoder_create(48000, 2, &err);
    ASSERT_EQ(err, OPUS_OK);
    std::vector<int16_t> tone;
    for (int i = 0; i < 60; i++) {
        const std::vector<uint8_t> p = nextAudio();
        ASSERT_FALSE(p.empty()) << i;
        ASSERT_LT(p.size(), 480u * 4) << "a packet, not raw samples";
        std::vector<int16_t> pcm(480 * 2);
        ASSERT_EQ(opus_decode(dec, p.data(), static_cast<opus_int32>(p.size()), pcm.data(), 480, 0), 480);
        tone.insert(tone.end(), pcm.begin(), pcm.end());
    }
    opus_decoder_destroy(dec);
    // Past the codec's start-up: the tone.
    EXPECT_NEAR(SimAudioToneHz(tone, 2, 4800, tone.size() / 2 - 4800), 700.0, 3.0);
}

TEST_F(Audio, ACodecThatCannotBeMadeTurnsCompressionOff) {
    w->settings.audioBitrate = 64000;
    w->audio.audioRate = 44100; // not an Opus rate
    CreateAudioCodec(w.get());
    EXPECT_EQ(w->audio.opusEncoder, nullptr);
    EXPECT_EQ(w->audio.opusDecoder, nullptr);
    EXPECT_EQ(w->settings.audioBitrate, 0);
    EXPECT_TRUE(logged("3 failed to create an encoder: invalid argument"));
}

// The device keeps the wall clock, whatever the program's.
void realSleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST_F(Audio, PlaybackPlaysReceivedBlocksAndACorruptPacketAsOneSilentBlock) {
    w->settings.audioBitrate = 64000;
    CreateAudioCodec(w.get());
    ASSERT_NO_FATAL_FAILURE(playbackReady(480));
    // Packets of an independent encoder: a 1000 Hz tone for 300 ms.
    int err = 0;
    OpusEncoder* enc = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
    ASSERT_EQ(err, OPUS_OK);
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(64000));
    std::thread session([&] {
        std::vector<int16_t> pcm(480 * 2);
        uint8_t packet[4000];
        for (int b = 0; b < 30; b++) {
            for (int f = 0; f < 480; f++)
                pcm[2 * f] = pcm[2 * f + 1] =
                    static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * (b * 480 + f) / 48000.0));
            const int n = opus_encode(enc, pcm.data(), 480, packet, sizeof packet);
            PlayReceivedAudio(w.get(), true, packet, static_cast<size_t>(n));
            realSleepMs(10);
        }
    });
    session.join();
    opus_encoder_destroy(enc);
    ASSERT_TRUE(WaitFor([&] { return SimAudioRead(playback.outFile).size() >= 30u * 480 * 2; }, 10000));
    const std::vector<int16_t> played = SimAudioRead(playback.outFile);
    EXPECT_NEAR(SimAudioToneHz(played, 2, 4800, 9600), 1000.0, 3.0);

    // With the device held, one corrupt packet queues one block, all silent.
    ASSERT_TRUE(SimAudioHold(playback, true));
    realSleepMs(100);
    const size_t before = SimAudioRead(playback.outFile).size();
    const uint8_t junk[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    received(true, junk, sizeof junk);
    ASSERT_TRUE(SimAudioHold(playback, false));
    ASSERT_TRUE(WaitFor([&] { return SimAudioRead(playback.outFile).size() >= before + 480u * 2; }, 10000));
    const std::vector<int16_t> after = SimAudioRead(playback.outFile);
    ASSERT_EQ(after.size() - before, 480u * 2);
    for (size_t i = before; i < after.size(); i++)
        ASSERT_EQ(after[i], 0) << i;
}

// The queue may grow by 4800 frames and no more: a block that finds more
// queued empties the queue instead of being written. After an underrun the
// server plays the block again and the client drops it.
TEST_F(Audio, AQueueGrownPast4800FramesIsResetAndAfterAnUnderrunOnlyTheServerPlays) {
    ASSERT_NO_FATAL_FAILURE(playbackReady(240));
    ASSERT_TRUE(SimAudioHold(playback, true)); // the device takes nothing: the queue grows
    realSleepMs(100);
    std::vector<uint8_t> block(240 * 4, 0x40);
    std::thread session([&] {
        // Twenty blocks are 4800 frames: still played; the twenty-second finds
        // 5040 queued and empties the queue instead.
        for (int b = 0; b < 22; b++)
            PlayReceivedAudio(w.get(), true, block.data(), block.size());
    });
    session.join();
    ASSERT_TRUE(SimAudioHold(playback, false));
    realSleepMs(300);
    EXPECT_EQ(SimAudioRead(playback.outFile).size(), 0u) << "the queued frames were thrown away";

    received(true, block.data(), block.size());
    realSleepMs(100); // played out: the device runs dry
    received(true, block.data(), block.size()); // an underrun, then the block again
    EXPECT_TRUE(WaitFor([&] { return SimAudioRead(playback.outFile).size() == 2u * 240 * 2; }, 10000));
    received(false, block.data(), block.size());
    realSleepMs(100);
    received(false, block.data(), block.size()); // the client drops it after the underrun
    realSleepMs(100);
    EXPECT_EQ(SimAudioRead(playback.outFile).size(), 3u * 240 * 2);
}

TEST_F(Audio, APeerThatStopsReadingCostsAudioNotTheOtherSenders) {
    remoteSession(); // the peer never reads
    int small = 16384;
    setsockopt(w->wsFD, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    w->settings.audioMultiplier = 480;
    std::vector<int16_t> block(960, 100);
    for (int i = 0; i < 200; i++)
        sendWebSockAudioFrame(w.get(), block.data());
    EXPECT_GT(w->audio.wsDroppedAudio, 150); // dropped at once, none waited for
    // Status records go until the socket is full; then one waits one write
    // deadline at most and is counted.
    int64_t longest = 0;
    for (int i = 0; i < 20000 && w->audio.wsDroppedFrames == 0; i++) {
        const int64_t t0 = plat_mono_ms();
        sendWebSockStatusFrame(w.get(), "status", 6);
        longest = std::max(longest, plat_mono_ms() - t0);
    }
    EXPECT_EQ(w->audio.wsDroppedFrames, 1);
    EXPECT_GE(longest, 950);
    EXPECT_LT(longest, 1500);
}

TEST_F(Audio, UnpluggingTheInterfaceEndsBothThreadsWithTheirAlarms) {
    startCapture();
    startPlayback();
    ASSERT_FALSE(nextAudio().empty());
    ASSERT_TRUE(logged("6 output audio interface prepared", 8000));
    ASSERT_TRUE(SimAudioPlug(dir.path, {capture, playback}, false));
    ASSERT_TRUE(WaitFor([&] { return !ThreadRunning(SlotOf(Thread::AudioIn)) && !ThreadRunning(SlotOf(Thread::AudioOut)); }, 8000));
    EXPECT_EQ(ExistError(w.get(), kAlarmAudioRead), 1);
    EXPECT_EQ(ExistError(w.get(), kAlarmAudioWrite), 1);
    EXPECT_EQ(setup->EnableRead, '0');
    EXPECT_EQ(setup->EnableWrite, '0');
    EXPECT_EQ(w->remoteRestart, 1);
    // Plugged in again, the remote restart starts them again.
    ASSERT_TRUE(SimAudioPlug(dir.path, {capture, playback}, true));
    w->remoteEnabled = 1;
    GestErroreRemote(w.get());
    EXPECT_EQ(setup->EnableRead, '1');
    ASSERT_FALSE(nextAudio().empty());
}

} // namespace
