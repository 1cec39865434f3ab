// The simulator under strace: a tune, a menu save, the network's save, the
// status page, half a minute of transmission with the temperature log on, a
// bank change and the keyboard's keys. Every open for writing, rename, unlink and mount under the
// root's opt/set, and every process started, comes from the storage thread,
// or from start-up before it ran; never from the link, keys, keyboard,
// refresh, session, console or amplifier protocol threads.
#include "AmpctlPeer.h"
#include "StraceLog.h"
#include "TestRoot.h"
#include "WsPeer.h"

#include "devsim/Station.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The panel as panel-sim starts it, under strace, its trace in DIR/strace.txt
// of its root (its first arguments are "--root DIR"). Only the calls looked at
// stop the program (seccomp); LeakSanitizer's own ptrace cannot work under
// strace's. The SIGTERM with which panel-sim ends a panel goes to the panel:
// strace would only let go of it.
std::string tracedPanel(const std::string& dir) {
    const std::string wrapper = dir + "/traced-panel";
    if (!WriteFile(wrapper,
                   "#!/bin/sh\nASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f "
                   "--seccomp-bpf -Y -qq -o \"$2/strace.txt\" -e trace=open,openat,openat2,creat,truncate,rename,"
                   "renameat,renameat2,unlink,unlinkat,rmdir,mkdir,mkdirat,link,linkat,symlink,symlinkat,mount,"
                   "umount2,clone,clone3,fork,vfork,prctl '" PANEL_EXE "' \"$@\" &\n"
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
                if (!done)
                    answers += p.ask(c);
        });
    }
    ~Logger() { stop(); }
    void stop() {
        done = true;
        if (thread.joinable())
            thread.join();
    }
};

// A panel of `root` that outlived its simulator (a failed run), ended by its id.
void killLeftovers(const std::string& root) {
    const std::string wanted = std::string("--root") + '\0' + root + '\0';
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (Contains(ReadFile(e.path().string() + "/cmdline"), wanted))
            kill(std::atoi(name.c_str()), SIGKILL);
    }
}

int runSim(const std::string& dir, const std::string& args, const std::string& script) {
    if (!WriteFile(dir + "/script.txt", script))
        return -1;
    const std::string cmd = std::string(PANEL_SIM_EXE) + " --no-window " + args + " --panel " + tracedPanel(dir) +
                            " --script " + dir + "/script.txt > " + dir + "/sim.out 2>&1";
    const int status = std::system(cmd.c_str());
    killLeftovers(dir + "/root");
    killLeftovers(dir + "/root/operator");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads the unit's trace: the threads `named` are there, and every write
// under its opt/set and every process started is the storage thread's, or
// start-up's (the main thread before the storage thread took its name).
// `byStorage` counts the storage thread's writes and processes.
void expectOnlyStorage(const std::string& root, std::initializer_list<const char*> named, int byStorage[2]) {
    const TraceSummary t = ReadTrace(ReadFile(root + "/strace.txt"), root + "/opt/set/", "storage");
    for (const char* name : named)
        EXPECT_TRUE(t.threads.count(name)) << "no thread named " << name << " in " << root << "/strace.txt";
    ASSERT_GT(t.namedAt, 0);
    byStorage[0] = byStorage[1] = 0;
    std::string wrong;
    for (const TraceDeed& d : t.deeds) {
        const bool startUp = d.pid == t.programPid && d.line < t.namedAt;
        if (d.thread == "storage")
            byStorage[d.what == "process" ? 1 : 0]++;
        else if (!startUp)
            wrong += d.thread + " (" + d.what + ", line " + std::to_string(d.line) + "): " + d.text + "\n";
    }
    EXPECT_TRUE(wrong.empty()) << root << ":\n" << wrong;
}

TEST(StorageTrace, OnlyTheStorageThreadWritesSettingsAndStartsProcesses) {
    ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0) << "strace is missing (scripts/install-deps)";
    TempDir dir;
    const std::string root = dir.path + "/root";
    // The station's setup, with the temperature log on and the console on a
    // port of its own; a board whose kernel gives no temperature, so that
    // my_temp runs every second.
    const int ampctlPort = FreeTcpPort();
    ASSERT_TRUE(WriteFile(root + "/opt/set/setup.txt", std::string("CatSerialPort: ") + kStationFt817Port +
                                                           "\nAutoTuneMode: 1\nSWRescAutoTune: 150\n"
                                                           "EnableLOGTemp: 1\nWebPort: " +
                                                           std::to_string(FreeTcpPort()) + "\nAmpctlPort: " +
                                                           std::to_string(ampctlPort) + "\n"));
    Logger logger([ampctlPort] { return ampctlPort; });
    ASSERT_TRUE(std::filesystem::create_directories(root + "/sys/class/thermal/thermal_zone0/temp"));
    ASSERT_TRUE(WriteFile(root + "/etc/network/interfaces",
                          "auto eth0\niface eth0 inet static\naddress 192.168.1.20\nnetmask 255.255.255.0\n"));
    auto key = [](int code) { return "kbd " + std::to_string(code) + "\n"; };
    const int status = runSim(dir.path, "--time-scale 4 --root " + root,
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
                                  "expect 10000 launched screenshot\nwait 2000\nf12\nexit 30000\n");
    logger.stop();
    ASSERT_EQ(status, 0) << ReadFile(dir.path + "/sim.out") << ReadFile(root + "/panel.out");

    // The run did what it was asked: each of these went through the storage thread.
    EXPECT_TRUE(Contains(logger.answers, "RPRT 0\n")) << logger.answers;
    const std::string setup = ReadFile(root + "/opt/set/setup.txt");
    EXPECT_TRUE(Contains(setup, "MAXbank: 19\n")) << setup;
    EXPECT_TRUE(Contains(setup, "NumBanco: 2\n")) << setup;
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/atu_ant1_b1.txt"), " 14070000 1 "));
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/antenna_b1.txt"), "!Tav\n"));
    EXPECT_GE(ReadLines(root + "/opt/set/LOGtemp.txt").size(), 6u); // the header and a line per 5 s
    const std::string commands = ReadFile(root + "/commands.log");
    for (const char* c : {"stty -echo\n", "my_temp\n", "lsusb | grep 0d8c\n", "rm /opt/set/LOGtemp.txt\n",
                          "mount -o remount defaults,rw /\n",
                          "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a\n",
                          "/usr/bin/fbgrab /tmp/screen.png", "/opt/sshshell\n", "/bin/stty sane\n",
                          "/usr/bin/tput clear\n"})
        EXPECT_TRUE(Contains(commands, c)) << c;

    int byStorage[2];
    expectOnlyStorage(root, {"storage", "link", "keys", "keyboard", "refresh", "ws-server", "web", "ampctl"},
                      byStorage);
    // Enough seen to trust the trace: the files above and their remounts' processes.
    EXPECT_GE(byStorage[0], 10);
    EXPECT_GE(byStorage[1], 20);
}

// Two units joined by the remote link: the sessions' threads (ws-server,
// ws-client) and the audio threads run while the station transmits and the
// operator's unit changes its bank.
TEST(StorageTrace, TheSessionsToo) {
    ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0) << "strace is missing (scripts/install-deps)";
    TempDir dir;
    const std::string root = dir.path + "/root", op = root + "/operator";
    // A logger beside the operator: its changes reach the station over the link.
    Logger logger([&dir] {
        const std::string said = ReadFile(dir.path + "/sim.out");
        const size_t at = said.find("the operator's unit (for the station's amplifier) serves");
        return at == std::string::npos ? -1 : std::atoi(said.c_str() + said.find("127.0.0.1:", at) + 10);
    });
    const int status = runSim(dir.path, "--remote --time-scale 1 --root " + root,
                              "session 30000\noperator expect 30000 Continuous keyboard loop started\n"
                              "audio on\ntx on\nwait 3000\noperator key 6\ntx off\n"
                              "operator key 1\nwait 2000\nf12\nexit 30000\noperator f12\noperator exit 30000\n");
    logger.stop();
    ASSERT_EQ(status, 0) << ReadFile(dir.path + "/sim.out") << ReadFile(root + "/panel.out");
    EXPECT_TRUE(Contains(ReadFile(op + "/opt/set/setup.txt"), "NumBanco: 2\n"));
    EXPECT_TRUE(Contains(logger.answers, "RPRT 0\n")) << logger.answers;
    int station[2], operatorUnit[2];
    expectOnlyStorage(root, {"storage", "link", "keys", "refresh", "ws-server", "ampctl"}, station);
    expectOnlyStorage(op, {"storage", "keys", "refresh", "ws-client", "ampctl"}, operatorUnit);
    EXPECT_GE(operatorUnit[0], 2); // the bank change's setup file: its write and rename
}

} // namespace
