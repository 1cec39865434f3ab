// CLOCK_MONOTONIC readings and interrupted-safe sleeps, in program time.
#include "platform/Clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {

std::atomic<bool> g_skipSleeps{false};
// Set while no other thread runs; read-only afterwards. Program time is
// g_programBaseUs plus the wall time since g_wallBaseUs, times g_scale.
int g_scale = 1;
int64_t g_wallBaseUs = 0;
int64_t g_programBaseUs = 0;
// The manual clock: its reading and the time of day it started at.
std::atomic<bool> g_manual{false};
std::atomic<int64_t> g_manualUs{0};
int64_t g_manualStartUs = 0; // the reading when it became manual
int64_t g_manualEpochS = 0;  // the time of day then

int64_t wallUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

void plat_skip_sleeps(bool skip) { g_skipSleeps = skip; }

void plat_set_time_scale(int scale) {
    // Program time goes on from where it is: it never jumps back.
    const int64_t now = plat_mono_us();
    g_wallBaseUs = wallUs();
    g_programBaseUs = now;
    g_scale = scale < 1 ? 1 : scale;
}

int plat_time_scale() { return g_scale; }

int plat_real_ms(int programMs) {
    if (programMs <= 0 || g_scale == 1)
        return programMs;
    const int real = programMs / g_scale;
    return real > 0 ? real : 1;
}

int64_t plat_mono_us() {
    if (g_manual.load(std::memory_order_relaxed))
        return g_manualUs.load(std::memory_order_relaxed);
    const int64_t now = wallUs();
    if (g_scale == 1 && g_programBaseUs == g_wallBaseUs)
        return now;
    return g_programBaseUs + (now - g_wallBaseUs) * g_scale;
}

int64_t plat_mono_ms() { return plat_mono_us() / 1000; }

double plat_mono_s() { return static_cast<double>(plat_mono_us()) / 1e6; }

void plat_sleep_us(int64_t us) {
    if (us <= 0 || g_skipSleeps.load(std::memory_order_relaxed))
        return;
    if (g_manual.load(std::memory_order_relaxed)) {
        plat_clock_step_us(us);
        return;
    }
    us /= g_scale;
    if (us <= 0)
        us = 1;
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void plat_sleep_ms(int64_t ms) { plat_sleep_us(ms * 1000); }

void plat_clock_manual(bool on, int64_t wallEpochS) {
    if (on == g_manual.load())
        return;
    if (on) {
        g_manualUs = plat_mono_us();
        g_manualStartUs = g_manualUs.load();
        g_manualEpochS = wallEpochS;
        g_manual = true;
    } else {
        // Real time goes on from the manual reading: it never jumps back.
        const int64_t at = g_manualUs.load();
        g_manual = false;
        g_wallBaseUs = wallUs();
        g_programBaseUs = at;
    }
}

bool plat_clock_is_manual() { return g_manual.load(std::memory_order_relaxed); }

void plat_clock_step_us(int64_t us) {
    if (us > 0)
        g_manualUs.fetch_add(us, std::memory_order_relaxed);
}

int64_t plat_wall_time() {
    if (g_manual.load(std::memory_order_relaxed))
        return g_manualEpochS + (g_manualUs.load(std::memory_order_relaxed) - g_manualStartUs) / 1000000;
    return static_cast<int64_t>(std::time(nullptr));
}
