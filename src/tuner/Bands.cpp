// config.txt and filter.txt, and the choices they make per frequency.
#include "tuner/Bands.h"

#include "amp/CmdQueue.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kDefaultThresholds[4] = {4095, 4095, 1500, 3700};

// Counts truncated toward zero and held to the converter's 12 bits.
int toCount(double v) {
    if (!(v < 4096.0)) // also catches infinity and NaN from a zero constant
        return 4095;
    return static_cast<int>(v);
}

// Reads the next whitespace-separated number as an unsigned with a base prefix,
// a float or an int; a missing or bad number is 0, as the table's rule says.
struct Fields {
    char* p;
    unsigned long nextU() {
        char* end;
        unsigned long v = std::strtoul(p, &end, 0);
        p = end;
        return v;
    }
    float nextF() {
        char* end;
        float v = std::strtof(p, &end);
        p = end;
        return v;
    }
    long nextI() {
        char* end;
        long v = std::strtol(p, &end, 10);
        p = end;
        return v;
    }
};

} // namespace

void ReadConfigFile(Works* w) {
    w->bandCount = 0;
    FILE* f = std::fopen(plat_path("/opt/set/config.txt").c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "Config File not FOUND!!");
        LogErr("can't open /opt/set/config.txt");
        return;
    }
    char line[256];
    const int count = CountDataLines(f);
    std::fprintf(stderr, "N row Config File %d \n", count);
    // The table is built once at start-up and kept for the life of the process.
    auto* rows = static_cast<ThresholdRow*>(std::calloc(count > 0 ? count : 1, sizeof(ThresholdRow)));
    if (!rows) {
        std::fclose(f);
        LogErr("can't allocate the band table");
        return;
    }
    std::rewind(f);
    int n = 0;
    while (n < count && NextDataLine(f, line, sizeof line)) {
        ThresholdRow& r = rows[n++];
        Fields in{line};
        r.freqStart = static_cast<uint32_t>(in.nextU());
        r.freqEnd = static_cast<uint32_t>(in.nextU());
        float p1 = in.nextF(), v1 = in.nextF();
        float p2 = in.nextF(), v2 = in.nextF();
        float p3 = in.nextF(), v3 = in.nextF();
        float sq1 = v1 * v1, sq2 = v2 * v2, sq3 = v3 * v3;
        r.kFwd = p1 / sq1;
        r.kRefl = p2 / sq2;
        r.kIn = p3 / sq3;
        r.kDirectivity = in.nextF();
        r.pwinMax = in.nextF();
        r.currentMax = in.nextF();
        r.reflMax = in.nextF();
        r.fwdMax = in.nextF();
        for (int k = 0; k < 5; k++) {
            r.tuneStartL[k] = static_cast<int32_t>(in.nextI());
            r.tuneStartC[k] = static_cast<int32_t>(in.nextI());
        }
        r.tuneStepSize = static_cast<int32_t>(in.nextI());
        std::fprintf(stderr,
                     "->%u,%u,%02.07f,%02.07f,%02.07f,%02.07f (%02.02f,%02.02f) Soglie: PWIN "
                     "%02.01f, Corrente: %02.01f, REFL: %02.01f, FWD: %02.01f\n",
                     r.freqStart, r.freqEnd, r.kFwd, r.kRefl, r.kIn, r.kDirectivity, p3, v3,
                     r.pwinMax, r.currentMax, r.reflMax, r.fwdMax);
        std::fprintf(stderr, "\ttunepar: %d %d, %d %d, %d %d, %d %d, %d %d, step:%d\n",
                     r.tuneStartL[0], r.tuneStartC[0], r.tuneStartL[1], r.tuneStartC[1],
                     r.tuneStartL[2], r.tuneStartC[2], r.tuneStartL[3], r.tuneStartC[3],
                     r.tuneStartL[4], r.tuneStartC[4], r.tuneStepSize);
    }
    std::fclose(f);
    w->bandTable = rows;
    w->bandCount = n;
}

void LoadTabFiltri(Works* w) {
    for (FilterRange& r : w->filterTable)
        r.enabled = 0;
    FILE* f = std::fopen(plat_path("/opt/set/filter.txt").c_str(), "r");
    if (!f) {
        std::fprintf(stderr, "Filter File not FOUND!!\n");
        return;
    }
    char line[512];
    int row = 0;
    while (row < kFilterRows && NextDataLine(f, line, sizeof line)) {
        Fields in{line};
        unsigned long low = in.nextU(), high = in.nextU();
        long enabled = in.nextI();
        FilterRange& r = w->filterTable[row];
        r.low = static_cast<uint32_t>(low);
        r.high = static_cast<uint32_t>(high);
        r.enabled = static_cast<uint8_t>(enabled & 0xFF);
        std::fprintf(stderr, "Filter %i %ld,%ld,%x\n", row, static_cast<long>(r.low.load()),
                     static_cast<long>(r.high.load()), static_cast<unsigned>(r.enabled.load()));
        row++;
    }
    std::fclose(f);
}

void SetFilterFromfreq(Works* w) {
    const int64_t f = w->freqHz;
    int selected = -1;
    for (int i = 0; i < kFilterRows; i++) {
        const FilterRange& r = w->filterTable[i];
        if (r.enabled == 1 && r.low <= f && f <= r.high) {
            selected = i;
            break;
        }
    }
    uint8_t mask = selected >= 0 ? static_cast<uint8_t>(1u << selected) : 0;
    if (mask == w->relayDrive)
        return;
    w->relayDrive = mask;
    IncPNTIn_CMDLinear(kCmdFilter, w);
    std::fprintf(stderr, ">>>>>>>>>>>>>>> SET FILTER: %i!!\n", selected >= 0 ? selected + 1 : 9);
}

void SearchCambioSoglie_TS(Works* w) {
    const int count = w->bandCount;
    const int64_t f = w->freqHz;
    if (count == 0 || f == 0) {
        if (w->thresholdRowIdx < 0) {
            for (int k = 0; k < 4; k++)
                w->tsThresholds[k] = kDefaultThresholds[k];
            w->thresholdRowIdx = 0;
            IncPNTIn_CMDLinear(kCmdThresholds, w);
        }
        return;
    }
    std::fprintf(stderr, "Soglia TS (freq %ld):\n", static_cast<long>(f));
    const ThresholdRow* rows = w->bandTable;
    int i = 0;
    for (; i < count - 1; i++)
        if (rows[i].freqStart <= f && f < rows[i + 1].freqStart)
            break;
    if (i >= count - 1 || i == w->thresholdRowIdx)
        return;
    const ThresholdRow& r = rows[i];
    w->tsThresholds[0] = toCount(std::sqrt(static_cast<double>(r.pwinMax) / r.kIn));
    w->tsThresholds[1] = toCount(std::sqrt(static_cast<double>(r.fwdMax) / r.kFwd));
    w->tsThresholds[2] = toCount(std::sqrt(static_cast<double>(r.reflMax) / r.kRefl));
    w->tsThresholds[3] = toCount(static_cast<double>(r.currentMax * 4096.0f) / 14.05);
    w->thresholdRowIdx = i;
    IncPNTIn_CMDLinear(kCmdThresholds, w);
}

float SearchK(Works* w, int which) {
    const int count = w->bandCount;
    if (count == 0) {
        switch (which) {
        case 0:
            return 5.156579e-06f;
        case 1:
            return 3.3262754e-06f;
        case 2:
            return 5.5078103e-06f;
        case 3:
            return -0.007f;
        default:
            return 1.0f;
        }
    }
    const int64_t f = w->freqHz;
    float k = 1.0f;
    for (int i = 0; i < count - 1; i++) {
        const ThresholdRow& r = w->bandTable[i];
        if (r.freqStart <= f && f < w->bandTable[i + 1].freqStart) {
            switch (which) {
            case 0:
                k = r.kFwd;
                break;
            case 1:
                k = r.kRefl;
                break;
            case 2:
                k = r.kIn;
                break;
            case 3:
                k = r.kDirectivity;
                break;
            default:
                k = 1.0f;
            }
        }
    }
    return k;
}
