// The real panel program in a root folder: start-up, the setup file, the
// keyboard's save and exit keys, and the ordered shutdown (F12 or SIGTERM).
#include "PanelFixture.h"

#include "core/Settings.h"

#include <linux/input.h>

namespace {

// Waits until the root's setup file has its line a key.
bool setupFileWhole(const std::string& root) {
    int n = 0;
    SettingRows(&n);
    return WaitFor(
        [&] { return ReadLines(root + "/opt/set/setup.txt").size() == static_cast<size_t>(n); },
        15000);
}

TEST_F(PanelRun, FreshRootCreatesTheSetupFileAndF12EndsCleanly) {
    start();
    ASSERT_TRUE(logged("6 TAV ZIM version 0.046", 15000)) << syslog();

    // The setup file appears with a line a key between the two remounts.
    ASSERT_TRUE(setupFileWhole(dir.path));
    EXPECT_TRUE(WaitFor([&] { return Contains(output(), "Init Setup!\n"); }, 10000));
    // (Its bytes, key by key, and the remounts around its writing:
    // SetupFile.MissingFileIsCreatedFromDefaultsBetweenTheRemounts.)
    // The unit drew its own access code, which the log never shows. (Its form and
    // its file's mode: RemoteCode.AMissingFileOrARefusedLineIsReplacedByANewCode.)
    ASSERT_TRUE(
        WaitFor([&] { return ReadFile(dir.path + "/opt/set/remote.txt").size() == 19; }, 5000));
    EXPECT_FALSE(Contains(syslog(), ReadFile(dir.path + "/opt/set/remote.txt").substr(6, 12)));

    ASSERT_NO_FATAL_FAILURE(stop());

    // Every started thread was joined, in the fixed order.
    auto log = ReadLines(dir.path + "/syslog.log");
    int at = FindLine(log, "Exited by KEY_F12");
    ASSERT_GE(at, 0);
    at = FindLine(log, "Communicator operations end", at);
    ASSERT_GE(at, 0);
    for (const char* join : {"Communicator joined Key end", "Communicator joined Wsocket end",
                             "Communicator joined Linear end", "Communicator joined Time end",
                             "Communicator joined GPIO end"}) {
        int next = FindLine(log, join, at);
        ASSERT_GT(next, at) << join;
        at = next;
    }
    // A bank without a file works in mode 0: neither transceiver link runs.
    EXPECT_EQ(FindLine(log, "Communicator joined Serial end"), -1);
    EXPECT_EQ(FindLine(log, "Communicator joined CatSerial end"), -1);
    // The console was restored by the keyboard thread.
    const auto cmds = ReadLines(dir.path + "/commands.log");
    int sane = FindLine(cmds, "/bin/stty sane");
    ASSERT_GE(sane, 0);
    EXPECT_EQ(cmds[sane + 1], "/usr/bin/tput clear");
}

TEST_F(PanelRun, KeyboardSavesTheSetupAndRemoteServicesComeBack) {
    // A unit without the link and the WebSocket that was in remote operation
    // (one service flag on).
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/setup.txt",
                          "EnableLinear: 0\nWebSocket: 0\nEnableCAT: 1\n"));
    start();
    ASSERT_TRUE(logged("6 Keyboard opened", 15000)) << syslog();
    EXPECT_FALSE(Contains(output(), "Init Setup!"));
    EXPECT_FALSE(Contains(output(), "SOCKET SERVER start"));
    // Every remote service runs again and the file says so.
    ASSERT_TRUE(WaitFor([&] { return Contains(output(), "Cat.c start"); }, 15000));
    for (const char* started : {"Th_scrivi start", "Th_leggi start"})
        EXPECT_TRUE(printed(started, 3000)) << started;
    // The USB receiver is not on this root's bus: its thread gives up with the
    // "Usb" alarm.
    EXPECT_TRUE(logged("3 Cannot find VRN Device", 5000));
    std::string remote;
    EXPECT_TRUE(WaitFor(
        [&] {
            remote = ReadFile(dir.path + "/opt/set/setup.txt");
            return Contains(remote, "EnableRead: 1\n") && Contains(remote, "EnableWrite: 1\n") &&
                   Contains(remote, "EnableCAT: 1\n");
        },
        15000))
        << remote;
    // Nor is a CAT port: the relay gives up after its start-up wait and
    // switches itself off, so it is not among the joins at the end. Waiting for
    // it keeps the end from racing that wait on a slow machine.
    EXPECT_TRUE(logged("3 Unable to open device", 15000)) << syslog();

    ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F11));
    ASSERT_TRUE(logged("6 Save setup", 15000));
    ASSERT_TRUE(setupFileWhole(dir.path));
    std::string file = ReadFile(dir.path + "/opt/set/setup.txt");
    EXPECT_TRUE(Contains(file, "EnableLinear: 0\n"));

    ASSERT_NO_FATAL_FAILURE(stop());
    // Disabled services were neither started nor joined.
    // (Cat and FFT had failed.)
    for (const char* absent : {"Linear: not available", "Communicator joined Linear end",
                               "Communicator joined Wsocket end", "Communicator joined Cat end",
                               "Communicator joined FFT end"})
        EXPECT_FALSE(Contains(syslog(), absent)) << absent;
}

// systemctl stop (SIGTERM) ends the program as F12 does, and runs first what
// the held storage thread was asked.
TEST_F(PanelRun, SigtermRunsWhatTheHeldStorageThreadWasAsked) {
    ASSERT_TRUE(WriteFile(dir.path + "/sim/hang-storage", ""));
    start();
    ASSERT_TRUE(logged("6 Keyboard opened", 15000)) << syslog();
    ASSERT_TRUE(logged("6 storage thread held by sim/hang-storage", 5000));
    ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F10));
    ASSERT_TRUE(logged("6 launching ssh", 5000));
    EXPECT_FALSE(FileExists(dir.path + "/sim/sshshell.log"));
    PanelTerminate(&panel);
    ASSERT_TRUE(PanelWait(&panel, 15000)) << output();
    EXPECT_EQ(panel.exitStatus, 0);
    EXPECT_EQ(ReadFile(dir.path + "/sim/sshshell.log"), "sshshell\n");
    // The console restored after what waited, on this end as on F12.
    const std::vector<std::string> cmds = ReadLines(dir.path + "/commands.log");
    EXPECT_GT(FindLine(cmds, "stty sane"), FindLine(cmds, "/opt/sshshell"));
    const std::vector<std::string> log = ReadLines(dir.path + "/syslog.log");
    EXPECT_GT(FindLine(log, "launched ssh"), FindLine(log, "Exited by SIGTERM"));
}

} // namespace
