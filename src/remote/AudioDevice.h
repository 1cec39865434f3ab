// What the capture and playback threads share: opening the sound device with
// its attempts, its hardware parameters with their log lines, and the check
// that the USB sound interface is still plugged in.
#pragma once

#include "core/Shared.h"
#include "platform/SerialPort.h"

#include <alsa/asoundlib.h>
#include <string>

struct Works;

extern Shared<int> status_th_leggi;  // 1 once the capture device is open
extern Shared<int> status_th_scrivi; // 1 once the playback device is open

constexpr int kAudioOpenAttempts = 100;
constexpr int kAudioDeviceCheckMs = 2000;

// How many of the transceiver's C-Media USB sound interfaces are plugged in
// (what "lsusb|grep 0d8c:01af |wc -l" printed), counted in-process; 0 when the
// bus cannot be read. The interface is there when it is positive.
int VerifyAudioTAV(Works* works);

// Opens `device` non-blocking, up to 100 attempts 100 ms apart while
// `wanted()` holds; nullptr with `*error` set when every attempt failed.
snd_pcm_t* OpenAudioDevice(const std::string& device, snd_pcm_stream_t stream,
                           const PortWanted& wanted, int* error, int* attempts);

// Interleaved S16_LE at the rate nearest 48000 with `channels`: each step logs
// its success line, a failure its own line (also to standard error); false on
// a failure. Playback also allows resampling. A `periodFrames` above 0 asks
// for periods of about that many frames (a device that cannot keeps its own):
// capture asks for its block, so the device wakes the thread once a block.
bool ConfigureAudioDevice(snd_pcm_t* pcm, snd_pcm_stream_t stream, unsigned channels,
                          unsigned long periodFrames = 0);

// Waits at most `timeoutMs` of program time until the device is ready (frames
// to read, room to write) or in error, on its own poll descriptors.
void WaitAudioDevice(snd_pcm_t* pcm, int timeoutMs, const PortWanted& wanted);
