// The automatic tuning search over the tuner's inductor and capacitor banks.
#pragma once

#include "core/AmpRequests.h"

#include <atomic>
#include <cstdint>

struct Works;

// One sample of the search: the SWR and forward power measured with a setting.
struct TuneSample {
    float swrVal;
    float fwd;
    uint32_t l;
    uint32_t c;
    uint32_t word;
};

constexpr int kTuneHistory = 10;
// The search's samples: the link thread's (it runs the search), but for the
// count, which any thread may reset.
struct TuneSearch {
    TuneSample tuneParam;                // the latest sample
    TuneSample miglioretuneParam;        // the best sample of this search
    TuneSample vTuneParam[kTuneHistory]; // the latest samples, newest first
    std::atomic<int> cnttune;            // samples taken in this search
    int cnttunefine;                     // steps of the current fine run
};
extern TuneSearch search;
extern const int SWRTimeoutCICLI[5];         // sample limits by the setup's index

// The tune key: starts a search, or ends the running one.
void GoTune(Works* works);
// Whether the tune key would start a search now: a tuner fitted (else
// NotHere), no search running (the key would end it), tuning on transmit on
// and not just ended, the tuner in line.
AmpVerdict TuneKeyVerdict(const Works* works);
// Prepares the amplifier and starts a search (not with the tuner bypassed).
void StartAutotune(Works* works);
// One step of the search, run by the link thread after each status reply.
void TuneTask(Works* works);
// Takes one sample; 1 when the target SWR was reached (the search has ended).
int TuneStep(Works* works);
// Best-sample update and history shift.
void CtrlNuovoTune();
// Back to the best sample: its setting goes out with the next tune word.
void TuneEnd(Works* works);
// Ends a search; `store` non-zero stores its setting in the tuner memory.
void EscAutoTune(Works* works, int store);
// Resets the samples.
void Clr_vTuneParam(Works* works);
