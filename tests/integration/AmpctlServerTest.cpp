// The amplifier protocol's server thread against clients written as loggers
// speak it: with the amplifier's model on the link and the keys' thread
// running, its values are what the panel decoded and its changes are made by
// the keys' rules; without them, its bounds (clients, lines, floods, silence).
#include "AmpctlPeer.h"
#include "GpioPanel.h"
#include "WsPeer.h"

#include "amp/Linear.h"
#include "amp/LinearPort.h"
#include "core/AlarmList.h"
#include "devsim/AmpModel.h"
#include "remote/AmpctlServer.h"

namespace {

int count(const std::string& text, const std::string& what) { return static_cast<int>(CountOf(text, what)); }

// The station: the amplifier's model on the link, the keys' thread, the server.
class AmpctlStation : public GpioPanel {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(GpioPanel::SetUp());
        model = AmpModelStart(dir.path + "/dev/ttyAMA0");
        ASSERT_NE(model, nullptr);
        InitMicroCmd(w.get()); // the start-up list: thresholds, and "CP", after which alarms count
        link = std::thread(Linear, w.get());
        port = FreeTcpPort();
        SetSettingNumber(w.get(), "AmpctlPort", port);
    }
    void TearDown() override {
        w->running = 0;
        for (std::thread* t : {&server, &link})
            if (t->joinable()) t->join();
        AmpModelStop(model);
        GpioPanel::TearDown();
    }
    void startServer(const char* listen, const char* control) {
        SetSettingText(w.get(), "AmpctlListen", listen);
        SetSettingText(w.get(), "AmpctlControl", control);
        server = std::thread(AmpctlServe, w.get());
    }
    // A client whose first reading has come: the link has read the amplifier.
    void connect(AmpctlPeer& p, const char* host = "127.0.0.1") {
        ASSERT_TRUE(p.connectTo(host, port));
        ASSERT_TRUE(WaitFor([&] { return p.ask("\\get_powerstat") != "RPRT -11\n"; }, 10000));
    }
    // The model's drive, once the panel has decoded what it does to the amplifier.
    void drive(float watts) {
        AmpModelSetDrive(model, watts);
        ASSERT_TRUE(WaitFor([&] { return AmpReadingsNow(w.get()).transmitting() == (watts > 0); }, 5000));
    }

    AmpModel* model = nullptr;
    std::thread link, server;
    int port = 0;
};

TEST_F(AmpctlStation, OperateAndStandbyFollowTheAttenuatorKeysRuleWhileTransmittingAndNot) {
    startServer("127.0.0.1", "127.0.0.1/8 ::1/128");
    AmpctlPeer logger;
    connect(logger);
    struct Step {
        float driveW;
        const char* command;
        const char* answer;
        bool standby; // the amplifier after the step
    };
    const Step steps[] = {
        {0, "\\set_powerstat 4", "RPRT 0\n", false},
        {5, "\\set_powerstat 2", "RPRT -9\n", false}, // not into standby while transmitting
        {5, "+\\set_powerstat 4", "set_powerstat: 4\nRPRT 0\n", false}, // operate already: no change
        {0, "\\set_powerstat 2", "RPRT 0\n", true},
        {5, "\\set_powerstat 4", "RPRT -9\n", true}, // nor out of it
        {0, "\\set_powerstat 4", "RPRT 0\n", false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.command + std::string(s.driveW > 0 ? " transmitting" : " in receive"));
        drive(s.driveW);
        EXPECT_EQ(logger.ask(s.command, count(s.answer, "\n")), s.answer);
        // The keys' thread has taken what it was given; the amplifier is where the step leaves it.
        waitPasses(20);
        EXPECT_TRUE(WaitFor([&] { return AmpModelBypass(model) == s.standby; }, 5000));
        EXPECT_TRUE(WaitFor([&] { return logger.ask("\\get_powerstat") == (s.standby ? "2\n" : "4\n"); }, 5000));
        EXPECT_EQ(w->attenuatorShown == 4, s.standby);
    }
    // A second refusal of each kind, answered and not logged again.
    drive(5);
    EXPECT_EQ(logger.ask("\\set_powerstat 2"), "RPRT -9\n");
    const std::string log = syslog();
    EXPECT_EQ(count(log, "6 amplifier: standby asked by ampctl client 127.0.0.1"), 1) << log;
    EXPECT_EQ(count(log, "6 amplifier: operate asked by ampctl client 127.0.0.1"), 3);
    EXPECT_EQ(count(log, "3 ampctl: 127.0.0.1: set_powerstat 2 refused with RPRT -9: the panel's rules"), 1);
    EXPECT_EQ(count(log, "3 ampctl: 127.0.0.1: set_powerstat 4 refused with RPRT -9"), 1);
}

// (The values the server answers are AmpctlFillView's: AmpctlViews.*.)
TEST_F(AmpctlStation, ChangesGoAsTheKeysMakeThem) {
    startServer("127.0.0.1", "127.0.0.1/8");
    AmpctlPeer logger;
    connect(logger);
    ASSERT_EQ(logger.ask("\\set_powerstat 4"), "RPRT 0\n");
    ASSERT_TRUE(WaitFor([&] { return !AmpModelBypass(model) && w->ampBypass == 0; }, 5000));
    EXPECT_EQ(logger.ask("F 7074000"), "RPRT -11\n"); // a source sets the frequency

    // A latched fault: its text as its alarm key draws it; the reset clears it at the amplifier.
    // Alarms count once the start-up list's "CP" is answered.
    ASSERT_TRUE(WaitFor([&] { return !w->startupFlags.test(1); }, 10000));
    AmpModelSetFaultBits(model, 0x02);
    ASSERT_TRUE(WaitFor([&] { return ExistError(w.get(), kAlarmFault) == 1; }, 5000));
    EXPECT_EQ(logger.ask("l FAULT"), "Error REFL\n");
    EXPECT_EQ(logger.ask("R 1"), "RPRT 0\n");
    EXPECT_TRUE(WaitFor([&] { return AmpModelGetState(model).faults == 0; }, 5000));
    EXPECT_TRUE(WaitFor([&] { return logger.ask("l FAULT") == "No Fault\n"; }, 5000));

    // The antenna as the antenna key chooses it, on the wire (that the bank
    // row keeps it: Keys.AntennaKeyQueuesItsCommandAndSavesTheBank).
    EXPECT_EQ(logger.ask("Y 3"), "RPRT 0\n");
    EXPECT_TRUE(WaitFor([&] { return AmpModelAntenna(model) == 3; }, 5000));
    EXPECT_EQ(logger.ask("+y", 3), "get_ant:\nAntenna: 3\nRPRT 0\n");

    // A tune only where the tune key would start one: not with tuning on
    // transmit off, not while a search runs (the key would end it).
    EXPECT_EQ(logger.ask("G TUNE"), "RPRT -9\n");
    w->tuneModeFlags.set(0x01); // AutoTuneMode on, as the menu sets it
    EXPECT_EQ(logger.ask("G TUNE"), "RPRT 0\n");
    ASSERT_TRUE(WaitFor([&] { return w->tuneState != 0; }, 5000));
    EXPECT_EQ(logger.ask("G TUNE"), "RPRT -9\n");
    waitPasses(20);
    EXPECT_NE(w->tuneState, 0);
    EXPECT_TRUE(Contains(syslog(), "6 amplifier: antenna 3 asked by ampctl client 127.0.0.1"))
        << syslog();
}

TEST_F(AmpctlStation, AClientOutsideAmpctlControlOnlyReads) {
    // Every address, IPv4 and IPv6; changes only from ::1.
    startServer("::", "::1/128");
    AmpctlPeer four, six;
    connect(four, "127.0.0.1");
    connect(six, "::1");
    EXPECT_EQ(four.ask("\\set_powerstat 2 R 1 Y 2 G TUNE", 4),
              "RPRT -19\nRPRT -19\nRPRT -19\nRPRT -19\n");
    // It reads: what ::1 changes.
    for (const char* state : {"4", "2", "4"}) {
        EXPECT_EQ(six.ask(std::string("\\set_powerstat ") + state), "RPRT 0\n");
        EXPECT_TRUE(WaitFor([&] { return four.ask("\\get_powerstat") == state + std::string("\n"); }, 5000));
    }
    const std::string log = syslog();
    // A line for each refusal, with the client's address and the reason (a
    // repeat is not logged again: OperateAndStandby…).
    EXPECT_EQ(count(log, "3 ampctl: 127.0.0.1: set_powerstat 2 refused with RPRT -19: outside AmpctlControl"), 1)
        << log;
    EXPECT_EQ(count(log, "refused with RPRT -19"), 4);
    EXPECT_TRUE(Contains(log, "6 amplifier: standby asked by ampctl client ::1"));
}

// The server alone: its bounds need no amplifier. `scale`: the program's clock.
class AmpctlBounds : public RootedWorks {
  protected:
    void start(int scale) {
        useTimeScale(scale);
        port = FreeTcpPort();
        SetSettingNumber(w.get(), "AmpctlPort", port);
        server = std::thread(AmpctlServe, w.get());
        ASSERT_TRUE(logged("ampctl: listening on 127.0.0.1 port", 10000));
    }
    void TearDown() override {
        w->running = 0;
        if (server.joinable())
            server.join();
        RootedWorks::TearDown();
    }
    std::thread server;
    int port = 0;
};

TEST_F(AmpctlBounds, ANinthClientAFloodAndALongLineAreRefusedAndLoggedOncePerBurst) {
    start(2); // a burst ends after 5 s, a program second is half a second
    std::vector<std::unique_ptr<AmpctlPeer>> clients;
    for (int i = 0; i < 8; i++) {
        clients.push_back(std::make_unique<AmpctlPeer>());
        ASSERT_TRUE(clients.back()->connectTo("127.0.0.1", port));
        EXPECT_EQ(clients.back()->ask("\\dump_state"), "0\n") << i; // answered without data too
    }
    for (int i = 0; i < 5; i++) { // the 9th, five times
        AmpctlPeer ninth;
        ASSERT_TRUE(ninth.connectTo("127.0.0.1", port));
        EXPECT_TRUE(ninth.closesWithin(5000)) << i;
    }
    // A line of 257 bytes ends its client; the others go on.
    ASSERT_TRUE(clients[0]->send("f" + std::string(255, ' ') + "x\n"));
    EXPECT_TRUE(clients[0]->closesWithin(5000));
    EXPECT_EQ(clients[1]->ask("_"), std::string("Panel amplifier, software ") + kSwVersion + "\n");
    ASSERT_TRUE(logged("5 connections refused in that burst", 15000)) << syslog();

    // A flood: connections as fast as a loop makes them, each closed at once.
    // At most 16 a second are taken; the rest are refused, logged once.
    clients.clear();
    constexpr int kFlood = 64;
    const int64_t floodFrom = plat_mono_ms();
    for (int i = 0; i < kFlood; i++) {
        AmpctlPeer p;
        ASSERT_TRUE(p.connectTo("127.0.0.1", port));
    }
    const int seconds = static_cast<int>((plat_mono_ms() - floodFrom) / 1000) + 1; // program seconds it spanned
    ASSERT_TRUE(WaitFor([&] { return count(syslog(), "connections refused in that burst") == 2; }, 15000))
        << syslog();
    const std::string log = syslog();
    EXPECT_EQ(count(log, "3 ampctl: 127.0.0.1 refused: "), 2) << log; // one a burst
    EXPECT_TRUE(Contains(log, "3 ampctl: 127.0.0.1 refused: 8 clients are connected"));
    const size_t at = log.rfind(" connections refused in that burst");
    const size_t from = log.rfind("ampctl: ", at) + 8;
    EXPECT_GE(std::stoi(log.substr(from, at - from)), kFlood - seconds * kAmpctlConnectionsPerSecond) << seconds;
    EXPECT_EQ(count(log, "3 ampctl: 127.0.0.1 sent a line over 256 bytes: closed"), 1);
    // Still serving.
    AmpctlPeer after;
    ASSERT_TRUE(after.connectTo("127.0.0.1", port));
    EXPECT_EQ(after.ask("\\dump_state"), "0\n");
}

TEST_F(AmpctlBounds, ASilentClientIsClosedAfterTenMinutesOneThatTalksIsNot) {
    start(600); // ten minutes in one second
    AmpctlPeer silent, talking;
    ASSERT_TRUE(silent.connectTo("127.0.0.1", port));
    ASSERT_TRUE(talking.connectTo("127.0.0.1", port));
    EXPECT_EQ(silent.ask("\\dump_state"), "0\n");
    const int64_t since = plat_mono_ms();
    // The talking client asks every few program minutes until the silent one is gone.
    EXPECT_TRUE(WaitFor(
        [&] {
            EXPECT_EQ(talking.ask("\\dump_state"), "0\n");
            return silent.closesWithin(100);
        },
        20000));
    EXPECT_GE(plat_mono_ms() - since, kAmpctlSilentMs - 60000);
    EXPECT_FALSE(talking.closesWithin(100));
    EXPECT_EQ(talking.ask("\\dump_state"), "0\n");
    EXPECT_EQ(count(syslog(), "6 ampctl: 127.0.0.1 silent for 10 minutes: closed"), 1);
}

} // namespace
