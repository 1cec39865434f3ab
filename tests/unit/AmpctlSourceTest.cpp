// What the amplifier protocol's server reads and asks: the networks that may
// change things, the views of the station's amplifier (its own on the
// station, the station's record on the operator's unit), and the requests'
// way to the keys' thread (queued, or sent as "AQ" and queued at the station,
// where what is no request is logged and dropped).
#include "AmpctlTalk.h"
#include "RootedWorks.h"

#include "core/AlarmList.h"
#include "core/AmpRequests.h"
#include "remote/AmpRequestMessage.h"
#include "remote/AmpctlAccess.h"
#include "remote/AmpctlSource.h"
#include "remote/StationRecord.h"

#include <arpa/inet.h>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_storage addressOf(const char* text) {
    sockaddr_storage a{};
    if (inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr) == 1)
        a.ss_family = AF_INET;
    else if (inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr) == 1)
        a.ss_family = AF_INET6;
    return a;
}

TEST(AmpctlAccess, NetworksInCidrFormAndWhatTheyLetIn) {
    struct Case {
        std::string control;
        int networks, refused;
        std::vector<const char*> in, out;
    };
    const Case cases[] = {
        {"127.0.0.1/8 ::1/128", 2, 0, {"127.0.0.1", "127.200.3.4", "::1"}, {"128.0.0.1", "::2", "10.0.0.1"}},
        {"192.168.1.0/24\t10.1.2.3", 2, 0, {"192.168.1.77", "10.1.2.3"}, {"192.168.2.1", "10.1.2.4"}},
        {"10.0.0.0/9", 1, 0, {"10.127.255.255"}, {"10.128.0.0"}}, // a prefix within a byte
        {"fd00::/8 0.0.0.0/0", 2, 0, {"fdab::1", "1.2.3.4"}, {"fe80::1"}},
        {"::/0", 1, 0, {"2001:db8::1"}, {"127.0.0.1"}}, // IPv6 networks hold no IPv4 client
        {"", 0, 0, {}, {"127.0.0.1", "::1"}},
        // Words that are no network allow nothing: the others still count.
        {"localhost 10.0.0.0/33 ::1/129 1.2.3.4/ 1.2.3.4/08x 1.2.3.4/1234 300.1.1.1 ::1", 1, 7, {"::1"},
         {"127.0.0.1", "10.0.0.1"}},
        {std::string(200, 'x'), 0, 1, {}, {"127.0.0.1"}},
        // Eight networks at most.
        {"1.0.0.1 1.0.0.2 1.0.0.3 1.0.0.4 1.0.0.5 1.0.0.6 1.0.0.7 1.0.0.8 1.0.0.9", 8, 1, {"1.0.0.8"}, {"1.0.0.9"}},
    };
    for (const Case& c : cases) {
        const AmpctlAccess a = AmpctlAccessParse(c.control.c_str());
        EXPECT_EQ(a.count, c.networks) << c.control;
        EXPECT_EQ(a.refused, c.refused) << c.control;
        EXPECT_LT(std::strlen(a.firstRefused), kAmpctlNetworkTextMax);
        for (const char* in : c.in)
            EXPECT_TRUE(AmpctlAccessAllows(a, addressOf(in))) << c.control << " " << in;
        for (const char* out : c.out)
            EXPECT_FALSE(AmpctlAccessAllows(a, addressOf(out))) << c.control << " " << out;
    }
    EXPECT_STREQ(AmpctlAccessParse("::1 nonsense 1.2.3.4/40").firstRefused, "nonsense");
}

TEST(AmpctlAlarms, TheNewestErrorIsTheFaultTheNewestOtherTheWarningEachWithItsFlag) {
    const AmpctlAlarm alarms[] = {
        {kAlarmHighSwr, 3, "HI SWR", "error"},     {kAlarmTuneAbort, 4, "Auto Tune", "TAV aborts"},
        {kAlarmFault, 3, "Error", "REFL"},         {kAlarmComm, 4, "Comm", "warn "},
        {kAlarmHighTempEnd, 2, "High", "temperature"},
    };
    AmpctlView v;
    AmpctlAlarmsInto(alarms, 5, &v);
    EXPECT_STREQ(v.fault, "Error REFL");
    EXPECT_STREQ(v.warning, "High temperature");
    EXPECT_EQ(v.status, kAmpctlFaultSwr | kAmpctlWarningTunerNoInput | kAmpctlFaultOther | kAmpctlWarningOther |
                            kAmpctlWarningTemperature);
    AmpctlAlarmsInto(alarms, 0, &v);
    EXPECT_EQ(v.status, 0u);
    EXPECT_STREQ(v.fault, "");
}

class AmpctlViews : public RootedWorks {
  protected:
    // The answer to `line` from the view this unit has now.
    std::string answer(const std::string& line) {
        AmpctlView v;
        v.mayChange = true;
        AmpctlFillView(w.get(), &v);
        auto ask = [&](const AmpctlRequest& r) { return AmpctlAsk(w.get(), r, "10.0.0.9"); };
        return TalkTo(v, line + "\n", ask).answers;
    }
};

TEST_F(AmpctlViews, TheStationAnswersFromItsReadingsAndQueuesForItsKeys) {
    w->startupFlags.replace(0);
    w->freqHz = 7074000;
    w->antennaIdx = 1;
    w->ampBypass = 0;
    EXPECT_EQ(answer("l PWRFORWARD f"), "RPRT -11\nRPRT -11\n"); // nothing read yet
    PublishAmpReadings(w.get(), {.ampStatus2 = 1, .pwrIn = 4.6f, .pwrFwd = 61.4f, .pwrRefl = 2.2f,
                                 .pwrFwdPeak = 66.0f, .swr = 1.46f, .currentRaw = 900.0f, .temp1 = 38.0f,
                                 .temp2 = 41.25f, .readMs = plat_mono_ms()});
    AddErrore(w.get(), kAlarmHighSwr);
    EXPECT_EQ(answer("f l PWRFORWARD l PWRREFLECTED l PWRINPUT l PWRPEAK l SWR l TEMP_METER y s l FAULT"),
              "7074000\n61\n2\n5\n66\n1.460000\n41.250000\n2\nPTT FAULT_SWR \nHI SWR error\n");
    EXPECT_NEAR(std::stod(answer("l ID_METER")), 900.0 / 4096 * 14.05, 1e-3);
    // Standby while transmitting: the attenuator key's rule; nothing is queued.
    EXPECT_EQ(answer("\\set_powerstat 2 \\set_powerstat 4 Y 3 R 1"), "RPRT -9\nRPRT 0\nRPRT 0\nRPRT 0\n");
    AmpRequest r;
    for (AmpAsk what : {AmpAsk::Operate, AmpAsk::Antenna, AmpAsk::FaultReset}) {
        ASSERT_TRUE(TakeAmpRequest(w.get(), &r));
        EXPECT_EQ(r.what, what);
        EXPECT_STREQ(r.from, "ampctl client 10.0.0.9");
    }
    EXPECT_EQ(r.value, 0);
    EXPECT_FALSE(TakeAmpRequest(w.get(), &r));
    // No tuner: no tune; old readings are no values.
    w->settings.tuneEnabled = static_cast<int8_t>(-128);
    EXPECT_EQ(answer("G TUNE"), "RPRT -11\n");
    plat_clock_manual(true);
    plat_clock_step_us((kAmpctlStaleMs + 1) * 1000LL);
    EXPECT_EQ(answer("l SWR \\get_powerstat"), "RPRT -11\nRPRT -11\n");
}

TEST_F(AmpctlViews, RequestsWaitBoundedAndNotForLong) {
    useManualClock();
    for (int i = 0; i < kAmpRequestsMax; i++)
        EXPECT_TRUE(AskAmplifier(w.get(), AmpAsk::Antenna, 1 + i % 3, "a"));
    EXPECT_FALSE(AskAmplifier(w.get(), AmpAsk::Standby, 0, "b")); // the ninth
    AmpRequest r;
    ASSERT_TRUE(TakeAmpRequest(w.get(), &r));
    EXPECT_EQ(r.value, 1);
    plat_clock_step_us((kAmpRequestMaxAgeMs + 1) * 1000);
    EXPECT_FALSE(TakeAmpRequest(w.get(), &r)); // the rest is too old for the amplifier of now
    const std::string log = syslog();
    EXPECT_TRUE(Contains(log, "3 amplifier: standby asked by b dropped: 8 requests wait already"));
    EXPECT_EQ(CountOf(log, "dropped: not taken within"), 7u);
}

TEST_F(AmpctlViews, TheOperatorsUnitAnswersFromTheStationsRecordAndAsksOverTheLink) {
    useManualClock();
    w->setup->WebSocket = '2';
    int link[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, link), 0);
    w->wsFD = link[0];
    EXPECT_EQ(answer("l PWRFORWARD \\set_powerstat 2"), "RPRT -11\nRPRT -11\n"); // no session
    w->remoteConnected = 1;
    EXPECT_EQ(answer("l PWRFORWARD"), "RPRT -11\n"); // a session, no record yet
    {
        std::lock_guard<std::mutex> lock(w->station.mu);
        w->station.s = StationState{.recordMs = plat_mono_ms(),
                                    .antenna = 2,
                                    .ampBypass = false,
                                    .swr = 3.0f,
                                    .fwd = 61.27f,
                                    .in = 4.6f,
                                    .temp = 41.5f,
                                    .alarmsMs = plat_mono_ms(),
                                    .tx = true,
                                    .alarmCount = 1,
                                    .alarms = {StationAlarm{kAlarmFault, 3, "Error", "FWD"}}};
    }
    // The record has no frequency, peak or reflected power: the band only, the
    // forward power held, the reflected power from the SWR (a quarter at 3).
    EXPECT_EQ(answer("f l PWRFORWARD l PWRPEAK l PWRREFLECTED l PWRINPUT l SWR y s l FAULT l TEMP_METER"),
              "RPRT -11\n61\n61\n15\n5\n3.000000\n3\nPTT FAULT_OTHER \nError FWD\n41.500000\n");
    // Standby while the station transmits is refused here; what may be asked goes out as "AQ".
    EXPECT_EQ(answer("\\set_powerstat 2 Y 1 R 1"), "RPRT -9\nRPRT 0\nRPRT 0\n");
    char sent[16];
    ASSERT_EQ(read(link[1], sent, sizeof sent), 11);
    EXPECT_EQ(std::string(sent, 11), std::string("\x82\x04" "AQA1" "\x82\x03" "AQR", 11));
    // The station queues what comes for its keys' thread.
    for (const char* m : {"A1", "S", "O", "T", "R", "A0", "A4", "X", "S1", "A", "", "A12"})
        StationAmpRequestReceived(w.get(), reinterpret_cast<const uint8_t*>(m), std::strlen(m));
    AmpRequest r;
    for (AmpAsk what : {AmpAsk::Antenna, AmpAsk::Standby, AmpAsk::Operate, AmpAsk::Tune, AmpAsk::FaultReset}) {
        ASSERT_TRUE(TakeAmpRequest(w.get(), &r));
        EXPECT_TRUE(r.what == what && std::string(r.from) == "the operator's unit");
    }
    EXPECT_FALSE(TakeAmpRequest(w.get(), &r)); // the rest are no requests, each logged
    EXPECT_EQ(CountOf(syslog(), "3 remote: an amplifier request of"), 7u);
    // An old record is no values, as the pages grey it.
    plat_clock_step_us((kAmpctlStaleMs + 1) * 1000LL);
    EXPECT_EQ(answer("l PWRFORWARD s"), "RPRT -11\nRPRT -11\n");
    w->remoteConnected = 0;
    w->wsFD = -1;
    close(link[0]);
    close(link[1]);
}

} // namespace
