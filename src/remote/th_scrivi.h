// The audio playback thread of remote operation, and the playing of a received
// audio block on the session thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

void th_scrivi(Works* works);

// Plays one received "SO" payload (raw PCM or one Opus packet) when playback is
// on and its device is ready. False when the session should end (a client's
// write that failed other than by an underrun).
bool PlayReceivedAudio(Works* works, bool server, const uint8_t* payload, size_t n);
// Plays mono S16 frames at 48 kHz on both channels, as the server plays a
// received block (the browser console's microphone); nothing when playback is
// off or its device not ready.
void PlayPcmAudio(Works* works, const int16_t* mono, size_t frames);

// The playback queue's growth, seen through the device's free space: free is
// the latest reading, free1 the first positive one, minfree the smallest.
struct PlaybackLatency {
    long free = 0;
    long free1 = 0;
    long minfree = 0;
};
// Takes a reading of the free space; false when the queue has grown by more than
// 4800 frames (100 ms) since the first reading, and the device is to be reset
// (minfree is then back at free1).
bool PlaybackKeepsUp(PlaybackLatency* latency, long freeNow);

// The playback thread's failure: error 10, the device closed, a remote restart
// asked for, its byte '0'.
void ExitAUDIOwrite(Works* works);
