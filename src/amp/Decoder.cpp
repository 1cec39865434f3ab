// Decoding the amplifier's replies.
//
// The status reply is parsed into its fields and applied (amp/StatusApply.h);
// every other reply confirms or reports one setting and is applied here. What
// the link sends next, its retries and its pauses are the link loop's.
#include "amp/Decoder.h"

#include "amp/StatusApply.h"
#include "amp/Temperature.h"
#include "core/AlarmList.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "tuner/Banks.h"

#include <algorithm>
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

void eepromReply(Works* w, const char* r, int len) {
    const char block = len > 5 ? r[5] : '\0';
    auto pairAt = [&](int pos) {
        return hexPair(pos < len ? r[pos] : '\0', pos + 1 < len ? r[pos + 1] : '\0');
    };
    if (block == '0' || block == '1') {
        Shared<uint8_t>* dst = block == '0' ? w->ident.ee0 : w->ident.ee1;
        char hex[65];
        for (int i = 0; i < 32; i++)
            dst[i] = pairAt(6 + 2 * i);
        field(r, len, 6, 64, hex);
        LogOut(block == '0' ? "EE0:%s\n" : "EE1:%s\n", hex);
    } else if (block == '2') {
        w->ident.eeModel[0] = pairAt(6);
        w->ident.eeModel[1] = pairAt(8);
        w->meters.number_ofStep_meter_FWD = w->ident.eeModel[1] == '1' ? 120 : 60;
        LogOut("EE2: %x %x\n", w->ident.eeModel[0].load(), w->ident.eeModel[1].load());
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

StatusReply ParseStatusReply(const char* r, int len) {
    auto at = [&](int pos) { return pos < len ? r[pos] : '\0'; };
    StatusReply st;
    st.ampStatus1 = static_cast<uint8_t>(charToInt(at(2)));
    st.ampStatus2 = static_cast<uint8_t>(charToInt(at(3)));
    st.in = decimalField(r, len, 4, 4);
    st.fwd = decimalField(r, len, 8, 4);
    st.refl = decimalField(r, len, 12, 4);
    st.current = decimalField(r, len, 16, 4);
    st.temp1 = decimalField(r, len, 20, 4);
    st.temp2 = decimalField(r, len, 24, 4);
    st.ampFault = hexPair(at(29), at(28));
    st.peak = decimalField(r, len, 32, 4);
    return st;
}

size_t FormatStatusReply(const StatusReply& st, char* out, size_t cap) {
    const int n = std::snprintf(out, cap, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X00%04d", st.ampStatus1 & 0xF,
                                st.ampStatus2 & 0xF, st.in, st.fwd, st.refl, st.current, st.temp1, st.temp2,
                                st.ampFault & 0xF, st.ampFault >> 4, st.peak);
    return n > 0 ? std::min(static_cast<size_t>(n), cap > 0 ? cap - 1 : 0) : 0;
}

ReplyKind DecodeCatCmd(Works* w, const char* reply, int length) {
    // `length` counts the terminating NUL; never look past the text itself.
    int len = static_cast<int>(strnlen(reply, length > 0 ? static_cast<size_t>(length) : 0));
    if (length < 3 || len < 2)
        return ReplyKind::Failed; // too short to name a command: a failed exchange like any other
    if (len > 2 && (reply[2] == '?' || reply[2] == '!' || reply[2] == '&')) {
        LogOut("---------------------------------------CMD Errato:%s\n", reply);
        return ReplyKind::Failed;
    }
    const char a = reply[0], b = reply[1];
    const char c2 = len > 2 ? reply[2] : '\0';
    auto is = [&](const char* l) { return a == l[0] && b == l[1]; };
    char text[16];

    if (is("ST")) {
        ApplyStatusReply(w, ParseStatusReply(reply, len), reply);
        return ReplyKind::Status;
    }
    if (is("VS")) {
        field(reply, len, 2, 7, text);
        w->ident.microVersion.set(text);
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
            w->source[kModeGeneric].freqHz = static_cast<int>(f);
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
        return ReplyKind::Failed;
    }
    return ReplyKind::Other;
}

void StatusBandText(Works* w, char* out) {
    char name[8] = "----";
    BandNameOfFreq(w, name, sizeof name);
    std::snprintf(out, 5, "%-4.4s", name);
}

void CreaBufferDiStato(Works* w, char* buffer) {
    char* b = buffer;
    std::memset(b, '0', 51);
    b[51] = ';';
    b[52] = '\0';
    char tmp[32];

    StatusBandText(w, tmp);
    std::memcpy(b + 0, tmp, 4);
    const int mode = w->ModeWorkIdx;
    b[4] = mode > 0 && mode < kModeWorkCount ? static_cast<char>('0' + mode) : '0';
    b[5] = static_cast<char>('0' + w->attenuator % 10);
    b[6] = static_cast<char>('0' + w->antennaIdx % 10);
    b[7] = w->ampBypass ? '1' : '0';
    b[8] = w->settings.tuneEnabled < 0 ? 'N' : w->tunerBypass ? 'B' : 'T';
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
