// The console's audio: the station's received audio to the consoles that
// listen, and the controller's microphone to the station's playback.
//
// To a console (binary): "PCM1" and 16-bit mono samples at 16 kHz, little-
// endian, what the station received since the last tick. From the controller
// (binary, only while it holds "talk"): "MIC1" and 16-bit mono samples at
// 48 kHz, at most kWebMicFrames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kWebAudioRate = 16000;
constexpr size_t kWebAudioKeep = kWebAudioRate / 2; // a console that falls behind keeps the newest half second
constexpr size_t kWebMicFrames = 2040;              // 42 ms at 48 kHz, in one message under 4 KB

struct WebAudioDown {
    int32_t sum = 0; // the 48 kHz samples of the current 16 kHz one
    int have = 0;
};

// Takes what the capture tap holds and appends it, at 16 kHz, to `out`.
void WebAudioTake(WebAudioDown* down, std::vector<int16_t>* out);
// Appends `samples` to a console's pending audio, keeping the newest kWebAudioKeep.
void WebAudioQueue(std::vector<int16_t>* pending, const std::vector<int16_t>& samples);
// A "PCM1" message of `samples` after `pre` bytes of room.
void WebAudioMessage(const std::vector<int16_t>& samples, size_t pre, std::vector<uint8_t>* out);
// The samples of a "MIC1" message into `mono`; false (nothing taken) when it
// is not one or is too long.
bool WebMicSamples(const uint8_t* data, size_t n, std::vector<int16_t>* mono);
