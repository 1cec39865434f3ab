// The station's state on the operator's unit: the record and alarm message, and
// the operator's reset.
#include "remote/StationRecord.h"

#include "amp/Decoder.h"
#include "core/AlarmList.h"
#include "core/Setup.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "wire/Messages.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

static_assert(kAlarmMessageMax + 6 <= kTaggedFrameMax, "the alarm message fits its frame");

namespace {

bool digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool printable(uint8_t c) { return c >= 0x20 && c < 0x7f; }

// A fixed-width number of the record ("%06.02f", "%4.1f" ...): the whole field
// must be one finite number, leading blanks allowed.
bool number(const uint8_t* p, int width, float* out) {
    char text[8];
    for (int i = 0; i < width; i++) {
        if (!printable(p[i]))
            return false;
        text[i] = static_cast<char>(p[i]);
    }
    text[width] = '\0';
    char* end = nullptr;
    const float v = std::strtof(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

// One alarm text up to its terminator; false when it is too long or not text.
bool alarmText(const uint8_t* p, size_t n, size_t* at, uint8_t end, char* out) {
    size_t len = 0;
    while (*at < n && p[*at] != end) {
        if (!printable(p[*at]) || len + 1 >= kAlarmTextSize)
            return false;
        out[len++] = static_cast<char>(p[(*at)++]);
    }
    if (*at >= n)
        return false;
    out[len] = '\0';
    (*at)++; // the terminator
    return true;
}

// The station's tick: what was last sent, to which session and when.
struct AlarmSender {
    char last[kAlarmMessageMax] = {};
    size_t lastLen = 0;
    int fd = -1;
    int64_t atMs = 0;
};
AlarmSender g_sent;

} // namespace

bool ParseStatusRecord(const uint8_t* p, size_t n, StationState* into) {
    if (n < static_cast<size_t>(kStatusRecordSent))
        return false;
    StationState s = *into;
    for (int i = 0; i < 4; i++) {
        if (!printable(p[i]))
            return false;
        s.band[i] = static_cast<char>(p[i]);
    }
    s.band[4] = '\0';
    if (!digit(p[4]) || !digit(p[5]) || !digit(p[6]) || !digit(p[7]) || !digit(p[9]) ||
        !digit(p[40]) || !digit(p[41]))
        return false;
    if (p[8] != 'N' && p[8] != 'B' && p[8] != 'T')
        return false;
    s.mode = p[4] - '0';
    s.attenuator = p[5] - '0';
    s.antenna = p[6] - '0';
    s.ampBypass = p[7] == '1';
    s.tuner = static_cast<char>(p[8]);
    if (!number(p + 10, 6, &s.swr) || !number(p + 16, 6, &s.fwd) || !number(p + 22, 6, &s.in) ||
        !number(p + 28, 4, &s.temp) || !number(p + 32, 4, &s.volts) || !number(p + 36, 4, &s.amps))
        return false;
    s.bank = (p[40] - '0') * 10 + (p[41] - '0');
    s.lastAlarm = p[42] >= 1 && p[42] <= kAlarmCodes ? p[42] : 0; // '0': none
    *into = s;
    return true;
}

size_t BuildAlarmMessage(Works* w, char* out, size_t cap) {
    if (cap < kAlarmMessageMax)
        return 0;
    int codes[kMaxActiveErrors];
    const int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    size_t at = 0;
    const AmpReadings r = AmpReadingsNow(w);
    out[at++] = r.transmitting() ? '1' : '0';
    out[at++] = r.coaxRxTx() ? '1' : '0';
    out[at++] = static_cast<char>('0' + n / 10);
    out[at++] = static_cast<char>('0' + n % 10);
    for (int i = 0; i < n; i++) {
        const ErrorEntry& e = w->errorTable[codes[i]];
        const uint8_t flags = e.flags;
        out[at++] = static_cast<char>('0' + codes[i] / 10 % 10);
        out[at++] = static_cast<char>('0' + codes[i] % 10);
        out[at++] = static_cast<char>('0' + (flags < 10 ? flags : 0));
        for (int line = 0; line < 2; line++) {
            const auto text = (line == 0 ? e.line1 : e.line2).get();
            for (size_t k = 0; text.s[k] && k + 1 < kAlarmTextSize; k++) {
                const char c = text.s[k];
                out[at++] = printable(static_cast<uint8_t>(c)) && c != '|' && c != ';' ? c : '?';
            }
            out[at++] = line == 0 ? '|' : ';';
        }
    }
    return at;
}

bool ParseAlarmMessage(const uint8_t* p, size_t n, StationState* into) {
    if (n < 4 || (p[0] != '0' && p[0] != '1') || (p[1] != '0' && p[1] != '1') || !digit(p[2]) ||
        !digit(p[3]))
        return false;
    const int count = (p[2] - '0') * 10 + (p[3] - '0');
    if (count > kMaxActiveErrors)
        return false;
    StationAlarm alarms[kMaxActiveErrors];
    size_t at = 4;
    for (int i = 0; i < count; i++) {
        if (at + 3 > n || !digit(p[at]) || !digit(p[at + 1]) || !digit(p[at + 2]))
            return false;
        alarms[i].code = static_cast<uint8_t>((p[at] - '0') * 10 + (p[at + 1] - '0'));
        alarms[i].flags = static_cast<uint8_t>(p[at + 2] - '0');
        at += 3;
        if (!alarmText(p, n, &at, '|', alarms[i].line1) || !alarmText(p, n, &at, ';', alarms[i].line2))
            return false;
    }
    if (at != n)
        return false;
    into->tx = p[0] == '1';
    into->coaxRxTx = p[1] == '1';
    into->alarmCount = count;
    for (int i = 0; i < count; i++)
        into->alarms[i] = alarms[i];
    return true;
}

void SendStationAlarms(Works* w) {
    char text[kAlarmMessageMax];
    const size_t n = BuildAlarmMessage(w, text, sizeof text);
    const int fd = w->wsFD;
    const int64_t now = plat_mono_ms();
    const bool changed = n != g_sent.lastLen || std::memcmp(text, g_sent.last, n) != 0;
    if (!changed && fd == g_sent.fd && now - g_sent.atMs < kAlarmMessageMs)
        return;
    sendWebSockAlarmFrame(w, text, n);
    std::memcpy(g_sent.last, text, n);
    g_sent.lastLen = n;
    g_sent.fd = fd;
    g_sent.atMs = now;
}

void StationResetAsked(Works* w) {
    LogInfoOut("remote: the operator asked for the alarm reset");
    w->alarmResetAsked = 1;
}

void StationRecordReceived(Works* w, const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> lock(w->station.mu);
    if (!ParseStatusRecord(p, n, &w->station.s)) {
        // Records come with every tick: a broken peer is told of once.
        if (!w->station.badRecordLogged)
            LogErr("remote: a status record of %zu bytes that is not one, not shown", n);
        w->station.badRecordLogged = true;
        return;
    }
    w->station.badRecordLogged = false;
    w->station.s.recordMs = plat_mono_ms();
}

void StationAlarmsReceived(Works* w, const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> lock(w->station.mu);
    if (!ParseAlarmMessage(p, n, &w->station.s)) {
        if (!w->station.badAlarmsLogged)
            LogErr("remote: an alarm message of %zu bytes that is not one, not shown", n);
        w->station.badAlarmsLogged = true;
        return;
    }
    w->station.badAlarmsLogged = false;
    w->station.s.alarmsMs = plat_mono_ms();
}

void StationViewForget(Works* w) {
    std::lock_guard<std::mutex> lock(w->station.mu);
    w->station.s = StationState{};
    w->station.badRecordLogged = false;
    w->station.badAlarmsLogged = false;
}

StationState StationViewCopy(Works* w) {
    std::lock_guard<std::mutex> lock(w->station.mu);
    return w->station.s;
}

bool AskStationReset(Works* w) {
    if (w->setup->WebSocket != '2' || !w->remoteConnected)
        return false;
    {
        std::lock_guard<std::mutex> lock(w->station.mu);
        if (w->station.s.alarmsMs < 0 || w->station.s.alarmCount == 0)
            return false;
    }
    LogInfo("remote: alarm reset sent to the station");
    return sendWebSockResetFrame(w);
}
