// Thermistor conversion, fan table and hysteresis, and the date text.
#include "RootedWorks.h"

#include "amp/Temperature.h"

#include <cstdlib>

namespace {

class Temperatures : public RootedWorks {
  protected:
    void TearDown() override {
        std::free(w->fanTable); // the program keeps its table; a test gives it back
        RootedWorks::TearDown();
    }
    void heat(float t) {
        readings([t](AmpReadings& r) {
            r.temp1 = t;
            r.temp2 = t - 5.0f;
        });
        searchPercentVentola(w.get());
    }
};

TEST(Thermistor, ReadingsToDegrees) {
    // (2048, just under 25 degrees: Decoder.StatusReadings.)
    EXPECT_FLOAT_EQ(CalcolaTemp(0), 80.0f);     // R = 0: the hot end, held at 80
    EXPECT_FLOAT_EQ(CalcolaTemp(4095), -10.0f); // open sensor: the cold end, held at -10
    // Exactly on a table point: R = 5.353 kOhm is 40 degrees.
    EXPECT_NEAR(CalcolaTemp(static_cast<uint16_t>(4095 * 5.353 / 15.353 + 0.5)), 40.0f, 0.1f);
    // Monotonic: a larger reading (more resistance) is colder.
    float last = 100.0f;
    for (int r = 100; r < 4000; r += 50) {
        float t = CalcolaTemp(static_cast<uint16_t>(r));
        EXPECT_LE(t, last) << r;
        last = t;
    }
}

TEST_F(Temperatures, FanStepsUpAtOnceAndDownWithHysteresis) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/ventola.txt",
                          "; temperature level\r\n30 0\r\n45.0\t50\r\n60 100.7\r\n"));
    ReadVentolaFile(w.get());
    ASSERT_EQ(w->fanCount, 3);
    EXPECT_EQ(w->fanTable[2].level, 100); // truncated
    EXPECT_FLOAT_EQ(SearchTemperatureFromVentola(w.get(), 7), 0.0f);
    w->settings.hysteresis2 = 3;
    // The heat sink's temperature, the level then, and whether "FN" goes out: 45 - 3
    // <= 42 stays; at or above the last row the first row's level is wanted and
    // the last level stays.
    const struct {
        float temp;
        int level;
        bool sent;
    } steps[] = {{44.0f, 0, false}, {45.0f, 50, true}, {42.0f, 50, false},
                 {41.9f, 0, true},  {50.0f, 50, true}, {61.0f, 50, false}};
    for (const auto& s : steps) {
        heat(s.temp);
        EXPECT_EQ(w->fanLevel, s.level) << s.temp;
        EXPECT_EQ(queued(), s.sent ? std::vector<int>{kCmdFan} : std::vector<int>{}) << s.temp;
    }
    EXPECT_EQ(w->fanWanted, 0);
}

// Hand-edited numbers that do not fit: refused with a log line, the field left
// at 0 as a number that does not parse. (That every level that can go out is
// within three digits, whatever the file, the config_fuzz target checks.)
TEST_F(Temperatures, FanNumbersOutOfRangeAreRefusedAndLogged) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/ventola.txt",
                          "30 1e10\n40 nan\n45 -5\nnan 20\ninf 30\n50 1000\n55 999.9\n60 -3e7\n"));
    ReadVentolaFile(w.get());
    ASSERT_EQ(w->fanCount, 8);
    const int levels[8] = {0, 0, 0, 20, 30, 0, 999, 0};
    const float temps[8] = {30, 40, 45, 0, 0, 50, 55, 60};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(w->fanTable[i].level, levels[i]) << i;
        EXPECT_EQ(w->fanTable[i].temp, temps[i]) << i;
    }
    // The line names the file, the row and the field (its form for each kind of
    // refusal: Bands.NumbersOutOfRangeAreRefusedAndLogged).
    EXPECT_TRUE(Contains(
        syslog(), "3 ventola.txt row 8: fan level \"-3e7\" is outside 0..999, refused; 0 kept"));
}

TEST_F(Temperatures, MissingFanTableSendsNothing) {
    ReadVentolaFile(w.get());
    EXPECT_EQ(w->fanCount, 0);
    EXPECT_TRUE(Contains(syslog(), "3 can't open /opt/set/ventola.txt"));
    heat(70.0f);
    EXPECT_TRUE(queued().empty());
}

TEST_F(Temperatures, DateText) {
    ReadDataOra(w.get());
    std::string d = w->dateText.get().s;
    ASSERT_EQ(d.size(), 19u);
    EXPECT_EQ(d[4], '-');
    EXPECT_EQ(d[13], ':');
}

} // namespace
