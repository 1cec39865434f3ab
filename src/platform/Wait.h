// The one timed wait on descriptors.
//
// Every thread that waits for a port, a socket, a signal or a sound device
// waits here: poll() against a deadline in program time, in slices of at most
// kPortSliceMs so that the caller's wish to go on (`wanted`) is asked while it
// waits and a thread never outlives the end of its link or of the program.
#pragma once

#include <functional>
#include <poll.h>

// How a wait or a transfer ended.
enum class PortStatus {
    Ok,       // readable, or everything written
    TimedOut, // the deadline passed
    Stopped,  // the caller's `wanted` turned false
    HungUp,   // the device went away
    Failed,   // any other error (errno set)
};

// Asked between waits: true while the caller still wants to go on (its link is
// on, the program runs). An empty function always wants to.
using PortWanted = std::function<bool()>;

// The longest single wait: `wanted` is looked at least this often.
constexpr int kPortSliceMs = 200;

// Waits until one of the `n` descriptors reports one of its `events` (or an
// error or hang-up, which poll always reports), at most `timeoutMs` of program
// time (negative: no deadline). Ok with every `revents` filled in, TimedOut,
// Stopped or Failed (errno set). `*waitedMs`, when given, grows by the program
// time waited.
PortStatus plat_wait_fds(pollfd* fds, int n, int timeoutMs, const PortWanted& wanted,
                         int* waitedMs = nullptr);
// One descriptor, one kind of event: `*revents` gets what poll reported.
PortStatus plat_wait_fd(int fd, short events, int timeoutMs, const PortWanted& wanted,
                        short* revents = nullptr, int* waitedMs = nullptr);
