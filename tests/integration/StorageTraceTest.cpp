// The simulator under strace: a tune, a menu save, the network's save, the
// status page, half a minute of transmission with the temperature log on, a
// bank change and the keyboard's keys. Every open for writing, rename, unlink and mount under the
// root's opt/set, and every process started, comes from the storage thread,
// or from start-up before it ran; never from the link, keys, keyboard,
// refresh, session or console threads.
#include "StraceLog.h"
#include "TestRoot.h"

#include "devsim/Station.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A port nobody listens on now, for the browser console.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

TEST(StorageTrace, OnlyTheStorageThreadWritesSettingsAndStartsProcesses) {
    ASSERT_EQ(std::system("strace -V >/dev/null 2>&1"), 0) << "strace is missing (scripts/install-deps)";
    TempDir dir;
    const std::string root = dir.path + "/root", trace = dir.path + "/trace.txt";
    const std::string script = dir.path + "/script.txt", wrapper = dir.path + "/traced-panel";
    // The station's setup, with the temperature log on and the console on a
    // port of its own; a board whose kernel gives no temperature, so that
    // my_temp runs every second.
    ASSERT_TRUE(WriteFile(root + "/opt/set/setup.txt", std::string("CatSerialPort: ") + kStationFt817Port +
                                                           "\nAutoTuneMode: 1\nSWRescAutoTune: 150\n"
                                                           "EnableLOGTemp: 1\nWebPort: " +
                                                           std::to_string(freePort()) + "\n"));
    ASSERT_TRUE(std::filesystem::create_directories(root + "/sys/class/thermal/thermal_zone0/temp"));
    ASSERT_TRUE(WriteFile(root + "/etc/network/interfaces",
                          "auto eth0\niface eth0 inet static\naddress 192.168.1.20\nnetmask 255.255.255.0\n"));
    // The panel as panel-sim starts it, under strace. Only the calls looked at
    // stop the program (seccomp); LeakSanitizer's own ptrace cannot work under
    // strace's.
    ASSERT_TRUE(WriteFile(wrapper,
                          "#!/bin/sh\nASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" exec strace -f "
                          "--seccomp-bpf -Y -qq -o '" + trace +
                              "' -e trace=open,openat,openat2,creat,truncate,rename,renameat,renameat2,unlink,"
                              "unlinkat,rmdir,mkdir,mkdirat,link,linkat,symlink,symlinkat,mount,umount2,clone,"
                              "clone3,fork,vfork,prctl '" PANEL_EXE "' \"$@\"\n"));
    ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
    auto key = [](int code) { return "kbd " + std::to_string(code) + "\n"; };
    ASSERT_TRUE(WriteFile(script,
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
                          // The main keys again, a bank change, the keyboard's save, screenshot and remote shell.
                          "key 1\nkey 1\nwait 2000\n" +
                              key(KEY_F11) + key(KEY_SYSRQ) + key(KEY_F10) +
                              "expect 10000 launched screenshot\nwait 2000\nf12\nexit 30000\n"));
    const std::string cmd = std::string(PANEL_SIM_EXE) + " --no-window --time-scale 4 --panel " + wrapper +
                            " --root " + root + " --script " + script + " > " + dir.path + "/sim.out 2>&1";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << ReadFile(dir.path + "/sim.out") << ReadFile(root + "/panel.out");

    // The run did what it was asked: each of these went through the storage thread.
    const std::string setup = ReadFile(root + "/opt/set/setup.txt");
    EXPECT_TRUE(Contains(setup, "MAXbank: 19\n")) << setup;
    EXPECT_TRUE(Contains(setup, "NumBanco: 2\n")) << setup;
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/atu_ant1_b1.txt"), " 14070000 1 "));
    EXPECT_TRUE(Contains(ReadFile(root + "/opt/set/antenna_b1.txt"), "!Tav\n"));
    EXPECT_GE(ReadLines(root + "/opt/set/LOGtemp.txt").size(), 6u); // the header and a line per 5 s
    const std::string commands = ReadFile(root + "/commands.log");
    for (const char* c : {"stty -echo\n", "my_temp\n", "lsusb | grep 0d8c\n", "rm /opt/set/LOGtemp.txt\n",
                          "mount -o remount defaults,rw /\n", "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a\n",
                          "/usr/bin/fbgrab /tmp/screen.png", "/opt/sshshell\n", "/bin/stty sane\n",
                          "/usr/bin/tput clear\n"})
        EXPECT_TRUE(Contains(commands, c)) << c;
    EXPECT_EQ(ReadFile(root + "/sim/opt-set.mount"), "ro\n"); // the last remount after the last write

    const TraceSummary t = ReadTrace(ReadFile(trace), root + "/opt/set/", "storage");
    for (const char* name : {"storage", "link", "keys", "keyboard", "refresh", "ws-server", "web"})
        EXPECT_TRUE(t.threads.count(name)) << "no thread named " << name << " in the trace";
    ASSERT_GT(t.namedAt, 0);
    int byStorage[2] = {0, 0}; // writes under opt/set, processes
    std::string wrong;
    for (const TraceDeed& d : t.deeds) {
        const bool storage = d.thread == "storage";
        // Start-up: the main thread, before the storage thread took its name.
        const bool startUp = d.pid == t.programPid && d.line < t.namedAt;
        if (storage)
            byStorage[d.what == "process" ? 1 : 0]++;
        else if (!startUp)
            wrong += d.thread + " (" + d.what + ", line " + std::to_string(d.line) + "): " + d.text + "\n";
    }
    EXPECT_TRUE(wrong.empty()) << wrong;
    // Enough seen to trust the trace: the files above and their remounts' processes.
    EXPECT_GE(byStorage[0], 10);
    EXPECT_GE(byStorage[1], 20);
}

} // namespace
