// FACTORY DEFAULT: the files go, and so do the tables they were loaded into.
#include "RootedWorks.h"

#include "tuner/Banks.h"
#include "tuner/TuneMem.h"
#include "ui/Menu.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class FactoryDefault : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        setup->serialLinkEnabled = '0';
        setup->catSerialEnabled = '0';
    }
    void act(int action) {
        w->pages.menuEntry = 24;
        ModifyParameter(w.get(), action);
    }
};

TEST_F(FactoryDefault, TheNextSaveToTheBankWritesTheDefaultsNotTheOldRows) {
    // Bank 1 in use, with an operator's row and a stored tuner setting.
    w->NumBanco = 1;
    ASSERT_TRUE(WriteFile(dir.path + BankFileName(1), "!Tav\ncontest 14000000 14350000 1 2 0 3 12.5\n"));
    ASSERT_TRUE(WriteFile(dir.path + TuneMemFileName(1, 0), "3117 14070000 1 1 30 40\n"));
    LoadAllBankTable(w.get(), 1);
    ASSERT_EQ(std::string(w->antennaTable[0].name.get().s), "contest");
    ASSERT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).valid, 1);

    act(kMenuPlus);
    act(kMenuEnter);
    EXPECT_FALSE(FileExists(dir.path + BankFileName(1)));
    EXPECT_FALSE(FileExists(dir.path + TuneMemFileName(1, 0)));
    // The tables in memory are the defaults of the bank now in use.
    EXPECT_EQ(w->antennaRowCount, 11);
    EXPECT_EQ(std::string(w->antennaTable[0].name.get().s), "160m");
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).valid, 0);
    EXPECT_EQ(w->antennaRowIdx, kNoAntennaRow);

    SaveToBank(w.get(), w->NumBanco, 0);
    std::string bank = ReadFile(dir.path + BankFileName(w->NumBanco));
    EXPECT_FALSE(Contains(bank, "contest")) << bank;
    EXPECT_TRUE(Contains(bank, "160m ")) << bank;
    EXPECT_FALSE(Contains(ReadFile(dir.path + TuneMemFileName(w->NumBanco, 0)), "3117 "));
}

} // namespace
