// Every entry of the settings menu: its edit rule, the value text it shows, what
// ENTER stores (key and scaling) or does, and which actions repeat.
#include "RootedWorks.h"

#include "amp/Alarms.h"
#include "amp/LinearPort.h"
#include "tuner/Banks.h"
#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Time.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class Menu : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
    }
    // Applies `action` to `entry`; the repeat flag.
    int act(int entry, int action) {
        w->pages.menuEntry = entry;
        return ModifyParameter(w.get(), action);
    }
    std::string shown(int entry, int item = 0) {
        char text[64];
        LoadParameterMenu(w.get(), text, sizeof text, entry, item);
        return text;
    }
    // The value a key has in the setup file; "" when the file or the key is missing.
    std::string saved(const std::string& key) {
        for (const std::string& line : ReadLines(setupPath()))
            if (line.rfind(key + ": ", 0) == 0)
                return line.substr(key.size() + 2);
        return "";
    }
    std::string setupPath() const { return dir.path + "/opt/set/setup.txt"; }
    void forgetFile() { std::remove(setupPath().c_str()); }
    // The values shown after each of a list of actions.
    std::vector<std::string> trail(int entry, const std::vector<int>& actions) {
        std::vector<std::string> out;
        for (int a : actions) {
            act(entry, a);
            out.push_back(shown(entry));
        }
        return out;
    }
    bool fileWritten() const { return FileExists(setupPath()); }
};

using V = std::vector<std::string>;

TEST_F(Menu, MaxBankWrapsAndSavesOnEnterAndLeftRight) {
    w->MAXbank = 20;
    EXPECT_EQ(shown(0), "20");
    EXPECT_EQ(act(0, kMenuPlus), 0);
    EXPECT_EQ(shown(0), "2");
    act(0, kMenuMinus);
    EXPECT_EQ(shown(0), "20");
    act(0, kMenuMinus);
    forgetFile();
    act(0, kMenuLeft);
    EXPECT_EQ(saved("MAXbank"), "19");
    act(0, kMenuMinus);
    act(0, kMenuRight);
    EXPECT_EQ(saved("MAXbank"), "18");
    act(0, kMenuEnter);
    EXPECT_EQ(saved("MAXbank"), "18");
}

TEST_F(Menu, InputSensitivityTogglesAndEnterSendsTheFrequencySensor) {
    EXPECT_EQ(shown(1), "FQ1");
    for (int a : {kMenuPlus, kMenuMinus, kMenuLeft, kMenuRight})
        act(1, a);
    EXPECT_EQ(shown(1), "FQ1"); // four flips
    act(1, kMenuPlus);
    EXPECT_EQ(shown(1), "FQ2");
    EXPECT_TRUE(queued().empty());
    act(1, kMenuEnter);
    EXPECT_EQ(queued(), std::vector<int>{kCmdFreqSens});
    EXPECT_EQ(saved("FreqSensIn"), "1");
}

TEST_F(Menu, FrequencyPeriodStepsByTenWithinItsLimitsAndRepeats) {
    w->settings.freqPeriod = 10;
    EXPECT_EQ(act(2, kMenuMinus), 1);
    EXPECT_EQ(shown(2), "10"); // not below 10
    EXPECT_EQ(act(2, kMenuPlus), 1);
    EXPECT_EQ(shown(2), "20");
    // Up to what the file's four digits hold: a fifth digit would be cut off when
    // saved, and the period read back would be a tenth of it.
    w->settings.freqPeriod = 9980;
    act(2, kMenuPlus);
    EXPECT_EQ(shown(2), "9990");
    act(2, kMenuPlus);
    EXPECT_EQ(shown(2), "9990");
    EXPECT_EQ(act(2, kMenuLeft), 0);
    act(2, kMenuEnter);
    EXPECT_EQ(queued(), std::vector<int>{kCmdFreqSens});
    EXPECT_EQ(saved("FreqPeriodTime"), "9990");
}

TEST_F(Menu, TuneOnTransmitSwitchesTheWholeRequestByte) {
    EXPECT_EQ(shown(3), "Off");
    act(3, kMenuRight);
    EXPECT_EQ(shown(3), "On");
    EXPECT_EQ(w->tuneModeFlags.load(), 1);
    w->tuneModeFlags.replace(0x41); // a tune in progress: its bits go too
    act(3, kMenuMinus);
    EXPECT_EQ(w->tuneModeFlags.load(), 0);
    act(3, kMenuPlus);
    act(3, kMenuEnter);
    EXPECT_EQ(saved("AutoTuneMode"), "1");
}

TEST_F(Menu, ForcedAttenuatorTakesTheNextStepOnAnyAction) {
    EXPECT_EQ(trail(4, {kMenuPlus, kMenuMinus, kMenuLeft, kMenuRight}),
              (V{"2dB", "3dB", "5dB", "0dB"}));
    act(4, kMenuPlus);
    act(4, kMenuEnter);
    EXPECT_EQ(saved("AttenuatorTune"), "1");
}

TEST_F(Menu, TargetSwrJumpsOverTheGapBelowOneAndIsSavedInHundredths) {
    EXPECT_EQ(shown(5), "0.00");
    EXPECT_EQ(act(5, kMenuPlus), 1);
    EXPECT_EQ(shown(5), "1.00");
    act(5, kMenuPlus);
    act(5, kMenuPlus);
    EXPECT_EQ(shown(5), "1.02");
    act(5, kMenuMinus);
    act(5, kMenuMinus);
    EXPECT_EQ(shown(5), "1.00");
    act(5, kMenuMinus);
    EXPECT_EQ(shown(5), "0.00");
    w->settings.swrEscAutoTune = 10.0f;
    act(5, kMenuPlus);
    EXPECT_EQ(shown(5), "10.00");
    EXPECT_EQ(act(5, kMenuLeft), 1);
    w->settings.swrEscAutoTune = 1.37f;
    act(5, kMenuEnter);
    EXPECT_EQ(saved("SWRescAutoTune"), "137");
}

TEST_F(Menu, AutoTuneTimeoutAndScreenSaverCycleThroughTheirChoices) {
    EXPECT_EQ(trail(6, {kMenuMinus, kMenuPlus, kMenuPlus, kMenuPlus, kMenuPlus, kMenuPlus}),
              (V{"5sec", "25sec", "20sec", "15sec", "10sec", "5sec"}));
    act(6, kMenuEnter);
    EXPECT_EQ(saved("AutoTuneMaxCicli"), "4");
    EXPECT_EQ(trail(23, {kMenuPlus, kMenuPlus, kMenuPlus, kMenuPlus, kMenuPlus, kMenuMinus}),
              (V{"10min", "20min", "30min", "60min", "5min", "60min"}));
    EXPECT_EQ(act(23, kMenuLeft), 0);
    EXPECT_EQ(shown(23), "60min"); // left and right leave it
    act(23, kMenuEnter);
    EXPECT_EQ(saved("SaveScreenIdx"), "4");
}

TEST_F(Menu, AtuInstalledFlipsTheTopBitAndKeepsTheRest) {
    w->settings.tuneEnabled = 5;
    EXPECT_EQ(shown(7), "Yes");
    act(7, kMenuPlus);
    EXPECT_EQ(shown(7), "No");
    EXPECT_EQ(static_cast<uint8_t>(w->settings.tuneEnabled), 0x85);
    act(7, kMenuEnter);
    EXPECT_EQ(saved("TUNEenabled"), "133");
    act(7, kMenuLeft);
    EXPECT_EQ(w->settings.tuneEnabled, 5);
}

TEST_F(Menu, RemoteModeBackToLocalAndAtOnceWithTheUsbSpectrum) {
    w->remoteEnabled = 1;
    EXPECT_EQ(shown(8), "Remote");
    act(8, kMenuPlus);
    EXPECT_EQ(shown(8), "Local");
    setup->EnableFFT = '1';
    act(8, kMenuMinus);
    EXPECT_EQ(shown(8), "Remote");
    EXPECT_EQ(shown(8, 1), "");
}

TEST_F(Menu, FailedRemoteChecksLeaveANoticeUntilTheChoiceChanges) {
    // No transceiver, no audio device: Local stays, with the alarms and the notice.
    setup->EnableFFT = '0';
    setup->serialLinkEnabled = '1';
    act(8, kMenuPlus);
    EXPECT_EQ(shown(8), "Local");
    EXPECT_TRUE(w->pages.keyNotice.test(4));
    EXPECT_EQ(w->remoteRestart, 1);
    EXPECT_EQ(ExistError(w.get(), kAlarmRemoteUsb), 1);
    EXPECT_EQ(ExistError(w.get(), kAlarmAudioMissing), 1);
    // A later switch that succeeds takes the notice away.
    setup->EnableFFT = '1';
    act(8, kMenuPlus);
    EXPECT_EQ(shown(8), "Remote");
    EXPECT_FALSE(w->pages.keyNotice.test(4));
    // So does going back to Local.
    w->pages.keyNotice.set(4);
    act(8, kMenuMinus);
    EXPECT_EQ(shown(8), "Local");
    EXPECT_FALSE(w->pages.keyNotice.test(4));
}

TEST_F(Menu, AddressesEditOctetUnderTheCursor) {
    lan.IP_v[0] = 192, lan.IP_v[1] = 168, lan.IP_v[2] = 1, lan.IP_v[3] = 255;
    lan.CntIP = 3;
    EXPECT_EQ(shown(9), "192.168.1.255");
    act(9, kMenuPlus);
    EXPECT_EQ(shown(9), "192.168.1.0");
    act(9, kMenuLeft);
    EXPECT_EQ(lan.CntIP, 2);
    act(9, kMenuMinus);
    EXPECT_EQ(shown(9), "192.168.0.0");
    act(9, kMenuRight);
    act(9, kMenuRight);
    EXPECT_EQ(lan.CntIP, 0);
    lan.NetMask_v[0] = 0;
    lan.CntNetMask = 0;
    act(10, kMenuMinus);
    EXPECT_EQ(lan.NetMask_v[0], 255);
    // Only the four addresses and the remote code have positions to move between.
    for (int e = 0; e < MenuEntryCount(); e++) {
        w->pages.menuEntry = e;
        EXPECT_EQ(MenuItemLeftRight(w.get()), (e >= 9 && e <= 12) || e == 27) << e;
        EXPECT_FALSE(MenuItemReadOnly(w.get())) << e;
    }
}

TEST_F(Menu, PlotValuesAreNotStored) {
    plot.RefLevel = 0, plot.RefPos = 9, plot.PointDiv = 10;
    forgetFile();
    act(13, kMenuMinus);
    act(13, kMenuMinus);
    EXPECT_EQ(shown(13), "-20"); // no bound
    act(14, kMenuPlus);
    act(14, kMenuPlus);
    EXPECT_EQ(shown(14), "10");
    plot.RefPos = 0;
    act(14, kMenuMinus);
    EXPECT_EQ(shown(14), "0");
    act(15, kMenuPlus);
    EXPECT_EQ(shown(15), "20");
    for (int e : {13, 14, 15}) {
        EXPECT_EQ(act(e, kMenuPlus), 0) << e;
        act(e, kMenuEnter);
    }
    EXPECT_FALSE(fileWritten());
}

TEST_F(Menu, PlotOffsetStepsInTenthsRepeatsAndSavesInTenths) {
    EXPECT_EQ(shown(16), "0.00");
    EXPECT_EQ(act(16, kMenuMinus), 1);
    EXPECT_EQ(shown(16), "-0.10");
    for (int i = 0; i < 12; i++)
        act(16, kMenuPlus);
    EXPECT_EQ(shown(16), "1.10");
    forgetFile();
    EXPECT_EQ(act(16, kMenuLeft), 1);
    EXPECT_EQ(saved("OffsetPlot"), "11");
}

TEST_F(Menu, OnOffEntriesToggleAndSaveTheirKey) {
    struct Case {
        int entry;
        const char* off;
        const char* on;
        const char* key;
    } cases[] = {{17, "OFF", "ON", "ViewTimeStr"},
                 {18, "Celsius", "Fahrenheit", "TempMode"},
                 {19, "OFF", "ON", "EnablePwrPeak"},
                 {22, "Watt", "dBm", "PowerUnits"}};
    for (const Case& c : cases) {
        EXPECT_EQ(shown(c.entry), c.off) << c.entry;
        EXPECT_EQ(act(c.entry, kMenuRight), 0);
        EXPECT_EQ(shown(c.entry), c.on) << c.entry;
        forgetFile();
        act(c.entry, kMenuEnter);
        EXPECT_EQ(saved(c.key), "1") << c.key;
        act(c.entry, kMenuLeft);
        EXPECT_EQ(shown(c.entry), c.off) << c.entry;
    }
}

TEST_F(Menu, PeakReleaseTimeStepsByTenBetweenZeroAndFiveThousand) {
    w->settings.TimerPeakSec = 0;
    act(20, kMenuMinus);
    EXPECT_EQ(shown(20), "0");
    w->settings.TimerPeakSec = 4995;
    act(20, kMenuPlus);
    EXPECT_EQ(shown(20), "4995"); // 5005 would pass the limit
    w->settings.TimerPeakSec = 4990;
    EXPECT_EQ(act(20, kMenuPlus), 1);
    EXPECT_EQ(shown(20), "5000");
    forgetFile();
    EXPECT_EQ(act(20, kMenuRight), 1);
    EXPECT_EQ(saved("Peak_Time"), "5000");
}

TEST_F(Menu, TemperatureSetPointStaysWithinTwentyAndTheAllowedMaximum) {
    w->settings.maxTempAllowed = 70;
    w->settings.maxTemperature = 20.0f;
    act(21, kMenuMinus);
    EXPECT_EQ(shown(21), "20.00");
    EXPECT_EQ(act(21, kMenuPlus), 1);
    EXPECT_EQ(shown(21), "20.10");
    w->settings.maxTemperature = 69.95f;
    act(21, kMenuPlus);
    EXPECT_EQ(shown(21), "70.00");
    EXPECT_EQ(act(21, kMenuLeft), 1);
    w->settings.maxTemperature = 65.5f;
    act(21, kMenuEnter);
    EXPECT_EQ(saved("MaxTemperature"), "655");
    // A set point from the file above a lowered maximum is brought down before it is kept.
    w->settings.maxTemperature = 80.0f;
    act(21, kMenuEnter);
    EXPECT_EQ(saved("MaxTemperature"), "700");
    EXPECT_EQ(shown(21, 1), "");
}

TEST_F(Menu, LongPressTimeStaysWithinItsRangeAndSavesInTenths) {
    w->settings.TIME_LONG_PRESS = 0.5;
    EXPECT_EQ(shown(25), "0.5 sec");
    EXPECT_EQ(act(25, kMenuPlus), 0);
    EXPECT_EQ(shown(25), "0.6 sec");
    w->settings.TIME_LONG_PRESS = 0.3;
    act(25, kMenuMinus);
    EXPECT_EQ(shown(25), "0.3 sec");
    w->settings.TIME_LONG_PRESS = 5.0;
    act(25, kMenuPlus);
    EXPECT_EQ(shown(25), "5.0 sec");
    forgetFile();
    act(25, kMenuLeft);
    EXPECT_EQ(saved("BTN_longpress_Time"), "50");
}

TEST_F(Menu, FactoryDefaultOnlyWhenArmed) {
    EXPECT_EQ(shown(24), "No Default");
    w->MAXbank = 7;
    act(24, kMenuEnter); // not armed: nothing
    EXPECT_EQ(w->MAXbank, 7);
    act(24, kMenuPlus);
    EXPECT_EQ(shown(24), "Set Default");
    ASSERT_TRUE(WriteFile(dir.path + BankFileName(3), "; a bank\n"));
    act(24, kMenuEnter);
    EXPECT_EQ(shown(24), "No Default");
    EXPECT_EQ(w->MAXbank, 20);
    EXPECT_EQ(saved("MAXbank"), "20");
    EXPECT_FALSE(FileExists(dir.path + BankFileName(3)));
}

TEST_F(Menu, ServiceEntriesArmThenAct) {
    for (int a : {kMenuEnter, kMenuPlus, kMenuMinus, kMenuLeft})
        act(29, a);
    EXPECT_EQ(w->panelCmd, 0x85);
    EXPECT_EQ(shown(29), "OFF");

    EXPECT_EQ(shown(30), "OFF");
    act(30, kMenuEnter);
    EXPECT_TRUE(queued().empty());
    act(30, kMenuPlus);
    EXPECT_EQ(shown(30), "ON");
    act(30, kMenuEnter);
    EXPECT_EQ(queued(), std::vector<int>{kCmdFwUpdate});

    act(31, kMenuEnter);
    EXPECT_EQ(FindLine(ReadLines(dir.path + "/commands.log"), "/opt/TavZim/getpack.sh"), -1);
    act(31, kMenuRight);
    EXPECT_EQ(shown(31), "ON");
    act(31, kMenuEnter);
    EXPECT_GE(FindLine(ReadLines(dir.path + "/commands.log"), "/opt/TavZim/getpack.sh"), 0);

    act(32, kMenuMinus);
    EXPECT_EQ(shown(32), "ON");
    act(32, kMenuEnter);
    EXPECT_GE(FindLine(ReadLines(dir.path + "/commands.log"), "/opt/sshshell"), 0);
    EXPECT_EQ(w->serviceFlags.load(), 1 | 2 | 8);
    for (int e : {28, 29, 30, 31})
        EXPECT_EQ(shown(e, 1), "") << e;
}

} // namespace
