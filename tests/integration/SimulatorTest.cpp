// The desktop simulator in its scripted mode: it runs the panel against its
// station, presses keys and saves the screen; with the panel's storage thread
// held, and with the panel under strace.
#include "AmpctlPeer.h"
#include "DrawnText.h"
#include "StraceLog.h"
#include "TestRoot.h"
#include "WsPeer.h"

#include "devsim/PngFile.h"
#include "devsim/SimAudio.h"
#include "devsim/Station.h"
#include "devsim/UsbRxModel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The processes with `text` in their command line (its arguments joined by spaces).
std::vector<pid_t> processesWith(const std::string& text) {
    std::vector<pid_t> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmd = ReadFile(e.path().string() + "/cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        if (Contains(cmd, text)) found.push_back(std::atoi(name.c_str()));
    }
    return found;
}

// Runs panel-sim --no-window `args` on `script` (written to DIR/script.txt),
// its root DIR/root, with the panel program `panel` when one is given; fails
// with what it said unless it ended with status 0. A panel that outlived its
// simulator (a failed run) is ended by its id.
testing::AssertionResult runSim(const TempDir& dir, const std::string& args,
                                const std::string& script, const std::string& panel = "") {
    const std::string file = dir.path + "/script.txt", out = dir.path + "/sim.out";
    const std::string root = dir.path + "/root";
    if (!WriteFile(file, script))
        return testing::AssertionFailure() << "script not written";
    const int status = std::system((std::string(PANEL_SIM_EXE) + " --no-window " + args +
                                    " --root " + root + (panel.empty() ? "" : " --panel " + panel) +
                                    " --script " + file + " > " + out + " 2>&1")
                                       .c_str());
    for (const std::string& r : {root, root + "/operator"})
        for (pid_t pid : processesWith("--root " + r + " "))
            kill(pid, SIGKILL);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "status " << status << "\n"
                                       << ReadFile(out) << ReadFile(root + "/panel.out");
}

// Two units joined by the remote link: the operator's unit follows the
// transceiver of the amplifier's unit, each unit's status reaches the other, and
// the Remote entry switches the remote services off and on.
TEST(Simulator, TwoUnitsJoinedByTheRemoteLink) {
    TempDir dir;
    const std::string root = dir.path + "/root";
    ASSERT_TRUE(runSim(dir, "--remote --time-scale 1",
                       "session 30000\n"
                       // The transceiver goes to 40 m: its parameters reach the operator's
                       // unit, whose status record says so to the amplifier's.
                       "freq 7074000\n"
                       "expect 10000 BUFFER Wsocket : 40m\n"
                       "operator expect 10000 BUFFER Wsocket : 40m\n"
                       // The operator's plot page shows the transceiver's spectrum: peaks
                       // of its stations stand above the noise floor of the plot.
                       "operator key 6\noperator key 6\noperator key 6\n"
                       "operator colour 20000 70 60 760 160 250 0 150 21\n"
                       // The unit starts in remote operation (its audio flags are on):
                       // from the menu, Local stops the services, Remote starts them.
                       "key 5\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\n"
                       "key 6\nkey 5\nkey 6\nexpect 10000 REMOTE STOP\n"
                       // Stopped as a loaded machine stops it, the panel still takes the
                       // key held meanwhile.
                       "stall 1500\nkey 6\nkey 5\nexpect 10000 Remote GO!\nkey 6\n"
                       "wait 2000\n"
                       "f12\nexit 15000\noperator f12\noperator exit 15000\n"));
    EXPECT_TRUE(Contains(ReadFile(dir.path + "/sim.out"), "operator's unit ended with status 0"));
    // The services were switched off, then on again (started twice in all).
    const std::string out = ReadFile(root + "/panel.out");
    for (const char* started : {"Th_scrivi start", "Th_leggi start", "Cat.c start"})
        EXPECT_EQ(CountOf(out, started), 2u) << started;
    EXPECT_TRUE(Contains(out, "th_leggi END")); // the capture thread ended at Local
    // With umockdev the spectrum came from the receiver's model, whose thread
    // also ended at Local and started again at Remote.
    if (UsbRxModelPreloadable()) {
        EXPECT_EQ(CountOf(out, "SYN transfer starting"), 2u);
        EXPECT_FALSE(Contains(ReadFile(root + "/syslog.log"), "3 Cannot find VRN Device"));
    }
}

// The operator's unit shows the station's amplifier: its SWR as the station
// draws it, its alarm keys, which the operator's reset clears at the station,
// and "no link" once the station has gone.
TEST(Simulator, TheOperatorSeesTheStationsAmplifier) {
    TempDir dir;
    auto pair = [&](const char* name) {
        return "operator shot " + dir.path + "/op-" + name + ".png\nshot " + dir.path + "/st-" + name + ".png\n";
    };
    // The transmission tunes and stores the word, then goes on at full power.
    ASSERT_TRUE(runSim(dir, "--remote --time-scale 1",
                       "session 30000\ntx on\nexpect 30000 Save Tune To File\nwait 2000\n"
                       "key 6\noperator key 6\nwait 1500\n" +
                           pair("swr") +
                           "tx off\nfault 2\n"
                           // Until both show the alarm's red keys: the operator's reset
                           // key asks the station only once its alarms have arrived.
                           "colour 15000 5 372 795 414 255 30 0 1000\n"
                           "operator colour 15000 5 372 795 414 255 30 0 1000\n" +
                           pair("alarm") +
                           "operator key 1\nexpect 10000 the operator asked for the alarm reset\n"
                           // Until both key strips have changed from the alarm's
                           // shot and settled: a loaded machine takes its time.
                           "changed 15000 5 372 795 414\noperator changed 15000 5 372 795 414\n" +
                           pair("reset") + "f12\nexit 15000\nwait 3000\noperator shot " + dir.path +
                           "/op-gone.png\noperator f12\noperator exit 15000\n"));

    auto load = [&](const std::string& name) {
        SimPng p;
        EXPECT_TRUE(SimPngReadRgba(dir.path + "/" + name + ".png", &p)) << name;
        return p;
    };
    SimPng img1, img3;
    ASSERT_TRUE(SimPngReadRgba(std::string(PANEL_SKINS_DIR) + "/img1.png", &img1));
    ASSERT_TRUE(SimPngReadRgba(std::string(PANEL_SKINS_DIR) + "/img3.png", &img3));
    constexpr uint8_t kBlack[3] = {0, 0, 0};

    // Page 2: the SWR. The record carries hundredths, which the operator rounds
    // to tenths again: the two texts may differ by one in the last digit. Each
    // matches to a few edge pixels, and no other text comes close.
    const TextBox swrBox{575, 164, 640, 186};
    const DrawnNumber opS = ReadDrawnNumber(load("op-swr"), img3, 8, 580, 180, kBlack, "%02.01f", 0, 20, 0.1, swrBox);
    const DrawnNumber stS = ReadDrawnNumber(load("st-swr"), img3, 8, 580, 180, kBlack, "%02.01f", 0, 20, 0.1, swrBox);
    EXPECT_NEAR(opS.value, stS.value, 0.11);
    EXPECT_GE(opS.value, 1.0);
    for (const DrawnNumber& d : {opS, stS}) {
        EXPECT_LE(d.differing, 5) << "read as " << d.value;
        EXPECT_GE(d.runnerUp, d.differing + 10) << "read as " << d.value;
    }

    // The alarm keys reach the operator's unit (drawn as the station has them:
    // ReferenceScreens.OperatorsMainPageLinkedStaleAndUnlinked); the reset from
    // the operator's unit clears them at both.
    auto alarmPixels = [](const SimPng& p) {
        int n = 0;
        for (int y = 372; y < 414; y++)
            for (int x = 5; x < 795; x++) {
                const uint8_t* q = &p.data[(static_cast<size_t>(y) * 800 + x) * 4];
                n += (q[0] >= 250 && q[1] == 150 && q[2] == 0) || (q[0] == 255 && q[1] == 30 && q[2] == 0);
            }
        return n;
    };
    EXPECT_GT(alarmPixels(load("st-alarm")), 1000);
    EXPECT_GT(alarmPixels(load("op-alarm")), 1000);
    EXPECT_EQ(alarmPixels(load("st-reset")), 0);
    EXPECT_EQ(alarmPixels(load("op-reset")), 0);

    // The station has gone: no readings, "no link" where they were.
    const SimPng gone = load("op-gone");
    constexpr uint8_t kGrey[3] = {120, 120, 120};
    const DrawnNumber noLink =
        ReadDrawnNumber(gone, img1, 8, 175, 180, kGrey, "no link", 0, 0, 1, TextBox{170, 164, 260, 186});
    EXPECT_LT(noLink.differing, 20);
}

// Starts panel-sim with `args`, what it says in `out`; its process id, or -1.
pid_t spawnSim(std::vector<std::string> args, const std::string& out) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    args.insert(args.begin(), PANEL_SIM_EXE);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t sim = -1;
    const int rc = posix_spawn(&sim, PANEL_SIM_EXE, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? sim : -1;
}

// The port a unit serves the amplifier protocol on, as the simulator prints it ("... at 127.0.0.1:PORT").
int ampctlPort(const std::string& said, const std::string& who) {
    const size_t at = said.find("panel-sim: " + who + " serves Hamlib's amplifier protocol at 127.0.0.1:");
    return at == std::string::npos ? -1 : std::atoi(said.c_str() + said.find("127.0.0.1:", at) + 10);
}

// A logger beside the operator reads the station's amplifier from the
// operator's unit: its forward power within a second of the station's own
// server, and its standby, asked there, reaches the station's amplifier.
TEST(Simulator, ALoggerBesideTheOperatorReadsAndSwitchesTheStationsAmplifier) {
    TempDir dir;
    const std::string script = dir.path + "/script.txt", root = dir.path + "/root", out = dir.path + "/sim.out";
    // Receive until the loggers have seen it, then a transmission (the first
    // one tunes) held until the operator's unit has refused the logger's
    // standby, then receive until the test ends the simulator.
    ASSERT_TRUE(WriteFile(script,
                          "session 30000\nwait 8000\ntx on\nexpect 60000 Save Tune To File\n"
                          "operator logged 1 120000 refused with RPRT -9\ntx off\nwait 600000\n"));
    const pid_t sim =
        spawnSim({"--no-window", "--remote", "--time-scale", "1", "--root", root, "--script", script}, out);
    ASSERT_GT(sim, 0);
    struct EndSim {
        pid_t pid;
        std::string out;
        ~EndSim() {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(Contains(ReadFile(out), "operator's unit ended with status 0")) << ReadFile(out);
        }
    } end{sim, out};

    int stationPort = -1, operatorPort = -1;
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string said = ReadFile(out);
            stationPort = ampctlPort(said, "the amplifier's unit");
            operatorPort = ampctlPort(said, "the operator's unit (for the station's amplifier)");
            return stationPort > 0 && operatorPort > 0;
        },
        30000))
        << ReadFile(out);
    AmpctlPeer station, logger;
    ASSERT_TRUE(station.connectTo("127.0.0.1", stationPort, 30000));
    ASSERT_TRUE(logger.connectTo("127.0.0.1", operatorPort, 30000));
    // Once the session is up and the station's record current: its values.
    ASSERT_TRUE(WaitFor([&] { return logger.ask("l PWRFORWARD") == "0\n"; }, 30000)) << ReadFile(out);
    EXPECT_EQ(station.ask("l PWRFORWARD"), "0\n"); // before the transmission

    // The station's change as its own server sees it, and as the operator's does.
    using Clock = std::chrono::steady_clock;
    Clock::time_point atStation{}, atOperator{};
    auto watts = [](const std::string& answer) { return answer.empty() ? 0 : std::atoi(answer.c_str()); };
    ASSERT_TRUE(WaitFor(
        [&] {
            if (atStation == Clock::time_point{} && watts(station.ask("l PWRFORWARD")) >= 2)
                atStation = Clock::now();
            if (atOperator == Clock::time_point{} && watts(logger.ask("l PWRFORWARD")) >= 2)
                atOperator = Clock::now();
            return atStation != Clock::time_point{} && atOperator != Clock::time_point{};
        },
        60000));
    const auto followMs = std::chrono::duration_cast<std::chrono::milliseconds>(atOperator - atStation).count();
    std::printf("the operator's server read the station's power %lld ms after the station's own\n",
                static_cast<long long>(followMs));
    EXPECT_LE(followMs, 1000);

    // Standby asked at the operator's unit: refused while the station transmits,
    // made once it receives, and operate again. The transmitting flag comes in
    // another message than the power, so it may follow it.
    ASSERT_TRUE(WaitFor([&] { return Contains(logger.ask("s"), "PTT"); }, 30000)) << ReadFile(out);
    EXPECT_EQ(logger.ask("\\set_powerstat 2"), "RPRT -9\n");
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string flags = logger.ask("s");
            return !flags.empty() && !Contains(flags, "PTT") && !Contains(flags, "RPRT");
        },
        90000))
        << ReadFile(out); // the transmission is over
    EXPECT_EQ(logger.ask("\\set_powerstat 2"), "RPRT 0\n");
    EXPECT_TRUE(WaitFor([&] { return station.ask("\\get_powerstat") == "2\n"; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return logger.ask("\\get_powerstat") == "2\n"; }, 5000));
    EXPECT_EQ(logger.ask("\\set_powerstat 4"), "RPRT 0\n");
    EXPECT_TRUE(WaitFor([&] { return station.ask("\\get_powerstat") == "4\n"; }, 5000));
    EXPECT_TRUE(Contains(ReadFile(root + "/panel.out"), ">> AB1;"));
}

// A tone captured on each unit is played on the other, raw and as Opus at
// 64000 bit/s, and the time from capture to playback is measured.
TEST(Simulator, AudioBothWaysRawAndOpus) {
    for (int compress : {0, 64000}) {
        TempDir dir;
        const std::string root = dir.path + "/root";
        ASSERT_TRUE(runSim(dir, "--time-scale 3 --remote --compress " + std::to_string(compress),
                           "session 30000\nexpect 15000 output audio interface prepared\n"
                           "operator expect 15000 output audio interface prepared\n"
                           "audio on\nlatency 10000\nwait 1000\nf12\nexit 15000\noperator f12\noperator exit 15000\n"));
        const std::string said = ReadFile(dir.path + "/sim.out");
        // The latency, as the simulator measured it (reported by the test run).
        const size_t at = said.find("audio latency");
        ASSERT_NE(at, std::string::npos) << said;
        std::printf("compress %d: %s", compress, said.substr(at, said.find('\n', at) - at + 1).c_str());
        long there = -1, back = -1;
        ASSERT_EQ(std::sscanf(said.c_str() + at, "audio latency %ld ms amplifier to operator, %ld ms back",
                              &there, &back),
                  2);
        EXPECT_LT(there, 500);
        EXPECT_LT(back, 500);
        // Each unit played the other's tone: 700 Hz from the station, 1000 Hz back.
        for (auto [played, hz] : {std::pair{root + "/operator/sim/played.raw", 700.0},
                                  {root + "/sim/played.raw", 1000.0}}) {
            const std::vector<int16_t> s = SimAudioRead(played);
            const long loud = SimAudioFirstLoud(s, 2, 0, 1000);
            ASSERT_GE(loud, 0) << played;
            EXPECT_NEAR(SimAudioToneHz(s, 2, static_cast<size_t>(loud) + 4800, 9600), hz, 5.0)
                << played << " compress " << compress;
        }
    }
}

TEST(Simulator, EndedBySigtermItEndsItsPanelAndRemovesItsRoot) {
    TempDir dir;
    const std::string script = dir.path + "/script.txt", out = dir.path + "/sim.out";
    ASSERT_TRUE(WriteFile(script, "wait 600000\n"));
    const pid_t sim = spawnSim({"--no-window", "--time-scale", "3", "--script", script}, out);
    ASSERT_GT(sim, 0);

    // Its own root under /tmp, named in its first line.
    std::string root;
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string text = ReadFile(out);
            const size_t at = text.find("root /tmp/panel-sim-");
            if (at == std::string::npos)
                return false;
            root = text.substr(at + 5, text.find(',', at) - at - 5);
            return true;
        },
        10000));
    ASSERT_TRUE(WaitFor([&] { return Contains(ReadFile(root + "/panel.out"), "Continuous keyboard"); },
                        20000))
        << ReadFile(out);
    ASSERT_FALSE(processesWith("--root " + root).empty());

    kill(sim, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(sim, &status, 0), sim);
    EXPECT_TRUE(WIFEXITED(status));
    const std::string said = ReadFile(out);
    EXPECT_TRUE(Contains(said, "panel ended with status 0")) << said; // the orderly end
    EXPECT_TRUE(processesWith("--root " + root).empty());
    EXPECT_FALSE(FileExists(root));
}

// The transmit time limit of remote operation: the operator's logging software
// keys the station's transceiver through the relayed CAT and holds it past a
// 10 s limit. Both screens show the limit; at it the station sends "RX;" on the
// CAT port, asks receive on the transceiver's link, and once the power has
// fallen puts the amplifier in standby. The next relayed "TX;" is refused until
// the operator's RESET key; after it the operator transmits again.
TEST(Simulator, RemoteTransmissionEndsAtTheTimeLimit) {
    TempDir dir;
    ASSERT_TRUE(runSim(dir, "--remote --time-scale 2 --setup 'RemoteTxLimit: 10'",
                       "session 30000\n"
                       // Text on a CAT port before the relay has opened it is lost.
                       "logged 1 15000 OK works->catFD=\n"
                       "operator logged 1 15000 OK works->catFD=\n"
                       "operator cat TX;\n"
                       "received 10000 cat TX; =1\n"
                       "expect 15000 s left after\n"
                       // The notice line of either unit, in its colour.
                       "colour 10000 5 330 795 356 255 200 0 20\n"
                       "operator colour 10000 5 330 795 356 255 200 0 20\n"
                       "expect 30000 (limit 10 s); transmit refused until acknowledged\n"
                       "received 10000 cat RX; 1\n"
                       "received 10000 link RX; 1\n"
                       "standby 20000 on\n"
                       // The limit's "RX;" went once: the guard is past it.
                       "received 0 cat RX; =1\n"
                       // The notice stays on both screens, and refuses the next "TX;".
                       "colour 10000 5 330 795 356 255 200 0 20\n"
                       "operator colour 10000 5 330 795 356 255 200 0 20\n"
                       "operator cat TX;\n"
                       "expect 10000 a transmit request on the relayed CAT refused\n"
                       "received 0 cat TX; =1\n"
                       "operator key 1\n"
                       "expect 10000 the operator asked for the alarm reset\n"
                       "expect 10000 remote TX limit: acknowledged\n"
                       "operator cat TX;\n"
                       "received 10000 cat TX; =2\n"
                       "logged 2 10000 s of transmitting\n"
                       "operator cat RX;\n"
                       "received 10000 cat RX; 2\n"
                       "f12\nexit 15000\noperator f12\noperator exit 15000\n"));
}

// The panel with its storage thread held from the start (sim/hang-storage, a
// card that does not answer): the link, the keys, the keyboard and the screen
// go on, their files and commands wait, and F12 writes and runs them before
// the program exits.
TEST(StorageThread, HeldItStallsNeitherLinkNorKeysNorScreenAndF12WritesWhatWaited) {
    TempDir dir;
    const std::string root = dir.path + "/root";
    ASSERT_TRUE(WriteFile(root + "/sim/hang-storage", ""));
    // The keyboard's save and screenshot: asked for, not yet done.
    const std::string keyboard =
        "kbd " + std::to_string(KEY_F11) + "\nkbd " + std::to_string(KEY_SYSRQ) + "\n";
    ASSERT_TRUE(runSim(dir, "--time-scale 2",
                       "expect 30000 Continuous keyboard loop started\nwait 1000\n"
                       // A bank change: its setup save waits (the file says bank 2 at the end).
                       "key 1\nwait 1000\n"
                       // A transmission: the link reads the forward power, the screen shows it.
                       "shot " +
                           dir.path + "/rx.png\ntx on\nchanged 20000 170 164 260 186\n" +
                           "tx off\n" + keyboard + "expect 10000 launching screenshot\n" +
                           "wait 1000\nf12\nexit 30000\n"));

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

// Under strace: a tune, a menu save, the network's save, the status page, half
// a minute of transmission with the temperature log on, a bank change and the
// keyboard's keys. Every open for writing, rename, unlink and mount under the
// root's opt/set, and every process started, comes from the storage thread, or
// from start-up before it ran; never from the link, keys, keyboard, refresh,
// session, console or amplifier protocol threads.

// The panel as panel-sim starts it, under strace, its trace in DIR/strace.txt
// of its root (its first arguments are "--root DIR"). Only the calls looked at
// stop the program (seccomp); LeakSanitizer's own ptrace cannot work under
// strace's. The SIGTERM with which panel-sim ends a panel goes to the panel:
// strace would only let go of it.
std::string tracedPanel(const std::string& dir) {
    const std::string wrapper = dir + "/traced-panel";
    if (!WriteFile(
            wrapper,
            "#!/bin/sh\nASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace "
            "-f --seccomp-bpf -Y -qq -o \"$2/strace.txt\" -e trace=open,openat,openat2,creat,"
            "truncate,rename,renameat,renameat2,unlink,unlinkat,rmdir,mkdir,mkdirat,link,"
            "linkat,symlink,symlinkat,mount,umount2,clone,clone3,fork,vfork,prctl '" PANEL_EXE
            "' \"$@\" &\n"
            "tracer=$!\n"
            "trap 'kill -TERM $(cat /proc/$tracer/task/$tracer/children) 2>/dev/null' TERM INT\n"
            "while :; do wait $tracer; rc=$?; kill -0 $tracer 2>/dev/null || exit $rc; done\n") ||
        chmod(wrapper.c_str(), 0755) != 0)
        return "";
    return wrapper;
}

// A logger on a unit's amplifier protocol while the run lasts: once the unit
// has readings, it asks for standby and operate (their requests go the keys'
// way, which saves the bank row) and reads. `port` says where, once known.
struct Logger {
    std::atomic<bool> done{false};
    std::string answers;
    std::thread thread;
    explicit Logger(std::function<int()> port) {
        thread = std::thread([this, port] {
            AmpctlPeer p;
            int n = -1;
            while (!done && ((n = port()) <= 0 || !p.connectTo("127.0.0.1", n, 200)))
                usleep(100000);
            while (!done && p.fd >= 0 && !Contains("24", p.ask("\\get_powerstat").substr(0, 1)))
                usleep(100000);
            for (const char* c : {"\\set_powerstat 2", "\\set_powerstat 4", "l SWR", "s"})
                if (!done) answers += p.ask(c);
        });
    }
    ~Logger() { stop(); }
    void stop() {
        done = true;
        if (thread.joinable()) thread.join();
    }
};

// Reads the unit's trace: the threads `named` are there, and every write
// under its opt/set and every process started is the storage thread's, or
// start-up's (the main thread before the storage thread took its name).
// `byStorage` counts the storage thread's writes and processes.
void expectOnlyStorage(const std::string& root, std::initializer_list<const char*> named,
                       int byStorage[2]) {
    const TraceSummary t = ReadTrace(ReadFile(root + "/strace.txt"), root + "/opt/set/", "storage");
    for (const char* name : named)
        EXPECT_TRUE(t.threads.count(name))
            << "no thread named " << name << " in " << root << "/strace.txt";
    ASSERT_GT(t.namedAt, 0);
    byStorage[0] = byStorage[1] = 0;
    std::string wrong;
    for (const TraceDeed& d : t.deeds) {
        const bool startUp = d.pid == t.programPid && d.line < t.namedAt;
        if (d.thread == "storage")
            byStorage[d.what == "process" ? 1 : 0]++;
        else if (!startUp)
            wrong += d.thread + " (" + d.what + ", line " + std::to_string(d.line) +
                     "): " + d.text + "\n";
    }
    EXPECT_TRUE(wrong.empty()) << root << ":\n" << wrong;
}

TEST(StorageTrace, OnlyTheStorageThreadWritesSettingsAndStartsProcesses) {
    ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0)
        << "strace is missing (scripts/install-deps)";
    TempDir dir;
    const std::string root = dir.path + "/root";
    // The station's setup, with the temperature log on and the console on a
    // port of its own; a board whose kernel gives no temperature, so that
    // my_temp runs every second.
    const int port = FreeTcpPort();
    ASSERT_TRUE(
        WriteFile(root + "/opt/set/setup.txt", std::string("CatSerialPort: ") + kStationFt817Port +
                                                   "\nAutoTuneMode: 1\nSWRescAutoTune: 150\n"
                                                   "EnableLOGTemp: 1\nWebPort: " +
                                                   std::to_string(FreeTcpPort()) +
                                                   "\nAmpctlPort: " + std::to_string(port) + "\n"));
    Logger logger([port] { return port; });
    ASSERT_TRUE(
        std::filesystem::create_directories(root + "/sys/class/thermal/thermal_zone0/temp"));
    ASSERT_TRUE(WriteFile(
        root + "/etc/network/interfaces",
        "auto eth0\niface eth0 inet static\naddress 192.168.1.20\nnetmask 255.255.255.0\n"));
    auto key = [](int code) { return "kbd " + std::to_string(code) + "\n"; };
    ASSERT_TRUE(
        runSim(dir, "--time-scale 4",
               "expect 30000 Continuous keyboard loop started\nwait 2000\n"
               // A menu save: MAX BANK one lower, ENTER, back to the main page.
               "key 5\nkey 6\nkey 4\nkey 6\nkey 1\n"
               // The network's save: down past Local/Remote to the address, ENTER.
               "key 5\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\nkey 4\n"
               "key 6\nkey 6\nkey 1\n"
               // The status page, long enough for its probes to run twice.
               "long 6\nwait 11000\nkey 6\n"
               // A tune on the transceiver's carrier, which stores its word.
               "interface\nexpect 15000 OK works->serFD\ntune\nexpect 15000 START AUTO TUNE\n"
               "expect 60000 SENT TAV RX;\nexpect 15000 Save Tune To File\n"
               // Half a minute of transmission: the log's rm and a line every 5 s.
               "tx on\nwait 30000\ntx off\n"
               // The main keys again, a bank change, the keyboard's save,
               // screenshot and remote shell.
               "key 1\nkey 1\nwait 2000\n" +
                   key(KEY_F11) + key(KEY_SYSRQ) + key(KEY_F10) +
                   "expect 10000 launched screenshot\nwait 2000\nf12\nexit 30000\n",
               tracedPanel(dir.path)));
    logger.stop();

    // The run did what it was asked: each of these went through the storage thread.
    EXPECT_TRUE(Contains(logger.answers, "RPRT 0\n")) << logger.answers;
    const std::string setup = ReadFile(root + "/opt/set/setup.txt");
    EXPECT_TRUE(Contains(setup, "MAXbank: 19\n")) << setup;
    EXPECT_TRUE(Contains(setup, "NumBanco: 2\n")) << setup;
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/atu_ant1_b1.txt"), " 14070000 1 "));
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/antenna_b1.txt"), "!Tav\n"));
    EXPECT_GE(ReadLines(root + "/opt/set/LOGtemp.txt").size(), 6u); // the header and a line per 5 s
    const std::string commands = ReadFile(root + "/commands.log");
    for (const char* c : {"stty -echo\n", "my_temp\n", "lsusb | grep 0d8c\n",
                          "rm /opt/set/LOGtemp.txt\n", "mount -o remount defaults,rw /\n",
                          "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a\n",
                          "/usr/bin/fbgrab /tmp/screen.png", "/opt/sshshell\n", "/bin/stty sane\n",
                          "/usr/bin/tput clear\n"})
        EXPECT_TRUE(Contains(commands, c)) << c;

    int byStorage[2];
    expectOnlyStorage(
        root, {"storage", "link", "keys", "keyboard", "refresh", "ws-server", "web", "ampctl"},
        byStorage);
    // Enough seen to trust the trace: the files above and their remounts' processes.
    EXPECT_GE(byStorage[0], 10);
    EXPECT_GE(byStorage[1], 20);
}

// Two units joined by the remote link: the sessions' threads (ws-server,
// ws-client) and the audio threads run while the station transmits and the
// operator's unit changes its bank.
TEST(StorageTrace, TheSessionsToo) {
    ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0)
        << "strace is missing (scripts/install-deps)";
    TempDir dir;
    const std::string root = dir.path + "/root", op = root + "/operator";
    // A logger beside the operator: its changes reach the station over the link.
    Logger logger([&dir] {
        return ampctlPort(ReadFile(dir.path + "/sim.out"),
                          "the operator's unit (for the station's amplifier)");
    });
    ASSERT_TRUE(
        runSim(dir, "--remote --time-scale 1",
               "session 30000\noperator expect 30000 Continuous keyboard loop started\n"
               "audio on\ntx on\nwait 3000\noperator key 6\ntx off\n"
               "operator key 1\nwait 2000\nf12\nexit 30000\noperator f12\noperator exit 30000\n",
               tracedPanel(dir.path)));
    logger.stop();
    EXPECT_TRUE(Contains(ReadFile(op + "/opt/set/setup.txt"), "NumBanco: 2\n"));
    EXPECT_TRUE(Contains(logger.answers, "RPRT 0\n")) << logger.answers;
    int station[2], operatorUnit[2];
    expectOnlyStorage(root, {"storage", "link", "keys", "refresh", "ws-server", "ampctl"}, station);
    expectOnlyStorage(op, {"storage", "keys", "refresh", "ws-client", "ampctl"}, operatorUnit);
    EXPECT_GE(operatorUnit[0], 2); // the bank change's setup file: its write and rename
}

} // namespace
