// Any bytes as /opt/set/ventola.txt: every row loads with a finite temperature
// and a level of 0..999, and over any temperatures the level wanted is 0..999.
#include "FuzzRoot.h"

#include "amp/Temperature.h"

#include <cmath>

constexpr const char* kPath = "/opt/set/ventola.txt";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    FuzzWriteFile(kPath, data, size);
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
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        // The unit test's table (the simulator's station's is of the same form).
        "; temperature level\r\n30 0\r\n45.0\t50\r\n60 100.7\r\n",
        // Blank rows, fractions, and the hand edits once converted unchecked.
        "\n25.5 10\n\n35 20.9\n0x20 99\n",
        "30 1e10\n40 nan\n45 -5\nnan 20\ninf 30\n50 1000\n55 999.9\n60 -3e7\n",
    });
}
