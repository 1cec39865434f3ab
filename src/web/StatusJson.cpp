// The console's JSON of the amplifier's values.
#include "web/StatusJson.h"

#include "amp/Decoder.h"
#include "core/Works.h"
#include "remote/StationRecord.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct Out {
    char* p;
    size_t cap, n = 0;
    void add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list ap;
        va_start(ap, fmt);
        const int r = std::vsnprintf(p + n, n < cap ? cap - n : 0, fmt, ap);
        va_end(ap);
        if (r > 0)
            n += static_cast<size_t>(r);
    }
    // A JSON string of printable ASCII (the record's and alarms' texts are).
    void text(const char* s) {
        add("\"");
        for (; *s; s++)
            if (*s == '"' || *s == '\\')
                add("\\%c", *s);
            else if (static_cast<unsigned char>(*s) >= 0x20 && static_cast<unsigned char>(*s) < 0x7F)
                add("%c", *s);
        add("\"");
    }
};

} // namespace

size_t BuildStatusJson(Works* w, char* out, size_t cap) {
    if (cap < kStatusJsonMax)
        return 0;
    // The record and the alarm message as an operator's unit reads them.
    char record[kStatusRecordSize] = {};
    CreaBufferDiStato(w, record);
    StationState s;
    ParseStatusRecord(reinterpret_cast<const uint8_t*>(record), kStatusRecordSent, &s);
    char alarms[kAlarmMessageMax];
    const size_t an = BuildAlarmMessage(w, alarms, sizeof alarms);
    ParseAlarmMessage(reinterpret_cast<const uint8_t*>(alarms), an, &s);

    Out o{out, cap};
    o.add("{\"band\":");
    o.text(s.band);
    o.add(",\"antenna\":%d,\"bank\":%d,\"tuner\":\"%s\",\"bypass\":%s,\"tx\":%s", s.antenna, s.bank,
          s.tuner == 'T' ? "in line" : s.tuner == 'B' ? "bypassed" : "none", s.ampBypass ? "true" : "false",
          s.tx ? "true" : "false");
    const AmpReadings r = AmpReadingsNow(w);
    o.add(",\"forward_w\":%.1f,\"reflected_w\":%.1f,\"input_w\":%.1f,\"swr\":%.2f", r.pwrFwd, r.pwrRefl,
          r.pwrIn, r.swr);
    o.add(",\"board_c\":%.1f,\"heatsink_c\":%.1f,\"supply_v\":%.1f,\"current_a\":%.1f", r.temp1, r.temp2,
          s.volts, s.amps);
    o.add(",\"alarms\":[");
    for (int i = 0; i < s.alarmCount; i++) {
        const StationAlarm& a = s.alarms[i];
        o.add("%s{\"code\":%d,\"error\":%s,\"text\":[", i ? "," : "", a.code, (a.flags & 1) ? "true" : "false");
        o.text(a.line1);
        o.add(",");
        o.text(a.line2);
        o.add("]}");
    }
    o.add("]}");
    if (o.n >= cap) { // cannot happen within kStatusJsonMax; never a cut text
        out[0] = '\0';
        return 0;
    }
    return o.n;
}
