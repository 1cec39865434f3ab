// Work mode 3 against real Hamlib peers: Hamlib's dummy radio behind a rigctld
// started here (set with rigctl, as an operator's logging program would), and
// the project's transceiver CAT model through Hamlib's own Kenwood backend (its
// FT-817 backend is the Hamlib source of SourcesTest, which follows the
// frequency read to the amplifier as every source's).
#include "AmpLinked.h"
#include "WsPeer.h"

#include "devsim/TrxCatModel.h"
#include "tuner/Banks.h"
#include "core/KeyLabels.h"
#include "tuner/Hamlib.h"
#include "ui/KeyActions.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// A program of Hamlib's utilities; its process, or -1 when it could not start.
pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Hamlib's dummy radio served by rigctld on a port of this machine.
struct Rigctld {
    int port = FreeTcpPort();
    pid_t pid = -1;
    bool start() {
        pid = spawn({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)});
        return pid > 0 && WsPeer().connectTo(port, 10000);
    }
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    // What an operator's program does: sets the radio's frequency through
    // rigctld; rigctl's exit status.
    int setFrequency(long hz) const {
        const pid_t p = spawn({"rigctl", "-m", "2", "-r", address(), "F", std::to_string(hz)});
        int status = 0;
        return p > 0 && waitpid(p, &status, 0) == p && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Rigctld() { stop(); }
};

class HamlibSource : public AmpLinked {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(AmpLinked::SetUp());
        SetSettingNumber(w.get(), "HamlibPoll", 50);
        ASSERT_NO_FATAL_FAILURE(writeTwoBandBank("!Ham"));
    }
    void stopModels() override { TrxCatModelStop(trx); }
    // Loads the bank, which starts the poll as a bank change does.
    void follow(const std::string& port, int model, int speed = 0) {
        SetSettingText(w.get(), "HamlibPort", port.c_str());
        SetSettingNumber(w.get(), "HamlibModel", model);
        SetSettingNumber(w.get(), "HamlibSpeed", speed);
        LoadAllBankTable(w.get(), 0);
        ASSERT_EQ(w->ModeWorkIdx, kModeHamlib);
        ASSERT_EQ(w->source[kModeHamlib].run, '1');
    }
    bool polled(int hz) {
        return WaitFor([&] { return w->source[kModeHamlib].freqHz == hz; }, 10000);
    }

    TrxCatModel* trx = nullptr;
};

TEST_F(HamlibSource, RigctldsRigIsNamedAndWhenStoppedShowsTheErrorPageUntilItIsBack) {
    Rigctld rig;
    ASSERT_TRUE(rig.start());
    follow(rig.address(), 2);
    ASSERT_EQ(rig.setFrequency(7074000), 0);
    ASSERT_TRUE(polled(7074000));
    // The status page's line names the rig and what it read.
    char text[120];
    HamlibStatusText(w.get(), text, sizeof text);
    EXPECT_STREQ(text, "Hamlib NET rigctl, 7074000 Hz");
    rig.stop();
    const int64_t stopped = plat_mono_ms();
    ASSERT_TRUE(WaitFor([&] { return w->deviceErrorCode == kDevErrCat; }, 10000));
    // Within the retry time (and the rig's own time-out).
    EXPECT_LT(plat_mono_ms() - stopped, 4000);
    EXPECT_TRUE(
        w->deviceErrorText.equals(("Hamlib: rig does not answer on " + rig.address()).c_str()))
        << w->deviceErrorText.get().s;
    EXPECT_EQ(w->source[kModeHamlib].freqHz, 7074000); // the last frequency stays
    // Shown once: the retries every 2 s do not log the outage again.
    plat_sleep_ms(4500);
    EXPECT_EQ(CountOf(syslog(), "Hamlib: rig does not answer on"), 1u);
    // Every log line is one: Hamlib's trace of its calls, which its error text
    // carries after the first line, is not written into the log.
    for (const std::string& l : ReadLines(dir.path + "/syslog.log"))
        EXPECT_TRUE(l.empty() || (l.size() >= 2 && l[0] >= '0' && l[0] <= '7' && l[1] == ' '))
            << "\"" << l << "\"";

    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(WaitFor([&] { return w->deviceErrorCode == kDevErrNone; }, 10000));
    ASSERT_EQ(rig.setFrequency(21074000), 0);
    ASSERT_TRUE(polled(21074000));
}

// Hamlib's Kenwood backend reads the transceiver's CAT model on a pty: the
// rig's name, its dial, then a new one. (Followed to its row as every
// source's: Sources/EachSource.ItsModeRunsItsThreadAlone.../Hamlib.)
TEST_F(HamlibSource, TransceiverCatModelThroughAKenwoodBackend) {
    trx = TrxCatModelStart(dir.path + "/dev/ttyUSB3", {.hz = 14200000});
    ASSERT_NE(trx, nullptr);
    follow("/dev/ttyUSB3", 2028, 115200);
    ASSERT_TRUE(polled(14200000)) << syslog();
    EXPECT_TRUE(w->source[kModeHamlib].name.equals("Kenwood TS-480"))
        << w->source[kModeHamlib].name.get().s;
    TrxCatModelSetFrequency(trx, 7150000);
    EXPECT_TRUE(polled(7150000));
}

TEST_F(HamlibSource, TheCatRelaysPortIsRefused) {
    trx = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
    ASSERT_NE(trx, nullptr);
    follow("/dev/KAVOCAT0", 2028);
    JoinThread(SlotOf(Thread::Hamlib)); // the poll ends by itself
    EXPECT_EQ(w->deviceErrorCode, kDevErrCat);
    EXPECT_TRUE(Contains(syslog(), "Hamlib: /dev/KAVOCAT0 is the CAT relay's port: not opened"));
    EXPECT_TRUE(TrxCatModelReceived(trx).empty()); // nothing was sent to the transceiver

    // The page's retry key starts the Hamlib poll again (refused again); its
    // other key closes the page and, unlike the FT-817's, leaves the relay on.
    setup->EnableCAT = '1';
    w->pages.keyPage = kPageDeviceError;
    DecodeTasto(w.get(), 5, 0);
    JoinThread(SlotOf(Thread::Hamlib));
    EXPECT_EQ(CountOf(syslog(), "is the CAT relay's port: not opened"), 2u);
    ASSERT_EQ(w->deviceErrorCode, kDevErrCat);
    DecodeTasto(w.get(), 6, 0);
    EXPECT_NE(w->deviceErrorCode, kDevErrCat);
    EXPECT_EQ(setup->EnableCAT, '1');
}

TEST_F(HamlibSource, LeavingModeThreeEndsThePollAndTheShutdownIsPrompt) {
    Rigctld rig;
    ASSERT_TRUE(rig.start());
    follow(rig.address(), 2);
    ASSERT_TRUE(polled(145000000)); // the dummy's dial
    ChangeInterfaceBanco(w.get());  // 3 -> 0
    EXPECT_EQ(w->ModeWorkIdx, kModeGeneric);
    EXPECT_EQ(w->source[kModeHamlib].run, '0');
    const int64_t asked = plat_mono_ms();
    JoinThread(SlotOf(Thread::Hamlib));
    EXPECT_LT(plat_mono_ms() - asked, 3000); // one 200 ms slice, with room for a loaded machine
    // (The bank saved as "!Gen": Banks.SavingWritesTheMarkerFirstAndTheLiveStateOfTheRows.)
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
