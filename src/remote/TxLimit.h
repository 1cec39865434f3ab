// The transmit time limit of remote operation.
//
// While the station is operated from elsewhere (an operator's unit has its
// session, or a browser console is in control), a transmission (the amplifier
// reports transmit, or forward power above 1 W) that lasts longer than the
// setup's RemoteTxLimit seconds is ended the way the transmit guard ends one
// (TxGuardReturnToReceive). Ten seconds before, a warning alarm key; at the
// limit an alarm key that stays until the reset key takes it away: the
// station's own, the operator's (its "AR") or the console's acknowledge.
// Until then the transmit commands relayed from the remote side are refused.
// Local operation is never limited.
//
// The refresh tick times it: it runs every 10-100 ms on the station anyway and
// already sends the operator's unit its status; the way back to receive waits
// seconds for the power to fall, so it runs as the guard's own job.
//
// The operator's unit is told in a "TL" message: "LLLLSSSSP", the limit in
// seconds (0000: none), the seconds left of a timed transmission, and the
// phase ('R' none timed, 'T' timed, 'W' near the limit, 'L' ended by it until
// acknowledged); sent when it changes, at a new session and every 5 s. An older operator's
// unit logs it as a message of a type it does not know; an older station sends
// none, and the operator's unit shows nothing of it.
#pragma once

#include "core/Works.h"

#include <cstddef>
#include <cstdint>

enum TxPhase { kTxIdle = 0, kTxTiming = 1, kTxNear = 2, kTxLocked = 3 };

constexpr int kTxLimitWarnS = 10;   // the warning comes this long before the limit
constexpr int kTxLimitMinS = 10;    // a shorter limit from the file counts as this
constexpr int kTxLimitGapMs = 1000; // a transmission paused this long has ended
constexpr size_t kTxLimitMessageSize = 9;
constexpr int kTxLimitRepeatMs = 5000; // "TL" unchanged goes again after this long

// The limit in seconds; 0: none.
int TxLimitSeconds(Works* works);
// An operator's unit has its session, or a browser console is in control.
bool OperatedRemotely(Works* works);

// Station, refresh tick: times a remote transmission, warns, ends it at the
// limit and sees the acknowledgement.
void TxLimitTick(Works* works, int64_t nowMs);
// Seconds left of the timed transmission; -1 when none is timed.
int TxLimitLeftS(Works* works, int64_t nowMs);
// Station, session thread: true when `text` for the transceiver holds a
// transmit command while the limit's notice waits for its acknowledgement (the
// first refusal of each such time is logged, naming `where`).
bool TxLimitRefuses(Works* works, const uint8_t* text, size_t n, const char* where);

// The "TL" payload (kTxLimitMessageSize bytes).
size_t BuildTxLimitMessage(Works* works, int64_t nowMs, char* out, size_t cap);
// Into `into` (time noted by the caller); false, and nothing changed, when malformed.
bool ParseTxLimitMessage(const uint8_t* p, size_t n, StationState* into);
// Station, refresh tick while a session is up.
void SendTxLimit(Works* works);
// Operator's unit, session thread.
void StationTxLimitReceived(Works* works, const uint8_t* p, size_t n);

// The text of the notice line, on the station (near, ended) or the operator's
// unit (the station's limit and the seconds left); false when there is none.
bool TxLimitNotice(Works* works, char* text, size_t size);
// "off", "idle", "timing", "near", "reached": /status.json's word for the phase.
const char* TxLimitStateName(Works* works);
