// The readings a page draws: this unit's, or the station's on the operator's unit.
#include "ui/Readings.h"

#include "amp/Temperature.h"
#include "core/AlarmList.h"
#include "core/Setup.h"
#include "platform/Clock.h"
#include "remote/StationRecord.h"
#include "tuner/Banks.h"

#include <cstdio>
#include <cstring>

namespace {

// A key text, cut to its field.
void copyText(char* out, size_t size, const char* text) {
    size_t n = 0;
    for (; text[n] && n + 1 < size; n++)
        out[n] = text[n];
    out[n] = '\0';
}

void addAlarm(Readings& r, uint8_t flags, const char* line1, const char* line2) {
    if (r.alarmCount >= static_cast<int>(sizeof r.alarms / sizeof r.alarms[0]))
        return;
    AlarmKey& k = r.alarms[r.alarmCount++];
    k.flags = flags;
    copyText(k.line1, sizeof k.line1, line1);
    copyText(k.line2, sizeof k.line2, line2);
}

void ownAlarms(Works* w, Readings& r) {
    int codes[kMaxActiveErrors];
    const int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    for (int i = 0; i < n; i++) {
        const ErrorEntry& e = w->errorTable[codes[i]];
        addAlarm(r, e.flags, e.line1.get().s, e.line2.get().s);
    }
    r.ownAlarms = n;
}

void ownValues(Works* w, Readings& r) {
    const AmpReadings a = AmpReadingsNow(w);
    r.fwd = a.pwrFwd;
    r.fwdPeak = a.pwrFwdPeak;
    r.refl = a.pwrRefl;
    r.swr = a.swr;
    r.in = a.pwrIn;
    r.temp1 = a.temp1;
    r.temp2 = a.temp2;
    r.volts = CalvTensVadcAmp(w, w->supplyAdc[3]);
    r.amps = a.amps();
    r.mode = w->ModeWorkIdx;
    r.coaxRxTx = a.coaxRxTx();
    const int f = w->freqHz;
    char name[8];
    r.noPa = f >= 26000000 && f < 28000000;
    std::snprintf(r.band, sizeof r.band, "%s", BandNameOfFreq(w, name, sizeof name) ? name : "---");
    r.ampBypass = w->ampBypass == 1;
    r.attenuator = w->attenuator;
    r.antenna = w->antennaIdx;
    r.tunerBypass = w->tunerBypass != 0;
    r.bank = w->NumBanco;
    r.tx = a.transmitting();
}

void stationValues(Works* w, const StationState& s, Readings& r) {
    r.from = ReadingsFrom::Station;
    r.stale = plat_mono_ms() - s.recordMs > kStationStaleMs;
    r.fwd = s.fwd;
    r.fwdPeak = s.fwd; // the peak is held here, as the station holds its own
    r.swr = s.swr;
    // The record has no reflected power: it follows from the forward power and the SWR.
    const float gamma = s.swr > 1.0f ? (s.swr - 1.0f) / (s.swr + 1.0f) : 0.0f;
    r.refl = s.fwd * gamma * gamma;
    r.in = s.in;
    r.oneTemp = true;
    r.temp1 = r.temp2 = s.temp;
    r.volts = s.volts;
    r.amps = s.amps;
    r.mode = s.mode;
    r.coaxRxTx = s.coaxRxTx;
    // "20m " as the record pads it; "----" when the station knows no band.
    size_t n = 0;
    for (; n < 4 && s.band[n] && s.band[n] != ' '; n++)
        r.band[n] = s.band[n];
    r.band[n] = '\0';
    if (std::strcmp(r.band, "----") == 0 || n == 0)
        std::snprintf(r.band, sizeof r.band, "---");
    r.ampBypass = s.ampBypass;
    r.attenuator = s.attenuator;
    r.antenna = s.antenna;
    r.tunerBypass = s.tuner == 'B';
    r.bank = s.bank;
    r.tx = s.tx;
    if (s.alarmsMs >= 0) {
        for (int i = 0; i < s.alarmCount; i++)
            addAlarm(r, s.alarms[i].flags, s.alarms[i].line1, s.alarms[i].line2);
    } else if (s.lastAlarm > 0) {
        // An older station sends no alarm message: its newest code, in our texts.
        const ErrorEntry& e = w->errorTable[s.lastAlarm - 1];
        addAlarm(r, e.flags, e.line1.get().s, e.line2.get().s);
    }
}

} // namespace

Readings ReadingsNow(Works* w) {
    Readings r;
    if (w->setup->WebSocket != '2') {
        ownValues(w, r);
    } else if (w->remoteConnected) {
        const StationState s = StationViewCopy(w);
        if (s.recordMs >= 0)
            stationValues(w, s, r);
        else
            r.from = ReadingsFrom::NoLink;
    } else {
        r.from = ReadingsFrom::NoLink;
    }
    if (r.from == ReadingsFrom::NoLink) {
        std::snprintf(r.band, sizeof r.band, "---");
        r.mode = w->ModeWorkIdx; // a setting of this unit, not a reading
    }
    ownAlarms(w, r);
    return r;
}
