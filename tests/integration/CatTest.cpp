// The frequency sources and the CAT relay against their device models: the
// FT-817 poll, the transceiver CAT port search and relay, the presence checks.
#include "RootedWorks.h"

#include "devsim/Ft817Model.h"
#include "devsim/TrxCatModel.h"
#include "tuner/CAT.h"
#include "tuner/CATserial.h"

namespace {

class CatSources : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4);
        w->startupFlags.replace(0);
        setup->CatSerialPort.set("/dev/ttyUSB2");
    }
    void TearDown() override {
        w->running = 0;
        for (ThreadSlot* t : {&SlotOf(Thread::Ft817), &SlotOf(Thread::CatRelay)})
            JoinThread(*t);
        Ft817ModelStop(radio);
        TrxCatModelStop(trx);
        RootedWorks::TearDown();
    }
    void startFt817(long long hz) {
        radio = Ft817ModelStart(dir.path + "/dev/ttyUSB2", {.hz = hz});
        ASSERT_NE(radio, nullptr);
    }

    Ft817Model* radio = nullptr;
    TrxCatModel* trx = nullptr;
};

// A missing port, then the radio followed through bad answers and silence until
// its cable is pulled. (The FT-817's answers decoded, good and bad, asked for or
// not: the ft817_fuzz target.)
TEST_F(CatSources, Ft817PollSurvivesBadAnswersAndAMissingOrHungUpPortShowsTheErrorPage) {
    StartThreadCATserial(w.get());
    JoinThread(SlotOf(Thread::Ft817)); // the thread ends by itself
    EXPECT_EQ(w->deviceErrorCode, 2);
    EXPECT_TRUE(w->deviceErrorText.equals("CAT: Unable to open device /dev/ttyUSB2"));
    startFt817(7100000);
    StartThreadCATserial(w.get());
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 7100000; }, 10000));
    Ft817ModelSetFrequency(radio, 14074000);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 14074000; }, 10000));
    // A corrupted answer keeps the last frequency.
    const int answered = Ft817ModelAnswered(radio);
    Ft817ModelSetAnswer(radio, Ft817Answer::BadDigit, 2, 3);
    Ft817ModelSetFrequency(radio, 21074000);
    ASSERT_TRUE(WaitFor([&] { return Ft817ModelAnswered(radio) >= answered + 2; }, 10000));
    EXPECT_EQ(w->source[kModeFt817].freqHz, 14074000);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 21074000; }, 5000));
    // Silence: a time-out, a pause, then polling again.
    Ft817ModelSetAnswer(radio, Ft817Answer::Silent, 0, 1);
    Ft817ModelSetFrequency(radio, 28074000);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 28074000; }, 6000));
    // (Leaving mode 2 ends the poll: Sources/EachSource.ItsModeRunsItsThreadAlone...)
    Ft817ModelStop(radio); // the cable is pulled: the port hangs up
    radio = nullptr;
    JoinThread(SlotOf(Thread::Ft817)); // the poll ends by itself
    EXPECT_EQ(w->deviceErrorCode, 2);
    EXPECT_TRUE(w->deviceErrorText.equals("CAT: device /dev/ttyUSB2 went away"));
    EXPECT_FALSE(Contains(syslog(), "timeout")); // no failed reads
    EXPECT_EQ(w->source[kModeFt817].freqHz, 28074000);
}

TEST_F(CatSources, FtPollStartedAndSwitchedFromSeveralThreadsEndsWithOnePoller) {
    startFt817(7100000);
    // The keys, the refresh tick and the alarm handler all switch the work mode.
    {
        std::vector<std::jthread> callers;
        for (int c = 0; c < 4; c++)
            callers.emplace_back([&, c] {
                for (int i = 0; i < 60; i++) {
                    setup->catSerialEnabled = (i + c) % 3 == 0 ? '0' : '1';
                    StartThreadCATserial(w.get());
                }
            });
    } // and joined
    setup->catSerialEnabled = '1';
    StartThreadCATserial(w.get());
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 7100000; }, 10000));
    Ft817ModelSetFrequency(radio, 21074000);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 21074000; }, 10000));
    EXPECT_EQ(w->deviceErrorCode, 0); // every run opened the port it was given

    // One poller: the radio sees one query per answer, not two interleaved.
    Ft817ModelClearReceived(radio);
    plat_sleep_ms(300);
    const int queries = static_cast<int>(Ft817ModelReceived(radio).size());
    EXPECT_LE(queries, Ft817ModelAnswered(radio) + 2);

    setup->catSerialEnabled = '0';
    ASSERT_TRUE(WaitFor([&] { return !ThreadRunning(SlotOf(Thread::Ft817)); }, 10000));
}

TEST_F(CatSources, RelayFindsTheTransceiverAndForwardsItsTexts) {
    // Two ports: the last in name order answers with another id and is passed over.
    TrxCatModel* wrong = TrxCatModelStart(dir.path + "/dev/KAVOCAT1", {.id = "DT002;"});
    trx = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
    ASSERT_NE(wrong, nullptr);
    ASSERT_NE(trx, nullptr);
    remoteSession();
    setup->EnableCAT = '1';
    StartThreadCAT(w.get());
    ASSERT_TRUE(WaitFor([&] { return status_cat == 1; }, 6000));
    TrxCatModelSend(trx, "FA00014070000;");
    uint8_t frame[19];
    ASSERT_TRUE(readPeer(frame, 18, 3000));
    EXPECT_FALSE(readPeer(frame + 18, 1, 200)); // nothing after it
    // (The short frame's type and length: Transceiver.FramesGoToTheRemotePeer.)
    EXPECT_EQ(std::string(frame + 2, frame + 18), "CAFA00014070000;");
    // Turning the relay off ends it through its exit path: alarm 20 and off stays off.
    setup->EnableCAT = '0';
    JoinThread(SlotOf(Thread::CatRelay));
    EXPECT_EQ(status_cat, 0);
    EXPECT_TRUE(ExistError(w.get(), 20));
    EXPECT_EQ(w->catEnded, 1);
    TrxCatModelStop(wrong);
}

TEST_F(CatSources, NoAnsweringPortRaisesTheRelayAlarm) {
    trx = TrxCatModelStart(dir.path + "/dev/KAVOCAT0", {.id = ""}); // answers no "DT;"
    setup->EnableCAT = '1';
    StartThreadCAT(w.get());
    JoinThread(SlotOf(Thread::CatRelay));
    EXPECT_TRUE(ExistError(w.get(), 20));
    EXPECT_EQ(setup->EnableCAT, '0');
}

TEST_F(CatSources, PresenceChecksNeverShareThePortWithAStartingOrRestartedRelayThatStaysOn) {
    EXPECT_EQ(Find_Remote_Settings(w.get()), 1); // no USB device
    ASSERT_TRUE(WriteFile(dir.path + "/sim/usb-devices.txt", "16c0:05dc\n"));
    EXPECT_EQ(Find_Remote_Settings(w.get()), 2); // no CAT port
    trx = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
    ASSERT_NE(trx, nullptr);
    EXPECT_EQ(Find_Remote_Settings(w.get()), 3); // no audio interface
    EXPECT_EQ(w->catFD, 0);                      // the probe did not keep the port
    ASSERT_TRUE(WriteFile(dir.path + "/sim/usb-devices.txt", "16c0:05dc\n0d8c:01a0\n"));
    EXPECT_EQ(Find_Remote_Settings(w.get()), 3); // the vendor's other product is not it
    ASSERT_TRUE(WriteFile(dir.path + "/sim/usb-devices.txt", "16c0:05dc\n0d8c:01af\n"));
    EXPECT_EQ(Find_Remote_Settings(w.get()), 0);

    // The check and a relay that is starting both want the port: one at a time,
    // so neither reads the other's answer. After the first round the running
    // relay is started again and makes way for the new one, which stays on.
    setup->EnableCAT = '1';
    for (int round = 0; round < 4; round++) {
        StartThreadCAT(w.get());
        int checks = 0, failed = 0;
        // Checks back to back through the relay's start and beyond.
        const int64_t until = plat_mono_ms() + 1500, giveUp = plat_mono_ms() + 10000;
        while ((plat_mono_ms() < until || status_cat != 1) && plat_mono_ms() < giveUp) {
            failed += Find_Remote_Settings(w.get()) != 0;
            checks++;
        }
        EXPECT_EQ(status_cat, 1) << round;
        EXPECT_EQ(setup->EnableCAT, '1') << round;
        EXPECT_FALSE(ExistError(w.get(), 20)) << round;
        EXPECT_GT(checks, 0);
        EXPECT_EQ(failed, 0) << round << ": of " << checks;
        EXPECT_GT(w->catFD, 0);
    }
    // Ending with the program lets go of the port and keeps the relay's setting.
    w->running = 0;
    JoinThread(SlotOf(Thread::CatRelay));
    EXPECT_EQ(status_cat, 0);
    EXPECT_EQ(w->catFD, 0);
    EXPECT_EQ(setup->EnableCAT, '1');
    EXPECT_FALSE(ExistError(w.get(), 20));
}

} // namespace
