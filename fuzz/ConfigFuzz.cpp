// Any bytes as /opt/set/config.txt: every row loads with thresholds that are
// finite and not negative, and at any frequency the thresholds that go out are
// four counts of 0..4095.
#include "FuzzRoot.h"

#include "tuner/Bands.h"

#include <cmath>

namespace {

constexpr const char* kPath = "/opt/set/config.txt";

void load(Works* w) {
    std::free(w->bandTable);
    w->bandTable = nullptr;
    FuzzQuietly([w] { ReadConfigFile(w); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzWriteFile(kPath, data, size);
    load(w);
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
    load(w);
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
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    // A table with hexadecimal and octal starts and a missing tail, and the hand
    // edits that were once converted unchecked. (The simulator's station table,
    // twelve rows of the same form, reaches nothing more.)
    return FuzzSeedsOf({
        "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 1 2 3 4 5 6 7 8 9 10 "
        "1\r\n"
        "0x33E140 05177777 60 3411.1 60 4247.1 10 1347.4 -0.007 5000 14.05 20 80\r\n"
        "5300000 7399999 0 0 60 4247.1 10 1347.4\n\n;comment\n7400000\n",
        "1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 -3e7 20 80 0 0 0 0 0 0 0 0 0 0 1\n"
        "3400000 5299999 nan 3411.1 60 inf 10 1347.4 -0.007 1e10 -3 1e39 80 99999999999 0 0 0 0 0 "
        "0 0 0 0 1\n"
        "-30000000 0x1FFFFFFFF 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 0 0 0 0 0 0 0 0 0 "
        "0 1\n",
    });
}
