// The station's received audio for a listener beside the remote link (the
// browser console, which takes it on its own tick): the capture thread offers
// each block; while the tap is open, the blocks go into a bounded ring as mono.
// Closed, an offer costs one relaxed load.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kAudioTapFrames = 24000; // half a second at 48 kHz: the oldest goes first

// Opens or closes the tap; either empties it.
void AudioTapOpen(bool open);
// The capture thread's block: interleaved stereo S16 at 48 kHz.
void AudioTapOffer(const int16_t* stereo, int frames);
// Takes up to `most` mono frames, oldest first; how many were taken.
size_t AudioTapTake(int16_t* mono, size_t most);
