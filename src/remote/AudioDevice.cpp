// Opening and setting up the sound device, and its presence check.
#include "remote/AudioDevice.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/UsbDevices.h"
#include "trx/UsbIds.h"

#include <cstdio>
#include <mutex>

Shared<int> status_th_leggi;
Shared<int> status_th_scrivi;

namespace {

// The log lines of one stream's set-up: success, then failure, per step.
struct StepTexts {
    const char* allocated;
    const char* cannotAllocate;
    const char* initialized;
    const char* cannotInitialize;
    const char* accessSet;
    const char* cannotAccess;
    const char* formatSet;
    const char* cannotFormat;
    const char* rateSet;
    const char* cannotRate;
    const char* channelsSet;
    const char* cannotChannels;
    const char* paramsSet;
    const char* cannotParams;
    const char* freed;
};

const StepTexts kCapture = {
    "capture hw_params allocated", "cannot allocate capture hardware parameter structure (%s)",
    "capture hw_params initialized", "cannot initialize capture hardware parameter structure (%s)",
    "capture hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set", "cannot set capture access type (%s)",
    "capture hw_params SND_PCM_FORMAT_S16_LE format set", "cannot set capture sample format (%s)",
    "capture hw_params rate set to %d", "cannot set capture sample rate (%s)",
    "capture hw_params number of channels set to %d", "cannot set capture channel count (%s)",
    "capture hw_params set", "cannot set capture parameters (%s)",
    "capture hw_params freed"};

const StepTexts kPlayback = {
    "playback hw_params allocated", "cannot allocate playback hardware parameter structure (%s)",
    "playback hw_params initialized", "cannot initialize playback hardware parameter structure (%s)",
    "playback hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set", "cannot set playback access type (%s)",
    "playback hw_params SND_PCM_FORMAT_S16_LE format set ", "cannot set playback sample format (%s)",
    "playback hw_params rate set to %d", "cannot set playback sample rate (%s)",
    "playback hw_params number of channels set to %d", "Cannot set playback channel count (%s)",
    "playback hw_params set", "cannot set playback parameters (%s)",
    "playback hw_params freed\n"};

// A failed step: its line to the log and to standard error.
bool failed(const char* fmt, int err) {
    LogErrOut(fmt, snd_strerror(err));
    return false;
}

} // namespace

int VerifyAudioTAV(Works*) {
    // Both audio threads ask every 2 s: one look at the bus serves both.
    static std::mutex mu;
    static int64_t takenMs = -1;
    static int count = 0;
    std::lock_guard<std::mutex> lock(mu);
    const int64_t now = plat_mono_ms();
    if (takenMs >= 0 && now - takenMs < kAudioDeviceCheckMs / 2)
        return count;
    const int n = plat_usb_count(AUDIO_VENDOR_ID, AUDIO_PID_TAV);
    if (n < 0)
        LogOut("the USB bus cannot be read.\n");
    count = n < 0 ? 0 : n;
    takenMs = now;
    return count;
}

snd_pcm_t* OpenAudioDevice(const std::string& device, snd_pcm_stream_t stream,
                           const PortWanted& wanted, int* error, int* attempts) {
    snd_pcm_t* pcm = nullptr;
    *error = 0;
    for (*attempts = 1; *attempts <= kAudioOpenAttempts; ++*attempts) {
        *error = snd_pcm_open(&pcm, device.c_str(), stream, SND_PCM_NONBLOCK);
        if (*error >= 0)
            return pcm;
        LogOut("open %s attempt %d: %s\n", device.c_str(), *attempts, snd_strerror(*error));
        if (!wanted())
            break;
        plat_sleep_ms(100);
    }
    if (*attempts > kAudioOpenAttempts)
        *attempts = kAudioOpenAttempts;
    return nullptr;
}

bool ConfigureAudioDevice(snd_pcm_t* pcm, snd_pcm_stream_t stream, unsigned channels,
                          unsigned long periodFrames) {
    const StepTexts& t = stream == SND_PCM_STREAM_CAPTURE ? kCapture : kPlayback;
    snd_pcm_hw_params_t* hw = nullptr;
    int err = snd_pcm_hw_params_malloc(&hw);
    if (err < 0)
        return failed(t.cannotAllocate, err);
    LogInfo("%s", t.allocated);
    struct Free {
        snd_pcm_hw_params_t* hw;
        ~Free() { snd_pcm_hw_params_free(hw); }
    } freeIt{hw};
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0)
        return failed(t.cannotInitialize, err);
    LogInfo("%s", t.initialized);
    if (stream == SND_PCM_STREAM_PLAYBACK && (err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1)) < 0)
        return failed("cannot set playback resample to yes (%s)", err);
    if ((err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return failed(t.cannotAccess, err);
    LogInfo("%s", t.accessSet);
    if ((err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0)
        return failed(t.cannotFormat, err);
    LogInfo("%s", t.formatSet);
    unsigned rate = 48000;
    if ((err = snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr)) < 0)
        return failed(t.cannotRate, err);
    LogInfo(t.rateSet, static_cast<int>(rate));
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw, channels)) < 0)
        return failed(t.cannotChannels, err);
    LogInfo(t.channelsSet, static_cast<int>(channels));
    if (periodFrames > 0) {
        snd_pcm_uframes_t frames = periodFrames;
        int dir = 0;
        if (snd_pcm_hw_params_set_period_size_near(pcm, hw, &frames, &dir) >= 0)
            LogInfo("period of %lu frames", static_cast<unsigned long>(frames));
    }
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        return failed(t.cannotParams, err);
    LogInfo("%s", t.paramsSet);
    LogInfo("%s", t.freed);
    return true;
}

void WaitAudioDevice(snd_pcm_t* pcm, int timeoutMs, const PortWanted& wanted) {
    pollfd fds[8];
    const int n = snd_pcm_poll_descriptors(pcm, fds, 8);
    if (n <= 0) {
        plat_sleep_ms(timeoutMs); // a device without descriptors: pace the loop
        return;
    }
    if (plat_wait_fds(fds, n, timeoutMs, wanted) != PortStatus::Ok)
        return;
    // The plugin may turn what the descriptors said into nothing at all: the
    // read or write that follows finds out.
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(pcm, fds, static_cast<unsigned>(n), &revents);
}
