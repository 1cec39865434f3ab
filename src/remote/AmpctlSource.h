// Where the amplifier protocol's answers come from and where its changes go:
// on the station's unit its own amplifier (the readings snapshot, the alarm
// list, the operating point) and the keys' thread's requests; on the
// operator's unit (WebSocket '2') the station's, from the status record and
// alarm message of the session, and requests sent over the link.
#pragma once

#include "remote/AmpctlAnswer.h"

struct Works;

// Readings older than this are no values (the pages show the station's record grey then).
constexpr int kAmpctlStaleMs = 2000;

// The view of the amplifier (all of it but `mayChange`, which is the client's).
void AmpctlFillView(Works* works, AmpctlView* view);
// The answer to a change a client with rights asked for: 0 once the request is
// on its way (queued for the station's keys' thread, or sent to the station),
// else -9 where the keys' rules refuse it now, -11 where there is no such
// thing or no session. `client` names the asker in the station's log.
int AmpctlAsk(Works* works, const AmpctlRequest& request, const char* client);

// The status flags (AmpctlStatus bits) and texts of an alarm list: the newest
// error (an alarm the panel shows red) is the fault, the newest other alarm
// the warning. Tables, for tests.
struct AmpctlAlarm {
    int code;      // the panel's alarm code (core/AlarmList.h)
    uint8_t flags; // bit 0: an error
    const char* line1;
    const char* line2;
};
void AmpctlAlarmsInto(const AmpctlAlarm* alarms, int count, AmpctlView* view);
