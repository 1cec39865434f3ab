// The tuner memory end to end: a frequency change recalls the stored word on the
// wire, manual steps and the store key write the tuner file, the bank key loads
// another bank.
#include "AmpLinked.h"

#include "tuner/Banks.h"
#include "tuner/TunerRequests.h"
#include "ui/KeyActions.h"

namespace {

class TunerMemory : public AmpLinked {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AmpLinked::SetUp());
        // Bank 0: 20 m uses the tuner on output 1, 40 m has it bypassed.
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna.txt",
                              "!Gen\n40m 7000000 7300000 1 1 1 0 0.0\n"
                              "20m 14000000 14350000 1 1 0 0 0.0\n"
                              "17m 18068000 18168000 1 1 0 0 0.0\n"));
        // A setting stored for 14.070 MHz: CL, L 100, C 200.
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/atu_ant1.txt", "3117 14070000 1 1 100 200\n"));
        LoadAllBankTable(w.get(), 0);
        ASSERT_NO_FATAL_FAILURE(startLink());
    }
    // The operating frequency changes (as from the amplifier's own counter).
    void tuneTo(int hz) {
        w->ModeWorkIdx = 0;
        w->source[kModeGeneric].freqHz = hz;
        TimerTick(w.get());
    }
    bool tunerBypassed() {
        return WaitFor([&] { return (AmpModelTunerWord(amp) & kModeBypass) != 0; }, 10000);
    }
};

TEST_F(TunerMemory, FrequencyChangeRecallsNeutralOrBypassWords) {
    tuneTo(14071000); // the segment of the stored setting
    ASSERT_TRUE(onWire(TunerWordCommand(100, 200, kModeCL), 3000));

    tuneTo(18100000); // nothing stored on 17 m: the neutral word
    ASSERT_TRUE(onWire("MT100800000;", 3000));

    tuneTo(7100000); // the tuner is bypassed on 40 m
    ASSERT_TRUE(tunerBypassed());
}

TEST_F(TunerMemory, ManualStepsAndTheStoreKeyWriteTheFile) {
    tuneTo(14200000); // the nearest stored setting of the band is recalled
    ASSERT_TRUE(onWire(TunerWordCommand(100, 200, kModeCL), 3000));
    // Manual tuning: page 3 key 6, then four "up C" and two "up L" steps.
    w->pages.keyPage = 3;
    DecodeTasto(w.get(), 6, 0);
    ASSERT_TRUE(WaitFor([&] { return CmdQueueEmpty(w.get()); }, 10000));
    const TunerView now = TunerSnapshot(w.get()); // the recalled setting, in CL
    ASSERT_EQ(now.mode, kTuneCL);
    const uint32_t c0 = now.c, l0 = now.l;
    for (int i = 0; i < 4; i++)
        DecodeTasto(w.get(), 5, 0);
    for (int i = 0; i < 2; i++)
        DecodeTasto(w.get(), 3, 0);
    ASSERT_TRUE(onWire(TunerWordCommand(l0 + 2, c0 + 4, kModeCL), 3000));
    // Store: key 1 chooses the target (this bank, this antenna), key 6 stores.
    DecodeTasto(w.get(), 1, 0);
    DecodeTasto(w.get(), 6, 0);
    EXPECT_EQ(w->pages.keyPage, 3);
    auto lines = ReadLines(dir.path + "/opt/set/atu_ant1.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "3117 14070000 1 1 100 200"); // ascending index order
    EXPECT_EQ(lines[1], "3130 14200000 1 1 " + std::to_string(l0 + 2) + " " + std::to_string(c0 + 4));
}

TEST_F(TunerMemory, BankKeyStoresTheBankAndAppliesIt) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna_b1.txt", "!Gen\n20m 14000000 14350000 1 3 1 0 0.0\n"));
    w->MAXbank = 20;
    w->source[kModeGeneric].freqHz = 14200000; // bank 1 works in mode 0: the amplifier's counter
    w->freqHz = 14200000;
    w->lastFreqHz = 14200000;
    // MEM: the next bank (its number: Banks.ChangingBankSavesTheSettingAndLoadsTheBank).
    DecodeTasto(w.get(), 1, 0);
    // The next tick re-applies the table: output 3 with the tuner bypassed.
    TimerTick(w.get());
    ASSERT_TRUE(onWire("SA3;", 3000));
    ASSERT_TRUE(tunerBypassed());
    EXPECT_EQ(AmpModelAntenna(amp), 3);
}

} // namespace
