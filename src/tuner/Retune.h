// When tune on transmit may start a search.
//
// The supervision's rule alone starts a search whenever the transceiver
// transmits and no search is under way, so a transmission held past the end of
// a search (a PTT held, an operator's transmission relayed by the remote link,
// on which the search's "RX;" has no effect) starts one search after another on
// the same frequency, each switching the tuner's relays and storing the same
// word again. So, on the same tuner memory slot, antenna and bank:
// - after a search that stored its word, another starts only once the SWR
//   measured while transmitting with at least kRetuneMinFwdW forward (below
//   it, or with the amplifier in protection, the reading says nothing about
//   the load) has stayed above the retune threshold for kRetuneHoldMs; the
//   threshold is the highest of kRetuneSwrFloor, the search's target and the
//   SWR that search reached plus kRetuneSwrMargin;
// - after a search that stored nothing, not again within kRetuneFailedWaitMs.
// Elsewhere (another slot, antenna or bank) a search starts as before.
#pragma once

#include <cstdint>

struct Works;

constexpr int64_t kRetuneHoldMs = 3000;
constexpr int64_t kRetuneFailedWaitMs = 60000;
constexpr float kRetuneSwrFloor = 2.0f;
constexpr float kRetuneSwrMargin = 0.5f;
constexpr float kRetuneMinFwdW = 5.0f;

// A search has ended where the panel is now (the link thread, as it ends it);
// `stored`: its word was kept in the tuner memory; `swr`: the SWR it reached.
void RetuneNoteEnd(Works* works, bool stored, float swr, int64_t nowMs);
// Once a refresh tick while tune on transmit is on: may a search start now?
bool RetuneAllowed(Works* works, bool transmitting, int64_t nowMs);
// Forgets the last search (a test's fresh start).
void RetuneForget();
