// Key actions on the key pages: what each press changes and queues.
#include "RootedWorks.h"

#include "tuner/Banks.h"
#include "tuner/TuneWord.h"
#include "tuner/TunerRequests.h"
#include "ui/KeyActions.h"
#include "ui/Keys.h"
#include "ui/Menu.h"
#include "ui/Network.h"

#include <algorithm>

namespace {

class Keys : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        usePicture(dir.path); // no skins here: loads are refused, names stay
        w->startupFlags.replace(0);
        InitTabAntenna(w.get(), 0);
        w->ModeWorkIdx = 0;
    }
    // Each key action, then what the link thread does with its tuner requests
    // before it sends its next command.
    int press(int key) { return served(DecodeTasto(w.get(), key, 0)); }
    int hold(int key) { return served(DecodeTasto(w.get(), key, 1 << (key - 1))); }
    int served(int result) {
        TunerServeRequests(w.get());
        return result;
    }
    std::string bankFile() { return ReadFile(dir.path + BankFileName(w->NumBanco)); }
};

TEST_F(Keys, ScreenSaverWakeUpDoesNothingElse) {
    w->meters.saverOn = 1;
    w->lastKeyTime = 0;
    EXPECT_EQ(press(5), 0);
    EXPECT_EQ(w->meters.saverOn, 0);
    EXPECT_EQ(w->pages.keyPage, 0); // key 5 would have opened the menu
    EXPECT_GT(w->lastKeyTime, 0);
    press(5);
    EXPECT_EQ(w->pages.keyPage, 1);
}

// The next press acts: the antenna's command queued and each change saved.
TEST_F(Keys, WithTheStatusPageOpenAKeyOnlyClosesItThenTheAntennaKeyActsAndSavesTheBank) {
    hold(6);
    EXPECT_EQ(w->pages.viewFlags.load(), 1);
    EXPECT_TRUE(w->skinName.equals("status"));
    press(3);
    EXPECT_EQ(w->pages.viewFlags.load(), 0);
    EXPECT_EQ(w->antennaIdx, 0); // the antenna did not change
    EXPECT_TRUE(queued().empty());
    press(3); // now it acts
    EXPECT_EQ(w->antennaIdx, 1);
    EXPECT_EQ(queued(), std::vector<int>{kCmdAntenna});
    EXPECT_TRUE(Contains(bankFile(), "20m 14000000 14350000 1 2 0 0 0.0\n"));
    press(3);
    press(3);
    EXPECT_EQ(w->antennaIdx, 0); // after the third output comes the first
    EXPECT_TRUE(Contains(bankFile(), "20m 14000000 14350000 1 1 0 0 0.0\n")); // each press saved
}

// Each page's skin and plot span: ReferenceScreens.MainPagesOneToFive.
TEST_F(Keys, ScreenPagesCycleFromFiveBackToOne) {
    w->pages.screenPage = 5;
    w->meters.peakAngle[1] = 0.5f;
    press(6);
    EXPECT_EQ(w->pages.screenPage, 1);
    EXPECT_TRUE(w->skinName.equals("img1")); // the page's skin loaded
    EXPECT_FLOAT_EQ(w->meters.peakAngle[1], 0.0f);
    press(6);
    EXPECT_EQ(w->pages.screenPage, 2);
}

TEST_F(Keys, AttenuatorCycleWithoutAndWithTransmission) {
    w->ampBypass = 0;
    w->attenuatorShown = 0;
    // The attenuator shown after each of `n` presses, and the commands queued.
    auto presses = [&](int n, std::vector<int>* q) {
        std::vector<int> shown;
        for (int i = 0; i < n; i++)
            press(2), shown.push_back(w->attenuatorShown);
        *q = queued();
        return shown;
    };
    std::vector<int> q;
    EXPECT_EQ(presses(5, &q), (std::vector<int>{1, 2, 3, 4, 0})); // 2, 3, 5 dB, standby, 0 dB
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdAtt), 4);
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdBypassOn), 1);
    // While transmitting, standby is skipped.
    readings([](AmpReadings& r) { r.ampStatus2 = 1; });
    EXPECT_EQ(presses(4, &q), (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdBypassOn), 0);
    // In standby while transmitting the key is refused with alarm 17.
    w->ampBypass = 1;
    w->attenuatorShown = 4;
    press(2);
    EXPECT_TRUE(ExistError(w.get(), 17));
    // Each change is stored in the bank's row of the frequency (20 m).
    EXPECT_TRUE(Contains(bankFile(), "20m 14000000 14350000"));
}

// The memory table: a long press of key 1 opens it, its keys move the row (wrapping),
// lead to its editor and the bank utilities (whose key 1 leads back), and key 1 goes
// back to the main page; the tuner page returns there too while no search runs.
TEST_F(Keys, MemoryTableAndTunerPageOpenAndLeadBack) {
    hold(1);
    EXPECT_EQ(w->pages.keyPage, kPageMemTable);
    EXPECT_TRUE(w->pages.viewFlags.test(2));
    const int rows = w->antennaRowCount;
    ASSERT_GT(rows, 1);
    w->pages.editRow = 0;
    press(3);
    EXPECT_EQ(w->pages.editRow, rows - 1);
    press(4);
    EXPECT_EQ(w->pages.editRow, 0);
    press(6);
    EXPECT_EQ(w->pages.keyPage, kPageMemEdit);
    EXPECT_EQ(w->pages.editColumn, 0);
    press(1); // the editor's exit reloads the bank and shows the table again
    EXPECT_EQ(w->pages.keyPage, kPageMemTable);
    EXPECT_EQ(w->pages.editColumn, -1);
    press(5);
    EXPECT_EQ(w->pages.keyPage, kPageBankUtil);
    w->ModeWorkIdx = 2;
    KeyLabels[kPageMemTable].line2[1].set("stale");
    press(1); // back to the table, its interface label new at once
    EXPECT_EQ(w->pages.keyPage, kPageMemTable);
    EXPECT_TRUE(KeyLabels[kPageMemTable].line2[1].equals(" FT-817"));
    press(1);
    EXPECT_EQ(w->pages.keyPage, kPageMain);
    EXPECT_FALSE(w->pages.viewFlags.test(2));

    w->pages.keyPage = kPageTuner;
    w->tuneState = 1; // a search runs: the page stays
    press(1);
    EXPECT_EQ(w->pages.keyPage, kPageTuner);
    w->tuneState = 0;
    press(1);
    EXPECT_EQ(w->pages.keyPage, kPageMain);
}

TEST_F(Keys, BankResetChoicesCycleThroughAll) {
    w->MAXbank = 4;
    w->pages.keyPage = 11;
    w->pages.resetTarget = 0;
    std::vector<std::string> labels;
    for (int i = 0; i < 6; i++) {
        LblRESET(w.get());
        labels.push_back(KeyLabels[11].line2[1].get().s);
        press(2);
    }
    EXPECT_EQ(labels,
              (std::vector<std::string>{"    0", "    1", "    2", "    3", "  ALL", "    0"}));
}

// Moving through the menu with the keys is worked end to end by ServiceMenu.*
// (back from the first entry to the last) and KeysThread.ShortPressActsOnRelease;
// here: on from the last entry to the first, and on the editing page each key's
// action, a held key repeating where the entry's action does.
TEST_F(Keys, MenuWrapsToItsFirstEntryAndEachEditingKeyActsAsItsEntryDoes) {
    w->pages.keyPage = 1;
    w->pages.menuEntry = MenuEntryCount() - 1;
    press(4);
    EXPECT_EQ(w->pages.menuEntry, 0);
    w->pages.keyPage = 2;
    w->pages.menuEntry = 5; // Target SWR
    EXPECT_EQ(press(5), 1);
    EXPECT_FLOAT_EQ(w->settings.swrEscAutoTune, 1.0f);
    w->pages.menuEntry = 10; // SUBNET: keys 3 and 2 move its cursor, wrapping
    lan.CntNetMask = 3;
    press(3);
    EXPECT_EQ(lan.CntNetMask, 0);
    press(2);
    EXPECT_EQ(lan.CntNetMask, 3);
    w->pages.menuEntry = 0; // MAX BANK
    EXPECT_EQ(press(4), 0);
    EXPECT_EQ(w->MAXbank, 19);
    press(6); // ENTER saves it and goes back to choosing
    EXPECT_TRUE(Contains(ReadFile(dir.path + "/opt/set/setup.txt"), "MAXbank: 19\n"));
    EXPECT_EQ(w->pages.keyPage, kPageMenuChoose);
}

TEST_F(Keys, ManualTuningStepsAreRequestsTheLinkCarriesOut) {
    w->pages.keyPage = 3;
    press(6);
    EXPECT_EQ(w->pages.keyPage, 4);
    EXPECT_EQ(queued(), std::vector<int>{kCmdTuneQuery});
    w->tuner.tuneL = 510;
    EXPECT_EQ(hold(3), 1); // up L repeats
    EXPECT_EQ(w->tuner.tuneL, 511u);
    EXPECT_EQ(DecodeInduttanzaFromTuneval(w->tunerWord), 511u);
    hold(3); // stops at 511
    EXPECT_EQ(w->tuner.tuneL, 511u);
    w->tuner.tuneC = 0;
    press(4); // down C stops at 0
    EXPECT_EQ(w->tuner.tuneC, 0u);
    press(5);
    EXPECT_EQ(DecodeCapacitaFromTuneval(w->tunerWord), 1u);

    // The carrier key: start, then stop (RX+TX on one coax: the AN check goes off first).
    readings([](AmpReadings& r) { r.ampStatus1 = 1; });
    press(6);
    EXPECT_EQ(w->txButtonFlags.load(), 0x13);
    EXPECT_TRUE(KeyLabels[4].line1[5].equals("StopTX"));
    press(6);
    EXPECT_EQ(w->txButtonFlags.load(), 0x01);
    EXPECT_TRUE(KeyLabels[4].line1[5].equals("StartTX"));

    // Storing a bypass setting is refused with a notice.
    press(1);
    EXPECT_EQ(w->pages.keyPage, 8);
    SetMode(w.get(), kTuneBypass);
    press(6);
    EXPECT_TRUE(w->pages.keyNotice.test(2));
    EXPECT_EQ(w->pages.keyPage, 3);
}

TEST_F(Keys, DeviceErrorPageRetryAndGiveUp) {
    w->pages.keyPage = 5;
    w->deviceErrorCode = 3;
    setup->serialLinkEnabled = '1';
    press(6);
    EXPECT_EQ(setup->serialLinkEnabled, '0');
    EXPECT_EQ(w->deviceErrorCode, -1);
}

} // namespace
