// Changes of the amplifier that others than the panel's keys ask for: a
// logger through the amplifier protocol's server, the operator's unit over the
// remote link. The keys' thread takes them each pass and makes them as its own
// keys make them, with the same rules; whoever asks answers at once from the
// same rule functions (a request the keys' thread then refuses, because the
// amplifier changed meanwhile, is logged there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

struct Works;

enum class AmpAsk : uint8_t {
    Standby,    // as the attenuator key's step after its last one
    Operate,    // as the same key leaves standby (to its first step)
    FaultReset, // as the reset key
    Antenna,    // output `value` (1..3), as the antenna key chooses one
    Tune,       // as the tune key, only where it would start a search
};

// What the rules say of a change now.
enum class AmpVerdict : uint8_t {
    Ok,
    NotNow,  // the panel's rules refuse it in the amplifier's present state
    NotHere, // this amplifier has no such thing (no tuner)
};

// The attenuator key's rule: the amplifier goes neither into standby nor out
// of it while it transmits. Asking for the state it is in is no change.
AmpVerdict StandbyVerdict(bool wantStandby, bool standby, bool transmitting);

constexpr int kAmpRequestsMax = 8;
constexpr size_t kAmpAskerMax = 64; // who asked, for the log
// A request not taken within this long is dropped: the amplifier it was asked
// of is another by then.
constexpr int64_t kAmpRequestMaxAgeMs = 2000;

struct AmpRequest {
    AmpAsk what = AmpAsk::Standby;
    int value = 0;
    int64_t askedMs = 0;
    char from[kAmpAskerMax] = {};
};

// The requests waiting for the keys' thread, oldest first. Any thread asks,
// the keys' thread takes: one small lock, held for a copy.
struct AmpRequestQueue {
    std::mutex mu;
    AmpRequest items[kAmpRequestsMax]; // guarded by mu
    int first = 0, count = 0;          // guarded by mu
};

// Queues a request; false (logged) when kAmpRequestsMax wait already.
bool AskAmplifier(Works* works, AmpAsk what, int value, const char* from);
// The keys' thread: the oldest request that is not too old (older ones are
// dropped and logged); false when none waits.
bool TakeAmpRequest(Works* works, AmpRequest* out);
// "standby", "operate", "fault reset", "antenna", "tune".
const char* AmpAskName(AmpAsk what);
