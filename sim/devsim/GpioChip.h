// Modelled GPIO chips in a root folder (dev/gpiochipN), for the panel's
// character-device backend. The chip answers through the gpiochip_model
// library (sim/gpiochip), which the test programs link and the panel gets
// preloaded; its lines 0..31 show in the file's register-compatible block, so
// GpioKeys and GpioConverter work on it as on dev/mem (SimGpioPath names it).
#pragma once

#include <cstdint>
#include <string>

// Creates DIR/dev/gpiochipN with `label` and `lines` lines (at most 64), every
// key line (22..27) reading released; false with `error` set on failure.
bool SimGpioChipCreate(const std::string& dir, int number, const std::string& label, int lines,
                       std::string* error);
// Whether `path` is a modelled chip's file.
bool SimGpioChipIs(const std::string& path);
// A modelled chip's label, read from its file.
bool SimGpioChipLabel(const std::string& path, std::string* label);

// The preload list that gives a child process (the panel) the model: the
// sanitizer runtime this process runs with, when it has one (it must come
// first), then the model library. "" when the model library is not known.
std::string SimGpioChipPreload();
