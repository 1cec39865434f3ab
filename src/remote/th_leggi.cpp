// The audio capture thread of remote operation.
//
// The thread itself reads the device: it waits on the device's poll
// descriptors in short slices (so that it notices its byte turning '0' and the
// program's end), reads whole blocks, widens mono to stereo and sends each
// block as one "SO" message. Nothing runs in a signal handler: the send path
// takes a lock and writes a socket. A read that brings less than a block is
// kept and completed by the next; after an overrun the device is recovered and
// the partial block dropped, so that only whole, contiguous blocks go out.
#include "remote/th_leggi.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Thread.h"
#include "remote/AudioDevice.h"
#include "remote/AudioTap.h"
#include "wire/Messages.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool wanted(Works* w) { return w->running && w->setup->EnableRead == '1' && ThreadStillWanted(); }

} // namespace

void WidenToStereo(int16_t* samples, int frames) {
    // From the last frame back to the first, so that no sample is overwritten
    // before it is copied.
    for (int i = frames - 1; i >= 0; i--) {
        const int16_t s = samples[i];
        samples[2 * i] = s;
        samples[2 * i + 1] = s;
    }
}

void ExitAUDIOread(Works* w, snd_pcm_t** pcm) {
    LogOut("th_leggi ERR\n");
    AddErrore(w, kAlarmAudioRead);
    if (pcm && *pcm) {
        snd_pcm_close(*pcm);
        *pcm = nullptr;
    }
    // The flag first: the reset key's restart starts only services whose flag
    // is off, so the request must not be seen before it.
    w->setup->EnableRead = '0';
    w->remoteRestart = 1;
    w->audio.audioOutReady = 0;
}

void th_leggi(Works* w) {
    char device[24];
    w->setup->AudioIn.copyTo(device, sizeof device);
    char text[8];
    w->setup->InChannels.copyTo(text, sizeof text);
    int channels = 1;
    std::sscanf(text, "%d", &channels);
    if (channels != 1 && channels != 2) {
        LogErr("InChannels %d is not 1 or 2: 1 used", channels);
        channels = 1;
    }
    status_th_leggi = 0;

    int err = 0, attempts = 0;
    snd_pcm_t* pcm = OpenAudioDevice(device, SND_PCM_STREAM_CAPTURE, [w] { return wanted(w); }, &err, &attempts);
    if (!pcm) {
        if (!wanted(w))
            return;
        LogErr("cannot open capture audio device '%s' (%s) after %d/10\"", device, snd_strerror(err), attempts);
        LogOut("cannot open capture audio device '%s' (%s)\n", device, snd_strerror(err));
        ExitAUDIOread(w, nullptr);
        return;
    }
    LogInfo("capture audio interface %s opened", device);
    status_th_leggi = 1;
    if (!ConfigureAudioDevice(pcm, SND_PCM_STREAM_CAPTURE, static_cast<unsigned>(channels),
                              static_cast<unsigned long>(w->settings.audioMultiplier))) {
        ExitAUDIOread(w, &pcm);
        return;
    }
    if ((err = snd_pcm_prepare(pcm)) < 0) {
        LogErrOut("cannot prepare capture audio interface for use (%s)", snd_strerror(err));
        ExitAUDIOread(w, &pcm);
        return;
    }
    LogInfo("capture audio interface prepared");

    // One block, stereo: a mono capture is widened in place.
    const int block = w->settings.audioMultiplier;
    std::vector<int16_t> buffer(static_cast<size_t>(block) * 2);
    LogInfo("capture buffer allocated (%d)", block * 4);
    if ((err = snd_pcm_start(pcm)) < 0) {
        LogErrOut("cannot start capture pcm handler (%s)", snd_strerror(err));
        ExitAUDIOread(w, &pcm);
        return;
    }

    int have = 0; // frames of the block read so far
    int64_t nextCheck = plat_mono_ms() + kAudioDeviceCheckMs;
    while (wanted(w)) {
        if (plat_mono_ms() >= nextCheck) {
            nextCheck += kAudioDeviceCheckMs;
            if (VerifyAudioTAV(w) == 0) {
                ExitAUDIOread(w, &pcm);
                return;
            }
        }
        WaitAudioDevice(pcm, 200, [w] { return wanted(w); });
        const snd_pcm_sframes_t n =
            snd_pcm_readi(pcm, buffer.data() + static_cast<size_t>(have) * channels, block - have);
        if (n == -EAGAIN)
            continue;
        if (n < 0) {
            // An overrun: the partial block is gone with the samples lost.
            have = 0;
            err = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (err >= 0)
                err = snd_pcm_start(pcm);
            if (err < 0) {
                LogErr("capture read failed (%s)", snd_strerror(static_cast<int>(n)));
                ExitAUDIOread(w, &pcm);
                return;
            }
            continue;
        }
        have += static_cast<int>(n);
        if (have < block)
            continue;
        have = 0;
        if (channels == 1)
            WidenToStereo(buffer.data(), block);
        sendWebSockAudioFrame(w, buffer.data());
        AudioTapOffer(buffer.data(), block);
    }

    // A capture stream has nothing to drain: dropping it stops it.
    if ((err = snd_pcm_drop(pcm)) < 0) {
        LogErrOut("cannot drop capture pcm handler (%s)", snd_strerror(err));
        ExitAUDIOread(w, &pcm);
        return;
    }
    LogInfo("buffer freed");
    LogInfo("capture audio interface closed");
    snd_pcm_close(pcm);
    LogOut("th_leggi END\n");
}
