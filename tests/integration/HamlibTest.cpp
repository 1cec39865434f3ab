// Work mode 3 against real Hamlib peers: Hamlib's dummy radio behind a rigctld
// started here (set with rigctl, as an operator's logging program would), and
// the project's FT-817 and transceiver CAT models through Hamlib's own FT-817
// and Kenwood backends. The frequency read reaches the amplifier as the other
// sources' does: band row, filter, thresholds and the tuner word recalled.
#include "RootedWorks.h"

#include "amp/Linear.h"
#include "app/Threads.h"
#include "core/CmdRing.h"
#include "devsim/AmpModel.h"
#include "devsim/Ft817Model.h"
#include "devsim/TrxCatModel.h"
#include "platform/Clock.h"
#include "tuner/Bands.h"
#include "tuner/Banks.h"
#include "tuner/CATserial.h"
#include "tuner/Hamlib.h"
#include "tuner/TuneMem.h"
#include "tuner/TuneWord.h"
#include "core/KeyLabels.h"
#include "draw/Fb.h"
#include "ui/KeyActions.h"
#include "ui/Time.h"

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A program of Hamlib's utilities; its exit status, or -1 when it could not run.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

int run(const std::vector<std::string>& args) {
    const pid_t pid = spawn(args);
    if (pid < 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool listening(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// Hamlib's dummy radio served by rigctld on a port of this machine.
struct Rigctld {
    int port = 0;
    pid_t pid = -1;
    bool start(int onPort) {
        port = onPort;
        pid = spawn({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)});
        return pid > 0 && WaitFor([&] { return listening(port); }, 10000);
    }
    void stop() {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    // What an operator's program does: sets the radio's frequency through rigctld.
    int setFrequency(long hz) const {
        return run({"rigctl", "-m", "2", "-r", address(), "F", std::to_string(hz)});
    }
    ~Rigctld() { stop(); }
};

class HamlibSource : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        old = std::filesystem::current_path();
        std::filesystem::current_path(dir.path);
        w->startupFlags.replace(0);
        setup->serialLinkEnabled = '0';
        setup->catSerialEnabled = '0';
        SetSettingNumber(w.get(), "HamlibPoll", 50);
        w->NumBanco = 0;
        fb = fbInitMemory(800, 480, 32);
        w->fb = fb;
        w->lastKeyTime = static_cast<int64_t>(plat_mono_s());
        TimerInit(w.get());
        // Bank 0 in mode 3: 40 m on output 2 with the tuner, 20 m on output 1.
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/antenna.txt",
                              "!Ham\n40m 7000000 7300000 1 2 0 0 0.0\n"
                              "20m 14000000 14350000 1 1 0 0 0.0\n"));
        // Filters and band rows: 40 m and 20 m each their own.
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/filter.txt",
                              "; low high enabled\n5300000 7400000 1\n10000000 14500000 1\n"));
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/config.txt",
                              "7000000 7300000 60 3411.1 60 4247.1 10 1347.4 -0.007 12 12 20 80 "
                              "0 0 0 0 0 0 0 0 0 0 1\n"
                              "14000000 14350000 60 3411.1 60 4247.1 10 1347.4 -0.007 10 11 15 70 "
                              "0 0 0 0 0 0 0 0 0 0 1\n"));
        ReadConfigFile(w.get());
        LoadTabFiltri(w.get());
        // A setting stored for 7.074 MHz on output 2: CL, L 40, C 90.
        int64_t segStart, segEnd;
        int first, end;
        const int idx = AtuIdxSearch(7074000, &segStart, &segEnd, &first, &end);
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/atu_ant2.txt",
                              std::to_string(idx) + " " + std::to_string(AtuFreqfromIdx(idx)) +
                                  " 1 1 40 90\n"));
    }
    void TearDown() override {
        w->running = 0;
        for (ThreadSlot* t : {&SlotOf(Thread::Hamlib), &SlotOf(Thread::Link)})
            JoinThread(*t);
        if (link.joinable())
            link.join();
        Ft817ModelStop(radio);
        TrxCatModelStop(trx);
        AmpModelStop(amp);
        fbRelease(fb, true);
        std::free(w->bandTable); // the program keeps its table for life
        w->bandTable = nullptr;
        std::filesystem::current_path(old);
        RootedWorks::TearDown();
    }
    // Loads the bank, which starts the poll as a bank change does.
    void follow(const std::string& port, int model, int speed = 0) {
        SetSettingText(w.get(), "HamlibPort", port.c_str());
        SetSettingNumber(w.get(), "HamlibModel", model);
        SetSettingNumber(w.get(), "HamlibSpeed", speed);
        LoadAllBankTable(w.get(), 0);
        ASSERT_EQ(w->ModeWorkIdx, kModeHamlib);
        ASSERT_EQ(w->source[kModeHamlib].run, '1');
    }
    void startAmplifier() {
        amp = AmpModelStart(dir.path + "/dev/ttyAMA0");
        ASSERT_NE(amp, nullptr);
        link = std::thread(Linear, w.get());
    }
    bool onWire(const std::string& prefix) {
        return WaitFor(
            [&] {
                for (auto& r : AmpModelReceived(amp))
                    if (r.text.compare(0, prefix.size(), prefix) == 0)
                        return true;
                return false;
            },
            10000);
    }
    // Ticks the refresh until the panel's frequency is `hz`.
    bool panelFollows(int hz) {
        return WaitFor(
            [&] {
                TimerTick(w.get());
                return w->freqHz == hz;
            },
            10000);
    }

    // A radio on a pty read through a Hamlib backend: its dial, then a new
    // frequency it is set to, which the panel follows to its 40 m row.
    void followsTheRadio(const char* name, int dial, int hz, const std::function<void(long)>& tuneRadio) {
        ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].freqHz == dial; }, 10000))
            << ReadFile(dir.path + "/syslog.log");
        EXPECT_TRUE(w->source[kModeHamlib].name.equals(name)) << w->source[kModeHamlib].name.get().s;
        tuneRadio(hz);
        ASSERT_TRUE(panelFollows(hz));
        EXPECT_EQ(w->antennaRowIdx, 0u);
    }

    std::filesystem::path old;
    FrameBuffer* fb = nullptr;
    AmpModel* amp = nullptr;
    Ft817Model* radio = nullptr;
    TrxCatModel* trx = nullptr;
    std::thread link;
};

TEST_F(HamlibSource, RigctldFrequencyChoosesTheBandFilterThresholdsAndTunerWord) {
    Rigctld rig;
    ASSERT_TRUE(rig.start(freePort()));
    ASSERT_NO_FATAL_FAILURE(startAmplifier());
    follow(rig.address(), 2);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].name.equals("Hamlib NET rigctl"); }, 10000));
    ASSERT_TRUE(panelFollows(145000000)); // the dummy's dial: no band
    ASSERT_TRUE(WaitFor([&] { return CmdQueueEmpty(w.get()); }, 10000));
    AmpModelClearReceived(amp);
    ASSERT_EQ(rig.setFrequency(7074000), 0);
    ASSERT_TRUE(panelFollows(7074000));
    EXPECT_EQ(w->antennaRowIdx, 0u); // the 40 m row
    EXPECT_EQ(w->antennaIdx, 1);     // its output 2
    ASSERT_TRUE(onWire("FA00007074000;"));
    ASSERT_TRUE(onWire("SF30000"));
    ASSERT_TRUE(onWire("TS"));
    Works tmp{};
    SetC(&tmp, 90);
    SetI(&tmp, 40);
    char word[16];
    std::snprintf(word, sizeof word, "MT1%08X;", tmp.tunerWord | kModeCL);
    ASSERT_TRUE(onWire(word));
    // The status page's line names the rig and what it read.
    char text[120];
    HamlibStatusText(w.get(), text, sizeof text);
    EXPECT_STREQ(text, "Hamlib NET rigctl, 7074000 Hz");

    ASSERT_EQ(rig.setFrequency(14074000), 0);
    ASSERT_TRUE(panelFollows(14074000));
    EXPECT_EQ(w->antennaRowIdx, 1u);
    ASSERT_TRUE(onWire("FA00014074000;"));
}

TEST_F(HamlibSource, AStoppedRigctldShowsTheErrorPageAndFollowingResumesWhenItIsBack) {
    Rigctld rig;
    const int port = freePort();
    ASSERT_TRUE(rig.start(port));
    follow(rig.address(), 2);
    ASSERT_EQ(rig.setFrequency(7074000), 0);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].freqHz == 7074000; }, 10000));
    rig.stop();
    const int64_t stopped = plat_mono_ms();
    ASSERT_TRUE(WaitFor([&] { return w->deviceErrorCode == kDevErrCat; }, 10000));
    // Within the retry time (and the rig's own time-out).
    EXPECT_LT(plat_mono_ms() - stopped, 4000);
    EXPECT_TRUE(w->deviceErrorText.equals(("Hamlib: rig does not answer on " + rig.address()).c_str()))
        << w->deviceErrorText.get().s;
    EXPECT_EQ(w->source[kModeHamlib].freqHz, 7074000); // the last frequency stays
    // Shown once: the retries every 2 s do not log the outage again.
    plat_sleep_ms(4500);
    EXPECT_EQ(CountOf(ReadFile(dir.path + "/syslog.log"), "Hamlib: rig does not answer on"), 1u);
    // Every log line is one: Hamlib's trace of its calls, which its error text
    // carries after the first line, is not written into the log.
    for (const std::string& l : ReadLines(dir.path + "/syslog.log"))
        EXPECT_TRUE(l.empty() || (l.size() >= 2 && l[0] >= '0' && l[0] <= '7' && l[1] == ' '))
            << "\"" << l << "\"";

    ASSERT_TRUE(rig.start(port));
    ASSERT_TRUE(WaitFor([&] { return w->deviceErrorCode == kDevErrNone; }, 10000));
    ASSERT_EQ(rig.setFrequency(21074000), 0);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].freqHz == 21074000; }, 10000));
}

TEST_F(HamlibSource, Ft817ModelThroughHamlibsFt817Backend) {
    Ft817ModelConfig cfg;
    cfg.hz = 14074000;
    radio = Ft817ModelStart(dir.path + "/dev/ttyUSB2", cfg);
    ASSERT_NE(radio, nullptr);
    follow("/dev/ttyUSB2", 1020, 38400);
    ASSERT_NO_FATAL_FAILURE(followsTheRadio("Yaesu FT-817", 14074000, 7030000,
                                            [&](long hz) { Ft817ModelSetFrequency(radio, hz); }));
}

TEST_F(HamlibSource, TransceiverCatModelThroughAKenwoodBackend) {
    TrxCatModelConfig cfg;
    cfg.hz = 14200000;
    trx = TrxCatModelStart(dir.path + "/dev/ttyUSB3", cfg);
    ASSERT_NE(trx, nullptr);
    follow("/dev/ttyUSB3", 2028, 115200);
    ASSERT_NO_FATAL_FAILURE(followsTheRadio("Kenwood TS-480", 14200000, 7150000,
                                            [&](long hz) { TrxCatModelSetFrequency(trx, hz); }));
}

TEST_F(HamlibSource, TheCatRelaysPortIsRefused) {
    trx = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
    ASSERT_NE(trx, nullptr);
    follow("/dev/KAVOCAT0", 2028);
    JoinThread(SlotOf(Thread::Hamlib)); // the poll ends by itself
    EXPECT_EQ(w->deviceErrorCode, kDevErrCat);
    EXPECT_TRUE(Contains(ReadFile(dir.path + "/syslog.log"),
                         "Hamlib: /dev/KAVOCAT0 is the CAT relay's port: not opened"));
    EXPECT_TRUE(TrxCatModelReceived(trx).empty()); // nothing was sent to the transceiver

    // The page's retry key starts the Hamlib poll again (refused again); its
    // other key closes the page and, unlike the FT-817's, leaves the relay on.
    setup->EnableCAT = '1';
    w->pages.keyPage = kPageDeviceError;
    DecodeTasto(w.get(), 5, 0);
    JoinThread(SlotOf(Thread::Hamlib));
    EXPECT_EQ(CountOf(ReadFile(dir.path + "/syslog.log"), "is the CAT relay's port: not opened"), 2u);
    ASSERT_EQ(w->deviceErrorCode, kDevErrCat);
    DecodeTasto(w.get(), 6, 0);
    EXPECT_NE(w->deviceErrorCode, kDevErrCat);
    EXPECT_EQ(setup->EnableCAT, '1');
}

TEST_F(HamlibSource, LeavingModeThreeEndsThePollAndTheShutdownIsPrompt) {
    Rigctld rig;
    ASSERT_TRUE(rig.start(freePort()));
    follow(rig.address(), 2);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].freqHz == 145000000; }, 10000)); // the dummy's dial
    ChangeInterfaceBanco(w.get()); // 3 -> 0
    EXPECT_EQ(w->ModeWorkIdx, kModeGeneric);
    EXPECT_EQ(w->source[kModeHamlib].run, '0');
    const int64_t asked = plat_mono_ms();
    JoinThread(SlotOf(Thread::Hamlib));
    EXPECT_LT(plat_mono_ms() - asked, 3000); // one 200 ms slice, with room for a loaded machine
    EXPECT_EQ(ReadLines(dir.path + "/opt/set/antenna.txt").at(0), "!Gen");
    // And a silent rig: the shutdown waits at most the rig's time-out.
    w->ModeWorkIdx = kModeFt817;
    ChangeInterfaceBanco(w.get()); // 2 -> 3
    EXPECT_EQ(ReadLines(dir.path + "/opt/set/antenna.txt").at(0), "!Ham");
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeHamlib].name.length() > 0; }, 10000));
    kill(rig.pid, SIGSTOP);
    plat_sleep_ms(100);
    w->running = 0;
    const int64_t ending = plat_mono_ms();
    JoinThread(SlotOf(Thread::Hamlib));
    // Hamlib's time-out and its one retry (1.6 s), with room for a loaded machine.
    EXPECT_LT(plat_mono_ms() - ending, 5000);
    kill(rig.pid, SIGCONT);
}

} // namespace
