// Any bytes as /opt/set/filter.txt: at any frequency the filter chosen is the
// first enabled row that holds it (or none), and its mask has at most one bit.
#include "FuzzRoot.h"

#include "tuner/Bands.h"

constexpr const char* kPath = "/opt/set/filter.txt";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzWriteFile(kPath, data, size);
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
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        // The unit test's table (the simulator's station's, seven enabled rows of
        // the same form, reaches nothing more).
        "; low high enabled\n1700000 2100000 1\n0x33E140 4100000 1\n3500000 3600000 1\n"
        "7000000 7300000 2\n7000000 7400000 1\n",
        // Nine rows, CR LF ends, octal, and numbers no field can hold.
        "1 2 1\r\n3 4 1\r\n5 6 1\r\n7 8 1\r\n9 10 1\r\n011 013 1\r\n13 14 1\r\n15 16 1\r\n17 18 "
        "1\r\n",
        "-1700000 2100000 1\n3400000 99999999999 1\n5300000 7400000 99999999999999999999\n"
        "7000000 7300000 257\n",
    });
}
