// The console's JSON of the amplifier's values.
#include "web/StatusJson.h"

#include "amp/Decoder.h"
#include "amp/Temperature.h"
#include "core/AlarmList.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "remote/TxLimit.h"

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
    // One copy of the readings: the SWR beside the forward power it belongs to.
    const AmpReadings r = AmpReadingsNow(w);
    char band[5];
    StatusBandText(w, band);
    const char tuner = w->settings.tuneEnabled < 0 ? 'N' : w->tunerBypass ? 'B' : 'T';
    const double volts = CalvTensVadcAmp(w, w->supplyAdc[3]);

    Out o{out, cap};
    o.add("{\"band\":");
    o.text(band);
    // The antenna as the panel and its keys number the outputs (1..3).
    o.add(",\"antenna\":%d,\"bank\":%d,\"tuner\":\"%s\",\"bypass\":%s,\"tx\":%s", w->antennaIdx.load() + 1,
          w->NumBanco.load(), tuner == 'T' ? "in line" : tuner == 'B' ? "bypassed" : "none",
          w->ampBypass ? "true" : "false", r.transmitting() ? "true" : "false");
    o.add(",\"forward_w\":%.1f,\"reflected_w\":%.1f,\"input_w\":%.1f,\"swr\":%.2f", r.pwrFwd, r.pwrRefl,
          r.pwrIn, r.swr);
    o.add(",\"board_c\":%.1f,\"heatsink_c\":%.1f,\"supply_v\":%.1f,\"current_a\":%.1f", r.temp1, r.temp2,
          volts, r.amps());
    // The transmit time limit of remote operation: seconds (0: none), seconds
    // left of a timed transmission (null when none is timed), and its state.
    const int left = TxLimitLeftS(w, plat_mono_ms());
    o.add(",\"tx_limit_s\":%d,\"tx_left_s\":", TxLimitSeconds(w));
    if (left < 0)
        o.add("null");
    else
        o.add("%d", left);
    o.add(",\"tx_limit\":\"%s\"", TxLimitStateName(w));
    o.add(",\"alarms\":[");
    int codes[kMaxActiveErrors];
    const int n = SnapshotErrors(w, codes, kMaxActiveErrors);
    for (int i = 0; i < n; i++) {
        const ErrorEntry& e = w->errorTable[codes[i]];
        o.add("%s{\"code\":%d,\"error\":%s,\"text\":[", i ? "," : "", codes[i], (e.flags & 1) ? "true" : "false");
        o.text(e.line1.get().s);
        o.add(",");
        o.text(e.line2.get().s);
        o.add("]}");
    }
    o.add("]}");
    if (o.n >= cap) { // cannot happen within kStatusJsonMax; never a cut text
        out[0] = '\0';
        return 0;
    }
    return o.n;
}
