// The memory of the last search, kept for the tune-on-transmit supervision.
#include "tuner/Retune.h"

#include "core/Works.h"
#include "platform/Log.h"
#include "tuner/TuneMem.h"

#include <mutex>

namespace {

// Where a search ended: the tuner memory slot of the frequency, the antenna
// output and the bank.
struct Place {
    int slot = -1;
    int antenna = -1;
    int bank = -1;
    bool operator==(const Place&) const = default;
};

Place placeNow(Works* w) {
    int64_t from, to;
    int first, last;
    return Place{AtuIdxSearch(w->freqHz, &from, &to, &first, &last), w->antennaIdx.load(), w->NumBanco.load()};
}

// Written by the link thread at a search's end, read and timed by the refresh
// thread: one lock over the whole record.
struct LastSearch {
    std::mutex mu;
    bool known = false;
    Place place;
    bool stored = false;
    float threshold = 0.0f;
    int64_t endMs = 0;
    int64_t aboveSinceMs = -1; // while transmitting with the SWR above the threshold
    bool holdLogged = false;
} g_last;

} // namespace

void RetuneNoteEnd(Works* w, bool stored, float swr, int64_t nowMs) {
    const Place here = placeNow(w);
    float threshold = kRetuneSwrFloor;
    const float target = w->settings.swrEscAutoTune.load();
    if (target > threshold)
        threshold = target;
    if (swr + kRetuneSwrMargin > threshold)
        threshold = swr + kRetuneSwrMargin;
    LogInfo("tuner: search ended %s at slot %d, antenna %d, bank %d (SWR %.2f)", stored ? "stored" : "unstored",
            here.slot, here.antenna + 1, here.bank, static_cast<double>(swr));
    std::lock_guard<std::mutex> lock(g_last.mu);
    g_last.known = true;
    g_last.place = here;
    g_last.stored = stored;
    g_last.threshold = threshold;
    g_last.endMs = nowMs;
    g_last.aboveSinceMs = -1;
    g_last.holdLogged = false;
}

bool RetuneAllowed(Works* w, bool transmitting, int64_t nowMs) {
    const Place here = placeNow(w);
    // The SWR and the forward power of one reply.
    const AmpReadings r = AmpReadingsNow(w);
    const float swr = r.swr, fwd = r.pwrFwd;
    std::lock_guard<std::mutex> lock(g_last.mu);
    if (!g_last.known || !(g_last.place == here))
        return true;
    if (!g_last.stored)
        return nowMs - g_last.endMs >= kRetuneFailedWaitMs;
    // NaN counts as no reading.
    if (!transmitting || !(fwd >= kRetuneMinFwdW) || !(swr > g_last.threshold)) {
        g_last.aboveSinceMs = -1;
        return false;
    }
    if (g_last.aboveSinceMs < 0)
        g_last.aboveSinceMs = nowMs;
    if (nowMs - g_last.aboveSinceMs < kRetuneHoldMs)
        return false;
    if (!g_last.holdLogged) {
        LogInfo("tune on transmit: SWR %.2f above %.2f for %lld ms, tuning again", static_cast<double>(swr),
                static_cast<double>(g_last.threshold), static_cast<long long>(kRetuneHoldMs));
        g_last.holdLogged = true;
    }
    return true;
}

void RetuneForget() {
    std::lock_guard<std::mutex> lock(g_last.mu);
    g_last.known = false;
    g_last.aboveSinceMs = -1;
}
