// config.txt and filter.txt, and the choices they make per frequency.
#include "tuner/Bands.h"

#include "core/CmdRing.h"
#include "core/TableFields.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/TextFile.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kDefaultThresholds[4] = {4095, 4095, 1500, 3700};

// Counts truncated toward zero and held to the converter's 12 bits, so that
// every "TS" command carries four digits per threshold.
int toCount(double v, const char* which) {
    if (!(v < 4096.0)) // also catches infinity and NaN from a zero constant
        return 4095;
    if (v < 0.0) {
        LogErr("config.txt: %s threshold of %g counts is negative, 0 sent", which, v);
        return 0;
    }
    return static_cast<int>(v);
}

float nextFloat(TableCursor* in, const char* field, float lo = -kTableFloatMax) {
    float v = 0.0f;
    TableFloat(in, field, lo, kTableFloatMax, &v);
    return v;
}

int32_t nextInt(TableCursor* in, const char* field) {
    long v = 0;
    TableInt(in, field, INT32_MIN, INT32_MAX, &v);
    return static_cast<int32_t>(v);
}

} // namespace

void ReadConfigFile(Works* w) {
    w->bandCount = 0;
    FILE* f = std::fopen(plat_path("/opt/set/config.txt").c_str(), "r");
    if (!f) {
        LogOut("Config File not FOUND!!");
        LogErr("can't open /opt/set/config.txt");
        return;
    }
    char line[256];
    const int count = CountDataLines(f);
    LogOut("N row Config File %d \n", count);
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
        // A refused number leaves its field at 0, as one that does not parse.
        TableCursor in{line, "config.txt", n};
        TableUnsigned(&in, "start", &r.freqStart);
        TableUnsigned(&in, "end", &r.freqEnd);
        float p1 = nextFloat(&in, "forward P"), v1 = nextFloat(&in, "forward V");
        float p2 = nextFloat(&in, "reflected P"), v2 = nextFloat(&in, "reflected V");
        float p3 = nextFloat(&in, "input P"), v3 = nextFloat(&in, "input V");
        float sq1 = v1 * v1, sq2 = v2 * v2, sq3 = v3 * v3;
        r.kFwd = p1 / sq1;
        r.kRefl = p2 / sq2;
        r.kIn = p3 / sq3;
        r.kDirectivity = nextFloat(&in, "directivity");
        // A threshold below zero would go out as a negative count.
        r.pwinMax = nextFloat(&in, "input power threshold", 0.0f);
        r.currentMax = nextFloat(&in, "current threshold", 0.0f);
        r.reflMax = nextFloat(&in, "reflected power threshold", 0.0f);
        r.fwdMax = nextFloat(&in, "forward power threshold", 0.0f);
        for (int k = 0; k < 5; k++) {
            r.tuneStartL[k] = nextInt(&in, "tune start L");
            r.tuneStartC[k] = nextInt(&in, "tune start C");
        }
        r.tuneStepSize = nextInt(&in, "tune step");
        LogOut(
                     "->%u,%u,%02.07f,%02.07f,%02.07f,%02.07f (%02.02f,%02.02f) Soglie: PWIN "
                     "%02.01f, Corrente: %02.01f, REFL: %02.01f, FWD: %02.01f\n",
                     r.freqStart, r.freqEnd, r.kFwd, r.kRefl, r.kIn, r.kDirectivity, p3, v3,
                     r.pwinMax, r.currentMax, r.reflMax, r.fwdMax);
        LogOut("\ttunepar: %d %d, %d %d, %d %d, %d %d, %d %d, step:%d\n",
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
        LogOut("Filter File not FOUND!!\n");
        return;
    }
    char line[512];
    int row = 0;
    while (row < kFilterRows && NextDataLine(f, line, sizeof line)) {
        TableCursor in{line, "filter.txt", row + 1};
        uint32_t low = 0, high = 0;
        long enabled = 0;
        TableUnsigned(&in, "low", &low);
        TableUnsigned(&in, "high", &high);
        // Only the low byte is kept, as the table has always been read.
        TableInt(&in, "enabled", std::numeric_limits<long>::min(), std::numeric_limits<long>::max(),
                 &enabled);
        FilterRange& r = w->filterTable[row];
        r.low = low;
        r.high = high;
        r.enabled = static_cast<uint8_t>(enabled & 0xFF);
        LogOut("Filter %i %ld,%ld,%x\n", row, static_cast<long>(r.low.load()),
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
    LogOut(">>>>>>>>>>>>>>> SET FILTER: %i!!\n", selected >= 0 ? selected + 1 : 9);
}

namespace {
// The four thresholds and the row they came from change together: the band
// rows (refresh, the alarm reset), the tuning search (link) and the link's
// command that sends them take this lock.
std::mutex g_thresholdMut;
} // namespace

void ThresholdsForTune(Works* w) {
    std::lock_guard<std::mutex> lock(g_thresholdMut);
    w->tsThresholds[0] = 4095;
    IncPNTIn_CMDLinear(kCmdThresholds, w);
}

void ThresholdsAfterTune(Works* w) {
    std::lock_guard<std::mutex> lock(g_thresholdMut);
    w->thresholdRowIdx = -1;
}

void ReadThresholds(Works* w, int out[4]) {
    std::lock_guard<std::mutex> lock(g_thresholdMut);
    for (int k = 0; k < 4; k++)
        out[k] = w->tsThresholds[k];
}

void SearchCambioSoglie_TS(Works* w) {
    std::lock_guard<std::mutex> lock(g_thresholdMut);
    const int count = w->bandCount;
    const int64_t f = w->freqHz;
    if (count == 0 || f == 0) {
        if (w->thresholdRowIdx == -1) {
            for (int k = 0; k < 4; k++)
                w->tsThresholds[k] = kDefaultThresholds[k];
            // Not row 0: once the frequency is known in the first row's band,
            // that row's thresholds must still go out.
            w->thresholdRowIdx = kThresholdsDefault;
            IncPNTIn_CMDLinear(kCmdThresholds, w);
        }
        return;
    }
    LogOut("Soglia TS (freq %ld):\n", static_cast<long>(f));
    const ThresholdRow* rows = w->bandTable;
    int i = 0;
    for (; i < count - 1; i++)
        if (rows[i].freqStart <= f && f < rows[i + 1].freqStart)
            break;
    if (i >= count - 1 || i == w->thresholdRowIdx)
        return;
    const ThresholdRow& r = rows[i];
    w->tsThresholds[0] = toCount(std::sqrt(static_cast<double>(r.pwinMax) / r.kIn), "input power");
    w->tsThresholds[1] = toCount(std::sqrt(static_cast<double>(r.fwdMax) / r.kFwd), "forward power");
    w->tsThresholds[2] = toCount(std::sqrt(static_cast<double>(r.reflMax) / r.kRefl), "reflected power");
    w->tsThresholds[3] = toCount(static_cast<double>(r.currentMax * 4096.0f) / 14.05, "current");
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

void AttivaDisattivaProtezione(Works* w, int on) {
    if (on == 1) {
        IncPNTIn_CMDLinear(kCmdProtOn, w);
        IncPNTIn_CMDLinear(kCmdAttBoth, w);
        LogOut("PROTEZIONE ON -------------\n");
    } else {
        IncPNTIn_CMDLinear(kCmdProtOff, w);
        LogOut("PROTEZIONE OFF -------------\n");
    }
}
