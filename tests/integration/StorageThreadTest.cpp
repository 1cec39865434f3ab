// The real panel with its storage thread held from the start (sim/hang-storage,
// a card that does not answer): the link, the keys, the keyboard and the
// screen go on, their files and commands wait, and the end (F12, SIGTERM)
// writes and runs them before the program exits.
#include "PanelFixture.h"

#include <cstdlib>
#include <linux/input.h>
#include <sys/wait.h>

namespace {

TEST(StorageThread, HeldItStallsNeitherLinkNorKeysNorScreenAndF12WritesWhatWaited) {
    TempDir dir;
    const std::string root = dir.path + "/root", script = dir.path + "/script.txt";
    ASSERT_TRUE(WriteFile(root + "/sim/hang-storage", ""));
    ASSERT_TRUE(WriteFile(script,
                          "expect 30000 Continuous keyboard loop started\nwait 1000\n"
                          // A bank change: its setup save waits (the file says bank 2 at the end).
                          "key 1\nwait 1000\n"
                          // A transmission: the link reads the forward power, the screen shows it.
                          "shot " + dir.path + "/rx.png\ntx on\nchanged 20000 170 164 260 186\ntx off\n"
                          // The keyboard's save and screenshot: asked for, not yet done.
                          "kbd " + std::to_string(KEY_F11) + "\nkbd " + std::to_string(KEY_SYSRQ) +
                              "\nexpect 10000 launching screenshot\nwait 1000\nf12\nexit 30000\n"));
    const std::string cmd = std::string(PANEL_SIM_EXE) + " --no-window --time-scale 2 --root " + root +
                            " --script " + script + " > " + dir.path + "/sim.out 2>&1";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << ReadFile(dir.path + "/sim.out") << ReadFile(root + "/panel.out");

    const std::vector<std::string> log = ReadLines(root + "/syslog.log");
    const int held = FindLine(log, "storage thread held by sim/hang-storage");
    ASSERT_GE(held, 0);
    // Everything above happened while it was held; the end let it go and it
    // saved the bank change and ran the screenshot then.
    const int end = FindLine(log, "Communicator operations end", held);
    ASSERT_GT(end, held);
    const int save = FindLine(log, "Save setup");
    EXPECT_GT(save, held);
    EXPECT_LT(save, end);
    EXPECT_GT(FindLine(log, "launched screenshot"), end);
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/setup.txt"), "NumBanco: 2\n"));
    const std::vector<std::string> cmds = ReadLines(root + "/commands.log");
    const int echoOff = FindLine(cmds, "stty -echo");
    ASSERT_GE(echoOff, 0);
    // Nothing ran before the hold ended: the keyboard's first command is the
    // first after start-up's own.
    EXPECT_GT(FindLine(cmds, "/usr/bin/fbgrab"), echoOff);
    EXPECT_GT(FindLine(cmds, "/bin/stty sane"), FindLine(cmds, "/usr/bin/fbgrab"));
    EXPECT_EQ(ReadFile(root + "/sim/opt-set.mount"), "ro\n");
}

// systemctl stop: the same end, the same drain.
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
