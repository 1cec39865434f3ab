// The remote server's back-off per address and its cap over all of them.
#include "remote/Throttle.h"

#include "platform/Log.h"

#include <cstring>

namespace {

ThrottleEntry* find(Throttle* t, const char* address) {
    for (ThrottleEntry& e : t->entries)
        if (e.address[0] && std::strncmp(e.address, address, sizeof e.address - 1) == 0)
            return &e;
    return nullptr;
}

// The entry of `address`, made when missing: a free one, else the stranger
// seen longest ago, else the known address seen longest ago.
ThrottleEntry* entryFor(Throttle* t, const char* address, int64_t nowMs) {
    if (ThrottleEntry* e = find(t, address))
        return e;
    ThrottleEntry* pick = nullptr;
    for (ThrottleEntry& e : t->entries) {
        if (!e.address[0]) {
            pick = &e;
            break;
        }
        if (!pick || (pick->known && !e.known) || (pick->known == e.known && e.lastSeenMs < pick->lastSeenMs))
            pick = &e;
    }
    *pick = ThrottleEntry{};
    std::strncpy(pick->address, address, sizeof pick->address - 1);
    pick->lastSeenMs = nowMs;
    return pick;
}

// True while the last 30 failures all fall within the window.
bool capReached(const Throttle* t, int64_t nowMs) {
    if (t->failureCount < kThrottleWindowFailures)
        return false;
    const int64_t oldest = t->failureTimes[t->failureNext];
    return nowMs - oldest < kThrottleWindowMs;
}

} // namespace

Admit ThrottleAdmit(Throttle* t, const char* address, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(t->mu);
    ThrottleEntry* e = find(t, address);
    if (e)
        e->lastSeenMs = nowMs;
    if (e && nowMs < e->blockedUntilMs) {
        if (!e->refusalLogged) {
            LogErr("remote: %s refused for %lld s after %d failed authentications", address,
                   static_cast<long long>((e->blockedUntilMs - nowMs + 999) / 1000), e->failures);
            e->refusalLogged = true;
        }
        return Admit::AddressBlocked;
    }
    if (capReached(t, nowMs)) {
        if (e && e->known)
            return Admit::Yes;
        e = entryFor(t, address, nowMs);
        if (!e->refusalLogged) {
            LogErr("remote: %s refused: %d failed authentications in 10 minutes, only known addresses served",
                   address, kThrottleWindowFailures);
            e->refusalLogged = true;
        }
        t->capLogged = true;
        return Admit::GlobalCap;
    }
    if (t->capLogged) {
        LogInfo("remote: failed authentications below the cap again: every address served");
        t->capLogged = false;
        for (ThrottleEntry& other : t->entries)
            if (nowMs >= other.blockedUntilMs)
                other.refusalLogged = false;
    }
    return Admit::Yes;
}

void ThrottleFailure(Throttle* t, const char* address, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(t->mu);
    ThrottleEntry* e = entryFor(t, address, nowMs);
    e->lastSeenMs = nowMs;
    if (e->failures < 30)
        e->failures++;
    int64_t pause = kThrottleFirstMs;
    for (int i = 1; i < e->failures && pause < kThrottleLongestMs; i++)
        pause *= 2;
    if (pause > kThrottleLongestMs)
        pause = kThrottleLongestMs;
    e->blockedUntilMs = nowMs + pause;
    e->refusalLogged = false;
    t->failureTimes[t->failureNext] = nowMs;
    t->failureNext = (t->failureNext + 1) % kThrottleWindowFailures;
    if (t->failureCount < kThrottleWindowFailures)
        t->failureCount++;
}

void ThrottleSuccess(Throttle* t, const char* address, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(t->mu);
    ThrottleEntry* e = entryFor(t, address, nowMs);
    e->lastSeenMs = nowMs;
    e->failures = 0;
    e->blockedUntilMs = 0;
    e->known = true;
    e->refusalLogged = false;
}

// Lives as long as the program: a restart of a server forgets no stranger.
Throttle* UnitThrottle() {
    static Throttle unit;
    return &unit;
}
