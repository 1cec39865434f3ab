// The settings menu entry by entry: numbers, titles and items, the value text
// of every entry, which actions repeat, which save and with what scaling, the
// entries that act only on item 0, the LAN and remote-mode ENTER actions and
// what the frequency-sensor entries send.
#include "RootedWorks.h"

#include "amp/Alarms.h"
#include "amp/LinearPort.h"
#include "amp/Linear.h"
#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Time.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class MenuEntries : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        w->pages.menuItem = 0;
        // The address entries restart the network with sudo; keep that inside the root.
        ASSERT_TRUE(SimWriteScript(dir.path, "/bin/ifdown",
                                   "echo ifdown \"$@\" >> \"$PANEL_ROOT/sim/ifupdown.log\"\n"));
        ASSERT_TRUE(SimWriteScript(dir.path, "/bin/ifup",
                                   "echo ifup \"$@\" >> \"$PANEL_ROOT/sim/ifupdown.log\"\n"));
    }
    void TearDown() override {
        w->pages.menuItem = 0;
        RootedWorks::TearDown();
    }
    int act(int entry, int action) {
        w->pages.menuEntry = entry;
        return ModifyParameter(w.get(), action);
    }
    std::string shown(int entry, int item = 0) {
        char text[64];
        std::memset(text, 'x', sizeof text);
        LoadParameterMenu(w.get(), text, sizeof text, entry, item);
        return text;
    }
    std::string setupPath() const { return dir.path + "/opt/set/setup.txt"; }
    void forgetFile() { std::remove(setupPath().c_str()); }
    bool fileWritten() const { return FileExists(setupPath()); }
    std::string saved(const std::string& key) {
        for (const std::string& line : ReadLines(setupPath()))
            if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
        return "";
    }
    std::vector<std::string> commands() { return ReadLines(dir.path + "/commands.log"); }
    int count(const std::string& command) {
        int n = 0;
        for (const std::string& c : commands())
            n += c == command;
        return n;
    }
    // A middle value for every entry with bounds, so that a step is always taken.
    void midValues() {
        w->MAXbank = 10;
        w->settings.freqPeriod = 500;
        w->settings.swrEscAutoTune = 2.0f;
        w->settings.autoTuneMaxCycles = 2;
        plot.RefLevel = 0;
        plot.RefPos = 5;
        plot.PointDiv = 5;
        w->settings.plotOffset = 1.0;
        w->settings.TimerPeakSec = 2000;
        w->settings.maxTempAllowed = 70;
        w->settings.maxTemperature = 40.0f;
        w->settings.saveScreenIdx = 2;
        w->settings.TIME_LONG_PRESS = 1.0;
        setup->EnableFFT = '1'; // TAV ZIM USE MODE switches without its checks
    }
    void servicesOn() {
        setup->EnableWrite = '1';
        setup->EnableRead = '1';
        setup->EnableCAT = '1';
        setup->EnableFFT = '1';
    }
};

using V = std::vector<std::string>;

TEST_F(MenuEntries, NumbersTitlesAndItemsOfTheThirtySixEntries) {
    struct Row {
        int number;
        const char* title;
        const char* item;
    } rows[] = {
        {1, "MAX BANK", " "},
        {2, "FREQ", "Input Sens"},
        {3, "FREQ", "Period (ms)"},
        {4, "AUTO TUNE", "Enable TAV Tune"},
        {5, "AUTO TUNE", "Force Attenuator"},
        {6, "AUTO TUNE", "Target SWR (0=Off)"},
        {7, "AUTO TUNE", "AutoTune Timeout"},
        {8, "AUTO TUNE", "ATU Installed"},
        {9, "TAV ZIM USE MODE", " "},
        {10, "NETWORK LAN", "IP"},
        {11, "NETWORK LAN", "SUBNET"},
        {12, "NETWORK LAN", "GATEWAY"},
        {13, "NETWORK LAN", "DNS"},
        {14, "PLOT", "Ref Lev"},
        {15, "PLOT", "Ref Pos"},
        {16, "PLOT", "Point Div"},
        {17, "PLOT", "Offset"},
        {50, "VIEW SCREEN", "DateTime"},
        {51, "TEMPERATURE UNITS", " "},
        {52, "PEAK POWER METER", " "},
        {53, "PEAK POWER METER", "Release Time (ms)"},
        {54, "TEMPERATURE ALARM", " SET POINT"},
        {55, "SET POWER UNITS", " "},
        {56, "SCREEN SAVER TIMEOUT", " "},
        {57, "FACTORY DEFAULT", " "},
        {58, "BUTTON TIME", "Long Press Time"},
        {93, "REMOTE TX LIMIT", " "},
        {94, "REMOTE CODE", " "},
        {95, "NEW REMOTE CODE", " "},
        {96, "OFF HW", " "},
        {97, "FW UPDATE", " "},
        {98, "UI UPDATE", " "},
        {99, "REMOTE SERVICE", " "},
        {100, "HAMLIB RIG", "Model"},
        {101, "HAMLIB RIG", "Speed"},
        {102, "HAMLIB RIG", "Poll (ms)"},
    };
    EXPECT_EQ(w->pages.menuCount, 36);
    ASSERT_EQ(MenuEntryCount(), static_cast<int>(std::size(rows)));
    for (int e = 0; e < MenuEntryCount(); e++) {
        EXPECT_EQ(menuPar[e].number, rows[e].number) << e;
        EXPECT_STREQ(menuPar[e].title, rows[e].title) << e;
        EXPECT_STREQ(menuPar[e].items[0].name, rows[e].item) << e;
        EXPECT_EQ(menuPar[e].itemCount, 1) << e;
    }
}

TEST_F(MenuEntries, ValueTextOfEveryEntryAndNothingBeyondItemZeroForSome) {
    w->MAXbank = 7;
    w->settings.freqSensIn = 1;
    w->settings.freqPeriod = 120;
    w->tuneModeFlags.replace(1);
    w->settings.attenuatorTune = 3;
    w->settings.swrEscAutoTune = 1.5f;
    w->settings.autoTuneMaxCycles = 1;
    w->settings.tuneEnabled = -128;
    w->remoteEnabled = 1;
    const uint8_t ip[4] = {10, 0, 0, 7}, mask[4] = {255, 255, 0, 0}, gw[4] = {10, 0, 0, 1},
                  dns[4] = {1, 1, 1, 1};
    for (int i = 0; i < 4; i++)
        lan.IP_v[i] = ip[i], lan.NetMask_v[i] = mask[i], lan.Gateway_v[i] = gw[i], lan.DNS_v[i] = dns[i];
    plot.RefLevel = -30;
    plot.RefPos = 4;
    plot.PointDiv = 5;
    w->settings.plotOffset = 2.5;
    w->settings.viewTimeStr = 1;
    w->settings.tempMode = 1;
    w->settings.pwrPeakEnabled = 1;
    w->settings.TimerPeakSec = 1500;
    w->settings.maxTemperature = 45.5f;
    w->settings.powerUnits = 1;
    w->settings.saveScreenIdx = 2;
    w->pages.factoryArmed = 1;
    w->settings.TIME_LONG_PRESS = 1.5;
    w->serviceFlags.replace(1 | 8); // FW UPDATE and UI UPDATE armed, REMOTE SERVICE not
    w->remotePassword.set("ABCDEFGH2345");
    SetSettingNumber(w.get(), "HamlibModel", 1020);
    SetSettingNumber(w.get(), "HamlibSpeed", 38400);
    SetSettingNumber(w.get(), "HamlibPoll", 250);

    const V want = {"7",           "FQ2",     "120",    "On",       "5dB",         "1.50",
                    "20sec",       "No",      "Remote", "10.0.0.7", "255.255.0.0", "10.0.0.1",
                    "1.1.1.1",     "-30",     "4",      "5",        "2.50",        "ON",
                    "Fahrenheit",  "ON",      "1500",   "45.50",    "dBm",         "20min",
                    "Set Default", "1.5 sec", "180 s",  "ABCDEFGH2345", "ABCDEFGH2345",
                    "OFF",         "ON",      "ON",     "OFF",
                    "1020",        "38400",   "250"};
    ASSERT_EQ(want.size(), static_cast<size_t>(MenuEntryCount()));
    for (int e = 0; e < MenuEntryCount(); e++) {
        EXPECT_EQ(shown(e), want[e]) << e;
        const bool itemZeroOnly =
            e == 8 || e == 18 || e == 19 || (e >= 21 && e <= 25) || (e >= 29 && e <= 32);
        EXPECT_EQ(shown(e, 1), itemZeroOnly ? "" : want[e]) << e;
    }

    // The other forms: the choices at their other ends, and two-digit values.
    w->settings.freqSensIn = 0;
    w->tuneModeFlags.replace(0);
    w->settings.attenuatorTune = 0;
    w->settings.swrEscAutoTune = 10.0f;
    w->settings.autoTuneMaxCycles = 4;
    w->settings.tuneEnabled = 0;
    w->remoteEnabled = 0;
    w->settings.plotOffset = -12.3;
    w->settings.viewTimeStr = 0;
    w->settings.tempMode = 0;
    w->settings.pwrPeakEnabled = 0;
    w->settings.powerUnits = 0;
    w->settings.saveScreenIdx = 0;
    w->pages.factoryArmed = 0;
    w->serviceFlags.replace(2);
    EXPECT_EQ((V{shown(1), shown(3), shown(4), shown(5), shown(6), shown(7), shown(8), shown(16),
                 shown(17), shown(18), shown(19), shown(22), shown(23), shown(24), shown(30),
                 shown(31), shown(32)}),
              (V{"FQ1", "Off", "0dB", "10.00", "5sec", "Yes", "Local", "-12.30", "OFF", "Celsius",
                 "OFF", "Watt", "5min", "No Default", "OFF", "OFF", "ON"}));
}

TEST_F(MenuEntries, EnterSavesEachEntrysKeyInTheFilesUnits) {
    struct Case {
        int entry;
        void (*set)(Works*);
        const char* key;
        int scale;
        const char* value;
    } cases[] = {
        {0, [](Works* w) { w->MAXbank = 13; }, "MAXbank", 1, "13"},
        {1, [](Works* w) { w->settings.freqSensIn = 1; }, "FreqSensIn", 1, "1"},
        {2, [](Works* w) { w->settings.freqPeriod = 250; }, "FreqPeriodTime", 1, "250"},
        {3, [](Works* w) { w->tuneModeFlags.replace(1); }, "AutoTuneMode", 1, "1"},
        {4, [](Works* w) { w->settings.attenuatorTune = 3; }, "AttenuatorTune", 1, "3"},
        {5, [](Works* w) { w->settings.swrEscAutoTune = 1.25f; }, "SWRescAutoTune", 100, "125"},
        {6, [](Works* w) { w->settings.autoTuneMaxCycles = 2; }, "AutoTuneMaxCicli", 1, "2"},
        {7, [](Works* w) { w->settings.tuneEnabled = static_cast<int8_t>(0x83); }, "TUNEenabled", 1, "131"},
        {16, [](Works* w) { w->settings.plotOffset = -1.5; }, "OffsetPlot", 10, "-15"},
        {17, [](Works* w) { w->settings.viewTimeStr = 1; }, "ViewTimeStr", 1, "1"},
        {18, [](Works* w) { w->settings.tempMode = 1; }, "TempMode", 1, "1"},
        {19, [](Works* w) { w->settings.pwrPeakEnabled = 1; }, "EnablePwrPeak", 1, "1"},
        {20, [](Works* w) { w->settings.TimerPeakSec = 1230; }, "Peak_Time", 1, "1230"},
        {21, [](Works* w) { w->settings.maxTemperature = 55.5f; }, "MaxTemperature", 10, "555"},
        {22, [](Works* w) { w->settings.powerUnits = 1; }, "PowerUnits", 1, "1"},
        {23, [](Works* w) { w->settings.saveScreenIdx = 3; }, "SaveScreenIdx", 1, "3"},
        {25, [](Works* w) { w->settings.TIME_LONG_PRESS = 1.2; }, "BTN_longpress_Time", 10, "12"},
        {26, [](Works* w) { SetSettingNumber(w, "RemoteTxLimit", 120); }, "RemoteTxLimit", 1, "120"},
        {33, [](Works* w) { SetSettingNumber(w, "HamlibModel", 2028); }, "HamlibModel", 1, "2028"},
        {34, [](Works* w) { SetSettingNumber(w, "HamlibSpeed", 9600); }, "HamlibSpeed", 1, "9600"},
        {35, [](Works* w) { SetSettingNumber(w, "HamlibPoll", 1000); }, "HamlibPoll", 1, "1000"},
    };
    w->settings.maxTempAllowed = 70;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        int scale = 0;
        ASSERT_NE(MenuSetupKey(c.entry, &scale), nullptr);
        EXPECT_STREQ(MenuSetupKey(c.entry, &scale), c.key);
        EXPECT_EQ(scale, c.scale);
        forgetFile();
        c.set(w.get());
        EXPECT_EQ(act(c.entry, kMenuEnter), 0);
        EXPECT_EQ(saved(c.key), c.value);
        // Only the two frequency-sensor entries send anything to the amplifier.
        const std::vector<int> want =
            c.entry == 1 || c.entry == 2 ? std::vector<int>{kCmdFreqSens} : std::vector<int>{};
        EXPECT_EQ(queued(), want);
    }
    // The plot values are not stored, nor do the service and address entries
    // store a setting of their own.
    for (int e : {9, 10, 11, 12, 13, 14, 15, 27, 28, 29, 30, 31, 32}) {
        forgetFile();
        act(e, kMenuEnter);
        EXPECT_FALSE(fileWritten()) << e;
    }
}

TEST_F(MenuEntries, LeftAndRightSaveOnlyWhereTheTableSaysSo) {
    midValues();
    // MAX BANK, Offset, Release Time and Long Press Time also save sideways, and
    // the value saved is the one in memory (left and right do not change it).
    struct Saver {
        int entry;
        const char* key;
        const char* value;
    } savers[] = {{0, "MAXbank", "10"},
                  {16, "OffsetPlot", "10"},
                  {20, "Peak_Time", "2000"},
                  {25, "BTN_longpress_Time", "10"}};
    for (const Saver& s : savers) {
        for (int a : {kMenuLeft, kMenuRight}) {
            forgetFile();
            const std::string before = shown(s.entry);
            act(s.entry, a);
            EXPECT_EQ(shown(s.entry), before) << s.entry;
            EXPECT_EQ(saved(s.key), s.value) << s.entry << " " << a;
        }
    }
    for (int e : {1, 2, 3, 4, 5, 6, 7, 13, 14, 15, 17, 18, 19, 21, 22, 23, 26, 33, 34, 35}) {
        for (int a : {kMenuLeft, kMenuRight}) {
            forgetFile();
            act(e, a);
            EXPECT_FALSE(fileWritten()) << e << " " << a;
        }
    }
    EXPECT_TRUE(queued().empty());
}

TEST_F(MenuEntries, RepeatFlagOfEveryActionOnEveryEntry) {
    // PLUS and MINUS repeat on Period, Target SWR, Offset, Release Time, SET
    // POINT and the Hamlib model and poll period; LEFT and RIGHT on Target SWR, Offset, Release Time and SET POINT.
    for (int e = 0; e < MenuEntryCount(); e++) {
        if (e == 24) continue; // FACTORY DEFAULT has its own test
        const bool plusMinus = e == 2 || e == 5 || e == 16 || e == 20 || e == 21 || e == 26 || e == 33 || e == 35;
        const bool leftRight = e == 5 || e == 16 || e == 20 || e == 21;
        for (int a : {kMenuPlus, kMenuMinus, kMenuLeft, kMenuRight}) {
            midValues();
            const bool want = (a == kMenuPlus || a == kMenuMinus) ? plusMinus : leftRight;
            EXPECT_EQ(act(e, a), want ? 1 : 0) << "entry " << e << " action " << a;
        }
    }
    // ENTER never repeats.
    for (int e :
         {0, 1, 2, 3, 4, 5, 6, 7, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 25, 26, 27, 28, 29, 30}) {
        midValues();
        EXPECT_EQ(act(e, kMenuEnter), 0) << e;
    }
}

TEST_F(MenuEntries, TogglesFlipOnEveryActionButEnter) {
    struct Toggle {
        int entry;
        const char* off;
        const char* on;
    } toggles[] = {{1, "FQ1", "FQ2"},
                   {3, "Off", "On"},
                   {7, "Yes", "No"},
                   {17, "OFF", "ON"},
                   {18, "Celsius", "Fahrenheit"},
                   {19, "OFF", "ON"},
                   {22, "Watt", "dBm"},
                   {30, "OFF", "ON"},
                   {31, "OFF", "ON"},
                   {32, "OFF", "ON"}};
    for (const Toggle& t : toggles) {
        SCOPED_TRACE(t.entry);
        EXPECT_EQ(shown(t.entry), t.off);
        bool on = false;
        for (int a : {kMenuPlus, kMenuMinus, kMenuLeft, kMenuRight, kMenuPlus}) {
            act(t.entry, a);
            on = !on;
            EXPECT_EQ(shown(t.entry), on ? t.on : t.off) << a;
        }
        if (t.entry < 30) { // ENTER on an armed service entry acts: tested below
            act(t.entry, kMenuEnter);
            EXPECT_EQ(shown(t.entry), t.on);
        }
        act(t.entry, kMenuMinus);
    }
    queued();
    // The three service entries each keep to their own bit of serviceFlags; the
    // "update running" bit 2 is left alone.
    w->serviceFlags.replace(4);
    act(30, kMenuPlus);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1);
    act(31, kMenuPlus);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1 | 8);
    act(32, kMenuPlus);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1 | 8 | 2);
    act(30, kMenuRight);
    act(31, kMenuLeft);
    act(32, kMenuMinus);
    EXPECT_EQ(w->serviceFlags.load(), 4);
}

TEST_F(MenuEntries, AtuInstalledReportsTheByteItWillSave) {
    w->settings.tuneEnabled = 5;
    testing::internal::CaptureStderr();
    act(7, kMenuPlus);
    act(7, kMenuRight);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(err, "----------> SAVE ATU: 0x85\n")) << err;
    EXPECT_TRUE(Contains(err, "----------> SAVE ATU: 0x5\n")) << err;
    EXPECT_EQ(w->settings.tuneEnabled, 5);
}

TEST_F(MenuEntries, StepRulesAtAndBetweenTheirBounds) {
    // Point Div: 1, 2, 5, 10, 20 and back, held at both ends.
    plot.PointDiv = 1;
    std::vector<std::string> up, down;
    for (int i = 0; i < 5; i++) {
        act(15, kMenuPlus);
        up.push_back(shown(15));
    }
    for (int i = 0; i < 5; i++) {
        act(15, kMenuMinus);
        down.push_back(shown(15));
    }
    EXPECT_EQ(up, (V{"2", "5", "10", "20", "20"}));
    EXPECT_EQ(down, (V{"10", "5", "2", "1", "1"}));
    act(15, kMenuLeft);
    act(15, kMenuRight);
    EXPECT_EQ(shown(15), "1");

    // Ref Lev: tens either way, without a bound.
    plot.RefLevel = 990;
    act(13, kMenuPlus);
    act(13, kMenuPlus);
    EXPECT_EQ(shown(13), "1010");
    plot.RefLevel = -990;
    act(13, kMenuMinus);
    EXPECT_EQ(shown(13), "-1000");
    act(13, kMenuLeft);
    EXPECT_EQ(shown(13), "-1000");

    // Ref Pos: ones between 0 and 10.
    plot.RefPos = 10;
    act(14, kMenuPlus);
    EXPECT_EQ(shown(14), "10");
    act(14, kMenuMinus);
    EXPECT_EQ(shown(14), "9");
    plot.RefPos = 1;
    act(14, kMenuMinus);
    act(14, kMenuMinus);
    EXPECT_EQ(shown(14), "0");

    // Period: MINUS only while above 10.
    w->settings.freqPeriod = 30;
    act(2, kMenuMinus);
    EXPECT_EQ(shown(2), "20");
    act(2, kMenuMinus);
    EXPECT_EQ(shown(2), "10");
    w->settings.freqPeriod = 15;
    act(2, kMenuMinus);
    EXPECT_EQ(shown(2), "5");
    act(2, kMenuMinus);
    EXPECT_EQ(shown(2), "5");
    act(2, kMenuRight);
    EXPECT_EQ(shown(2), "5");

    // Target SWR: nothing below 0, hundredths above 1, sideways leaves it.
    w->settings.swrEscAutoTune = 0.0f;
    act(5, kMenuMinus);
    EXPECT_EQ(shown(5), "0.00");
    w->settings.swrEscAutoTune = 5.0f;
    act(5, kMenuMinus);
    EXPECT_EQ(shown(5), "4.99");
    EXPECT_EQ(act(5, kMenuRight), 1);
    EXPECT_EQ(shown(5), "4.99");
    w->settings.swrEscAutoTune = 9.99f;
    act(5, kMenuPlus);
    act(5, kMenuPlus);
    EXPECT_EQ(shown(5), "10.00");

    // Offset: tenths either way, also below zero.
    w->settings.plotOffset = 0.0;
    act(16, kMenuMinus);
    act(16, kMenuMinus);
    EXPECT_EQ(shown(16), "-0.20");
    w->settings.plotOffset = -0.3;
    for (int i = 0; i < 3; i++)
        act(16, kMenuPlus);
    EXPECT_EQ(shown(16), "0.00");
    EXPECT_EQ(act(16, kMenuRight), 1);
    EXPECT_EQ(shown(16), "0.00");

    // Release Time: tens from 0 to 5000.
    w->settings.TimerPeakSec = 10;
    act(20, kMenuMinus);
    EXPECT_EQ(shown(20), "0");
    w->settings.TimerPeakSec = 5000;
    act(20, kMenuPlus);
    EXPECT_EQ(shown(20), "5000");
    act(20, kMenuMinus);
    EXPECT_EQ(shown(20), "4990");
    act(20, kMenuLeft);
    EXPECT_EQ(shown(20), "4990");

    // SET POINT: tenths, held within 20.0 and the allowed maximum.
    w->settings.maxTempAllowed = 60;
    w->settings.maxTemperature = 20.05f;
    act(21, kMenuMinus);
    EXPECT_EQ(shown(21), "20.00");
    w->settings.maxTemperature = 42.0f;
    act(21, kMenuMinus);
    EXPECT_EQ(shown(21), "41.90");
    EXPECT_EQ(act(21, kMenuRight), 1);
    EXPECT_EQ(shown(21), "41.90");
    w->settings.maxTemperature = 60.0f;
    act(21, kMenuPlus);
    EXPECT_EQ(shown(21), "60.00");

    // Long Press Time: tenths from 0.3 to 5.0, sideways leaves it.
    w->settings.TIME_LONG_PRESS = 0.4;
    act(25, kMenuMinus);
    EXPECT_EQ(shown(25), "0.3 sec");
    w->settings.TIME_LONG_PRESS = 4.9;
    act(25, kMenuPlus);
    EXPECT_EQ(shown(25), "5.0 sec");
    act(25, kMenuMinus);
    EXPECT_EQ(shown(25), "4.9 sec");
    act(25, kMenuRight);
    EXPECT_EQ(shown(25), "4.9 sec");

    // MAX BANK: sideways leaves it.
    w->MAXbank = 9;
    act(0, kMenuLeft);
    act(0, kMenuRight);
    EXPECT_EQ(shown(0), "9");
    act(0, kMenuMinus);
    EXPECT_EQ(shown(0), "8");

    // The choices: sideways leaves the timeout; the attenuator steps on any
    // action but ENTER.
    w->settings.autoTuneMaxCycles = 2;
    act(6, kMenuLeft);
    act(6, kMenuRight);
    EXPECT_EQ(shown(6), "15sec");
    w->settings.attenuatorTune = 2;
    act(4, kMenuEnter);
    EXPECT_EQ(shown(4), "3dB");
    act(4, kMenuMinus);
    EXPECT_EQ(shown(4), "5dB");
    act(4, kMenuLeft);
    EXPECT_EQ(shown(4), "0dB");
}

TEST_F(MenuEntries, SomeEntriesActOnlyOnItemZero) {
    // With another item current, entries 9, 51, 52, 54, 55, 57 and 96..99 do
    // nothing, whatever the action; the others still do.
    auto state = [&](int e) {
        return shown(e) + "|" + std::to_string(w->panelCmd.load()) + "|" +
               std::to_string(w->serviceFlags.load());
    };
    midValues();
    w->serviceFlags.replace(1 | 2 | 8); // all three service entries armed
    w->pages.menuItem = 1;
    const int idle = 0xFF;
    for (int e = 0; e < MenuEntryCount(); e++) {
        const bool itemZeroOnly =
            e == 8 || e == 18 || e == 19 || e == 21 || e == 22 || e == 24 || (e >= 29 && e <= 32);
        midValues();
        w->panelCmd = idle;
        const std::string before = state(e);
        act(e, kMenuPlus);
        if (itemZeroOnly)
            EXPECT_EQ(state(e), before) << e;
        else
            EXPECT_NE(state(e), before) << e;
    }
    // ENTER too: nothing saved, queued or run.
    forgetFile();
    queued();
    for (int e : {8, 18, 19, 21, 22, 29, 30, 31, 32}) {
        w->panelCmd = idle;
        act(e, kMenuEnter);
        EXPECT_EQ(w->panelCmd, idle) << e;
    }
    EXPECT_FALSE(fileWritten());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(FindLine(commands(), "/opt/TavZim/getpack.sh"), -1);
    EXPECT_EQ(FindLine(commands(), "/opt/sshshell"), -1);

    // Back on item 0 the same actions work.
    w->pages.menuItem = 0;
    act(30, kMenuEnter);
    EXPECT_EQ(queued(), std::vector<int>{kCmdFwUpdate});
    w->settings.tempMode = 0;
    act(18, kMenuPlus);
    EXPECT_EQ(shown(18), "Fahrenheit");
}

TEST_F(MenuEntries, FrequencySensorEntriesSendTheEditedValues) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    w->linFD = fds[1];
    auto sentFor = [&](int entry) {
        act(entry, kMenuEnter);
        std::vector<int> q = queued();
        EXPECT_EQ(q, std::vector<int>{kCmdFreqSens});
        SendLinearCommand(w.get(), q.empty() ? kCmdFreqSens : q[0]);
        char buf[64];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    };
    w->settings.freqSensIn = 0;
    w->settings.freqPeriod = 240;
    act(1, kMenuPlus); // FQ2; the period goes out in tens of ms
    EXPECT_EQ(sentFor(1), "FS10024;");
    act(2, kMenuPlus);
    act(2, kMenuPlus);
    EXPECT_EQ(sentFor(2), "FS10026;");
    EXPECT_EQ(saved("FreqSensIn"), "1");
    EXPECT_EQ(saved("FreqPeriodTime"), "260");
    w->linFD = -1;
    close(fds[0]);
    close(fds[1]);
}

TEST_F(MenuEntries, AddressEntriesShowTheirOwnAddressAndEnterWritesAllFour) {
    ASSERT_TRUE(WriteFile(dir.path + "/etc/network/interfaces", "auto eth0\n"
                                                                "iface eth0 inet static\n"
                                                                "address 192.168.1.20\n"
                                                                "netmask 255.255.255.0\n"
                                                                "gateway 192.168.1.1\n"
                                                                "nameserver 192.168.1.1\n"));
    ASSERT_EQ(ReadLanParam(), 0);
    for (Shared<int>* c : {&lan.CntIP, &lan.CntNetMask, &lan.CntGateway, &lan.CntDNS})
        *c = 3;
    EXPECT_EQ((V{shown(9), shown(10), shown(11), shown(12)}),
              (V{"192.168.1.20", "255.255.255.0", "192.168.1.1", "192.168.1.1"}));
    // Each entry edits its own octets under its own cursor.
    act(10, kMenuLeft); // net mask: cursor on octet 2
    EXPECT_EQ(act(10, kMenuMinus), 0);
    act(11, kMenuPlus);                // gateway: last octet
    EXPECT_EQ(act(12, kMenuRight), 0); // name server: cursor 3 -> 0
    act(12, kMenuMinus);
    EXPECT_EQ(lan.CntNetMask, 2);
    EXPECT_EQ(lan.CntGateway, 3);
    EXPECT_EQ(lan.CntDNS, 0);
    EXPECT_EQ(lan.CntIP, 3);
    EXPECT_EQ((V{shown(9), shown(10), shown(11), shown(12)}),
              (V{"192.168.1.20", "255.255.254.0", "192.168.1.2", "191.168.1.1"}));
    // ENTER on any one of them writes the four and restarts the interfaces.
    for (int e : {9, 10, 11, 12}) {
        SCOPED_TRACE(e);
        lan.IP_v[3] = static_cast<uint8_t>(20 + e);
        act(e, kMenuEnter);
        const std::string file = ReadFile(dir.path + "/etc/network/interfaces");
        EXPECT_EQ(file, "auto eth0\n"
                        "iface eth0 inet static\n"
                        "address 192.168.1." +
                            std::to_string(20 + e) +
                            "\n"
                            "netmask 255.255.254.0\n"
                            "gateway 192.168.1.2\n"
                            "nameserver 191.168.1.1\n");
    }
    EXPECT_EQ(count("sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a"), 4);
    EXPECT_EQ(ReadLines(dir.path + "/sim/ifupdown.log").size(), 8u);
}

TEST_F(MenuEntries, RemoteModeEnterStartsOrStopsTheRemoteServices) {
    // Local chosen: the four services are switched off and the state stored.
    servicesOn();
    AddErrore(w.get(), kAlarmRemoteUsb);
    AddErrore(w.get(), kAlarmRemoteCat);
    w->remoteEnabled = 0;
    w->panelCmd = 0xFF;
    testing::internal::CaptureStderr();
    act(8, kMenuEnter);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(err, ">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n")) << err;
    for (const char* key : {"EnableWrite", "EnableRead", "EnableCAT", "EnableFFT"})
        EXPECT_EQ(saved(key), "0") << key;
    EXPECT_FALSE(ExistError(w.get(), kAlarmRemoteUsb));
    EXPECT_FALSE(ExistError(w.get(), kAlarmRemoteCat));
    EXPECT_EQ(w->panelCmd, 0xA5);
    EXPECT_EQ(shown(8), "Local");

    // Remote chosen, with the services already on and the server mode set:
    // nothing new to start, the state is stored and the converter told.
    servicesOn();
    setup->WebSocket = '1';
    w->remoteEnabled = 1;
    w->remoteRestart = 1;
    forgetFile();
    act(8, kMenuEnter);
    EXPECT_EQ(w->remoteRestart, 0);
    EXPECT_EQ(w->panelCmd, 0x95);
    EXPECT_EQ(saved("EnableFFT"), "1");
    EXPECT_EQ(saved("WebSocket"), "1");
    EXPECT_EQ(shown(8), "Remote");
}

} // namespace
