// The station's amplifier on the operator's unit. The station streams its status
// record ("ST", kept byte for byte as older units send and expect it) and an
// alarm message ("AS": transmit state, coax relay, the alarm list with the keys'
// texts), sent when it changes and once a second; an older operator's unit logs
// "AS" as a wrong message type and goes on. The operator's reset key sends "AR",
// which the station's keys' thread takes as its own reset key.
#pragma once

#include "core/Works.h"

#include <cstddef>
#include <cstdint>

constexpr int kStationStaleMs = 2000; // a record older than this is shown grey
constexpr int kAlarmMessageMs = 1000;
// "tx coax NN" and per alarm "CCF" line1 '|' line2 ';'.
constexpr size_t kAlarmMessageMax = 4 + kMaxActiveErrors * (3 + 2 * (kAlarmTextSize - 1) + 2);

// A status record's fields into `into` (its alarm list is left alone); false,
// and nothing changed, when the bytes are not a whole record.
bool ParseStatusRecord(const uint8_t* p, size_t n, StationState* into);
// This unit's alarm message; its length (at most kAlarmMessageMax).
size_t BuildAlarmMessage(Works* works, char* out, size_t cap);
// An alarm message into `into`; false, and nothing changed, when it is malformed.
bool ParseAlarmMessage(const uint8_t* p, size_t n, StationState* into);

// Station (refresh tick, while a session is up): the alarm message when it
// changed, at a new session, and at least once a second.
void SendStationAlarms(Works* works);
// Station ("AR" on the session thread): the keys' thread runs the reset.
void StationResetAsked(Works* works);

// Operator's unit, on its session thread.
void StationRecordReceived(Works* works, const uint8_t* p, size_t n);
void StationAlarmsReceived(Works* works, const uint8_t* p, size_t n);
// A new session knows nothing of the station yet.
void StationViewForget(Works* works);
// A copy of what is known, taken under the view's lock.
StationState StationViewCopy(Works* works);
// The operator's reset key: sends "AR" when a session is up and the station
// shows alarms; true when it was sent.
bool AskStationReset(Works* works);
