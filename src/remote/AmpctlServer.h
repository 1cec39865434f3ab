// The amplifier protocol's server (thread "ampctl"): Hamlib's ampctld protocol
// on AmpctlPort, for loggers, contest programs and station software.
//
// One thread serves every client from one poll(): at most 8 at once, lines of
// at most 256 bytes (a longer one ends its client), a client silent for 10
// minutes is closed. A 9th connection, and connections beyond 16 a second, are
// closed at once; such refusals are logged once per burst (the first of them,
// then their count once 10 s passed without one). A client outside
// AmpctlControl reads only; each of its refused changes (and any change the
// panel's rules refuse) is answered with its RPRT code and logged with the
// client's address once per connection and kind of refusal (the command, its
// argument, the code), at most 20 such lines a minute in all.
#pragma once

#include <cstdint>

struct Works;

constexpr int kAmpctlClientsMax = 8;
constexpr int64_t kAmpctlSilentMs = 10 * 60 * 1000;
constexpr int kAmpctlConnectionsPerSecond = 16;
constexpr int64_t kAmpctlBurstQuietMs = 10000;

// The thread's body: serves until the program ends or the slot wants another
// thread; returns at once when AmpctlPort is 0, and when it cannot listen (logged).
void AmpctlServe(Works* works);
