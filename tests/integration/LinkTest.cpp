// The amplifier link thread against the model of the amplifier's
// microcontroller over a pty: what goes on the wire, in which order, and what
// the replies do to the shared record.
#include "ModelWire.h"
#include "PtyPeer.h"
#include "RootedWorks.h"

#include "amp/LinearPort.h"
#include "amp/Linear.h"
#include "amp/Temperature.h"
#include "devsim/ProcStat.h"
#include "devsim/Pty.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

class Link : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4);
    }
    void TearDown() override {
        w->running = 0;
        if (link.joinable()) link.join();
        std::free(w->fanTable); // loaded by a test as start-up does; the link has ended
        AmpModelStop(model);
        RootedWorks::TearDown();
    }
    void startModel(const AmpModelConfig& cfg = {}) {
        model = AmpModelStart(dir.path + "/dev/ttyAMA0", cfg);
        ASSERT_NE(model, nullptr);
    }
    void startLink() { link = std::thread(Linear, w.get()); }
    std::vector<std::string> wire() { return AmpWire(model); }
    bool sentAtLeast(size_t n, int timeoutMs) {
        return WaitFor([&] { return AmpModelReceived(model).size() >= n; }, timeoutMs);
    }
    bool onWire(const std::string& text, int timeoutMs) { return AmpGot(model, text, timeoutMs); }

    AmpModel* model = nullptr;
    std::thread link;
};

TEST_F(Link, IdleLinkAlternatesStatusAndFrequency) {
    // Real time: a reply late by the scaled deadline (375 ms) on a loaded
    // machine is asked for again, which is right but breaks the alternation.
    useTimeScale(1);
    startModel();
    startLink();
    ASSERT_TRUE(sentAtLeast(12, 5000));
    auto rx = AmpModelReceived(model);
    for (size_t i = 0; i < 12; i++)
        EXPECT_EQ(rx[i].text, i % 2 == 0 ? "ST;" : "FM;") << i;
    // One command at a time: each after the previous reply, roughly 10-20 ms apart.
    for (size_t i = 1; i < 12; i++)
        EXPECT_GE(rx[i].ms - rx[i - 1].ms, 8) << i;
    EXPECT_EQ(w->deviceErrorCode, 0);
}

// The link waits for each reply on the port until it comes or its deadline
// passes: it sleeps once or twice per reply (the wait, the pause after the
// decoding), and with a silent amplifier only once per slice of the wait, never
// in steps of a millisecond or ten.
TEST_F(Link, AnIdleLinkWakesOnlyForItsReplies) {
    startModel();
    startLink();
    pthread_setname_np(link.native_handle(), "link-test");
    ASSERT_TRUE(sentAtLeast(12, 5000));
    auto sleeps = [] { return ProcThreadSleeps(getpid(), "link-test"); };
    const int64_t s0 = sleeps();
    const size_t r0 = wire().size();
    ASSERT_GE(s0, 0);
    plat_sleep_ms(4000);
    const int64_t answered = static_cast<int64_t>(wire().size() - r0), woke = sleeps() - s0;
    EXPECT_GT(answered, 10);
    EXPECT_LE(woke, 3 * answered + 10) << answered << " replies";

    // Silent: 4 s of program time are under three reply deadlines, each waited
    // in 200 ms slices.
    AmpModelSetAnswer(model, AmpAnswer::Silent);
    ASSERT_TRUE(
        WaitFor([&] { return wire().size() > r0 + static_cast<size_t>(answered) + 2; }, 3000));
    const int64_t s1 = sleeps();
    plat_sleep_ms(4000);
    EXPECT_LE(sleeps() - s1, 40);
}

TEST_F(Link, StartUpListGoesOutOneCommandAfterEachStatusPoll) {
    startModel();
    InitMicroCmd(w.get());
    startLink();
    ASSERT_TRUE(sentAtLeast(32, 8000));
    auto v = wire();
    // clang-format off
    const std::vector<std::string> list = {
        "VSM;", "ER0000;", "ER0001;", "ER0002;", "MP0;", "TS4095409515003700;", "AN0;", "SA1;",
        "FS00001;", "MT100000000;", "PS0001100000000000;", "GM00020100;", "GS;", "CPFFFF;", "MR0;"};
    // clang-format on
    for (size_t i = 0; i < list.size(); i++) {
        EXPECT_EQ(v[2 * i], "ST;") << i;
        EXPECT_EQ(v[2 * i + 1], list[i]) << i;
    }
    // The replies were decoded: version, model bytes, alarms allowed after "CP".
    EXPECT_TRUE(w->ident.microVersion.equals("1.07.03"));
    EXPECT_EQ(w->ident.eeModel[1], '0');
    EXPECT_FALSE(w->startupFlags.test(1));
    EXPECT_EQ(w->ident.ee0[0], 'S');
}

TEST_F(Link, StatusReadingsReachTheRecord) {
    startModel();
    AmpModelSetFrequency(model, 14200000);
    AmpModelSetAntenna(model, 1, AmpDefaultAntenna(3)); // a 50 Ohm load on output 1
    AmpModelSetDrive(model, 1.0f);
    AmpModelSetTemperatures(model, 40.0f, 38.0f);
    startLink();
    AmpReadings r;
    ASSERT_TRUE(WaitFor([&] { return (r = amp()).pwrFwd > 5.0f; }, 5000));
    AmpModelState st = AmpModelGetState(model);
    EXPECT_NEAR(r.pwrFwd, st.fwdW, st.fwdW * 0.03f);
    EXPECT_NEAR(r.pwrIn, st.inW, 0.05f);
    EXPECT_LT(r.swr, 1.2f);
    EXPECT_TRUE(r.transmitting());
    ASSERT_TRUE(WaitFor([&] { return std::abs((r = amp()).temp1 - 40.0f) < 0.5f; }, 5000));
    EXPECT_NEAR(r.temp2, 38.0f, 0.5f);
}

TEST_F(Link, SilentAmplifierGetsFourAttemptsThenTheStatusPollAndAlarm4) {
    startModel();
    w->startupFlags.replace(0);
    AmpModelSetAnswer(model, AmpAnswer::Silent, 0, 4);
    startLink();
    ASSERT_TRUE(sentAtLeast(6, 10000));
    auto rx = AmpModelReceived(model);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(rx[i].text, "ST;") << i;
    // Each attempt waited the 1.5 s reply time-out.
    for (int i = 1; i < 4; i++)
        EXPECT_GE(rx[i].ms - rx[i - 1].ms, 1450) << i;
    EXPECT_EQ(rx[5].text, "FM;"); // the fifth poll was answered
    EXPECT_TRUE(ExistError(w.get(), 4));
    EXPECT_TRUE(w->errorTable[4].line2.equals("Err ST"));
    EXPECT_EQ(w->retryStops, 1);

    // A second give-up within the 2 s hold-off raises nothing new.
    DeleteErrore(w.get(), 4);
    AmpModelSetAnswer(model, AmpAnswer::Reject, 0, 4);
    ASSERT_TRUE(WaitFor([&] { return w->retryStops == 2; }, 5000));
    EXPECT_FALSE(ExistError(w.get(), 4));
}

TEST_F(Link, TwoRepliesArrivingTogetherAreDecodedInTurn) {
    // The test plays the amplifier by hand on a pty.
    SimPty pty;
    ASSERT_TRUE(SimPtyOpen(&pty, dir.path + "/dev/ttyAMA0"));
    startLink();
    // The next command the link sends, read up to its ';'.
    const auto command = [&] { return PtyPeerReadText(pty.master, 3000); };
    ASSERT_EQ(command(), "ST;");
    const char both[] = "ST00000000000000002048204800000000;FM00007100000;";
    ASSERT_EQ(write(pty.master, both, std::strlen(both)), static_cast<ssize_t>(std::strlen(both)));
    ASSERT_EQ(command(), "FM;");
    // The frequency reply was already there: decoded without another byte from us.
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeGeneric].freqHz == 7100000; }, 10000));
    ASSERT_EQ(command(), "ST;");
    SimPtyClose(&pty); // the link sees the hang-up and ends
}

TEST_F(Link, PortNobodyReadsDropsTheCommandInsteadOfBlocking) {
    // A pty whose far end never reads: its buffer fills, and a write must then
    // give up rather than hold the link thread for ever.
    SimPty pty;
    ASSERT_TRUE(SimPtyOpen(&pty, dir.path + "/dev/ttyAMA0"));
    ASSERT_GE(OpenLinear(w.get()), 0);
    const std::string block(1024, 'x');
    int result = 0;
    for (int i = 0; i < 1000 && result == 0; i++)
        result = writeLinearPort(w->linFD, block.data(), block.size(), w.get());
    EXPECT_EQ(result, -1);
    close(w->linFD);
    SimPtyClose(&pty);
}

// A missing port stops the link (no spinning, nothing to block shutdown) until
// the error page's retry starts it again once the port is there; a port that
// hangs up (the adapter pulled) shows the error page and ends the link, with no
// retries against a dead port.
TEST_F(Link, MissingPortStopsTheLinkUntilItIsStartedAgainAndAPortThatHangsUpEndsIt) {
    startLink();
    link.join(); // the link ends by itself
    EXPECT_EQ(w->deviceErrorCode, 1);
    EXPECT_TRUE(w->deviceErrorText.equals("Linear: Unable to open device /dev/ttyAMA0"));
    EXPECT_TRUE(Contains(syslog(), "3 Unable to open device /dev/ttyAMA0"));

    startModel();
    w->deviceErrorCode = -1;
    setup->EnableLinear = '1';
    StartThreadLinear(w.get());
    ASSERT_TRUE(sentAtLeast(4, 3000));
    AmpModelStop(model);
    model = nullptr;
    JoinThread(SlotOf(Thread::Link)); // ends by itself
    EXPECT_EQ(w->deviceErrorCode, 1);
    EXPECT_TRUE(w->deviceErrorText.equals("Linear: device /dev/ttyAMA0 went away"));
    EXPECT_EQ(w->running, 1);
    EXPECT_EQ(w->retryStops, 0);
}

// A process that may not create threads: the link reports it on its error page
// instead of losing it (run in a child, as an unprivileged user limited to one
// task, so the limit is the kernel's own).
TEST_F(Link, ThreadThatCannotBeCreatedIsReported) {
    setup->EnableLinear = '1';
    const std::string log = dir.path + "/syslog.log";
    close(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
    // The child writes it as another user.
    ASSERT_EQ(chmod(dir.path.c_str(), 0711), 0);
    ASSERT_EQ(chmod(log.c_str(), 0666), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit one{1, 1};
        if (setrlimit(RLIMIT_NPROC, &one) != 0 || setuid(65534) != 0) _exit(3);
        StartThreadLinear(w.get());
        const bool page =
            w->deviceErrorCode == 1 && w->deviceErrorText.equals("Linear: cannot start thread");
        _exit(page ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop to an unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Contains(ReadFile(log), "3 cannot start thread link")) << ReadFile(log);
}

TEST_F(Link, FanAndOverTemperatureProtectionOnTheWire) {
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/ventola.txt", "30 0\n45 50\n60 100\n"));
    startModel();
    w->startupFlags.replace(0);
    ReadVentolaFile(w.get()); // as start-up does
    w->settings.maxTemperature = 60.0f;
    w->settings.hysteresis1 = 5;
    AmpModelSetTemperatures(model, 50.0f, 48.0f);
    startLink();
    ASSERT_TRUE(onWire("FN1050;", 5000));
    ASSERT_TRUE(WaitFor([&] { return AmpModelFan(model) == 50; }, 10000));

    AmpModelSetTemperatures(model, 72.0f, 70.0f);
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), 2) == 1; }, 8000));
    ASSERT_TRUE(onWire("MP1;", 3000));
    ASSERT_TRUE(onWire("AT11;", 3000));
    ASSERT_TRUE(onWire("AB1;", 3000)); // standby while too hot
    EXPECT_FALSE(onWire("AB0;", 0));
    EXPECT_TRUE(WaitFor([&] { return AmpModelBypass(model); }, 10000));

    // Cooled below the limit less the hysteresis: the event ends with alarm 0 and
    // the amplifier stays in standby until the operator takes it out.
    AmpModelClearReceived(model);
    AmpModelSetTemperatures(model, 58.0f, 57.0f);
    ASSERT_TRUE(WaitFor([&] { return amp().temp1 < 59.0f; }, 10000));
    EXPECT_TRUE(ExistError(w.get(), 2)); // within the hysteresis
    AmpModelSetTemperatures(model, 50.0f, 49.0f);
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), 2) == 0; }, 8000));
    EXPECT_TRUE(ExistError(w.get(), 0));
    EXPECT_TRUE(onWire("AB1;", 3000));
    EXPECT_FALSE(onWire("AB0;", 0));
}

TEST_F(Link, AlarmResetKeyClearsTheAmplifier) {
    startModel();
    InitMicroCmd(w.get());
    startLink();
    ASSERT_TRUE(onWire("MR0;", 8000)); // the start-up list is through, "CP" answered
    ASSERT_TRUE(WaitFor([&] { return (w->startupFlags.test(1)) == 0; }, 10000));

    // An output-current trip latches in the amplifier and raises the alarm.
    AmpModelSetFaultBits(model, 0x01);
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), 15) == 1; }, 10000));
    EXPECT_TRUE(w->errorTable[15].line2.equals("I OUT"));

    // The reset key: "CPFFFF;" clears the latch, the next status clears the list.
    AmpModelClearReceived(model);
    EXPECT_EQ(GPIO_Errori(w.get()), 1);
    ASSERT_TRUE(onWire("CPFFFF;", 3000));
    ASSERT_TRUE(WaitFor([&] { return ExistAnError(w.get()) < 0 && amp().ampFault == 0; }, 5000));
}

} // namespace
