// Monotonic time and sleeps.
//
// Time-outs, hold times and key-press times use CLOCK_MONOTONIC: the processor
// time of a multi-threaded process runs slow while it idles and fast while it is
// busy, so it cannot measure how long a key was held or a peak was shown.
#pragma once

#include <cstdint>

int64_t plat_mono_us();
int64_t plat_mono_ms();
double plat_mono_s();

void plat_sleep_us(int64_t us);
void plat_sleep_ms(int64_t ms);
// The fuzz targets run the decoders back to back: the protocol's pacing sleeps
// would only slow them down.
void plat_skip_sleeps(bool skip);
