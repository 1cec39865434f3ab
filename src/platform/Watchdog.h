// The service watchdog: threads that count their progress, a watch that tells
// whether each made progress within its own time-out, and systemd's
// notifications (sd_notify).
//
// Under systemd (WatchdogSec= in the unit) the main loop reports "alive" only
// while every watched thread moves, so a hung link, key or refresh thread gets
// the program ended and restarted, not just an idle process that still answers.
// Without systemd every notification is a no-op.
#pragma once

#include <atomic>
#include <cstdint>

// One thread's progress, counted by the thread itself once a pass of its loop.
struct Heartbeat {
    explicit Heartbeat(const char* beatName) : name(beatName) {}
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    const char* name; // "link", "keys", "refresh": for the log and the hang hook
    std::atomic<uint64_t> passes{0};
    // Set while the thread waits for a shell command (plat_system): an update
    // script or a network restart may take minutes and is not a hang.
    std::atomic<bool> inCommand{false};
    int64_t nextHookCheckMs = 0; // owned by the beating thread
};

// One pass made by the calling thread, which from then on belongs to `beat`
// (the heartbeat must outlive the thread). Under a root, while the file
// DIR/sim/hang-NAME exists the thread is held here without counting, until the
// file is removed or the program ends: the test hook of a hung thread.
void plat_heartbeat(Heartbeat& beat);
// The heartbeat of the calling thread (the last one it counted), or nullptr.
Heartbeat* plat_current_heartbeat();

// How the watch sees one thread.
struct ProgressWatch {
    Heartbeat* beat = nullptr;
    int64_t timeoutMs = 0;        // longest time between two passes
    int64_t commandTimeoutMs = 0; // the same while the thread waits for a command
    uint64_t seenPasses = 0;
    int64_t seenAtMs = 0; // when the count last moved, or watching (re)began
    bool stalled = false;
};

// Looks at one thread at `nowMs` (program time). True when it made a pass
// within its time-out, or when it does not run (a thread that ended, such as a
// link without its port, is not hung; when it starts again its time-out starts
// afresh). Logs once when the thread stalls and once when it moves again.
bool plat_watch_progress(ProgressWatch* watch, bool running, int64_t nowMs);

// systemd's watchdog interval for this process (WATCHDOG_USEC, WATCHDOG_PID), in
// microseconds; 0 when none was asked for.
uint64_t plat_sd_watchdog_usec();
// Sends one notification ("READY=1", "WATCHDOG=1", "STOPPING=1", "STATUS=...")
// to the service manager. True when it was sent; false without a manager or on
// failure (logged once per kind of failure). The datagram waits while the
// manager's queue is full; systemd reads it at once.
bool plat_sd_notify(const char* state);
