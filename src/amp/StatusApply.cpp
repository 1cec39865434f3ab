// What a status reply does to the amplifier's state.
//
// The reply carries the raw power, current and temperature readings and the
// status and fault bits; from them come watts, SWR, smoothed temperatures, the
// alarms, the fan and the over-temperature protection. The readings are
// published as one value once they are all computed.
#include "amp/StatusApply.h"

#include "amp/Alarms.h"
#include "amp/Decoder.h"
#include "amp/Temperature.h"
#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "tuner/Bands.h"

#include <cmath>
#include <cstdio>

namespace {

// The bypass the amplifier reports against the one we asked for; after a
// communication failure, the amplifier's own bypass and pads.
void followBypass(Works* w, uint8_t s1, uint8_t s2, const char* text) {
    if ((s2 & 8) && w->ampBypass == 0 && w->bypassRequested == 1) {
        LogOut("--------------- AMPL ERRORE : bypass on %s\n", text);
        w->ampBypass = 1;
    } else if (!(s2 & 8) && w->ampBypass == 1 && w->bypassRequested == 0) {
        LogOut("--------------- AMPL ERRORE : bypass off %s\n", text);
        w->ampBypass = 0;
    }
    if (!ExistError(w, kAlarmComm))
        return;
    if ((s2 & 8) && w->ampBypass == 0) {
        w->ampBypass = 1;
        LogOut("STATE DA ERRORE : bypass on\n");
    } else if (!(s2 & 8) && w->ampBypass == 1) {
        w->ampBypass = 0;
        LogOut("STATE DA ERRORE : bypass off\n");
    }
    static const char* const attText[4] = {
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=off 2dB=on\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=off\n",
        "STATE DA ERRORE : attenuatore 3dB=on 2dB=on\n"};
    const int pads = (s1 >> 2) & 3;
    OperatingPointLock op(OperatingPointMutex());
    if (w->attenuator != pads) {
        w->attenuator = static_cast<uint8_t>(pads);
        w->attenuatorShown = static_cast<uint8_t>(pads);
        LogOut("%s", attText[pads]);
    }
}

// Alarms from the fault and status bits.
void raiseAndClear(Works* w, uint8_t s2, uint8_t fault) {
    if ((fault & 0x80) && w->microResetSeen == 1)
        AddErrore(w, kAlarmMicroReset);
    if (fault & 0x5F) {
        if (fault & 0x40) {
            AddErrore(w, kAlarmBandStby);
        } else {
            static const char* const causes[5] = {"I OUT", "REFL", "FWD", "SENS PW", "FILTER TX"};
            int bit = 4;
            while (bit > 0 && !(fault & (1 << bit)))
                bit--;
            w->errorTable[kAlarmFault].line2.set(causes[bit]);
            AddErrore(w, kAlarmFault);
        }
    } else {
        DeleteErrore(w, kAlarmFault);
        if (w->errorFlags.test(2))
            w->errorFlags.clear(3);
    }
    if ((fault & 0x20) && w->anState == 1 && w->tuneState == 0 && !w->tuneModeFlags.test(0x1E))
        AddErrore(w, kAlarmPwrIn);
    if (s2 & 2) {
        AddErrore(w, kAlarmHighSwr);
    } else {
        DeleteErrore(w, kAlarmHighSwr);
        if (w->errorFlags.test(2))
            w->errorFlags.clear(3);
    }
    if (!(s2 & 4) && w->errorFlags.test(2))
        w->errorFlags.clear(3);
}

// Watts, SWR, current and smoothed temperatures of the reply; the smoothing and
// a peak that is not measured carry on from `before`.
AmpReadings readingsOf(Works* w, const StatusReply& st, const AmpReadings& before) {
    AmpReadings r;
    r.ampStatus1 = st.ampStatus1;
    r.ampStatus2 = st.ampStatus2;
    r.ampFault = st.ampFault;
    r.rawIn = static_cast<uint16_t>(st.in);
    r.rawFwd = static_cast<uint16_t>(st.fwd);
    r.rawRefl = static_cast<uint16_t>(st.refl);
    const float fIn = static_cast<float>(st.in), fFwd = static_cast<float>(st.fwd),
                fRefl = static_cast<float>(st.refl);
    r.pwrIn = SearchK(w, 2) * (fIn * fIn);
    r.pwrFwd = SearchK(w, 0) * (fFwd * fFwd);
    r.pwrRefl = SearchK(w, 1) * (fRefl * fRefl) + SearchK(w, 3) * r.pwrFwd;
    if (r.pwrRefl < 0)
        r.pwrRefl = 0;
    r.swr = SwrFromPowers(r.pwrFwd, r.pwrRefl);

    r.currentRaw = static_cast<float>(st.current);
    const float t1 = CalcolaTemp(static_cast<uint16_t>(st.temp1));
    const float t2 = CalcolaTemp(static_cast<uint16_t>(st.temp2));
    r.temp1 = before.temp1 == 0.0f ? t1 : (before.temp1 * 9 + t1) / 10;
    r.temp2 = before.temp2 == 0.0f ? t2 : (before.temp2 * 9 + t2) / 10;

    r.pwrFwdPeak = before.pwrFwdPeak;
    if (w->settings.pwrPeakEnabled == 1) {
        const float peak = static_cast<float>(st.peak);
        const float p = SearchK(w, 0) * (peak * peak);
        const float cap = HighPowerModel(w) ? 130.0f : 70.0f;
        r.pwrFwdPeak = p > cap ? cap : p;
    }
    r.readMs = plat_mono_ms();
    return r;
}

// Over-temperature protection and its end.
void overTemperature(Works* w, const AmpReadings& r) {
    const float t1 = r.temp1, t2 = r.temp2, max = w->settings.maxTemperature;
    if ((t1 > max || t2 > max) && !ExistError(w, kAlarmHighTemp)) {
        AddErrore(w, kAlarmHighTemp);
        AttivaDisattivaProtezione(w, 1);
        if (w->settings.logTempEnabled == 1) {
            LogTempFunction(w, 1, r);
            w->logTempStarted = 0;
        }
        // Out of the signal path while it is too hot ("AB1;" is standby
        // everywhere else too); the amplifier stays there after the event.
        if (!w->startupFlags.test(1))
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
        LogOut("!!!! ADD TEMP ERR: %02.02f %02.02f\n", t1, t2);
    } else if (!(t1 > max || t2 > max)) {
        const float low = max - static_cast<float>(w->settings.hysteresis1.load());
        if (t1 < low && t2 < low && ExistError(w, kAlarmHighTemp)) {
            DeleteErrore(w, kAlarmHighTemp);
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
            AddErrore(w, kAlarmHighTempEnd);
            LogOut("!!!! TEMP END \n");
        }
    }
}

} // namespace

float SwrFromPowers(float pFwd, float pRefl) {
    float swr = 0.0f;
    if (pFwd > 0.3f) {
        if (pFwd < pRefl) {
            swr = 100.0f;
        } else {
            const float rho = std::sqrt(pRefl / pFwd);
            swr = rho == 1.0f ? 100.0f : (1 + rho) / (1 - rho);
        }
    } else if (pRefl > 0.5f) {
        swr = 100.0f;
    }
    return swr > 100.0f ? 100.0f : swr;
}

void ApplyStatusReply(Works* w, const StatusReply& st, const char* text) {
    // A reset of the alarms has been sent: finish it.
    if (CmdQueueResetPhaseDone(w)) {
        GestErroreSerial(w);
        LogOut(">>> ERRORI: End Gest Errori!!\n");
    }
    const AmpReadings before = AmpReadingsNow(w);
    char shown[64];
    std::snprintf(shown, sizeof shown, "%s", text);
    followBypass(w, st.ampStatus1, st.ampStatus2, shown);
    raiseAndClear(w, st.ampStatus2, st.ampFault);

    // The temperature log starts with the first transmission. Its first sample
    // has this reply's status bits and the readings of the reply before.
    if (w->settings.logTempEnabled == 1 && (st.ampStatus2 & 1) && w->logTempStarted == 0) {
        AmpReadings first = before;
        first.ampStatus1 = st.ampStatus1;
        first.ampStatus2 = st.ampStatus2;
        first.ampFault = st.ampFault;
        LogOut("REMOVE file LOG \n");
        LogTempFunction(w, -1);
        LogTempFunction(w, 0, first);
        w->logTempStarted = 1;
    }

    const AmpReadings now = readingsOf(w, st, before);
    PublishAmpReadings(w, now);
    searchPercentVentola(w);
    overTemperature(w, now);
}
