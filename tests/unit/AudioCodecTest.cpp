// The Opus codec objects of compressed remote audio.
#include "RootDir.h"

#include "app/Main.h"
#include "core/Works.h"

namespace {

class AudioCodec : public RootDir {
  protected:
    void SetUp() override {
        RootDir::SetUp();
        InitGlobalVar(w.get());
        w->settings.audioBitrate = 64000;
    }
    std::unique_ptr<Works> w = std::make_unique<Works>();
};

TEST_F(AudioCodec, FailureTurnsCompressionOff) {
    w->audio.audioRate = 44100; // not an Opus rate
    CreateAudioCodec(w.get());
    EXPECT_EQ(w->audio.opusEncoder, nullptr);
    EXPECT_EQ(w->audio.opusDecoder, nullptr);
    EXPECT_EQ(w->settings.audioBitrate, 0);
    EXPECT_TRUE(Contains(syslog(), "3 failed to create an encoder: invalid argument"));
}

} // namespace
