// Heartbeats, the progress watch and sd_notify.
#include "platform/Watchdog.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Thread.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>

namespace {

thread_local Heartbeat* t_beat = nullptr;

// How often a beating thread looks for its hang file under a root: a stat()
// every pass of the 2 ms key loop would cost more than the loop.
constexpr int64_t kHookCheckMs = 100;
constexpr int64_t kHookHoldStepMs = 20;

bool hangFileExists(const Heartbeat& beat) {
    struct stat st;
    return stat((plat_root() + "/sim/hang-" + beat.name).c_str(), &st) == 0;
}

void holdWhileHung(Heartbeat& beat) {
    const int64_t now = plat_mono_ms();
    if (now < beat.nextHookCheckMs)
        return;
    beat.nextHookCheckMs = now + kHookCheckMs;
    if (!hangFileExists(beat))
        return;
    LogInfo("%s thread held by sim/hang-%s", beat.name, beat.name);
    while (hangFileExists(beat) && !plat_threads_are_closing())
        plat_sleep_ms(kHookHoldStepMs);
    LogInfo("%s thread released", beat.name);
}

} // namespace

void plat_heartbeat(Heartbeat& beat) {
    t_beat = &beat;
    beat.passes.fetch_add(1, std::memory_order_relaxed);
    if (plat_has_root())
        holdWhileHung(beat);
}

Heartbeat* plat_current_heartbeat() { return t_beat; }

bool plat_watch_progress(ProgressWatch* w, bool running, int64_t nowMs) {
    const uint64_t passes = w->beat->passes.load(std::memory_order_relaxed);
    if (!running || passes != w->seenPasses) {
        if (w->stalled && running)
            LogInfo("watchdog: the %s thread moves again", w->beat->name);
        w->seenPasses = passes;
        w->seenAtMs = nowMs;
        w->stalled = false;
        return true;
    }
    const bool inCommand = w->beat->inCommand.load(std::memory_order_relaxed);
    const int64_t limit = inCommand && w->commandTimeoutMs > w->timeoutMs ? w->commandTimeoutMs
                                                                          : w->timeoutMs;
    const int64_t quietMs = nowMs - w->seenAtMs;
    if (quietMs <= limit)
        return true;
    if (!w->stalled)
        LogErr("watchdog: the %s thread made no progress for %lld ms%s; not reporting alive",
               w->beat->name, static_cast<long long>(quietMs),
               inCommand ? " (waiting for a command)" : "");
    w->stalled = true;
    return false;
}

uint64_t plat_sd_watchdog_usec() {
    uint64_t usec = 0;
    const int r = sd_watchdog_enabled(0, &usec);
    if (r < 0) {
        LogErr("watchdog: bad WATCHDOG_USEC or WATCHDOG_PID: %s", std::strerror(-r));
        return 0;
    }
    return r > 0 ? usec : 0;
}

bool plat_sd_notify(const char* state) {
    const int r = sd_notify(0, state);
    if (r > 0)
        return true;
    if (r < 0) {
        // Once per error: a manager that went away would otherwise fill the log.
        static std::atomic<int> lastError{0};
        if (lastError.exchange(-r) != -r)
            LogErr("sd_notify(%s): %s", state, std::strerror(-r));
    }
    return false;
}
