// What the pages show of the amplifier: this unit's own readings, or, on the
// operator's unit (WebSocket '2'), the station's from the remote link; "no
// link" while it has no session, grey once the station's record is old.
#pragma once

#include "core/Works.h"

enum class ReadingsFrom { Own, Station, NoLink };

// One alarm key's colour and texts.
struct AlarmKey {
    uint8_t flags = 0;
    char line1[kAlarmTextSize] = {};
    char line2[kAlarmTextSize] = {};
};

struct Readings {
    ReadingsFrom from = ReadingsFrom::Own;
    bool stale = false; // the station's record is older than 2 s
    float fwd = 0, fwdPeak = 0, refl = 0, swr = 0, in = 0;
    bool oneTemp = false; // the station sends its higher temperature only
    float temp1 = 0, temp2 = 0;
    double volts = 0, amps = 0;
    int mode = 0;
    bool coaxRxTx = false;
    char band[8] = {};   // the information row's band text without "Band:"
    bool noPa = false;   // 26-28 MHz: no power amplifier
    bool ampBypass = false;
    int attenuator = 0;
    int antenna = 0;     // 0-based
    bool tunerBypass = false;
    int bank = 0;
    bool tx = false;
    int alarmCount = 0;
    AlarmKey alarms[2 * kMaxActiveErrors]; // the station's, then this unit's own
    int ownAlarms = 0;  // of alarmCount: this unit's own
};

// The readings the current tick draws.
Readings ReadingsNow(Works* works);
// True when the value is a reading to show (not "no link").
inline bool ReadingsLive(const Readings& r) { return r.from != ReadingsFrom::NoLink; }
