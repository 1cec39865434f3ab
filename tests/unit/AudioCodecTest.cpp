// The Opus codec objects of compressed remote audio.
#include "TestRoot.h"

#include "app/Main.h"
#include "core/Works.h"
#include "platform/Root.h"

namespace {

TEST(AudioCodec, CreatedForAPositiveBitRate) {
    auto w = std::make_unique<Works>();
    InitGlobalVar(w.get());
    w->settings.audioBitrate = 64000;
    CreateAudioCodec(w.get());
    EXPECT_NE(w->audio.opusEncoder, nullptr);
    EXPECT_NE(w->audio.opusDecoder, nullptr);
    EXPECT_EQ(w->settings.audioBitrate, 64000);
    DestroyAudioCodec(w.get());
    EXPECT_EQ(w->audio.opusEncoder, nullptr);
}

TEST(AudioCodec, FailureTurnsCompressionOff) {
    TempDir dir;
    plat_set_root(dir.path.c_str());
    auto w = std::make_unique<Works>();
    InitGlobalVar(w.get());
    w->settings.audioBitrate = 64000;
    w->audio.audioRate = 44100; // not an Opus rate
    CreateAudioCodec(w.get());
    EXPECT_EQ(w->audio.opusEncoder, nullptr);
    EXPECT_EQ(w->audio.opusDecoder, nullptr);
    EXPECT_EQ(w->settings.audioBitrate, 0);
    EXPECT_TRUE(Contains(ReadFile(dir.path + "/syslog.log"),
                         "3 failed to create an encoder: invalid argument"));
    plat_set_root(nullptr);
}

} // namespace
