// The transmit time limit of remote operation, tick by tick on a clock the
// test gives: who is limited, when the warning and the end come, what a pause
// does, the refusal until the reset key, the guard's way back to receive and the
// "TL" message.
#include "RootedWorks.h"

#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "core/Services.h"
#include "remote/TxLimit.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

enum class Who { Local, Session, Console };

class TxLimit : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0); // alarms count once start-up is over
        setup->WebSocket = '1';
        w->ampBypass = 0; // in operate
    }
    void TearDown() override {
        w->running = 0;
        StopJob(Job::TxLimit, 0);
        RootedWorks::TearDown();
    }
    void operatedBy(Who who) {
        w->remoteConnected = who == Who::Session ? 1 : 0;
        w->txLimit.console = who == Who::Console ? 1 : 0;
    }
    void power(float watts) {
        readings([&](AmpReadings& r) { r.pwrFwd = watts; });
    }
    // Ticks every 100 ms from `fromMs` up to `toMs` (exclusive); the phase seen
    // at each whole second.
    std::vector<int> ticks(int64_t fromMs, int64_t toMs) {
        std::vector<int> seen;
        for (int64_t t = fromMs; t < toMs; t += 100) {
            TxLimitTick(w.get(), kT0 + t);
            if (t % 1000 == 0)
                seen.push_back(w->txLimit.phase);
        }
        return seen;
    }
    int log(const char* text) { return static_cast<int>(CountOf(syslog(), text)); }
    static constexpr int64_t kT0 = 1000000;
};

// The second at which timing, near and locked were first seen; -1: never.
std::array<int, 3> firstSeconds(const std::vector<int>& phases) {
    std::array<int, 3> s = {-1, -1, -1};
    const int order[3] = {kTxTiming, kTxNear, kTxLocked};
    for (int i = 0; i < static_cast<int>(phases.size()); i++)
        for (int k = 0; k < 3; k++)
            if (phases[i] == order[k] && s[k] < 0)
                s[k] = i;
    return s;
}

TEST_F(TxLimit, WhoIsLimitedAndWhen) {
    struct Case {
        const char* what;
        Who who;
        long limit; // RemoteTxLimit as the file holds it
        int pauseAtS, pauseMs; // the transmission pauses once
        int endsAtS;           // and ends here (-1: held for the whole run)
        std::array<int, 3> want; // first seconds of timing, near, locked
    } cases[] = {
        {"local operation is never limited", Who::Local, 30, -1, 0, -1, {-1, -1, -1}},
        {"RemoteTxLimit 0 never limits", Who::Session, 0, -1, 0, -1, {-1, -1, -1}},
        {"an operator's session", Who::Session, 30, -1, 0, -1, {0, 20, 30}},
        {"a console in control", Who::Console, 30, -1, 0, -1, {0, 20, 30}},
        {"below 10 s counts as 10", Who::Session, 4, -1, 0, -1, {0, 1, 10}},
        {"a pause between words goes on timing", Who::Session, 30, 12, 600, -1, {0, 20, 30}},
        {"a transmission that ends in time", Who::Session, 30, -1, 0, 25, {0, 20, -1}},
    };
    int standbys = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w->txLimit.phase = kTxIdle;
        DeleteErrore(w.get(), kAlarmTxLimit);
        DeleteErrore(w.get(), kAlarmTxLimitNear);
        SetSettingNumber(w.get(), "RemoteTxLimit", c.limit);
        operatedBy(c.who);
        // Transmitting at 50 W from 0 s on, for 45 s, a gap and the end as the case says.
        std::vector<int> phases;
        for (int s = 0; s < 45; s++) {
            const bool paused = c.pauseAtS >= 0 && s == c.pauseAtS;
            const bool ended = c.endsAtS >= 0 && s >= c.endsAtS;
            power(ended ? 0.0f : 50.0f);
            if (paused) {
                phases.push_back(w->txLimit.phase);
                power(0.0f);
                ticks(s * 1000LL, s * 1000LL + c.pauseMs);
                power(50.0f);
                ticks(s * 1000LL + c.pauseMs, (s + 1) * 1000LL);
            } else {
                phases.push_back(ticks(s * 1000LL, (s + 1) * 1000LL)[0]);
            }
        }
        const int locked = c.want[2];
        EXPECT_EQ(firstSeconds(phases), c.want);
        EXPECT_EQ(ExistError(w.get(), kAlarmTxLimit), locked >= 0 ? 1 : 0);
        EXPECT_EQ(ExistError(w.get(), kAlarmTxLimitNear), 0); // gone at the end or the limit
        if (c.endsAtS >= 0) {
            EXPECT_EQ(w->txLimit.phase, kTxIdle);
        }
        if (locked >= 0) {
            EXPECT_EQ(w->txLimit.lastedS, locked);
            // The guard's way back: the receive request; standby once the power is gone.
            power(0.0f);
            standbys++;
            ASSERT_TRUE(WaitFor([&] { return log("the amplifier is in standby") == standbys; }, 10000));
            EXPECT_TRUE(w->txButtonFlags.test(1));
            const std::vector<int> q = queued();
            EXPECT_NE(std::find(q.begin(), q.end(), kCmdBypassOn), q.end());
            StopJob(Job::TxLimit, 0);
        }
    }
    EXPECT_EQ(log("the transmission ended after 25 s, before the limit of 30 s"), 1);
    EXPECT_EQ(log("the transmission ended after 30 s (limit 30 s)"), 3);
    EXPECT_EQ(log("the transmission ended after 10 s (limit 10 s)"), 1);
    EXPECT_EQ(log("remote TX limit: 10 s left after 20 s of transmitting"), 4);
}

// While the notice stands, a transmit command from the remote side is refused
// (logged once); everything else passes, and local operation goes on. The
// notice waits for its alarm key to be in the list at all.
TEST_F(TxLimit, RefusedWhileTheNoticeStands) {
    SetSettingNumber(w.get(), "RemoteTxLimit", 10);
    operatedBy(Who::Session);
    auto refuses = [&](const char* text) {
        return TxLimitRefuses(w.get(), reinterpret_cast<const uint8_t*>(text), std::strlen(text), "relayed CAT");
    };
    EXPECT_FALSE(refuses("TX;"));
    power(0.0f); // the guard finds no RF: standby at once
    w->txLimit.phase = kTxIdle;
    readings([](AmpReadings& r) { r.ampStatus2 = 1; }); // the amplifier reports transmit
    ticks(0, 10100);
    ASSERT_EQ(w->txLimit.phase, kTxLocked);
    for (const char* text : {"TX;", "TX1;", "FA00014074000;TX0;"})
        EXPECT_TRUE(refuses(text)) << text;
    for (const char* text : {"RX;", "FA00014074000;", "PTX;", "TX"})
        EXPECT_FALSE(refuses(text)) << text;
    EXPECT_EQ(log("a transmit request on the relayed CAT refused"), 1);
    // (The reset key's acknowledgement, and transmitting after it:
    // Simulator.RemoteTransmissionEndsAtTheTimeLimit.)
    VerificaEsistonoErrori(w.get()); // the reset key, for the next part

    // Before the amplifier's first reply no alarm goes into the list: the
    // notice waits for its key, and only its removal acknowledges.
    readings([](AmpReadings& r) { r.ampStatus2 = 0; });
    w->txLimit.phase = kTxIdle;
    w->startupFlags.set(1);
    power(50.0f);
    ticks(20000, 30100);
    ASSERT_EQ(w->txLimit.phase, kTxLocked);
    EXPECT_EQ(ExistError(w.get(), kAlarmTxLimit), 0);
    ticks(30100, 31000);
    EXPECT_EQ(w->txLimit.phase, kTxLocked);
    w->startupFlags.replace(0);
    ticks(31000, 31200);
    EXPECT_EQ(ExistError(w.get(), kAlarmTxLimit), 1);
    EXPECT_EQ(w->txLimit.phase, kTxLocked);
}

TEST_F(TxLimit, MessageToTheOperatorsUnit) {
    SetSettingNumber(w.get(), "RemoteTxLimit", 180);
    operatedBy(Who::Session);
    char text[16];
    StationState s;
    struct {
        int64_t atMs;
        float watts;
        const char* message;
    } steps[] = {{0, 0.0f, "01800000R"},      {100, 50.0f, "01800180T"},   {60100, 50.0f, "01800120T"},
                 {170100, 50.0f, "01800010W"}, {175000, 50.0f, "01800006W"}, {180100, 50.0f, "01800000L"}};
    for (const auto& st : steps) {
        power(st.watts);
        TxLimitTick(w.get(), kT0 + st.atMs);
        ASSERT_EQ(BuildTxLimitMessage(w.get(), kT0 + st.atMs, text, sizeof text), kTxLimitMessageSize);
        EXPECT_STREQ(text, st.message) << st.atMs;
        ASSERT_TRUE(ParseTxLimitMessage(reinterpret_cast<const uint8_t*>(text), kTxLimitMessageSize, &s));
        EXPECT_EQ(s.txLimitS, 180);
        EXPECT_EQ(s.txPhase, st.message[8]);
    }
    for (const char* bad : {"0180000R", "01800000X", "0180000AR", "01800000RR", ""}) {
        StationState kept;
        EXPECT_FALSE(ParseTxLimitMessage(reinterpret_cast<const uint8_t*>(bad), std::strlen(bad), &kept)) << bad;
        EXPECT_EQ(kept.txPhase, 'R');
        EXPECT_EQ(kept.txLimitS, 0);
    }
}

} // namespace
