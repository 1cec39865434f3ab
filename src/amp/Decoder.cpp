// Decoding the amplifier's replies.
//
// The status reply carries the raw power, current and temperature readings and
// the status and fault bits; from them come watts, SWR, smoothed temperatures,
// the alarms, the fan and the over-temperature protection. Every other reply
// confirms or reports one setting. The decoder also picks the link's next state.
#include "amp/Decoder.h"

#include "amp/Alarms.h"
#include "amp/LinearPort.h"
#include "amp/Linear.h"
#include "amp/Temperature.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Clock.h"
#include "tuner/AutoTune.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Characters [pos, pos + n) of the reply, NUL where the reply is shorter.
void field(const char* reply, int len, int pos, int n, char* out) {
    for (int i = 0; i < n; i++)
        out[i] = pos + i < len ? reply[pos + i] : '\0';
    out[n] = '\0';
}

int decimalField(const char* reply, int len, int pos, int n) {
    char buf[16];
    field(reply, len, pos, n, buf);
    return std::atoi(buf);
}

uint8_t hexPair(char high, char low) {
    return static_cast<uint8_t>((charToInt(high) << 4) | (charToInt(low) & 0x0F));
}

void finishReply(Works* w) {
    NextCmdPriority(w, kCmdStatus);
    plat_sleep_ms(20);
}

void rejected(Works* w) {
    GestRetrayCMD(w);
    plat_sleep_ms(20);
}

// Over-temperature protection and its end.
void overTemperature(Works* w, const AmpReadings& r) {
    const float t1 = r.temp1, t2 = r.temp2, max = w->maxTemperature;
    if ((t1 > max || t2 > max) && !ExistError(w, kAlarmHighTemp)) {
        AddErrore(w, kAlarmHighTemp);
        AttivaDisattivaProtezione(w, 1);
        if (w->logTempEnabled == 1) {
            LogTempFunction(w, 1, r);
            w->logTempStarted = 0;
        }
        // Out of the signal path while it is too hot ("AB1;" is standby
        // everywhere else too); the amplifier stays there after the event.
        if (!w->startupFlags.test(1))
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
        LogOut("!!!! ADD TEMP ERR: %02.02f %02.02f\n", t1, t2);
    } else if (!(t1 > max || t2 > max)) {
        const float low = max - static_cast<float>(w->hysteresis1.load());
        if (t1 < low && t2 < low && ExistError(w, kAlarmHighTemp)) {
            DeleteErrore(w, kAlarmHighTemp);
            IncPNTIn_CMDLinear(kCmdBypassOn, w);
            AddErrore(w, kAlarmHighTempEnd);
            LogOut("!!!! TEMP END \n");
        }
    }
}

void statusReply(Works* w, const char* r, int len) {
    // 1. A reset of the alarms has been sent: finish it.
    if (CmdQueueResetPhaseDone(w)) {
        GestErroreSerial(w);
        LogOut(">>> ERRORI: End Gest Errori!!\n");
    }
    // 2. Status and fault bytes.
    const uint8_t s1 = static_cast<uint8_t>(charToInt(len > 2 ? r[2] : '\0'));
    const uint8_t s2 = static_cast<uint8_t>(charToInt(len > 3 ? r[3] : '\0'));
    const uint8_t fault = hexPair(len > 29 ? r[29] : '\0', len > 28 ? r[28] : '\0');
    const AmpReadings before = AmpReadingsNow(w);

    // 3. The bypass the amplifier reports against the one we asked for.
    char text[64];
    std::snprintf(text, sizeof text, "%s", r);
    if ((s2 & 8) && w->ampBypass == 0 && w->bypassRequested == 1) {
        LogOut("--------------- AMPL ERRORE : bypass on %s\n", text);
        w->ampBypass = 1;
    } else if (!(s2 & 8) && w->ampBypass == 1 && w->bypassRequested == 0) {
        LogOut("--------------- AMPL ERRORE : bypass off %s\n", text);
        w->ampBypass = 0;
    }

    // 4. After a communication failure, take the amplifier's own state.
    if (ExistError(w, kAlarmComm)) {
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

    // 5.-8. Alarms from the fault and status bits.
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

    // 9. The temperature log starts with the first transmission. Its first
    // sample has this reply's status bits and the readings of the reply before.
    if (w->logTempEnabled == 1 && (s2 & 1) && w->logTempStarted == 0) {
        AmpReadings first = before;
        first.ampStatus1 = s1;
        first.ampStatus2 = s2;
        first.ampFault = fault;
        LogOut("REMOVE file LOG \n");
        LogTempFunction(w, -1);
        LogTempFunction(w, 0, first);
        w->logTempStarted = 1;
    }

    // 10.-14. The readings, published together: watts and SWR, current,
    // smoothed temperatures, and the peak power when it is measured.
    AmpReadings now;
    now.ampStatus1 = s1;
    now.ampStatus2 = s2;
    now.ampFault = fault;
    const int in = decimalField(r, len, 4, 4);
    const int fwd = decimalField(r, len, 8, 4);
    const int refl = decimalField(r, len, 12, 4);
    now.rawIn = static_cast<uint16_t>(in);
    now.rawFwd = static_cast<uint16_t>(fwd);
    now.rawRefl = static_cast<uint16_t>(refl);
    const float fIn = static_cast<float>(in), fFwd = static_cast<float>(fwd),
                fRefl = static_cast<float>(refl);
    now.pwrIn = SearchK(w, 2) * (fIn * fIn);
    now.pwrFwd = SearchK(w, 0) * (fFwd * fFwd);
    now.pwrRefl = SearchK(w, 1) * (fRefl * fRefl) + SearchK(w, 3) * now.pwrFwd;
    if (now.pwrRefl < 0)
        now.pwrRefl = 0;
    now.swr = SwrFromPowers(now.pwrFwd, now.pwrRefl);
    now.currentRaw = static_cast<float>(decimalField(r, len, 16, 4));
    const float t1 = CalcolaTemp(static_cast<uint16_t>(decimalField(r, len, 20, 4)));
    const float t2 = CalcolaTemp(static_cast<uint16_t>(decimalField(r, len, 24, 4)));
    now.temp1 = before.temp1 == 0.0f ? t1 : (before.temp1 * 9 + t1) / 10;
    now.temp2 = before.temp2 == 0.0f ? t2 : (before.temp2 * 9 + t2) / 10;
    now.pwrFwdPeak = before.pwrFwdPeak;
    if (w->pwrPeakEnabled == 1) {
        const float peak = static_cast<float>(decimalField(r, len, 32, 4));
        float p = SearchK(w, 0) * (peak * peak);
        const float cap = HighPowerModel(w) ? 130.0f : 70.0f;
        now.pwrFwdPeak = p > cap ? cap : p;
    }
    now.readMs = plat_mono_ms();
    PublishAmpReadings(w, now);

    // 15.-16. Fan and over-temperature.
    searchPercentVentola(w);
    overTemperature(w, now);

    // 17. Next state.
    switch (w->tuneState) {
    case 0: {
        int cmd = CmdQueueTake(w);
        linearProcessStatus = cmd >= 0 ? cmd : kCmdFreqMeter;
        break;
    }
    case 1:
        TuneTask(w);
        linearProcessStatus = kCmdTuneWord;
        break;
    case 2:
        linearProcessStatus = kCmdClearProt;
        w->tuneState = 1;
        break;
    case 3:
        linearProcessStatus = kCmdStatus;
        w->tuneState = 1;
        break;
    default:
        // No such tuning phase: keep polling rather than stall.
        linearProcessStatus = kCmdStatus;
        break;
    }
    plat_sleep_ms(10);
}

void eepromReply(Works* w, const char* r, int len) {
    const char block = len > 5 ? r[5] : '\0';
    auto pairAt = [&](int pos) {
        return hexPair(pos < len ? r[pos] : '\0', pos + 1 < len ? r[pos + 1] : '\0');
    };
    if (block == '0' || block == '1') {
        Shared<uint8_t>* dst = block == '0' ? w->ee0 : w->ee1;
        char hex[65];
        for (int i = 0; i < 32; i++)
            dst[i] = pairAt(6 + 2 * i);
        field(r, len, 6, 64, hex);
        LogOut(block == '0' ? "EE0:%s\n" : "EE1:%s\n", hex);
    } else if (block == '2') {
        w->eeModel[0] = pairAt(6);
        w->eeModel[1] = pairAt(8);
        number_ofStep_meter_FWD = w->eeModel[1] == '1' ? 120 : 60;
        LogOut("EE2: %x %x\n", w->eeModel[0].load(), w->eeModel[1].load());
    }
}

} // namespace

int charToInt(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

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

void DecodeCatCmd(Works* w, const char* reply, int length) {
    // `length` counts the terminating NUL; never look past the text itself.
    int len = static_cast<int>(strnlen(reply, length > 0 ? static_cast<size_t>(length) : 0));
    if (length < 3 || len < 2) {
        // Too short to name a command: a failed exchange like any other.
        rejected(w);
        return;
    }
    if (len > 2 && (reply[2] == '?' || reply[2] == '!' || reply[2] == '&')) {
        LogOut("---------------------------------------CMD Errato:%s\n", reply);
        rejected(w);
        return;
    }
    const char a = reply[0], b = reply[1];
    const char c2 = len > 2 ? reply[2] : '\0';
    auto is = [&](const char* l) { return a == l[0] && b == l[1]; };
    char text[16];

    if (is("ST")) {
        statusReply(w, reply, len);
        return;
    }
    if (is("VS")) {
        field(reply, len, 2, 7, text);
        w->microVersion.set(text);
    } else if (is("TU")) {
        w->tuReported = static_cast<uint8_t>(c2 - '0');
    } else if (is("SA")) {
        // Only the three outputs exist; anything else keeps the antenna in use.
        if (c2 >= '1' && c2 <= '3') {
            OperatingPointLock op(OperatingPointMutex());
            w->antennaIdx = c2 - '1';
        }
    } else if (is("FM")) {
        field(reply, len, 2, 11, text);
        long long f = std::atoll(text);
        if (f > 0 && f <= 0x7FFFFFFF)
            w->fmFreqHz = static_cast<int>(f);
    } else if (is("FA") || is("MT") || is("FS") || is("AT") || is("MP") || is("TS") ||
               is("FN")) {
        // acknowledgements
    } else if (is("CP")) {
        w->startupFlags.clear(1);
    } else if (is("AB")) {
        LogOut(">> ByPass Ampl: %s\n", reply);
        w->ampBypass = c2 == '1' ? 1 : 0;
    } else if (is("AN")) {
        {
            OperatingPointLock op(OperatingPointMutex());
            w->anState = c2 - '0';
        }
        if (w->anFlags.test(0x10))
            w->anFlags.set(0x20);
    } else if (is("PS")) {
        LogOut("Protezioni automatiche setted : %s\n", reply);
    } else if (is("SF")) {
        LogOut("Pilotaggio Relè : %s\n", reply);
    } else if (is("SE")) {
        LogOut("SERVICE ATTIVO!! : %s\n", reply);
    } else if (is("MR")) {
        LogOut("RESET MICRO: %s\n", reply);
        if (c2 == '0')
            w->microResetSeen = 1;
        LogOut("RESET MICRO ----------------------------------  %x\n",
                     w->microResetSeen.load());
    } else if (is("GM")) {
        LogOut("Impostazioni Generic mode : %s\n", reply);
    } else if (is("GS")) {
        field(reply, len, 2, 10, text);
        w->generalSettings.set(text);
        LogOut("Impostazioni Generali : %s (%s)\n", text, reply);
    } else if (is("ER")) {
        eepromReply(w, reply, len);
    } else {
        LogOut("---------------------------------------cmd non riconosciuto:%s\n",
                     reply);
        rejected(w);
        return;
    }
    finishReply(w);
}

void CreaBufferDiStato(Works* w, char* buffer) {
    char* b = buffer;
    std::memset(b, '0', 51);
    b[51] = ';';
    b[52] = '\0';
    char tmp[32];

    char name[8] = "----";
    BandNameOfFreq(w, name, sizeof name);
    std::snprintf(tmp, sizeof tmp, "%-4.4s", name);
    std::memcpy(b + 0, tmp, 4);
    const int mode = w->ModeWorkIdx;
    b[4] = mode > 0 && mode < kModeWorkCount ? static_cast<char>('0' + mode) : '0';
    b[5] = static_cast<char>('0' + w->attenuator % 10);
    b[6] = static_cast<char>('0' + w->antennaIdx % 10);
    b[7] = w->ampBypass ? '1' : '0';
    b[8] = w->tuneEnabled < 0 ? 'N' : w->tunerBypass ? 'B' : 'T';
    b[9] = w->tuneState != 0 ? '1' : '0';
    // Each value is cut to its field, as the fixed layout requires.
    auto put = [&](int pos, int width, const char* fmt, double v) {
        std::snprintf(tmp, sizeof tmp, fmt, v);
        std::memcpy(b + pos, tmp, std::min<size_t>(width, std::strlen(tmp)));
    };
    const AmpReadings r = AmpReadingsNow(w);
    put(10, 6, "%06.02f", r.swr);
    put(16, 6, "%06.2f", r.pwrFwd);
    put(22, 6, "%06.02f", r.pwrIn);
    put(28, 4, "%04.01f", std::max(r.temp1, r.temp2));
    put(32, 4, "%4.1f", CalvTensVadcAmp(w, w->supplyAdc[3]));
    put(36, 4, "%04.01f", r.amps());
    std::snprintf(tmp, sizeof tmp, "%02d", w->NumBanco.load());
    std::memcpy(b + 40, tmp, 2);
    int codes[kMaxActiveErrors];
    int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    b[42] = n == 0 ? '0' : static_cast<char>(codes[n - 1] + 1);
}
