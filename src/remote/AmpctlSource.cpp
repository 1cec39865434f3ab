// The amplifier the protocol's clients read and change: this unit's, or the
// station's on the operator's unit.
#include "remote/AmpctlSource.h"

#include "amp/Temperature.h"
#include "core/AlarmList.h"
#include "core/AmpRequests.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "remote/AmpRequestMessage.h"
#include "remote/StationRecord.h"
#include "tuner/AutoTune.h"

#include <cmath>
#include <cstdio>
#include <cstring>

static_assert(kAmpctlStaleMs == kStationStaleMs, "old readings are no values where the pages grey them");

namespace {

// The alarms that have a status flag of their own in Hamlib; any other is
// FAULT_OTHER when the panel shows it red, else WARNING_OTHER.
struct StatusOfAlarm {
    int code;
    uint32_t flag;
};
constexpr StatusOfAlarm kStatusOfAlarm[] = {
    {kAlarmHighTempEnd, kAmpctlWarningTemperature}, {kAlarmHighSwr, kAmpctlFaultSwr},
    {kAlarmHighTemp, kAmpctlFaultTemperature},      {kAlarmPwrIn, kAmpctlFaultInputPower},
    {kAlarmTuneTimeout, kAmpctlFaultTunerNoMatch},  {kAlarmTuneSwr, kAmpctlFaultTunerNoMatch},
    {kAlarmTuneMaxSwr, kAmpctlFaultTunerNoMatch},   {kAlarmTuneAbort, kAmpctlWarningTunerNoInput},
    {kAlarmBandStby, kAmpctlWarningFrequency},
};

// The key's two lines as one text ("HI SWR error").
void alarmText(const AmpctlAlarm& a, char* out, size_t size) {
    std::snprintf(out, size, "%s %s", a.line1, a.line2);
    for (size_t n = std::strlen(out); n > 0 && out[n - 1] == ' ';)
        out[--n] = '\0';
}

int watts(float w) { return static_cast<int>(std::lround(w)); }

void stationView(Works* w, AmpctlView* v) {
    const AmpReadings r = AmpReadingsNow(w);
    v->valid = r.readMs >= 0 && plat_mono_ms() - r.readMs <= kAmpctlStaleMs;
    v->freqHz = w->freqHz;
    v->freqKnown = v->freqHz > 0;
    v->freqFromSource = true; // the bank's source sets it, the amplifier counts it or a radio is followed
    v->forwardW = watts(r.pwrFwd);
    v->reflectedW = watts(r.pwrRefl);
    v->inputW = watts(r.pwrIn);
    v->peakW = watts(r.pwrFwdPeak);
    v->swr = r.swr;
    v->heatSinkC = r.hotter();
    v->supplyV = static_cast<float>(CalvTensVadcAmp(w, w->supplyAdc[3])); // as the status page
    v->drainA = r.amps();
    v->operate = w->ampBypass == 0;
    v->transmitting = r.transmitting();
    v->antenna = w->antennaIdx + 1;

    int codes[kMaxActiveErrors];
    const int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    AmpctlAlarm alarms[kMaxActiveErrors];
    char lines[kMaxActiveErrors][2][kAlarmTextSize];
    for (int i = 0; i < n; i++) {
        const ErrorEntry& e = w->errorTable[codes[i]];
        e.line1.copyTo(lines[i][0], kAlarmTextSize);
        e.line2.copyTo(lines[i][1], kAlarmTextSize);
        alarms[i] = AmpctlAlarm{codes[i], e.flags, lines[i][0], lines[i][1]};
    }
    AmpctlAlarmsInto(alarms, n, v);
}

// The station's record and alarm message, while the session is up and the
// record is not old. The record has no frequency (only the band), no peak and
// no reflected power: the peak is the forward power, as the pages hold it, and
// the reflected power follows from the forward power and the SWR.
void operatorView(Works* w, AmpctlView* v) {
    v->freqKnown = false;
    v->freqFromSource = true;
    if (!w->remoteConnected)
        return;
    const StationState s = StationViewCopy(w);
    v->valid = s.recordMs >= 0 && plat_mono_ms() - s.recordMs <= kAmpctlStaleMs;
    const float gamma = s.swr > 1.0f ? (s.swr - 1.0f) / (s.swr + 1.0f) : 0.0f;
    v->forwardW = watts(s.fwd);
    v->reflectedW = watts(s.fwd * gamma * gamma);
    v->inputW = watts(s.in);
    v->peakW = watts(s.fwd);
    v->swr = s.swr;
    v->heatSinkC = s.temp;
    v->supplyV = s.volts;
    v->drainA = s.amps;
    v->operate = !s.ampBypass;
    v->transmitting = s.tx;
    v->antenna = s.antenna + 1;

    AmpctlAlarm alarms[kMaxActiveErrors];
    int n = 0;
    char older[2][kAlarmTextSize];
    if (s.alarmsMs >= 0) {
        for (; n < s.alarmCount; n++)
            alarms[n] = AmpctlAlarm{s.alarms[n].code, s.alarms[n].flags, s.alarms[n].line1, s.alarms[n].line2};
    } else if (s.lastAlarm > 0) {
        // An older station sends no alarm message: its newest code, in our texts.
        const ErrorEntry& e = w->errorTable[s.lastAlarm - 1];
        e.line1.copyTo(older[0], kAlarmTextSize);
        e.line2.copyTo(older[1], kAlarmTextSize);
        alarms[n++] = AmpctlAlarm{s.lastAlarm - 1, e.flags, older[0], older[1]};
    }
    AmpctlAlarmsInto(alarms, n, v);
}

int codeOf(AmpVerdict v) {
    return v == AmpVerdict::Ok ? kAmpctlOk : v == AmpVerdict::NotHere ? kAmpctlNotAvailable : kAmpctlRejected;
}

} // namespace

void AmpctlAlarmsInto(const AmpctlAlarm* alarms, int count, AmpctlView* v) {
    v->status = 0;
    v->fault[0] = v->warning[0] = '\0';
    for (int i = 0; i < count; i++) { // oldest first: the newest text stays
        const AmpctlAlarm& a = alarms[i];
        const bool error = a.flags & 1;
        uint32_t flag = error ? kAmpctlFaultOther : kAmpctlWarningOther;
        for (const StatusOfAlarm& s : kStatusOfAlarm)
            if (s.code == a.code)
                flag = s.flag;
        v->status |= flag;
        alarmText(a, error ? v->fault : v->warning, kAmpctlTextMax);
    }
}

void AmpctlFillView(Works* w, AmpctlView* v) {
    const bool mayChange = v->mayChange;
    *v = AmpctlView{};
    v->mayChange = mayChange;
    if (w->setup->WebSocket == '2')
        operatorView(w, v);
    else
        stationView(w, v);
}

int AmpctlAsk(Works* w, const AmpctlRequest& request, const char* client) {
    AmpAsk what;
    switch (request.action) {
    case AmpctlAction::Standby: what = AmpAsk::Standby; break;
    case AmpctlAction::Operate: what = AmpAsk::Operate; break;
    case AmpctlAction::FaultReset: what = AmpAsk::FaultReset; break;
    case AmpctlAction::SetAntenna: what = AmpAsk::Antenna; break;
    case AmpctlAction::Tune: what = AmpAsk::Tune; break;
    default: return kAmpctlNotAvailable; // the frequency: a source sets it
    }
    const int value = static_cast<int>(request.value);
    const bool powerstat = what == AmpAsk::Standby || what == AmpAsk::Operate;
    if (w->setup->WebSocket == '2') {
        // The station's keys' thread decides last; what the record shows is asked here.
        if (!w->remoteConnected)
            return kAmpctlNotAvailable;
        const StationState s = StationViewCopy(w);
        AmpVerdict v = AmpVerdict::Ok;
        if (powerstat)
            v = StandbyVerdict(what == AmpAsk::Standby, s.ampBypass, s.tx);
        else if (what == AmpAsk::Tune && s.tuner == 'N')
            v = AmpVerdict::NotHere;
        if (v != AmpVerdict::Ok)
            return codeOf(v);
        return AskStationAmplifier(w, what, value) ? kAmpctlOk : kAmpctlNotAvailable;
    }
    AmpVerdict v = AmpVerdict::Ok;
    if (powerstat)
        v = StandbyVerdict(what == AmpAsk::Standby, w->ampBypass == 1, AmpReadingsNow(w).transmitting());
    else if (what == AmpAsk::Tune)
        v = TuneKeyVerdict(w);
    if (v != AmpVerdict::Ok)
        return codeOf(v);
    char from[kAmpAskerMax];
    std::snprintf(from, sizeof from, "ampctl client %s", client);
    return AskAmplifier(w, what, value, from) ? kAmpctlOk : kAmpctlRejected;
}
