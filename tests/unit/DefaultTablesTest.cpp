// The tables a new unit starts with (appliance/defaults, installed by the
// package and copied into /opt/set by its start step): they load with the
// program's own readers, without a complaint, and make the choices a unit
// needs; the start step fills in only what /opt/set lacks.
#include "RootedWorks.h"

#include "amp/Temperature.h"
#include "tuner/Bands.h"

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace {

const std::string kDefaults = PANEL_SOURCE_DIR "/appliance/defaults";
const std::string kSeeder = PANEL_SOURCE_DIR "/appliance/panel-defaults";

class DefaultTables : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        for (const char* t : {"config.txt", "filter.txt", "ventola.txt"})
            std::filesystem::copy_file(kDefaults + "/" + t, dir.path + "/opt/set/" + t,
                                       std::filesystem::copy_options::overwrite_existing);
    }
    // The program loads its tables once and keeps them; a test gives them back.
    void TearDown() override {
        std::free(w->bandTable);
        std::free(w->fanTable);
        RootedWorks::TearDown();
    }
};

TEST_F(DefaultTables, LoadWithoutAnErrorAndCoverEveryAmateurBand) {
    ReadConfigFile(w.get());
    LoadTabFiltri(w.get());
    ReadVentolaFile(w.get());
    for (const std::string& line : ReadLines(dir.path + "/syslog.log"))
        EXPECT_NE(line.rfind("3 ", 0), 0u) << line; // no error line
    // Rows in ascending order.
    for (int i = 1; i < w->bandCount; i++)
        EXPECT_GT(w->bandTable[i].freqStart, w->bandTable[i - 1].freqStart) << i;
    // Every amateur band has a filter and a band row.
    const uint32_t bands[] = {1840000,  3573000,  5357000,  7074000,  10136000, 14074000,
                              18100000, 21074000, 24915000, 28074000, 50313000};
    for (uint32_t hz : bands) {
        bool filtered = false;
        for (const FilterRange& f : w->filterTable)
            filtered |= f.enabled == 1 && f.low <= hz && hz <= f.high;
        EXPECT_TRUE(filtered) << hz;
        bool row = false;
        for (int i = 0; i < w->bandCount; i++)
            row |= w->bandTable[i].freqStart <= hz && hz <= w->bandTable[i].freqEnd;
        EXPECT_TRUE(row) << hz;
    }
}

// The fan table's last row only closes the range before it: a hot heat sink
// must get full speed, not fall back to the first row's level.
TEST_F(DefaultTables, TheFanRunsFullFromSixtyDegreesToTheTopOfTheReadings) {
    ReadVentolaFile(w.get());
    for (float t : {65.0f, 80.0f}) {
        PublishAmpReadings(w.get(), {.temp1 = t, .temp2 = 20.0f});
        w->fanLevel = 0;
        searchPercentVentola(w.get());
        EXPECT_EQ(w->fanWanted, 100) << t;
    }
}

// Runs the start step on `setDir`; its exit status, its output in `out`.
int runSeeder(const std::string& setDir, std::string* out) {
    TempDir tmp;
    const std::string log = tmp.path + "/out";
    const std::string cmd =
        "'" + kSeeder + "' '" + setDir + "' '" + kDefaults + "' >'" + log + "' 2>&1";
    const int st = std::system(cmd.c_str());
    *out = ReadFile(log);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(DefaultTablesSeeder, FillsInWhatIsMissingAndNeverTouchesTheOperatorsTables) {
    TempDir dir;
    const std::string set = dir.path + "/opt/set";
    // A new unit: no folder at all.
    std::string out;
    EXPECT_EQ(runSeeder(set, &out), 0);
    EXPECT_TRUE(Contains(out, "panel-defaults: " + set + "/config.txt written from")) << out;
    for (const char* t : {"config.txt", "filter.txt", "ventola.txt"})
        EXPECT_EQ(ReadFile(set + "/" + t), ReadFile(kDefaults + "/" + t)) << t;

    // The operator's own tables, and one removed by hand.
    ASSERT_TRUE(WriteFile(set + "/filter.txt", "; mine\n1800000 2000000 1\n"));
    ASSERT_TRUE(WriteFile(set + "/setup.txt", "EnableKeyb: 1\n"));
    std::filesystem::remove(set + "/ventola.txt");
    const auto configTime = std::filesystem::last_write_time(set + "/config.txt");
    EXPECT_EQ(runSeeder(set, &out), 0);
    EXPECT_FALSE(Contains(out, "filter.txt")) << out;
    EXPECT_EQ(ReadFile(set + "/filter.txt"), "; mine\n1800000 2000000 1\n");
    EXPECT_EQ(ReadFile(set + "/setup.txt"), "EnableKeyb: 1\n");
    EXPECT_EQ(std::filesystem::last_write_time(set + "/config.txt"), configTime);
    EXPECT_EQ(ReadFile(set + "/ventola.txt"), ReadFile(kDefaults + "/ventola.txt"));
}

// /proc takes no new folder, not even from root.
TEST(DefaultTablesSeeder, AFolderItCannotWriteIsReportedAndThePanelStartsAnyway) {
    std::string out;
    EXPECT_EQ(runSeeder("/proc/amp-panel-test/opt/set", &out), 0);
    EXPECT_TRUE(Contains(out, "panel-defaults: can't create /proc/amp-panel-test/opt/set")) << out;
    EXPECT_TRUE(
        Contains(out, "panel-defaults: can't write /proc/amp-panel-test/opt/set/config.txt"))
        << out;
}

} // namespace
