// What a client of Hamlib's amplifier protocol reads of this amplifier, and
// the answer to each of its commands.
//
// Answers are byte for byte those of Debian's ampctld 4.5.4 for the commands
// it has (its dummy amplifier, `ampctld -m 1`, shows them): a get answers its
// value on a line, a set "RPRT n"; the extended form first echoes the long
// name and the arguments, then "Key: value" records, then "RPRT n". Current
// Hamlib's status flags ('s'), antenna ('y', 'Y') and operation ('G TUNE')
// answer in the same way. With no current data (`valid` false) every value
// answers RPRT -11, never an old one; the description of the amplifier
// ('1', '_', dump_state) and the level list answer always.
//
// A change is never made here: it becomes a request that the caller applies
// through the panel's rules, and the result it gets completes the answer.
#pragma once

#include "remote/AmpctlCommand.h"

#include <cstddef>
#include <cstdint>

constexpr size_t kAmpctlTextMax = 64;     // a fault or warning text, its NUL included
constexpr size_t kAmpctlAnswerMax = 1536; // room for the longest answer (the extended caps dump)

// Hamlib's return codes, as "RPRT n" carries them.
constexpr int kAmpctlOk = 0;
constexpr int kAmpctlInvalid = -1;        // RIG_EINVAL: a bad argument, an unknown level
constexpr int kAmpctlRejected = -9;       // RIG_ERJCTED: the panel's rules refuse it now
constexpr int kAmpctlNotAvailable = -11;  // RIG_ENAVAIL: no such thing here, or no data
constexpr int kAmpctlNotAllowed = -19;    // RIG_ESECURITY: this client may not change anything

// Hamlib's amp_status_t bits; 's' answers the names of those set as Hamlib
// spells them (the enumerator without AMP_STATUS_).
enum AmpctlStatus : uint32_t {
    kAmpctlPtt = 1u << 0,
    kAmpctlFaultSwr = 1u << 1,
    kAmpctlFaultInputPower = 1u << 2,
    kAmpctlFaultTemperature = 1u << 3,
    kAmpctlFaultPwrFwd = 1u << 4,
    kAmpctlFaultPwrReflected = 1u << 5,
    kAmpctlFaultVoltage = 1u << 6,
    kAmpctlFaultFrequency = 1u << 7,
    kAmpctlFaultTunerNoMatch = 1u << 8,
    kAmpctlFaultOther = 1u << 9,
    kAmpctlWarningSwrHigh = 1u << 10,
    kAmpctlWarningPowerLimit = 1u << 11,
    kAmpctlWarningTemperature = 1u << 12,
    kAmpctlWarningFrequency = 1u << 13,
    kAmpctlWarningTunerNoInput = 1u << 14,
    kAmpctlWarningOther = 1u << 15,
};

// Everything a client may read, filled by the caller for one client.
struct AmpctlView {
    bool valid = false;          // the values are current; false: each answers RPRT -11
    bool mayChange = false;      // this client may change things; else each change is RPRT -19
    int64_t freqHz = 0;          // the frequency the panel follows
    bool freqKnown = true;       // false: 'f' answers RPRT -11 (the operator's unit knows the band only)
    bool freqFromSource = false; // a source sets it: 'F' answers RPRT -11
    int forwardW = 0;
    int reflectedW = 0;
    int inputW = 0;
    int peakW = 0;
    float swr = 1.0f;
    char fault[kAmpctlTextMax]{};   // the newest fault's text; "" none ("No Fault" answered)
    char warning[kAmpctlTextMax]{}; // the newest warning's text; "" none ("No Warning")
    float heatSinkC = 0.0f;         // the hotter heat sink
    float supplyV = 0.0f;
    float drainA = 0.0f;
    bool operate = false;      // else standby
    bool transmitting = false; // answered as the PTT flag
    uint32_t status = 0;       // the fault and warning flags (AmpctlStatus)
    int antenna = 1;           // 1..3
};

// A change the client asked for, for the caller to apply.
enum class AmpctlAction : uint8_t {
    None,
    Standby,    // \set_powerstat 2
    Operate,    // \set_powerstat 4
    FaultReset, // R 1
    SetAntenna, // Y n: value 1..3
    Tune,       // G TUNE
    SetFreq,    // F hz: value in Hz
};

struct AmpctlRequest {
    AmpctlAction action = AmpctlAction::None;
    int64_t value = 0;
};

struct AmpctlAnswer {
    char text[kAmpctlAnswerMax]; // the bytes to send
    size_t len = 0;
    AmpctlRequest request;       // not None: `text` waits for AmpctlComplete
    bool close = false;          // 'q': end the connection, nothing to send
};

// The answer to `command` from `view`. For a change this client may ask for,
// `answer->request` says what to do and `text` holds the answer's start.
void AmpctlRespond(const AmpctlView& view, const AmpctlCommand& command, AmpctlAnswer* answer);
// Completes an answer that waits for its request: `result` 0 when the change
// was made, else the negative Hamlib code the panel's rules gave (-9, -11, -19).
void AmpctlComplete(AmpctlAnswer* answer, int result);
