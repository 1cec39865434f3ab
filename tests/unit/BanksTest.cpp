// Antenna bank tables: file format, defaults, the work-mode marker, editing,
// bank switching and the bank sequences.
#include "RootedWorks.h"

#include "tuner/Banks.h"
#include "tuner/TuneMem.h"

#include <algorithm>

namespace {

class Banks : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        setup->serialLinkEnabled = '0';
        setup->catSerialEnabled = '0';
    }
    std::string file(int bank) { return dir.path + BankFileName(bank); }
    std::string name(int row) { return w->antennaTable[row].name.get().s; }
    // A row in the order of its line in the file: name, range, amplifier, antenna,
    // tuner bypass, attenuator step, power.
    std::string row(int i) {
        const AntennaRow& r = w->antennaTable[i];
        char b[96];
        std::snprintf(b, sizeof b, "%s %u %u %d %d %d %d %.1f", r.name.get().s, r.freqLow.load(),
                      r.freqHigh.load(), r.ampEnable.load(), r.antenna.load(), r.atuBypass.load(),
                      r.attStep.load(), r.pwr.load());
        return b;
    }
};

TEST_F(Banks, FileNamesOfTheTwentyBanksAndTheDefaultsOfAMissingOne) {
    // (Bank 0's name: Banks.SettingsOutOfRangeAreRefusedAndLogged's log line.)
    EXPECT_EQ(BankFileName(1), "/opt/set/antenna_b1.txt");
    EXPECT_EQ(BankFileName(19), "/opt/set/antenna_b19.txt");
    EXPECT_EQ(BankFileName(20), "/opt/set/antenna.txt");
    w->antennaTable[0].antenna = 3;
    EXPECT_EQ(LoadTabConfig(w.get(), 4), 0);
    EXPECT_EQ(w->antennaRowCount, 11);
    EXPECT_EQ(row(0), "160m 1800000 2000000 0 1 1 0 0.0");
    EXPECT_EQ(row(10), "6m 50000000 54000000 0 1 1 0 0.0");
}

TEST_F(Banks, RowsMarkerCommentsTheElevenRowLimitAndAMarkerAlone) {
    std::string text = "; bank for the contest station\r\n!Tav\r\n";
    for (int i = 0; i < 12; i++)
        text += "b" + std::to_string(i) + " " + std::to_string(1000000 * (i + 1)) + " 0x" +
                "F4240 1 2 0 3 12.5\n";
    ASSERT_TRUE(WriteFile(file(2), text));
    w->antennaRowIdx = 3; // a row of the bank before: evaluated again after the load
    EXPECT_EQ(LoadTabConfig(w.get(), 2), 1);
    EXPECT_EQ(w->antennaRowCount, 11);                    // twelve rows, eleven kept
    EXPECT_EQ(row(3), "b3 4000000 1000000 1 2 0 3 12.5"); // the high end in hexadecimal
    EXPECT_EQ(row(10), "b10 11000000 1000000 1 2 0 3 12.5");
    EXPECT_EQ(w->antennaRowIdx, kNoAntennaRow);
    // A marker alone is an empty table in its mode. (No row holds a frequency
    // then: TuneMem.AntennaRowOfTheFrequencyIsApplied.)
    ASSERT_TRUE(WriteFile(file(0), "; nothing but the interface\n!817\n"));
    EXPECT_EQ(LoadTabConfig(w.get(), 0), 2);
    EXPECT_EQ(w->antennaRowCount, 0);
}

TEST_F(Banks, NamesOfEightAndNineCharacters) {
    ASSERT_TRUE(WriteFile(file(0), "160meters 1800000 2000000 1 1 0 0 0.0\n"
                                   "80meters 3500000 4000000 1 2 0 1 0.0\n"));
    LoadTabConfig(w.get(), 0);
    // Nine characters: the numbers start inside the name, the frequencies read
    // as 0, and names and ranges go back to the defaults; the settings stay.
    EXPECT_EQ(w->antennaRowCount, 11);
    EXPECT_EQ(row(1), "80m 3500000 4000000 1 2 0 1 0.0");

    ASSERT_TRUE(WriteFile(file(0), "80meters 3500000 4000000 1 2 0 1 0.0\n"));
    LoadTabConfig(w.get(), 0);
    EXPECT_EQ(w->antennaRowCount, 1);
    EXPECT_EQ(row(0), "80meter 3500000 4000000 1 2 0 1 0.0"); // cut to seven, the eighth lost
}

// (Each source's marker read as its mode, its poll started and the others'
// ended: Sources/EachSource.ItsModeRunsItsThreadAlone*/*,
// HamlibSource.LeavingModeThreeEndsThePollAndTheShutdownIsPrompt.)
TEST_F(Banks, SavingWritesTheMarkerFirstAndTheLiveStateOfTheRows) {
    ASSERT_TRUE(WriteFile(file(0), "!Ham\n20m 14000000 14350000 0 3 1 1 0.0\n"));
    w->NumBanco = 0;
    w->antennaIdx = 1;
    w->tunerBypass = 0;
    w->attenuator = 3;
    w->attenuatorShown = 3;
    w->ModeWorkIdx = LoadTabConfig(w.get(), 0);
    ChangeInterfaceBanco(w.get()); // 3 -> 0
    EXPECT_EQ(w->ModeWorkIdx, 0);
    // The generic marker, and the band with its live state: the amplifier in
    // line, output 2 through the tuner, the third attenuator step.
    EXPECT_EQ(ReadFile(file(0)), "!Gen\n20m 14000000 14350000 1 2 0 3 0.0\n");
    EXPECT_FALSE(FileExists(file(0) + ".new"));
}

// The Hamlib marker is written back byte for byte as the others; an older unit's
// file never has it, and a longer word that begins with it is still it.
TEST_F(Banks, MarkersRoundTrip) {
    for (const char* marker : {"!Gen", "!Tav", "!817", "!Ham"}) {
        const std::string text = std::string(marker) + "\n40m 7000000 7300000 1 2 0 1 0.0\n";
        ASSERT_TRUE(WriteFile(file(3), text));
        w->ModeWorkIdx = LoadTabConfig(w.get(), 3);
        SaveTabConfig(w.get(), 3);
        EXPECT_EQ(ReadFile(file(3)), text) << marker;
    }
    ASSERT_TRUE(WriteFile(file(3), "; rig\n!Hamlib\n40m 7000000 7300000 1 2 0 1 0.0\n"));
    EXPECT_EQ(LoadTabConfig(w.get(), 3), kModeHamlib);
}

// A name read after leading blanks may begin with ';' or '!'. Written at the
// start of a line it would come back as a comment (the row lost) or as the
// work-mode marker (the interface changed); it is written after a blank instead.
TEST_F(Banks, NamesBeginningWithACommentOrMarkerSurviveASave) {
    ASSERT_TRUE(WriteFile(file(3), "!Tav\n  ;40m 7000000 7300000 1 2 0 1 5.5\n"
                                   "\t!817 14000000 14350000 1 3 1 2 0.0\n"
                                   "20m 14350001 14400000 0 1 1 0 0.0\n"));
    w->ModeWorkIdx = LoadTabConfig(w.get(), 3);
    ASSERT_EQ(w->ModeWorkIdx, 1);
    ASSERT_EQ(w->antennaRowCount, 3);
    EXPECT_EQ(name(0), ";40m");
    EXPECT_EQ(name(1), "!817");
    EXPECT_TRUE(Contains(
        syslog(),
        "6 antenna_b3.txt row 1: name \";40m\" begins with ';', kept after a blank when saved"));

    SaveTabConfig(w.get(), 3);
    EXPECT_EQ(ReadFile(file(3)),
              "!Tav\n ;40m 7000000 7300000 1 2 0 1 5.5\n !817 14000000 14350000 1 3 1 2 0.0\n"
              "20m 14350001 14400000 0 1 1 0 0.0\n"); // other names as they were
    // (Read back to the same rows: the config_fuzz target, this file among its seeds.)
}

// Settings outside the ranges their keys step through (amplifier and tuner
// bypass 0..1, antenna 0..3, attenuator 0..3) and frequencies that do not fit
// 32 bits are refused with a log line and read 0, as a number that does not
// parse; an antenna of 200 once became output 199.
TEST_F(Banks, SettingsOutOfRangeAreRefusedAndLogged) {
    ASSERT_TRUE(WriteFile(file(0), "40m 7000000 7300000 2 200 1 9 nan\n"
                                   "20m 14000000 14350000 1 -1 7 3 1e39\n"));
    LoadTabConfig(w.get(), 0);
    ASSERT_EQ(w->antennaRowCount, 2);
    EXPECT_EQ(row(0), "40m 7000000 7300000 0 0 1 0 0.0");
    EXPECT_EQ(row(1), "20m 14000000 14350000 1 0 0 3 0.0");
    // The line names the file, the row and the field (its form for each kind of
    // refusal: Bands.NumbersOutOfRangeAreRefusedAndLogged).
    EXPECT_TRUE(Contains(
        syslog(), "3 antenna.txt row 2: tuner bypass \"7\" is outside 0..1, refused; 0 kept"));

    // A refused frequency reads 0, which brings back the default names and ranges.
    ASSERT_TRUE(WriteFile(file(0), "15m -21000000 21450000 1 1 0 0 0.0\n"
                                   "10m 28000000 0x1FFFFFFFF 1 1 0 0 0.0\n"));
    LoadTabConfig(w.get(), 0);
    EXPECT_EQ(w->antennaRowCount, 11);
    EXPECT_EQ(name(0), "160m");
}

TEST_F(Banks, CellEditingSteps) {
    InitTabAntenna(w.get(), 0);
    w->pages.editRow = 2;
    AntennaRow& r = w->antennaTable[2];
    // The column, its setting before, the key (0 up, 1 down) and the setting after:
    // outputs wrap above 3 and below 1 (0 - 1 too), a step of 0 stays 0 going
    // down, the amplifier toggles, and a column that is none changes nothing.
    const struct {
        int column;
        Shared<uint8_t> AntennaRow::*cell;
        int before, down, after;
    } steps[] = {{3, &AntennaRow::antenna, 3, 0, 1},  {3, &AntennaRow::antenna, 1, 1, 3},
                 {3, &AntennaRow::antenna, 0, 1, 1},  {1, &AntennaRow::attStep, 3, 0, 0},
                 {1, &AntennaRow::attStep, 0, 1, 0},  {2, &AntennaRow::ampEnable, 0, 1, 1},
                 {7, &AntennaRow::ampEnable, 1, 1, 1}};
    for (const auto& s : steps) {
        w->pages.editColumn = s.column;
        r.*s.cell = static_cast<uint8_t>(s.before);
        ModifytabAntenna(w.get(), s.down);
        EXPECT_EQ(r.*s.cell, s.after) << s.column << " " << s.before << " " << s.down;
    }
    w->pages.editColumn = 0; // the power figure
    ModifytabAntenna(w.get(), 0);
    ModifytabAntenna(w.get(), 0);
    EXPECT_NEAR(r.pwr, 0.2f, 1e-6);
}

TEST_F(Banks, ChangingBankSavesTheSettingAndLoadsTheBank) {
    ASSERT_TRUE(WriteFile(file(1), "!Gen\n20m 14000000 14350000 1 3 0 0 0.0\n"));
    w->NumBanco = 0;
    w->MAXbank = 20;
    ChangeBanco(w.get());
    EXPECT_EQ(w->NumBanco, 1);
    EXPECT_TRUE(Contains(ReadFile(dir.path + "/opt/set/setup.txt"), "NumBanco: 1\n"));
    EXPECT_EQ(w->antennaRowCount, 1);
    EXPECT_EQ(w->antennaTable[0].antenna, 3);

    w->MAXbank = 1; // one bank: always bank 0, reloaded
    ChangeBanco(w.get());
    EXPECT_EQ(w->NumBanco, 0);
    ChangeBanco(w.get());
    EXPECT_EQ(w->NumBanco, 0);
    EXPECT_EQ(w->antennaRowCount, 11);
}

TEST_F(Banks, CopyAndResetOfBanks) {
    ASSERT_TRUE(WriteFile(file(3), "!Tav\n20m 14000000 14350000 1 3 0 0 0.0\n"));
    ASSERT_TRUE(WriteFile(dir.path + TuneMemFileName(3, 0), "3117 14070000 1 1 5 6\n"));
    ASSERT_TRUE(WriteFile(file(0), "!Gen\n40m 7000000 7300000 1 1 1 0 0.0\n"));
    w->NumBanco = 0;
    LoadAllBankTable(w.get(), 0);
    CopyBank(w.get(), 3, 9);
    // The copy keeps the origin's interface although the current bank is generic.
    EXPECT_EQ(ReadFile(file(9)), "!Tav\n20m 14000000 14350000 1 3 0 0 0.0\n");
    EXPECT_EQ(w->ModeWorkIdx, 0);
    EXPECT_EQ(ReadFile(dir.path + TuneMemFileName(9, 0)), "3117 14070000 1 1 5 6\n");
    // The current bank is back in memory, not the origin's rows.
    EXPECT_EQ(w->antennaRowCount, 1);
    EXPECT_EQ(name(0), "40m");

    ResetBank(w.get(), 9);
    EXPECT_FALSE(FileExists(file(9)));
    EXPECT_FALSE(FileExists(dir.path + TuneMemFileName(9, 0)));
    EXPECT_TRUE(FileExists(file(3)));
    auto cmds = commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "rm -f /opt/set/antenna_b9.txt"), cmds.end());
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "rm -f /opt/set/atu_ant3_b9.txt"), cmds.end());

    w->MAXbank = 5; // all banks: 0..4
    ResetBank(w.get(), 5);
    EXPECT_FALSE(FileExists(file(3)));
    EXPECT_FALSE(FileExists(file(0)));
    EXPECT_EQ(w->antennaRowCount, 11); // the current bank reads back as the defaults
}

} // namespace
