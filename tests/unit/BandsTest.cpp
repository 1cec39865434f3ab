// Band rows and filters chosen by the operating frequency: which row, which
// counts go out with "TS", which filter with "SF", and the calibration lookup.
#include "RootedWorks.h"

#include "tuner/Bands.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A config.txt row: start, end, then the calibration pairs and thresholds.
std::string row(long start, long end, float fwdMax = 80.0f, float currentMax = 12.0f) {
    char b[256];
    std::snprintf(b, sizeof b,
                  "%ld %ld 60 3411.1 60 4247.1 10 1347.4 -0.007 12 %.2f 20 %.2f 1 2 3 4 5 6 7 8 9 "
                  "10 1\n",
                  start, end, currentMax, fwdMax);
    return b;
}

class Bands : public RootedWorks {
  protected:
    void TearDown() override {
        std::free(w->bandTable);
        RootedWorks::TearDown();
    }
    void config(const std::string& text) {
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/config.txt", text));
        std::free(w->bandTable);
        w->bandTable = nullptr;
        ReadConfigFile(w.get());
    }
    std::vector<int> ts() {
        return {w->tsThresholds[0], w->tsThresholds[1], w->tsThresholds[2], w->tsThresholds[3]};
    }
    bool thresholdsAt(int hz) {
        w->freqHz = hz;
        SearchCambioSoglie_TS(w.get());
        const std::vector<int> q = queued();
        return q == std::vector<int>{kCmdThresholds};
    }
};

TEST_F(Bands, RowCountsAndTheirConversion) {
    config("; band rows\n" + row(1800000, 3399999) + row(3400000, 5299999, 50.0f, 6.0f) +
           row(5300000, 7399999));
    EXPECT_EQ(w->bandCount, 3);
    ASSERT_TRUE(thresholdsAt(1800000));
    EXPECT_EQ(w->thresholdRowIdx, 0);
    // Input sqrt(12 / k), forward sqrt(80 / k), reflected sqrt(20 / k) with k = P / V^2,
    // current 12 * 4096 / 14.05, each truncated.
    EXPECT_EQ(ts(), (std::vector<int>{1476, 3938, 2452, 3498}));

    // The same row again: nothing is sent.
    w->freqHz = 3399999;
    SearchCambioSoglie_TS(w.get());
    EXPECT_TRUE(queued().empty());
    // The start of the next row selects it.
    ASSERT_TRUE(thresholdsAt(3400000));
    EXPECT_EQ(w->thresholdRowIdx, 1);
    EXPECT_EQ(ts()[3], static_cast<int>(6.0f * 4096.0f / 14.05));
    // At or above the last row's start nothing is selected: the thresholds stay.
    const std::vector<int> before = ts();
    w->freqHz = 5300000;
    SearchCambioSoglie_TS(w.get());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(ts(), before);
    EXPECT_EQ(w->thresholdRowIdx, 1);
    // The end of a tune forgets the row, so the same row is sent again.
    w->thresholdRowIdx = -1;
    ASSERT_TRUE(thresholdsAt(3500000));
}

TEST_F(Bands, CountsAreCappedAt4095) {
    config(row(1800000, 3399999, 5000.0f, 14.05f) + row(3400000, 5299999));
    ASSERT_TRUE(thresholdsAt(2000000));
    EXPECT_EQ(ts()[1], 4095); // forward far beyond the converter
    EXPECT_EQ(ts()[3], 4095); // 14.05 A is exactly 4096 counts
}

TEST_F(Bands, OneRowOrNoTable) {
    // One row is never selected; it only keeps the defaults from going out.
    config(row(1800000, 30000000));
    EXPECT_FALSE(thresholdsAt(14000000));
    EXPECT_EQ(w->thresholdRowIdx, -1);

    // No table: the defaults once, then nothing.
    std::free(w->bandTable);
    w->bandTable = nullptr;
    std::remove((dir.path + "/opt/set/config.txt").c_str());
    ReadConfigFile(w.get());
    EXPECT_EQ(w->bandCount, 0);
    ASSERT_TRUE(thresholdsAt(14000000));
    EXPECT_EQ(ts(), (std::vector<int>{4095, 4095, 1500, 3700}));
    EXPECT_EQ(w->thresholdRowIdx, 0);
    EXPECT_FALSE(thresholdsAt(7000000));
    // The built-in calibration.
    EXPECT_FLOAT_EQ(SearchK(w.get(), 0), 5.156579e-06f);
    EXPECT_FLOAT_EQ(SearchK(w.get(), 3), -0.007f);
}

TEST_F(Bands, CalibrationOfTheRowOfTheFrequency) {
    config(row(1800000, 3399999) + row(3400000, 5299999) + row(5300000, 7399999));
    w->freqHz = 3500000;
    EXPECT_FLOAT_EQ(SearchK(w.get(), 0), 60.0f / (3411.1f * 3411.1f));
    EXPECT_FLOAT_EQ(SearchK(w.get(), 2), 10.0f / (1347.4f * 1347.4f));
    w->freqHz = 6000000; // in the last row, which only closes the one before
    EXPECT_FLOAT_EQ(SearchK(w.get(), 0), 1.0f);
}

TEST_F(Bands, FilterSelection) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/filter.txt",
                          "; low high enabled\n1700000 2100000 1\n0x33E140 4100000 1\n"
                          "3500000 3600000 1\n7000000 7300000 2\n7000000 7400000 1\n"));
    LoadTabFiltri(w.get());
    auto at = [&](int hz) {
        w->freqHz = hz;
        SetFilterFromfreq(w.get());
        return queued();
    };
    EXPECT_EQ(at(1800000), std::vector<int>{kCmdFilter});
    EXPECT_EQ(w->relayDrive, 0x01);
    EXPECT_TRUE(at(2100000).empty()); // both ends belong to the row
    // Two rows hold 3.55 MHz: the lower row number wins (0x33E140 is 3400000).
    EXPECT_EQ(at(3550000), std::vector<int>{kCmdFilter});
    EXPECT_EQ(w->relayDrive, 0x02);
    // A row enabled with 2 is skipped for the next one.
    EXPECT_EQ(at(7100000), std::vector<int>{kCmdFilter});
    EXPECT_EQ(w->relayDrive, 0x10);
    // No row: mask 0 goes out once.
    EXPECT_EQ(at(10100000), std::vector<int>{kCmdFilter});
    EXPECT_EQ(w->relayDrive, 0);
    EXPECT_TRUE(at(10200000).empty());
}

} // namespace
