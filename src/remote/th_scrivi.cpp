// The audio playback thread of remote operation, and the playing of received
// blocks on the session thread.
//
// The thread opens, prepares, drains and closes the device once per session;
// the session thread writes the blocks it receives. The two meet under one
// lock that guards the device's handle and the playback buffer, so a block is
// never written to a device being closed. The device is non-blocking: a full
// queue drops the block rather than stopping the session thread, which must go
// on reading the link.
#include "remote/th_scrivi.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Thread.h"
#include "platform/Wait.h"
#include "remote/AudioDevice.h"
#include "remote/th_leggi.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <opus/opus.h>
#include <vector>

namespace {

constexpr int kMaxQueueGrowth = 4800; // frames (100 ms) of playback latency allowed

struct Playback {
    std::mutex mu;
    snd_pcm_t* pcm = nullptr;     // guarded by mu
    std::vector<int16_t> buffer;  // one block, stereo; guarded by mu
};
Playback g_out;

// The latency counters of each receiving thread, for the life of the process.
thread_local PlaybackLatency t_latency;

bool wanted(Works* w) { return w->running && w->setup->EnableWrite == '1' && ThreadStillWanted(); }

void closeDevice() {
    std::lock_guard<std::mutex> lock(g_out.mu);
    if (g_out.pcm)
        snd_pcm_close(g_out.pcm);
    g_out.pcm = nullptr;
    g_out.buffer.clear();
    g_out.buffer.shrink_to_fit();
}

// Waits while `keep` holds, looking at the sound interface every 2 s; false
// when it has gone. A change of `keep` is seen within one slice of the
// platform's timed wait: nothing here has to follow it sooner.
template <class Keep> bool waitWhile(Works* w, Keep keep, int64_t* nextCheck) {
    for (;;) {
        const int64_t left = *nextCheck - plat_mono_ms();
        if (left <= 0) {
            *nextCheck = plat_mono_ms() + kAudioDeviceCheckMs;
            if (VerifyAudioTAV(w) == 0)
                return false;
            continue;
        }
        if (plat_wait_fds(nullptr, 0, static_cast<int>(left), [&] { return keep(); }) == PortStatus::Stopped)
            return true;
    }
}

} // namespace

bool PlaybackKeepsUp(PlaybackLatency* t, long freeNow) {
    t->free = freeNow;
    if (freeNow > 0) {
        if (t->free1 <= 0) {
            t->free1 = freeNow;
            t->minfree = freeNow;
        } else if (freeNow < t->minfree) {
            t->minfree = freeNow;
        }
    }
    if (t->free1 - t->minfree <= kMaxQueueGrowth)
        return true;
    t->minfree = t->free1;
    return false;
}

void ExitAUDIOwrite(Works* w) {
    LogOut("th_scrivi ERR\n");
    AddErrore(w, kAlarmAudioWrite);
    closeDevice();
    w->audio.audioOutReady = 0;
    // The flag first: the reset key's restart starts only services whose flag
    // is off, so the request must not be seen before it.
    w->setup->EnableWrite = '0';
    w->remoteRestart = 1;
}

void th_scrivi(Works* w) {
    status_th_scrivi = 0;
    w->audio.audioOutReady = 0;
    const int64_t settle = plat_mono_ms() + 3000;
    while (wanted(w) && plat_mono_ms() < settle)
        plat_sleep_ms(50);
    char device[24];
    w->setup->AudioOut.copyTo(device, sizeof device);
    for (;;) {
        if (!wanted(w)) {
            LogInfoOut("output audio interface closed");
            closeDevice();
            LogOut("th_scrivi END\n");
            return;
        }
        int err = 0, attempts = 0;
        snd_pcm_t* pcm = OpenAudioDevice(device, SND_PCM_STREAM_PLAYBACK, [w] { return wanted(w); }, &err, &attempts);
        if (!pcm) {
            if (!wanted(w))
                continue;
            LogErrOut("cannot open output audio device %s (%s)", device, snd_strerror(err));
            ExitAUDIOwrite(w);
            return;
        }
        LogInfo("output audio interface %s opened", device);
        status_th_scrivi = 1;
        if (!ConfigureAudioDevice(pcm, SND_PCM_STREAM_PLAYBACK, 2)) {
            snd_pcm_close(pcm);
            ExitAUDIOwrite(w);
            return;
        }
        const int block = w->settings.audioMultiplier;
        {
            std::lock_guard<std::mutex> lock(g_out.mu);
            g_out.pcm = pcm;
            g_out.buffer.assign(static_cast<size_t>(block) * 2, 0);
        }
        LogInfo("playback buffer allocated (%d)", block * 4);
        w->audio.audioOutReady = 1;

        // Prepared before the session: its first block starts the device, and
        // until then this thread has nothing to do but look at the interface.
        {
            std::lock_guard<std::mutex> lock(g_out.mu);
            err = snd_pcm_prepare(g_out.pcm);
        }
        if (err < 0) {
            LogErrOut("cannot prepare output audio interface for use (%s)", snd_strerror(err));
            ExitAUDIOwrite(w);
            return;
        }
        LogInfoOut("output audio interface prepared");
        int64_t nextCheck = plat_mono_ms() + kAudioDeviceCheckMs;
        if (!waitWhile(w, [w] { return !w->remoteConnected && wanted(w); }, &nextCheck) ||
            (wanted(w) && !waitWhile(w, [w] { return w->remoteConnected && wanted(w); }, &nextCheck))) {
            ExitAUDIOwrite(w);
            return;
        }
        LogInfoOut("output audio interface to be stopped");
        {
            std::lock_guard<std::mutex> lock(g_out.mu);
            // What is queued is played out, at most the 100 ms the latency control allows.
            snd_pcm_nonblock(g_out.pcm, 0);
            if ((err = snd_pcm_drain(g_out.pcm)) < 0)
                LogErr("cannot drain playback pcm handler (%s)", snd_strerror(err));
        }
        closeDevice();
        LogInfo("playback buffer freed");
        w->audio.audioOutReady = 0;
    }
}

namespace {

// Writes the first `frames` of the playback buffer; called under its lock.
bool writeBuffer(bool server, int frames) {
    const snd_pcm_sframes_t freeNow = snd_pcm_avail_update(g_out.pcm);
    if (!PlaybackKeepsUp(&t_latency, static_cast<long>(freeNow))) {
        // The queue grew past 100 ms: what is queued is thrown away and the
        // device starts again from empty with the next block.
        snd_pcm_drop(g_out.pcm);
        snd_pcm_prepare(g_out.pcm);
        return true;
    }
    snd_pcm_sframes_t r = snd_pcm_writei(g_out.pcm, g_out.buffer.data(), static_cast<snd_pcm_uframes_t>(frames));
    if (r == frames)
        return true;
    LogOut("write to output audio interface failed %d (%d - %s)\n", frames, static_cast<int>(r),
                 snd_strerror(static_cast<int>(r)));
    if (r == -EPIPE) {
        // An underrun: the device starts again; the server plays the block anyway.
        snd_pcm_prepare(g_out.pcm);
        if (server)
            snd_pcm_writei(g_out.pcm, g_out.buffer.data(), static_cast<snd_pcm_uframes_t>(frames));
        return true;
    }
    // A full queue or a short write drops (the rest of) the block.
    if (r >= 0 || r == -EAGAIN)
        return true;
    return server;
}

} // namespace

bool PlayReceivedAudio(Works* w, bool server, const uint8_t* payload, size_t n) {
    if (w->setup->EnableWrite != '1' || !w->audio.audioOutReady)
        return true;
    std::lock_guard<std::mutex> lock(g_out.mu);
    if (!g_out.pcm || g_out.buffer.empty())
        return true;
    const int block = static_cast<int>(g_out.buffer.size() / 2);
    int frames;
    if (w->settings.audioBitrate > 0 && w->audio.opusDecoder) {
        const int d = opus_decode(w->audio.opusDecoder, payload, static_cast<opus_int32>(n), g_out.buffer.data(), block, 0);
        if (d < 0) {
            // A packet that does not decode plays one block of silence.
            std::fill(g_out.buffer.begin(), g_out.buffer.end(), 0);
            frames = block;
        } else {
            frames = d;
        }
    } else {
        if (n % 4 != 0 || n > g_out.buffer.size() * sizeof(int16_t)) {
            LogErr("remote: audio block of %zu bytes does not fit %d stereo frames, dropped", n, block);
            return true;
        }
        std::memcpy(g_out.buffer.data(), payload, n);
        frames = static_cast<int>(n / 4);
    }
    return writeBuffer(server, frames);
}

void PlayPcmAudio(Works* w, const int16_t* mono, size_t frames) {
    if (w->setup->EnableWrite != '1' || !w->audio.audioOutReady)
        return;
    std::lock_guard<std::mutex> lock(g_out.mu);
    if (!g_out.pcm || g_out.buffer.empty())
        return;
    const size_t block = g_out.buffer.size() / 2;
    while (frames > 0) {
        const size_t n = frames < block ? frames : block;
        std::copy(mono, mono + n, g_out.buffer.begin());
        WidenToStereo(g_out.buffer.data(), static_cast<int>(n));
        writeBuffer(true, static_cast<int>(n));
        mono += n;
        frames -= n;
    }
}
