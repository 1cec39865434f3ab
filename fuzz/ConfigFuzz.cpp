// Any bytes as one of the tables of /opt/set, the first byte picking which:
// - config.txt: every row loads with thresholds that are finite and not
//   negative, and at any frequency the thresholds that go out are four counts
//   of 0..4095;
// - filter.txt: at any frequency the filter chosen is the first enabled row
//   that holds it (or none), and its mask has at most one bit;
// - ventola.txt: every row loads with a finite temperature and a level of
//   0..999, and over any temperatures the level wanted is 0..999.
#include "FuzzRoot.h"

#include "amp/Temperature.h"
#include "tuner/Bands.h"

#include <cmath>

namespace {

void loadConfig(Works* w) {
    std::free(w->bandTable);
    w->bandTable = nullptr;
    FuzzQuietly([w] { ReadConfigFile(w); });
}

void config(Works* w, const uint8_t*, size_t size) {
    loadConfig(w);
    const int count = w->bandCount;
    FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= size + 1,
               "config.txt: %d rows from %zu bytes", count, size);
    std::vector<ThresholdRow> first(w->bandTable, w->bandTable + count);
    for (int i = 0; i < count; i++) {
        const ThresholdRow& r = first[static_cast<size_t>(i)];
        for (float v : {r.pwinMax, r.currentMax, r.reflMax, r.fwdMax})
            FUZZ_CHECK(std::isfinite(v) && v >= 0.0f, "config.txt row %d: threshold %g kept", i + 1,
                       static_cast<double>(v));
        FUZZ_CHECK(std::isfinite(r.kDirectivity), "config.txt row %d: directivity %g kept", i + 1,
                   static_cast<double>(r.kDirectivity));
    }
    // The same file loads the same rows.
    loadConfig(w);
    FUZZ_CHECK(w->bandCount == count &&
                   (count == 0 ||
                    std::memcmp(first.data(), w->bandTable, sizeof(ThresholdRow) * count) == 0),
               "config.txt: a second load differs");

    // Every row's start and its neighbours, nothing, and a frequency of each band.
    std::vector<long long> freqs = {0, 1, 1800000, 3500000, 7074000, 14074000, 28500000, 50100000};
    for (int i = 0; i < count && i < 64; i++)
        for (long long d : {-1LL, 0LL, 1LL})
            freqs.push_back(static_cast<long long>(first[static_cast<size_t>(i)].freqStart) + d);
    for (long long f : freqs) {
        w->freqHz = static_cast<int>(static_cast<uint32_t>(f));
        w->thresholdRowIdx = -1;
        FuzzQuietly([w] {
            SearchCambioSoglie_TS(w);
            for (int k = 0; k < 4; k++)
                SearchK(w, k);
        });
        FuzzDrainCommands(w);
        for (int k = 0; k < 4; k++)
            FUZZ_CHECK(w->tsThresholds[k] >= 0 && w->tsThresholds[k] <= 4095,
                       "config.txt: threshold %d is %d at %lld Hz", k, w->tsThresholds[k].load(),
                       f);
    }
}

void filter(Works* w, const uint8_t*, size_t) {
    FuzzQuietly([w] { LoadTabFiltri(w); });
    std::vector<long long> freqs = {0, 1800000, 3573000, 7074000, 14074000, 21074000, 50313000};
    for (const FilterRange& r : w->filterTable)
        for (long long base : {static_cast<long long>(r.low), static_cast<long long>(r.high)})
            for (long long d : {-1LL, 0LL, 1LL})
                freqs.push_back(base + d);
    for (long long f : freqs) {
        w->freqHz = static_cast<int>(static_cast<uint32_t>(f));
        const int64_t hz = w->freqHz;
        int expected = -1;
        for (int i = 0; i < kFilterRows && expected < 0; i++) {
            const FilterRange& r = w->filterTable[i];
            if (r.enabled == 1 && r.low <= hz && hz <= r.high) expected = i;
        }
        FuzzQuietly([w] { SetFilterFromfreq(w); });
        FuzzDrainCommands(w);
        const uint8_t mask = w->relayDrive;
        FUZZ_CHECK(mask == (expected < 0 ? 0 : 1u << expected),
                   "filter.txt: mask %02x at %lld Hz, row %d holds it", mask, f, expected);
    }
}

void ventola(Works* w, const uint8_t* data, size_t size) {
    std::free(w->fanTable);
    w->fanTable = nullptr;
    w->fanCount = 0;
    FuzzQuietly([w] { ReadVentolaFile(w); });
    const int count = w->fanCount;
    FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= size + 1,
               "ventola.txt: %d rows from %zu bytes", count, size);
    std::vector<float> temps = {-10.0f, 0.0f, 25.0f, 45.0f, 60.0f, 80.0f};
    for (int i = 0; i < count; i++) {
        const FanRow& r = w->fanTable[i];
        FUZZ_CHECK(std::isfinite(r.temp), "ventola.txt row %d: temperature %g kept", i + 1,
                   static_cast<double>(r.temp));
        FUZZ_CHECK(r.level >= 0 && r.level <= 999, "ventola.txt row %d: level %d kept", i + 1,
                   r.level);
        if (i < 64)
            for (float d : {-0.5f, 0.0f, 0.5f})
                temps.push_back(r.temp + d);
    }
    // Up and down through the temperatures, as a heat sink warms and cools.
    w->fanLevel = 0;
    w->settings.hysteresis2 = size > 0 ? data[0] % 10 : 1;
    for (int pass = 0; pass < 2; pass++) {
        for (size_t k = 0; k < temps.size(); k++) {
            const float t = temps[pass == 0 ? k : temps.size() - 1 - k];
            PublishAmpReadings(w, {.temp1 = t, .temp2 = t - 1.0f});
            FuzzQuietly([w] { searchPercentVentola(w); });
            FuzzDrainCommands(w);
            const int wanted = w->fanWanted;
            FUZZ_CHECK(count == 0 || (wanted >= 0 && wanted <= 999),
                       "ventola.txt: level %d wanted at %g", wanted, static_cast<double>(t));
        }
    }
}

const struct {
    const char* path;
    void (*check)(Works*, const uint8_t*, size_t);
} kTables[] = {{"/opt/set/config.txt", config},
               {"/opt/set/filter.txt", filter},
               {"/opt/set/ventola.txt", ventola}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    if (size < 1) return 0;
    const auto& table = kTables[data[0] % std::size(kTables)];
    FuzzWriteFile(table.path, data + 1, size - 1);
    table.check(w, data + 1, size - 1);
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return {
        // config.txt: a table with hexadecimal and octal starts and a missing
        // tail, and the hand edits that were once converted unchecked. (The
        // simulator's station table, twelve rows of the same form, reaches
        // nothing more.)
        FuzzBytes(0, "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 1 2 3 4 5 "
                     "6 7 8 9 10 1\r\n"
                     "0x33E140 05177777 60 3411.1 60 4247.1 10 1347.4 -0.007 5000 14.05 20 80\r\n"
                     "5300000 7399999 0 0 60 4247.1 10 1347.4\n\n;comment\n7400000\n"),
        FuzzBytes(0, "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 -3e7 20 80 0 0 0 0 "
                     "0 0 0 0 0 0 1\n"
                     "3400000 5299999 nan 3411.1 60 inf 10 1347.4 -0.007 1e10 -3 1e39 80 "
                     "99999999999 0 0 0 0 0 0 0 0 0 1\n"
                     "-30000000 0x1FFFFFFFF 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 0 0 "
                     "0 0 0 0 0 0 0 0 1\n"),
        // filter.txt: the unit test's table (the simulator's station's, seven
        // enabled rows of the same form, reaches nothing more); nine rows, CR LF
        // ends, octal; numbers no field can hold.
        FuzzBytes(1, "; low high enabled\n1700000 2100000 1\n0x33E140 4100000 1\n3500000 3600000 "
                     "1\n7000000 7300000 2\n7000000 7400000 1\n"),
        FuzzBytes(1, "1 2 1\r\n3 4 1\r\n5 6 1\r\n7 8 1\r\n9 10 1\r\n011 013 1\r\n13 14 1\r\n15 16 "
                     "1\r\n17 18 1\r\n"),
        FuzzBytes(1, "-1700000 2100000 1\n3400000 99999999999 1\n5300000 7400000 "
                     "99999999999999999999\n7000000 7300000 257\n"),
        // ventola.txt: the unit test's table (the simulator's station's is of the
        // same form); blank rows, fractions; the hand edits once converted
        // unchecked.
        FuzzBytes(2, "; temperature level\r\n30 0\r\n45.0\t50\r\n60 100.7\r\n"),
        FuzzBytes(2, "\n25.5 10\n\n35 20.9\n0x20 99\n"),
        FuzzBytes(2, "30 1e10\n40 nan\n45 -5\nnan 20\ninf 30\n50 1000\n55 999.9\n60 -3e7\n"),
    };
}
