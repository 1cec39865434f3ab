// The USB sound interface of a root: its ALSA devices (the simaudio plugin, see
// sim/alsa), plugging it in and out, and looking at what it played.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimAudioDevice {
    std::string name;     // the ALSA name the setup file's AudioIn/AudioOut give
    int toneHz = 0;       // capture: a sine tone of this frequency ...
    std::string wavFile;  // ... or this WAV file, looped
    std::string outFile;  // playback: what it played, S16_LE interleaved
    std::string control;  // PATH.hold stops the device, PATH.gone unplugs it
    std::string startFile; // capture: silent until this file exists (its time in FILE.at)
    std::string loudFile;  // playback: the time of the first loud frame played
};

// Writes DIR/.asoundrc declaring the devices (the panel runs with HOME=DIR);
// false when it cannot be written.
bool SimAudioWriteConfig(const std::string& dir, const std::vector<SimAudioDevice>& devices);

// The interface seen by the panel's checks: listed by lsusb and on the bus
// (DIR/sim/usb-devices.txt, whose other devices stay) or not, and its devices
// there or unplugged.
bool SimAudioPlug(const std::string& dir, const std::vector<SimAudioDevice>& devices, bool plugged);
// Stops (or starts again) a device's clock: playback stops taking frames, its
// queue grows.
bool SimAudioHold(const SimAudioDevice& device, bool held);

// The CLOCK_MONOTONIC nanoseconds a time file of the device holds; -1 when it
// is not there yet.
long long SimAudioTime(const std::string& path);

// Samples of a raw S16_LE file.
std::vector<int16_t> SimAudioRead(const std::string& path);
// The frequency of the strongest tone of one channel of `samples` (interleaved,
// `channels` wide) at 48000 Hz, over frames [from, from + count); 0 for silence.
double SimAudioToneHz(const std::vector<int16_t>& samples, int channels, size_t from, size_t count);
// The first frame at or after `from` whose level (in one channel) exceeds
// `threshold`; -1 when none does.
long SimAudioFirstLoud(const std::vector<int16_t>& samples, int channels, size_t from, int threshold);
