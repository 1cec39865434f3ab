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
