// The console's audio: the station's received audio to the consoles that
// listen, and the controller's microphone to the station's playback.
//
// To a console (binary), what the station received since the last tick:
// "PCM1" and 16-bit mono samples at 16 kHz, little-endian; or, to a browser
// that decodes Opus, "OPS1", a 16-bit count and per packet its 16-bit length
// and an Opus packet of 20 ms (mono, 48 kHz). From the controller
// (binary, only while it holds "talk"): "MIC1" and 16-bit mono samples at
// 48 kHz, at most kWebMicFrames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opus/opus.h>
#include <vector>

constexpr int kWebAudioRate = 16000;
constexpr size_t kWebAudioKeep = kWebAudioRate / 2; // a console that falls behind keeps the newest half second
constexpr size_t kWebMicFrames = 2040;              // 42 ms at 48 kHz, in one message under 4 KB

constexpr int kWebOpusFrame = 960;       // 20 ms at 48 kHz
constexpr size_t kWebOpusKeep = 25;      // packets a console keeps: half a second
constexpr int kWebOpusBitrate = 32000;

struct WebAudioDown {
    int32_t sum = 0; // the 48 kHz samples of the current 16 kHz one
    int have = 0;
};

struct WebOpus {
    OpusEncoder* encoder = nullptr;
    bool failed = false;        // no encoder could be made: not tried again
    std::vector<int16_t> frame; // 48 kHz samples waiting for a whole frame
};

// Takes what the capture tap holds (48 kHz mono) into `raw`.
void WebAudioTake(std::vector<int16_t>* raw);
// Appends `raw` at 16 kHz to `out`.
void WebAudioDecimate(WebAudioDown* down, const std::vector<int16_t>& raw, std::vector<int16_t>* out);
// Encodes `raw` into 20 ms packets appended to `packets` (the encoder made at
// the first call); false (logged once) when no encoder can be made.
bool WebOpusEncode(WebOpus* opus, const std::vector<int16_t>& raw, std::vector<std::vector<uint8_t>>* packets);
void WebOpusEnd(WebOpus* opus);
// An "OPS1" message of `packets` after `pre` bytes of room.
void WebOpusMessage(const std::vector<std::vector<uint8_t>>& packets, size_t pre, std::vector<uint8_t>* out);
// Appends `samples` to a console's pending audio, keeping the newest kWebAudioKeep.
void WebAudioQueue(std::vector<int16_t>* pending, const std::vector<int16_t>& samples);
// A "PCM1" message of `samples` after `pre` bytes of room.
void WebAudioMessage(const std::vector<int16_t>& samples, size_t pre, std::vector<uint8_t>* out);
// The samples of a "MIC1" message into `mono`; false (nothing taken) when it
// is not one or is too long.
bool WebMicSamples(const uint8_t* data, size_t n, std::vector<int16_t>* mono);
