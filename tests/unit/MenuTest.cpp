// The settings menu, one table per kind of entry: step entries at and between
// their bounds, choices and on/off entries, with what each shows, repeats and
// saves; then the entries whose ENTER (or any action) does something of its own.
#include "RootedWorks.h"

#include "ui/Menu.h"
#include "ui/Network.h"
#include "ui/Time.h"

#include <cstring>

namespace {

using V = std::vector<std::string>;
constexpr int kActions[] = {kMenuPlus, kMenuMinus, kMenuLeft, kMenuRight};

class Menu : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        // The address entries restart the network with sudo; keep that inside the root.
        for (const char* s : {"ifdown", "ifup"})
            ASSERT_TRUE(SimWriteScript(dir.path, std::string("/bin/") + s,
                                       std::string("echo ") + s +
                                           " \"$@\" >> \"$PANEL_ROOT/sim/ifupdown.log\"\n"));
    }
    // Applies `action` to `entry`; the repeat flag.
    int act(int entry, int action) {
        w->pages.menuEntry = entry;
        return ModifyParameter(w.get(), action);
    }
    std::string shown(int entry) {
        char text[64];
        std::memset(text, 'x', sizeof text);
        LoadParameterMenu(w.get(), text, sizeof text, entry, 0);
        return text;
    }
    // The value a key has in the setup file; "" when the file or the key is missing.
    std::string saved(const std::string& key) {
        for (const std::string& line : ReadLines(setupPath()))
            if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
        return "";
    }
    std::string setupPath() const { return dir.path + "/opt/set/setup.txt"; }
    void forgetFile() { std::remove(setupPath().c_str()); }
    bool fileWritten() const { return FileExists(setupPath()); }
    // A stand-in that takes 0.3 s of wall time, then leaves a marker file.
    void slowScript(const std::string& path, const char* marker) {
        ASSERT_TRUE(SimWriteScript(dir.path, path,
                                   "sleep 0.3\necho done > \"$PANEL_ROOT/sim/" +
                                       std::string(marker) +
                                       "\"\nexit 3\n")); // its status is of no interest
    }
    // ENTER on the three armed service entries: true when none of them acted.
    bool enterDoesNothing() {
        for (int e : {30, 31, 32})
            act(e, kMenuEnter);
        return queued().empty() && FindLine(commands(), "/opt/TavZim/getpack.sh") == -1 &&
               FindLine(commands(), "/opt/sshshell") == -1;
    }
};

// An entry from a value through a list of actions: the value shown and the
// repeat flag after each, whether LEFT and RIGHT write the file, then what
// ENTER saves.
struct Case {
    const char* name;
    int entry;
    void (*set)(Works*);
    const char* actions; // P, M, L and R: PLUS, MINUS, LEFT, RIGHT
    const char* trail;   // the value shown after each, split by '|'
    const char* repeats; // '1' where the action repeats while held
    bool sidewaysSaves;  // LEFT and RIGHT write the file (the value in memory)
    const char* key;     // saved by ENTER; nullptr: ENTER writes nothing
    const char* value;
};

const Case kCases[] = {
    // Step entries.
    {"MAX BANK wraps between 2 and 20", 0, [](Works* w) { w->MAXbank = 20; }, "PMMLMR",
     "2|20|19|19|18|18", "000000", true, "MAXbank", "18"},
    {"Period keeps to what four digits hold", 2, [](Works* w) { w->settings.freqPeriod = 9980; },
     "PPL", "9990|9990|9990", "110", false, "FreqPeriodTime", "9990"},
    {"Period never below 1", 2, [](Works* w) { w->settings.freqPeriod = 15; }, "MMP", "5|5|15",
     "111", false, "FreqPeriodTime", "15"},
    {"Target SWR jumps over the gap below 1", 5, [](Works* w) { w->settings.swrEscAutoTune = 0; },
     "MPPPMMML", "0.00|1.00|1.01|1.02|1.01|1.00|0.00|0.00", "11111111", false, "SWRescAutoTune",
     "0"},
    {"Target SWR held at 10, saved in hundredths", 5,
     [](Works* w) { w->settings.swrEscAutoTune = 9.99f; }, "PPR", "10.00|10.00|10.00", "111", false,
     "SWRescAutoTune", "1000"},
    {"Ref Lev in tens without a bound, not stored", 13, [](Works*) { plot.RefLevel = -10; }, "MPPL",
     "-20|-10|0|0", "0000", false, nullptr, nullptr},
    {"Point Div 1, 2, 5, 10, 20", 15, [](Works*) { plot.PointDiv = 1; }, "PPPPPMMMMMLR",
     "2|5|10|20|20|10|5|2|1|1|1|1", "000000000000", false, nullptr, nullptr},
    {"Offset in tenths through zero, saved in tenths", 16,
     [](Works* w) { w->settings.plotOffset = 0.1; }, "PMMMMR", "0.20|0.10|0.00|-0.10|-0.20|-0.20",
     "111111", true, "OffsetPlot", "-2"},
    {"SET POINT held at 20", 21,
     [](Works* w) { w->settings.maxTempAllowed = 70, w->settings.maxTemperature = 20.05f; }, "MMPL",
     "20.00|20.00|20.10|20.10", "1111", false, "MaxTemperature", "201"},
    {"SET POINT held at the allowed maximum", 21,
     [](Works* w) { w->settings.maxTempAllowed = 70, w->settings.maxTemperature = 69.95f; }, "PPM",
     "70.00|70.00|69.90", "111", false, "MaxTemperature", "699"},
    {"Long Press Time held at 5.0", 25, [](Works* w) { w->settings.TIME_LONG_PRESS = 4.9; }, "PPL",
     "5.0 sec|5.0 sec|5.0 sec", "000", true, "BTN_longpress_Time", "50"},
    {"Remote TX limit in tens of seconds, Off at 0", 26,
     [](Works* w) { SetSettingNumber(w, "RemoteTxLimit", 10); }, "PMMML", "20 s|10 s|Off|Off|Off",
     "11110", false, "RemoteTxLimit", "0"},
    {"Remote TX limit held at an hour, what the message's four digits hold", 26,
     [](Works* w) { SetSettingNumber(w, "RemoteTxLimit", 3600); }, "PML", "3600 s|3590 s|3590 s",
     "110", false, "RemoteTxLimit", "3590"},
    {"Hamlib model", 33, [](Works* w) { SetSettingNumber(w, "HamlibModel", 1020); }, "PMR",
     "1021|1020|1020", "110", false, "HamlibModel", "1020"},
    // Choices.
    {"Forced attenuator: the next step on any action", 4,
     [](Works* w) { w->settings.attenuatorTune = 0; }, "PMLRP", "2dB|3dB|5dB|0dB|2dB", "00000",
     false, "AttenuatorTune", "1"},
    {"AutoTune Timeout wraps both ways", 6, [](Works* w) { w->settings.autoTuneMaxCycles = 0; },
     "MPPPPPLR", "5sec|25sec|20sec|15sec|10sec|5sec|5sec|5sec", "00000000", false,
     "AutoTuneMaxCicli", "4"},
    {"Hamlib speed", 34, [](Works* w) { SetSettingNumber(w, "HamlibSpeed", 9600); }, "L", "9600",
     "0", false, "HamlibSpeed", "9600"},
    // On/off entries flip on every action but ENTER.
    {"Input sensitivity", 1, [](Works* w) { w->settings.freqSensIn = 0; }, "PMLRP",
     "FQ2|FQ1|FQ2|FQ1|FQ2", "00000", false, "FreqSensIn", "1"},
    {"Tune on transmit clears the whole request byte", 3,
     [](Works* w) { w->tuneModeFlags.replace(0x41); }, "MRLP", "Off|On|Off|On", "0000", false,
     "AutoTuneMode", "1"},
    {"ATU Installed flips the top bit and keeps the rest", 7,
     [](Works* w) { w->settings.tuneEnabled = 5; }, "PLR", "No|Yes|No", "000", false, "TUNEenabled",
     "133"},
    {"DateTime", 17, [](Works* w) { w->settings.viewTimeStr = 0; }, "RLP", "ON|OFF|ON", "000",
     false, "ViewTimeStr", "1"},
    {"Temperature units", 18, [](Works* w) { w->settings.tempMode = 0; }, "RLP",
     "Fahrenheit|Celsius|Fahrenheit", "000", false, "TempMode", "1"},
};

TEST_F(Menu, EachKindOfEntryShowsStepsRepeatsAndSaves) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        c.set(w.get());
        queued();
        std::string trail, repeats, sidewaysSaved;
        for (const char* a = c.actions; *a; a++) {
            const int action = kActions[std::string("PMLR").find(*a)];
            const bool sideways = action == kMenuLeft || action == kMenuRight;
            forgetFile();
            repeats += act(c.entry, action) ? '1' : '0';
            trail += (trail.empty() ? "" : "|") + shown(c.entry);
            EXPECT_EQ(fileWritten(), sideways && c.sidewaysSaves) << "after " << a - c.actions;
            if (sideways && c.sidewaysSaves) sidewaysSaved = saved(c.key);
        }
        EXPECT_EQ(trail, c.trail);
        EXPECT_EQ(repeats, c.repeats);
        if (c.sidewaysSaves) { // each row ends with a sideways action
            EXPECT_EQ(sidewaysSaved, c.value);
        }
        forgetFile();
        EXPECT_EQ(act(c.entry, kMenuEnter), 0);
        const std::string want = c.trail;
        EXPECT_EQ(shown(c.entry), want.substr(want.rfind('|') + 1));
        if (c.key)
            EXPECT_EQ(saved(c.key), c.value);
        else
            EXPECT_FALSE(fileWritten());
        // Only the two frequency-sensor entries send anything to the amplifier.
        EXPECT_EQ(queued(), c.entry == 1 || c.entry == 2 ? std::vector<int>{kCmdFreqSens}
                                                         : std::vector<int>{});
    }
    // Tune on transmit switches the whole request byte: a tune in progress ends.
    w->tuneModeFlags.replace(0x41);
    act(3, kMenuMinus);
    EXPECT_EQ(w->tuneModeFlags.load(), 0);
    // A set point from the file above a lowered maximum is brought down before it is kept.
    w->settings.maxTemperature = 80.0f;
    act(21, kMenuEnter);
    EXPECT_EQ(saved("MaxTemperature"), "700");
    // The service and address entries store no setting of their own.
    for (int e : {9, 10, 11, 12, 29, 30, 31, 32}) {
        forgetFile();
        act(e, kMenuEnter);
        EXPECT_FALSE(fileWritten()) << e;
    }
}

TEST_F(Menu, AddressEntriesEditTheirOwnOctetsAndEnterWritesAllFour) {
    ASSERT_TRUE(WriteFile(dir.path + "/etc/network/interfaces", "auto eth0\n"
                                                                "iface eth0 inet static\n"
                                                                "address 192.168.1.20\n"
                                                                "netmask 255.255.255.0\n"
                                                                "gateway 192.168.1.255\n"
                                                                "nameserver 0.168.1.1\n"));
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(lan.Gateway_none, 0);
    EXPECT_EQ(lan.DNS_none, 0);
    for (Shared<int>* c : {&lan.CntIP, &lan.CntNetMask, &lan.CntGateway, &lan.CntDNS})
        *c = 3;
    EXPECT_EQ((V{shown(9), shown(10), shown(11), shown(12)}),
              (V{"192.168.1.20", "255.255.255.0", "192.168.1.255", "0.168.1.1"}));
    // Each entry edits its own octets under its own cursor, which wraps; an
    // octet wraps too. Nothing repeats.
    act(10, kMenuLeft); // net mask: cursor on octet 2
    EXPECT_EQ(act(10, kMenuMinus), 0);
    act(11, kMenuPlus);                // gateway: last octet, 255 -> 0
    EXPECT_EQ(act(12, kMenuRight), 0); // name server: cursor 3 -> 0
    act(12, kMenuMinus);
    EXPECT_EQ(act(9, kMenuRight), 0); // IP: 3 -> 0 -> 3
    act(9, kMenuLeft);
    EXPECT_EQ((std::vector<int>{lan.CntIP, lan.CntNetMask, lan.CntGateway, lan.CntDNS}),
              (std::vector<int>{3, 2, 3, 0}));
    EXPECT_EQ((V{shown(9), shown(10), shown(11), shown(12)}),
              (V{"192.168.1.20", "255.255.254.0", "192.168.1.0", "255.168.1.1"}));
    // Only the four addresses and the remote code have positions to move between.
    for (int e = 0; e < MenuEntryCount(); e++) {
        w->pages.menuEntry = e;
        EXPECT_EQ(MenuItemLeftRight(w.get()), (e >= 9 && e <= 12) || e == 27) << e;
    }
    // ENTER on any one of them writes the four, rewriting the address line,
    // and restarts the interfaces once / is writable.
    for (int e : {9, 10, 11, 12}) {
        SCOPED_TRACE(e);
        const std::string ip = "192.168.1." + std::to_string(20 + e);
        lan.IP_v[3] = static_cast<uint8_t>(20 + e);
        act(e, kMenuEnter);
        EXPECT_EQ(ReadFile(dir.path + "/etc/network/interfaces"),
                  "auto eth0\niface eth0 inet static\naddress " + ip +
                      "\nnetmask 255.255.254.0\ngateway 192.168.1.0\nnameserver 255.168.1.1\n");
        EXPECT_TRUE(lan.IP.equals(ip.c_str())); // what the status page shows
    }
    const std::vector<std::string> cmds = commands();
    const std::string restart = "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a";
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), restart), 4);
    const int rw = FindLine(cmds, "mount -o remount defaults,rw /");
    ASSERT_GE(rw, 0);
    EXPECT_GT(FindLine(cmds, restart, rw), rw);
    EXPECT_EQ(ReadLines(dir.path + "/sim/ifupdown.log").size(), 8u);
}

TEST_F(Menu, RemoteModeChoiceChecksTheStationAndEnterSwitchesTheServices) {
    w->remoteEnabled = 1;
    EXPECT_EQ(shown(8), "Remote");
    act(8, kMenuPlus);
    EXPECT_EQ(shown(8), "Local");
    // With the USB spectrum on, Remote at once.
    setup->EnableFFT = '1';
    act(8, kMenuMinus);
    EXPECT_EQ(shown(8), "Remote");
    act(8, kMenuLeft);
    // No transceiver, no audio device: Local stays, with the alarms and the notice.
    setup->EnableFFT = '0';
    setup->serialLinkEnabled = '1';
    act(8, kMenuRight);
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

    // ENTER on Local: the four services are switched off and the state stored.
    for (Flag* f : {&setup->EnableWrite, &setup->EnableRead, &setup->EnableCAT, &setup->EnableFFT})
        *f = '1';
    AddErrore(w.get(), kAlarmRemoteUsb);
    AddErrore(w.get(), kAlarmRemoteCat);
    w->panelCmd = 0xFF;
    act(8, kMenuEnter);
    for (const char* key : {"EnableWrite", "EnableRead", "EnableCAT", "EnableFFT"})
        EXPECT_EQ(saved(key), "0") << key;
    EXPECT_FALSE(ExistError(w.get(), kAlarmRemoteUsb));
    EXPECT_FALSE(ExistError(w.get(), kAlarmRemoteCat));
    EXPECT_EQ(w->panelCmd, 0xA5);
    EXPECT_EQ(shown(8), "Local");

    // ENTER on Remote, with the services already on and the server mode set:
    // nothing new to start, the state is stored and the converter told.
    for (Flag* f : {&setup->EnableWrite, &setup->EnableRead, &setup->EnableCAT, &setup->EnableFFT})
        *f = '1';
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

// OFF HW acts on any action; FW UPDATE, UI UPDATE and REMOTE SERVICE each arm
// their own bit of serviceFlags, flipping on any action but ENTER, and act on
// ENTER only while armed; the update script and the remote shell are waited for.
TEST_F(Menu, ServiceEntriesArmOnTheirOwnBitThenActAndWaitForTheirCommands) {
    for (int a : {kMenuEnter, kMenuMinus, kMenuPlus, kMenuLeft, kMenuRight}) {
        w->panelCmd = 0xFF; // idle
        EXPECT_EQ(act(29, a), 0);
        EXPECT_EQ(w->panelCmd, 0x85) << a;
    }
    EXPECT_TRUE(queued().empty()); // nothing for the amplifier itself
    EXPECT_EQ(shown(29), "OFF");
    EXPECT_TRUE(enterDoesNothing());
    // Armed and disarmed again.
    act(30, kMenuPlus);
    act(30, kMenuMinus);
    act(32, kMenuPlus);
    act(32, kMenuMinus);
    EXPECT_TRUE(enterDoesNothing());

    // The "update running" bit 4 is left alone.
    w->serviceFlags.replace(4);
    act(30, kMenuLeft);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1);
    act(31, kMenuRight);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1 | 8);
    act(32, kMenuMinus);
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1 | 8 | 2);
    EXPECT_EQ((V{shown(30), shown(31), shown(32)}), (V{"ON", "ON", "ON"}));

    act(30, kMenuEnter);
    EXPECT_EQ(queued(), std::vector<int>{kCmdFwUpdate});

    slowScript("/opt/TavZim/getpack.sh", "getpack.done");
    act(31, kMenuEnter);
    // The call returned only after the script had finished.
    EXPECT_TRUE(FileExists(dir.path + "/sim/getpack.done"));
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands().back(), "/opt/TavZim/getpack.sh");

    slowScript("/opt/sshshell", "sshshell.done");
    act(32, kMenuEnter);
    EXPECT_TRUE(FileExists(dir.path + "/sim/sshshell.done"));
    EXPECT_GE(FindLine(commands(), "/opt/sshshell"), 0);

    // ENTER, and the script's failed status, leave them armed (GPIO 13 low
    // until the restart) and queue nothing more.
    EXPECT_EQ(w->serviceFlags.load(), 4 | 1 | 8 | 2);
    EXPECT_TRUE(queued().empty());
    act(30, kMenuRight);
    act(31, kMenuLeft);
    act(32, kMenuPlus);
    EXPECT_EQ(w->serviceFlags.load(), 4);
    EXPECT_EQ((V{shown(30), shown(31), shown(32)}), (V{"OFF", "OFF", "OFF"}));
}

} // namespace
