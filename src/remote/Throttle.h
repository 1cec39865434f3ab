// How often the remote server lets an address try the code.
//
// After a failed authentication (TLS refused, a wrong code, a time-out) the
// address's next connection is closed unread for 1 s, then 2, 4, ... up to
// 300 s; a success clears it. Over all addresses at most 30 failures count in
// any 10 minutes: past that, only addresses that authenticated before are
// served until the window has room again. At most 256 addresses are kept; a new
// one takes the place of the one seen longest ago, strangers before known ones.
// Each refusal is logged once per blocked stretch, not once per connection.
#pragma once

#include <cstdint>
#include <mutex>

constexpr int kThrottleAddresses = 256;
constexpr int kThrottleFirstMs = 1000;
constexpr int kThrottleLongestMs = 300000;
constexpr int kThrottleWindowFailures = 30;
constexpr int64_t kThrottleWindowMs = 10 * 60 * 1000;

struct ThrottleEntry {
    char address[48] = {}; // "" when free
    int failures = 0;      // in a row
    int64_t blockedUntilMs = 0;
    int64_t lastSeenMs = 0;
    bool known = false;       // authenticated once
    bool refusalLogged = false; // for the present blocked stretch
};

struct Throttle {
    std::mutex mu;
    ThrottleEntry entries[kThrottleAddresses];
    int64_t failureTimes[kThrottleWindowFailures] = {}; // the latest failures, a ring
    int failureNext = 0;
    int failureCount = 0;
    bool capLogged = false;
};

enum class Admit { Yes, AddressBlocked, GlobalCap };

// May a connection from `address` go on at `nowMs`? A refusal is logged the
// first time in its stretch.
Admit ThrottleAdmit(Throttle* t, const char* address, int64_t nowMs);
// The connection from `address` failed to authenticate.
void ThrottleFailure(Throttle* t, const char* address, int64_t nowMs);
// It authenticated: its back-off is cleared and it counts as known.
void ThrottleSuccess(Throttle* t, const char* address, int64_t nowMs);
// The unit's one throttle: the remote link and the browser console count
// failures together, so a stranger gains no tries by knocking at both doors.
Throttle* UnitThrottle();
