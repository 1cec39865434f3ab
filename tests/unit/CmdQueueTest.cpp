// The command ring, the link's command texts and their side effects.
#include "RootedWorks.h"

#include "amp/Linear.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

class Commands : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
        w->linFD = fds[1];
    }
    void TearDown() override {
        close(fds[0]);
        close(fds[1]);
        RootedWorks::TearDown();
    }
    // Sends the command of `state` and returns the bytes written to the port.
    std::string sent(int state) {
        SendLinearCommand(w.get(), state);
        char buf[64];
        ssize_t n = read(fds[0], buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    int fds[2] = {-1, -1};
};

TEST_F(Commands, RingKeepsOrderAndRefusesThe30th) {
    for (int i = 0; i < 29; i++)
        ASSERT_EQ(IncPNTIn_CMDLinear(100 + i, w.get()), 100 + i);
    EXPECT_EQ(IncPNTIn_CMDLinear(7, w.get()), -1);
    EXPECT_TRUE(Contains(syslog(), "3 Linear: command queue full, command 7 dropped"));
    std::vector<int> got = queued();
    ASSERT_EQ(got.size(), 29u);
    for (int i = 0; i < 29; i++)
        EXPECT_EQ(got[i], 100 + i);
    // Wrapping around the end of the ring keeps working.
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 20; i++)
            ASSERT_GE(IncPNTIn_CMDLinear(i, w.get()), 0);
        EXPECT_EQ(queued().size(), 20u);
    }
    EXPECT_TRUE(CmdQueueEmpty(w.get()));
}

TEST_F(Commands, NextCmdPriorityDrainsOnlyWhenAsked) {
    IncPNTIn_CMDLinear(kCmdAntenna, w.get());
    IncPNTIn_CMDLinear(kCmdFreq, w.get());
    w->retryCount = 2;
    NextCmdPriority(w.get(), kCmdStatus);
    EXPECT_EQ(linearProcessStatus, kCmdStatus);
    EXPECT_EQ(w->retryCount, 0);

    CmdQueueStartDrain(w.get(), true); // the alarm reset's commands go out back to back
    IncPNTIn_CMDLinear(kCmdFan, w.get()); // a key held meanwhile: it waits its turn
    NextCmdPriority(w.get(), kCmdStatus);
    EXPECT_EQ(linearProcessStatus, kCmdAntenna);
    NextCmdPriority(w.get(), kCmdStatus);
    EXPECT_EQ(linearProcessStatus, kCmdFreq);
    EXPECT_EQ(w->errorResetPhase, 1);
    NextCmdPriority(w.get(), kCmdStatus); // the drain is over: back to polling, reset phase 2
    EXPECT_EQ(linearProcessStatus, kCmdStatus);
    EXPECT_EQ(w->cmdQueueDrain, 0);
    EXPECT_EQ(w->errorResetPhase, 2);
    EXPECT_EQ(CmdQueueTake(w.get()), kCmdFan);
}

// (The start-up list's texts, from their start values, and the protection's,
// the link puts on the wire end to end: Link.StartUpListGoesOutOneCommandAfterEachStatusPoll,
// Link.FanAndOverTemperatureProtectionOnTheWire.)
TEST_F(Commands, TextsOnTheWireAndWhatTheyChange) {
    // (The output's "SA" and the frequency's "FA" on the wire:
    // TunerMemory.BankKeyStoresTheBankAndAppliesIt, TuneOnTransmit.*.)
    w->tunerWord = 0x10000;
    EXPECT_EQ(sent(kCmdTuneWord), "MT100010000;");
    EXPECT_EQ(w->tunerBypass, 1);
    w->tunerWord = 0x800ABC;
    EXPECT_EQ(sent(kCmdTuneWord), "MT100800ABC;");
    EXPECT_EQ(w->tunerBypass, 0);
    w->relayDrive = 0x20;
    EXPECT_EQ(sent(kCmdFilter), "SF3000020;");
    w->settings.freqSensIn = 1;
    w->settings.freqPeriod = 240;
    EXPECT_EQ(sent(kCmdFreqSens), "FS10024;"); // the period in tens of ms
    EXPECT_EQ(sent(kCmdEe2), "ER0002;");
    EXPECT_EQ(linearProcessStatus, kStateWait);
    EXPECT_EQ(std::string(w->lastCmd.get().s), "ER");
    EXPECT_EQ(w->retryState, kCmdEe2);

    const char* expect[4] = {"AT00;", "AT01;", "AT10;", "AT11;"};
    for (int v = 0; v < 4; v++) {
        w->attenuator = static_cast<uint8_t>(v);
        EXPECT_EQ(sent(kCmdAtt), expect[v]);
    }
    w->settings.attenuatorTune = 2;
    EXPECT_EQ(sent(kCmdAttTune), "AT10;");
    EXPECT_EQ(sent(kCmdAttBoth), "AT11;");

    EXPECT_EQ(sent(kCmdBypassOn), "AB1;");
    EXPECT_EQ(w->bypassRequested, 1);
    EXPECT_EQ(w->attenuatorShown, 4);
    EXPECT_EQ(sent(kCmdBypassOff), "AB0;");
    EXPECT_EQ(w->bypassRequested, 0);

    w->anState = 1;
    EXPECT_EQ(sent(kCmdAn), "AN1;");
    // The general settings carry the frequency source's bit.
    w->generalSettings.set("0000000000");
    w->ModeWorkIdx = 0;
    EXPECT_EQ(sent(kCmdGsWrite), "GS0200000000;");
    w->generalSettings.set("0300000000");
    w->ModeWorkIdx = 1;
    EXPECT_EQ(sent(kCmdGsWrite), "GS0100000000;");
    // The tuner's bypass and reset.
    w->tunerWord = 0x840123;
    EXPECT_EQ(sent(kCmdTunerBypass), "MT100010123;");
    EXPECT_EQ(w->tunerBypass, 1);

    w->tuner.tuneC = 100;
    w->tuner.tuneL = 200;
    EXPECT_EQ(sent(kCmdTunerReset), "MT100800000;");
    EXPECT_EQ(w->tunerBypass, 0);
    EXPECT_EQ(w->tuner.tuneC, 0u);
    EXPECT_EQ(w->tuner.tuneL, 0u);

}

TEST_F(Commands, StartUpListInItsOrder) {
    InitMicroCmd(w.get());
    EXPECT_EQ(queued(), (std::vector<int>{0, 36, 37, 38, 17, 22, 21, 7, 12, 11, 24, 33, 34, 13, 32}));
    EXPECT_EQ(w->thresholdRowIdx, kThresholdsDefault);
    // Again (after a micro reset) the thresholds are not sent twice.
    InitMicroCmd(w.get());
    EXPECT_EQ(queued(), (std::vector<int>{0, 36, 37, 38, 17, 21, 7, 12, 11, 24, 33, 34, 13, 32}));
}

} // namespace
