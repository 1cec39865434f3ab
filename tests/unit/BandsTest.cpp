// Band rows and filters chosen by the operating frequency: which row, which
// counts go out with "TS", which filter with "SF", and the calibration lookup.
#include "RootedWorks.h"

#include "tuner/Bands.h"

#include <cmath>
#include <cstdlib>

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
    // The commands the threshold search queues at `hz`.
    std::vector<int> sentAt(int hz) {
        w->freqHz = hz;
        SearchCambioSoglie_TS(w.get());
        return queued();
    }
};

TEST_F(Bands, RowCountsTheirConversionAndCalibration) {
    config("; band rows\n" + row(1800000, 3399999) + row(3400000, 5299999, 50.0f, 6.0f) +
           row(5300000, 7399999));
    EXPECT_EQ(w->bandCount, 3);
    // A link that has not read its radio yet gives 0 Hz: the defaults, then,
    // once the frequency is in the first row's band, that row's own.
    ASSERT_EQ(sentAt(0), std::vector<int>{kCmdThresholds});
    EXPECT_EQ(ts(), (std::vector<int>{4095, 4095, 1500, 3700}));
    ASSERT_EQ(sentAt(1800000), std::vector<int>{kCmdThresholds});
    EXPECT_EQ(w->thresholdRowIdx, 0);
    // Input sqrt(12 / k), forward sqrt(80 / k), reflected sqrt(20 / k) with k = P / V^2,
    // current 12 * 4096 / 14.05, each truncated.
    EXPECT_EQ(ts(), (std::vector<int>{1476, 3938, 2452, 3498}));

    // The same row again: nothing is sent.
    EXPECT_TRUE(sentAt(3399999).empty());
    // The start of the next row selects it.
    ASSERT_EQ(sentAt(3400000), std::vector<int>{kCmdThresholds});
    EXPECT_EQ(w->thresholdRowIdx, 1);
    EXPECT_EQ(ts()[3], static_cast<int>(6.0f * 4096.0f / 14.05));
    // At or above the last row's start nothing is selected: the thresholds stay.
    const std::vector<int> before = ts();
    EXPECT_TRUE(sentAt(5300000).empty());
    EXPECT_EQ(ts(), before);
    EXPECT_EQ(w->thresholdRowIdx, 1);
    // The end of a tune forgets the row, so the same row is sent again.
    w->thresholdRowIdx = -1;
    ASSERT_EQ(sentAt(3500000), std::vector<int>{kCmdThresholds});
    // The calibration of the row of the frequency; the last row only closes the one before.
    EXPECT_FLOAT_EQ(SearchK(w.get(), 0), 60.0f / (3411.1f * 3411.1f));
    EXPECT_FLOAT_EQ(SearchK(w.get(), 2), 10.0f / (1347.4f * 1347.4f));
    w->freqHz = 6000000;
    EXPECT_FLOAT_EQ(SearchK(w.get(), 0), 1.0f);
}

// (Counts beyond the converter's 12 bits, 14.05 A exactly 4096 among them, go out
// as 4095: the config_fuzz target, a row of 5000 W and 14.05 A among its seeds.)

TEST_F(Bands, OneRowOrNoTable) {
    // One row is never selected; it only keeps the defaults from going out.
    config(row(1800000, 30000000));
    EXPECT_TRUE(sentAt(14000000).empty());
    EXPECT_EQ(w->thresholdRowIdx, -1);

    // No table: the defaults once, then nothing.
    std::free(w->bandTable);
    w->bandTable = nullptr;
    std::remove((dir.path + "/opt/set/config.txt").c_str());
    ReadConfigFile(w.get());
    EXPECT_EQ(w->bandCount, 0);
    ASSERT_EQ(sentAt(14000000), std::vector<int>{kCmdThresholds});
    EXPECT_EQ(w->thresholdRowIdx, kThresholdsDefault);
    EXPECT_TRUE(sentAt(7000000).empty());
    // (The built-in calibration: Decoder.StatusReadings, without a table.)
}

// Hand-edited numbers that no field of the band or filter table can hold: refused
// with a log line, the field left at 0 as a number that does not parse, every
// other field read.
TEST_F(Bands, NumbersOutOfRangeAreRefusedAndLogged) {
    const std::string rest = " 1 2 3 4 5 6 7 8 9 10 1\n";
    config("1800000 3399999 60 3411.1 60 4247.1 10 1347.4 -0.007 12 -3e7 20 80" + rest +
           "3400000 5299999 60 3411.1 60 4247.1 10 1347.4 -0.007 nan 12 1e39 inf" + rest +
           "5300000 7399999 nan 3411.1 60 inf 10 1347.4 -0.007 12 12 20 80 99999999999 1e10" +
           " 3 4 5 6 7 8 9 10 -99999999999\n" +
           "-30000000 0x1FFFFFFFF 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80" + rest);
    ASSERT_EQ(w->bandCount, 4);
    const ThresholdRow* rows = w->bandTable;
    EXPECT_EQ(rows[0].currentMax, 0.0f);
    EXPECT_EQ(rows[0].reflMax, 20.0f); // the fields after a refused one still read
    EXPECT_EQ(rows[1].pwinMax, 0.0f);
    EXPECT_EQ(rows[1].currentMax, 12.0f);
    EXPECT_EQ(rows[1].reflMax, 0.0f);
    EXPECT_EQ(rows[1].fwdMax, 0.0f);
    EXPECT_EQ(rows[2].kFwd, 0.0f);          // P refused: 0 / V^2
    EXPECT_TRUE(std::isinf(rows[2].kRefl)); // V refused: P / 0, as a zero V gives
    EXPECT_EQ(rows[2].tuneStartL[0], 0);
    // "1e10" is 1 followed by text: the numbers after it do not parse, as before.
    EXPECT_EQ(rows[2].tuneStartC[0], 1);
    EXPECT_EQ(rows[2].tuneStartL[1], 0);
    EXPECT_EQ(rows[3].freqStart, 0u);
    EXPECT_EQ(rows[3].freqEnd, 0u);
    EXPECT_EQ(rows[3].kIn, 10.0f / (1347.4f * 1347.4f));
    // The filter table's the same way.
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/filter.txt",
                          "-1700000 2100000 1\n3400000 99999999999 1\n5300000 7400000 "
                          "99999999999999999999\n7000000 7300000 257\n"));
    LoadTabFiltri(w.get());
    EXPECT_EQ(w->filterTable[0].low, 0u);
    EXPECT_EQ(w->filterTable[0].high, 2100000u);
    EXPECT_EQ(w->filterTable[1].high, 0u);
    EXPECT_EQ(w->filterTable[2].enabled, 0);
    EXPECT_EQ(w->filterTable[3].enabled, 1); // only the low byte counts, as always

    const std::string log = syslog();
    for (const char* line :
         {"3 config.txt row 1: current threshold \"-3e7\" is outside 0..3.40282e+38, refused; 0 "
          "kept",
          "3 config.txt row 2: input power threshold \"nan\" is not a finite number, refused; 0 "
          "kept",
          "3 config.txt row 3: forward P \"nan\" is not a finite number",
          "3 config.txt row 3: tune start L \"99999999999\" is outside -2147483648..2147483647",
          "3 config.txt row 4: start \"-30000000\" is negative, refused; 0 kept",
          "3 config.txt row 4: end \"0x1FFFFFFFF\" does not fit 32 bits, refused; 0 kept",
          "3 filter.txt row 3: enabled \"99999999999999999999\" is outside"})
        EXPECT_TRUE(Contains(log, line)) << line;
    // (The counts such rows send stay within 0..4095: the config_fuzz target.)
}

// The filter command goes out when the filter changes. (Which row's mask, the
// first enabled row that holds the frequency: the config_fuzz target, whose
// seeds hold this table.)
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
    EXPECT_TRUE(at(2100000).empty()); // both ends belong to the row
    // No row: mask 0 goes out once.
    EXPECT_EQ(at(10100000), std::vector<int>{kCmdFilter});
    EXPECT_TRUE(at(10200000).empty());
}

} // namespace
