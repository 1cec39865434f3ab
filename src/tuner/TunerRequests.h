// The tuner belongs to the amplifier link thread, which runs the tuning search
// and sends every tuner word: the word, L, C, the mode, the search's step and
// state and the bypass byte are written there and nowhere else. The keys, the
// menus, the frequency following and the remote link ask for a change with a
// request, which the link thread carries out before it sends its next command;
// a key that changes L, C or the mode queues the tuner word's command after its
// request, so the word that goes out carries the change.
#pragma once

#include <cstdint>

struct Works;

enum class TunerAsk : uint8_t {
    StepL,     // L by `delta` (-1 or +1), within 0..511
    StepC,     // C likewise
    NextMode,  // CL -> LC -> bypass -> CL, when no search runs
    BypassOff, // the bypass byte to 0 (the word follows with its command)
    GoTune,    // the tune key: starts a search, or ends the one that runs
    StartAuto, // tune on transmit: starts a search
    AbortAuto, // tune on transmit: the transceiver went back to receive mid-search
    StartTune, // a logger's or the operator's tune: the tune key's, only where it starts a search
};

constexpr int kTunerRequests = 16;
constexpr uint32_t kTunerMaxLC = 511;

// Queues a request for the link thread; false (logged) when the queue is full.
bool TunerRequest(Works* works, TunerAsk what, int delta = 0);
// The link thread: carries out the waiting requests in their order.
void TunerServeRequests(Works* works);
// The link thread at its start: requests left from before it ran are dropped.
void TunerDropRequests(Works* works);

// One reading of the tuner for the other threads. L, C and the mode come from
// the one tuner word, so they always belong together.
struct TunerView {
    uint32_t word;
    uint32_t l, c;
    int mode;
    bool bypass;
    int state; // tuneState: 0 idle, else a search runs
};
TunerView TunerSnapshot(const Works* works);
