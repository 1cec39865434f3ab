// The program as the appliance runs it: the GPIO block found where each board
// has it, the service manager's notifications and watchdog (against a socket of
// the test's own, then under a real systemd user manager with the packaged
// unit), the restart after a hang or a crash and none after F12.
#include "PanelFixture.h"

#include "DeviceTree.h"
#include "GpioBackend.h"
#include "ModelWire.h"

#include "devsim/GpioChip.h"
#include "platform/Clock.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

struct Board {
    const char* name;
    std::string ranges;      // proc/device-tree/soc/ranges, "" for none
    bool gpiomem;            // the root has dev/gpiomem
    const char* device;      // what the panel maps
    off_t offset;            // and where
    const char* how;         // what it logs about the choice
};

// A Pi 3's ranges give the block of a root without them (the unit tests read
// each board's ranges).
const Board kBoards[] = {
    {"NoDeviceTree", "", false, "/dev/mem", 0x3F200000, "no /proc/device-tree/soc/ranges"},
    {"Pi4",
     DtCells({0x7E000000, 0, 0xFE000000, 0x01800000, 0x7C000000, 0, 0xFC000000, 0x02000000,
              0x40000000, 0, 0xFF800000, 0x00800000}),
     false, "/dev/mem", 0xFE200000, "peripherals at 0xFE000000 from /proc/device-tree/soc/ranges"},
    {"Pi4Gpiomem", DtCells({0x7E000000, 0, 0xFE000000, 0x01800000}), true, "/dev/gpiomem", 0,
     "the GPIO block alone"},
};

// The panel in a root that fakes the board's device tree before the root is laid out.
class PanelOnBoard : public PanelRun, public ::testing::WithParamInterface<Board> {
  protected:
    void SetUp() override {
        const Board& b = GetParam();
        if (!b.ranges.empty()) {
            ASSERT_TRUE(WriteFile(dir.path + "/proc/device-tree/soc/ranges", b.ranges));
        }
        if (b.gpiomem) {
            ASSERT_TRUE(WriteFile(dir.path + "/dev/gpiomem", ""));
        }
        ASSERT_NO_FATAL_FAILURE(PanelRun::SetUp());
    }
};

TEST_P(PanelOnBoard, MapsTheGpioBlockWhereTheBoardHasIt) {
    const Board& b = GetParam();
    // The converter model maps the block where the board has it; the panel's
    // exchanges reach it only if the panel maps the same bytes.
    GpioConverter* converter = GpioConverterStart(SimGpioPath(dir.path));
    ASSERT_NE(converter, nullptr);
    start();
    char line[160];
    std::snprintf(line, sizeof line, "6 GPIO block: %s at 0x%llX, ", b.device,
                  static_cast<unsigned long long>(b.offset));
    ASSERT_TRUE(logged(line, 15000)) << syslog();
    EXPECT_TRUE(Contains(syslog(), std::string(line) + b.how)) << syslog();
    // The first converter command of the rotation. (The lines the keys' thread
    // drives: Backends/KeysThread.*.)
    EXPECT_TRUE(ConverterGot(converter, 0xB0, 15000));
    stop();
    GpioConverterStop(converter);
}

INSTANTIATE_TEST_SUITE_P(Boards, PanelOnBoard, ::testing::ValuesIn(kBoards),
                         [](const ::testing::TestParamInfo<Board>& i) { return i.param.name; });

// A Raspberry Pi 5: its device tree, no dev/mem or gpiomem, and (unless a test
// says otherwise) the SoC's own chip as gpiochip0 and the RP1's as gpiochip4.
// The panel gets the chip model preloaded.
class PanelOnPi5 : public PanelRun {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(dir.path + "/proc/device-tree/compatible", kPi5Compatible));
        ASSERT_NO_FATAL_FAILURE(PanelRun::SetUp());
        ASSERT_EQ(unlink((dir.path + "/dev/mem").c_str()), 0);
    }
    void chips(std::initializer_list<SimChip> list) {
        std::string err;
        for (const SimChip& c : list)
            ASSERT_TRUE(SimGpioChipCreate(dir.path, c.number, c.label, c.lines, &err)) << err;
    }
    // The keys' thread ends the process while other threads are still unjoined:
    // ThreadSanitizer would call that a leak and change the status.
    void startWithModel(const char* tsan = "TSAN_OPTIONS=halt_on_error=1 report_thread_leaks=0") {
        std::string err;
        ASSERT_TRUE(PanelStart(&panel, PANEL_EXE, dir.path, PANEL_SKINS_DIR, &err, 4,
                               {"LD_PRELOAD=" + SimGpioChipPreload(), tsan}))
            << err;
    }
    void endsWithTheGpioStatus(const std::string& line) {
        ASSERT_TRUE(PanelWait(&panel, 20000)) << output();
        EXPECT_EQ(panel.exitStatus, 8) << output();
        EXPECT_TRUE(Contains(syslog(), line)) << syslog();
    }
};

// The default search takes the RP1's chip, not the first one. (The keys and
// the converter through this chip: KeysThread/Chardev; the converter reached
// from the panel process through the chip model: GpioChipNamesAChipOfAnotherLabel.)
TEST_F(PanelOnPi5, FindsTheRp1ChipAndSaysTheBoardIsAPi5) {
    chips({{0, "gpio-brcmstb@107d508500", 32}, {4, "pinctrl-rp1", 54}});
    ASSERT_NO_FATAL_FAILURE(startWithModel("TSAN_OPTIONS=halt_on_error=1"));
    ASSERT_TRUE(logged("6 GPIO block: the character device /dev/gpiochip4 (gpiochip4, pinctrl-rp1, 54 lines), "
                       "this board is a Raspberry Pi 5 (bcm2712)",
                       15000))
        << syslog() << output();
    stop();
}

// No chip at all: the panel says so and ends with the status the unit does not
// restart on.
TEST_F(PanelOnPi5, WithoutItsChipEndsWithTheGpioStatus) {
    ASSERT_NO_FATAL_FAILURE(startWithModel());
    endsWithTheGpioStatus("3 GPIO: this board is a Raspberry Pi 5 (bcm2712): its GPIO lines are on the "
                          "RP1 chip, driven through the GPIO character device, and no GPIO chip is a "
                          "Raspberry Pi's (pinctrl-rp1, pinctrl-bcm2711 or pinctrl-bcm2835), and /dev "
                          "has no GPIO chip");
}

TEST_F(PanelOnPi5, AChipWithoutTheKeyLinesEndsWithTheGpioStatus) {
    chips({{0, "pinctrl-rp1", 20}});
    ASSERT_NO_FATAL_FAILURE(startWithModel());
    endsWithTheGpioStatus("3 GPIO: /dev/gpiochip0 (pinctrl-rp1) has 20 lines, the panel's go up to line 27");
}

// GpioChip names the chip when the label is not one the panel knows.
TEST_F(PanelOnPi5, GpioChipNamesAChipOfAnotherLabel) {
    chips({{0, "gpio-brcmstb@107d508500", 32}, {2, "my-board-gpio", 40}});
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/setup.txt", "GpioChip: gpiochip2\n"));
    GpioConverter* converter = GpioConverterStart(dir.path + "/dev/gpiochip2");
    ASSERT_NE(converter, nullptr);
    ASSERT_NO_FATAL_FAILURE(startWithModel("TSAN_OPTIONS=halt_on_error=1"));
    ASSERT_TRUE(logged("6 GPIO block: the character device /dev/gpiochip2 (gpiochip2, my-board-gpio, 40 lines), "
                       "GpioChip 'gpiochip2' in the setup",
                       15000))
        << syslog() << output();
    EXPECT_TRUE(WaitFor([&] { return !GpioConverterCommands(converter).empty(); }, 15000));
    stop();
    GpioConverterStop(converter);
}

// The service manager's side of sd_notify: a datagram socket, read at once
// as a manager does (a full queue would hold the sender up).
struct NotifySocket {
    struct Message {
        int64_t ms;
        std::string text;
    };
    int fd = -1;
    std::string path;
    std::atomic<bool> stop{false};
    std::thread reader;
    std::mutex mu;
    std::vector<Message> got;

    bool open(const std::string& at) {
        path = at;
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return false;
        timeval tv{0, 50000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        reader = std::thread([this] {
            char buf[512];
            while (!stop) {
                const ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(mu);
                    got.push_back({plat_mono_ms(), std::string(buf, static_cast<size_t>(n))});
                }
            }
        });
        return true;
    }
    ~NotifySocket() {
        stop = true;
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            close(fd);
    }
    // How many `text` messages came at or after `fromMs`.
    int count(const std::string& text, int64_t fromMs) {
        std::lock_guard<std::mutex> lock(mu);
        int n = 0;
        for (const Message& m : got)
            n += m.text == text && m.ms >= fromMs;
        return n;
    }
    bool await(const std::string& text, int64_t fromMs, int timeoutMs) {
        return WaitFor([&] { return count(text, fromMs) > 0; }, timeoutMs);
    }
};

TEST_F(PanelRun, ReportsAliveOnlyWhileTheRefreshThreadMoves) {
    NotifySocket manager;
    ASSERT_TRUE(manager.open(dir.path + "/notify"));
    // A 2 s watchdog; the program's clock runs 4 times faster, so the threads'
    // 15 s time-outs are 3.75 s here.
    std::string err;
    ASSERT_TRUE(PanelStart(&panel, PANEL_EXE, dir.path, PANEL_SKINS_DIR, &err, 4,
                           {"NOTIFY_SOCKET=" + manager.path, "WATCHDOG_USEC=2000000"}))
        << err;
    ASSERT_TRUE(manager.await("READY=1", 0, 20000)) << syslog();
    EXPECT_TRUE(logged("6 watchdog: alive every 1000 ms", 1000)) << syslog();
    // Four times per 2 s of wall time at the least.
    int64_t t = plat_mono_ms();
    plat_sleep_ms(1000);
    EXPECT_GE(manager.count("WATCHDOG=1", t), 2);

    ASSERT_TRUE(WriteFile(dir.path + "/sim/hang-refresh", ""));
    ASSERT_TRUE(logged("6 refresh thread held by sim/hang-refresh", 5000)) << syslog();
    ASSERT_TRUE(logged("3 watchdog: the refresh thread made no progress for", 10000)) << syslog();
    // No alive report while it is held: systemd's 2 s run out.
    t = plat_mono_ms() + 100; // what was on its way
    plat_sleep_ms(2600);
    EXPECT_EQ(manager.count("WATCHDOG=1", t), 0);
    EXPECT_FALSE(Contains(syslog(), "the link thread made no progress"));
    EXPECT_FALSE(Contains(syslog(), "the keys thread made no progress"));

    t = plat_mono_ms();
    std::remove((dir.path + "/sim/hang-refresh").c_str());
    EXPECT_TRUE(manager.await("WATCHDOG=1", t, 7000));

    ASSERT_NO_FATAL_FAILURE(stop());
    EXPECT_TRUE(manager.await("STOPPING=1", 0, 10000));
}

// Without a manager's watchdog nothing is watched and nothing is sent.
TEST_F(PanelRun, WithoutAWatchdogTheHungThreadIsNotReported) {
    start();
    ASSERT_TRUE(logged("6 Keyboard opened", 15000)) << syslog();
    ASSERT_TRUE(WriteFile(dir.path + "/sim/hang-refresh", ""));
    ASSERT_TRUE(logged("6 refresh thread held by sim/hang-refresh", 5000)) << syslog();
    plat_sleep_ms(5000); // past the refresh thread's time-out on the program's clock
    EXPECT_FALSE(Contains(syslog(), "watchdog:")) << syslog();
    // Shutdown ends the hold: F12 still ends the program cleanly.
    stop();
}

// The panel as a service of a real systemd, with the packaged unit: the unit
// file's own settings; its start step, program and working folder pointed at
// this root.
class PanelService : public PanelRun {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PanelRun::SetUp());
        sd = dir.path + "/sd";
        const std::string units = sd + "/config/systemd/user";
        std::filesystem::create_directories(units + "/amp-panel.service.d");
        std::filesystem::copy_file(PANEL_SOURCE_DIR "/debian/amp-panel.service",
                                   units + "/amp-panel.service");
        // Shorter times than the unit's, so that the test does not wait 20 s.
        ASSERT_TRUE(WriteFile(units + "/amp-panel.service.d/root.conf",
                              "[Service]\nExecStartPre=\nExecStartPre=" PANEL_SOURCE_DIR
                              "/appliance/panel-defaults " + dir.path + "/opt/set " PANEL_SOURCE_DIR
                              "/appliance/defaults\nExecStart=\nExecStart=" PANEL_EXE
                              " --root " + dir.path + " --time-scale 4\n"
                              "WorkingDirectory=" PANEL_SKINS_DIR "\n"
                              "WatchdogSec=3s\nRestartSec=1s\n"
                              // The killed panels leave no core in the skins folder.
                              "LimitCORE=0\n"
                              // No journal in the test's namespace: the program's
                              // output where the fixture reads it.
                              "StandardOutput=append:" + dir.path + "/panel.out\n"
                              "StandardError=inherit\n"));
    }
    void TearDown() override {
        if (runner > 0) {
            WriteFile(sd + "/stop", "");
            int st;
            const int64_t end = plat_mono_ms() + 20000;
            while (waitpid(runner, &st, WNOHANG) == 0 && plat_mono_ms() < end)
                plat_sleep_ms(50);
            if (waitpid(runner, &st, WNOHANG) == 0) {
                kill(runner, SIGKILL);
                waitpid(runner, &st, 0);
            }
        }
        PanelRun::TearDown();
    }
    // Starts the manager and the unit; the runner writes the unit's state every
    // 100 ms (and each change of it, one line, to sd/history) until sd/stop
    // appears. False (with `why`) when no manager can run here.
    bool startService(std::string* why) {
        const std::string script =
            "systemctl --user start amp-panel.service || exit 3\n"
            "while [ ! -e '" + sd + "/stop' ]; do\n"
            "  systemctl --user show amp-panel.service -p MainPID -p NRestarts -p ActiveState"
            " -p Result -p ExecMainCode -p ExecMainStatus > '" + sd + "/state.new' || break\n"
            "  cmp -s '" + sd + "/state.new' '" + sd + "/state' ||"
            " { tr '\\n' ' ' < '" + sd + "/state.new'; echo; } >> '" + sd + "/history'\n"
            "  mv '" + sd + "/state.new' '" + sd + "/state'\n"
            "  sleep 0.1\n"
            "done\n"
            "systemctl --user stop amp-panel.service\n";
        const std::string helper = PANEL_SOURCE_DIR "/tests/support/with-user-systemd.sh";
        std::vector<std::string> args = {"/bin/sh", helper, sd, "/bin/sh", "-c", script};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&runner, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
            *why = "cannot start /bin/sh";
            return false;
        }
        const bool up = WaitFor(
            [&] {
                int st;
                if (waitpid(runner, &st, WNOHANG) == runner) {
                    runner = -1;
                    *why =
                        WIFEXITED(st) && WEXITSTATUS(st) == 77
                            ? "no systemd user manager can run here (needs root, unshare, systemd)"
                            : "the runner ended with status " + std::to_string(st);
                    return true;
                }
                return !state().empty();
            },
            20000);
        return up && runner > 0;
    }
    std::map<std::string, std::string> state() {
        std::map<std::string, std::string> s;
        for (const std::string& line : ReadLines(sd + "/state")) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos)
                s[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return s;
    }
    std::string stateText() { return ReadFile(sd + "/history"); }
    // Waits until the unit is active with a main process other than `notPid`.
    bool activeAgain(const std::string& notPid, std::string* pid, int timeoutMs) {
        return WaitFor(
            [&] {
                auto s = state();
                if (s["ActiveState"] != "active" || s["MainPID"] == "0" || s["MainPID"] == notPid)
                    return false;
                *pid = s["MainPID"];
                return true;
            },
            timeoutMs);
    }

    std::string sd;
    pid_t runner = -1;
};

TEST_F(PanelService, TheWatchdogRestartsAHungPanelACrashRestartsItF12EndsIt) {
    std::string why;
    if (!startService(&why))
        GTEST_SKIP() << why;

    // Type=notify: active once the panel said READY=1.
    std::string first;
    ASSERT_TRUE(activeAgain("0", &first, 30000)) << stateText() << syslog();
    EXPECT_EQ(state()["NRestarts"], "0");

    // A hung refresh thread: no more alive reports, systemd's watchdog ends the
    // panel (SIGABRT) and starts it again.
    ASSERT_TRUE(WriteFile(dir.path + "/sim/hang-refresh", ""));
    ASSERT_TRUE(WaitFor([&] { return state()["NRestarts"] == "1"; }, 30000)) << stateText();
    std::remove((dir.path + "/sim/hang-refresh").c_str());
    // systemd's own word for why it ended the first panel.
    EXPECT_TRUE(Contains(stateText(), "Result=watchdog")) << stateText();
    std::string second;
    ASSERT_TRUE(activeAgain(first, &second, 30000)) << stateText();

    // A crash: restarted too.
    ASSERT_EQ(kill(std::stoi(second), SIGSEGV), 0);
    ASSERT_TRUE(WaitFor([&] { return state()["NRestarts"] == "2"; }, 30000)) << stateText();
    std::string third;
    ASSERT_TRUE(activeAgain(second, &third, 30000)) << stateText();

    // F12: a clean end, and the unit stays ended.
    ASSERT_TRUE(WaitFor([&] { return CountOf(syslog(), "6 Keyboard opened") >= 3; }, 30000)) << syslog();
    ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F12));
    ASSERT_TRUE(WaitFor([&] { return state()["ActiveState"] == "inactive"; }, 30000))
        << stateText();
    plat_sleep_ms(3000); // longer than RestartSec and a start: a restart would show
    auto s = state();
    EXPECT_EQ(s["ActiveState"], "inactive") << stateText();
    EXPECT_EQ(s["MainPID"], "0");
    EXPECT_EQ(s["Result"], "success");
    EXPECT_EQ(s["ExecMainStatus"], "0");
    // Three starts in all: the first, after the watchdog, after the crash.
    EXPECT_EQ(CountOf(syslog(), "6 TAV ZIM version"), 3u) << stateText();
}

} // namespace
