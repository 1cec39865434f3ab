// The antenna bank tables: per band, the antenna, tuner, attenuator and amplifier
// settings of the current memory bank.
#pragma once

#include <cstddef>

struct Works;

// Name of the first row of the current table whose range holds freqHz; leaves
// `name` unchanged and returns false when none does.
bool BandNameOfFreq(Works* works, char* name, size_t size);
