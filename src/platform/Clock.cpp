// CLOCK_MONOTONIC readings and interrupted-safe sleeps.
#include "platform/Clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {
std::atomic<bool> g_skipSleeps{false};
}

void plat_skip_sleeps(bool skip) { g_skipSleeps = skip; }

int64_t plat_mono_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int64_t plat_mono_ms() { return plat_mono_us() / 1000; }

double plat_mono_s() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void plat_sleep_us(int64_t us) {
    if (us <= 0 || g_skipSleeps.load(std::memory_order_relaxed))
        return;
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void plat_sleep_ms(int64_t ms) { plat_sleep_us(ms * 1000); }
