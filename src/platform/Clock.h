// Monotonic time and sleeps.
//
// Time-outs, hold times and key-press times use CLOCK_MONOTONIC: the processor
// time of a multi-threaded process runs slow while it idles and fast while it is
// busy, so it cannot measure how long a key was held or a peak was shown.
//
// Under a root folder the program's clock may run N times faster than the wall
// clock (`--time-scale N`): every reading, sleep and wait below is in program
// time, so tests do not sit through the splash or a tune in real time.
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

// Program time runs `scale` times faster than the wall clock (1: real time),
// going on from its current reading. Set while no other thread runs.
void plat_set_time_scale(int scale);
int plat_time_scale();
// The wall-clock milliseconds of `programMs` of program time, for poll() and
// other waits of the system (at least 1 for a positive time, -1 stays -1).
int plat_real_ms(int programMs);

// A clock the tests move themselves. Once manual, program time stands still
// but for plat_clock_step_us and the program's own sleeps and waits, which
// return at once and move it by their length. The time of day (plat_wall_time)
// then starts at `wallEpochS` and moves with it, so a picture that shows the
// time is the same in every run. Set while no other thread runs.
void plat_clock_manual(bool on, int64_t wallEpochS = 1800000000);
bool plat_clock_is_manual();
void plat_clock_step_us(int64_t us);
// Seconds since the epoch: the system's, or the manual clock's.
int64_t plat_wall_time();
