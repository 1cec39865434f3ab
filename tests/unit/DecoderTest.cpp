// The amplifier reply decoder: the status reply's text and fields both ways,
// what it does to the record, the other replies, the alarms they raise, the
// link's next state after each, and the status record.
#include "RootedWorks.h"

#include "amp/Decoder.h"
#include "amp/Linear.h"
#include "amp/StatusApply.h"

#include <cmath>
#include <cstring>
#include <algorithm>
#include <tuple>

namespace {

constexpr float kFwd = 5.156579e-06f, kRefl = 3.3262754e-06f, kIn = 5.5078103e-06f, kDir = -0.007f;

// A status reply with both heat sinks at about 25 degrees.
const StatusReply kCool{.temp1 = 2048, .temp2 = 2048};

int countFor(float watts, float k) {
    return static_cast<int>(std::lround(std::sqrt(watts / k)));
}

class Decoder : public RootedWorks {
  protected:
    // As the link does: the decoder, then the link's choice of what follows.
    void decode(const std::string& reply) {
        LinearAfterReply(w.get(),
                         DecodeCatCmd(w.get(), reply.c_str(), static_cast<int>(reply.size()) + 1));
    }
    // A status reply as the amplifier sends it.
    void decode(const StatusReply& st) {
        char text[40];
        FormatStatusReply(st, text, sizeof text);
        decode(std::string(text));
    }
    void answered() { decode("CPFFFF"); } // the first "CP" lets alarms through
    // Commands queued by the last reply: the status reply itself takes the
    // oldest one as the link's next state.
    std::vector<int> queued() {
        std::vector<int> out;
        if (linearProcessStatus != kCmdFreqMeter && linearProcessStatus != kCmdStatus)
            out.push_back(linearProcessStatus);
        linearProcessStatus = kCmdStatus;
        for (int c; (c = CmdQueueTake(w.get())) >= 0;)
            out.push_back(c);
        return out;
    }
};

// A literal reply, each of its fields, and the same text encoded again; a
// reply cut short reads NUL where it ends.
TEST(StatusReply, LiteralFieldsAndBack) {
    const struct {
        const char* text;
        StatusReply st;
        bool back;
    } cases[] = {
        // clang-format off
        {"ST" "D9" "0042" "0812" "0101" "2048" "2047" "1800" "9A" "00" "0955",
         {0xD, 0x9, 42, 812, 101, 2048, 2047, 1800, 0xA9, 955}, true},
        {"ST" "00" "0000" "0000" "0000" "0000" "4095" "0000" "04" "00" "0000", {0, 0, 0, 0, 0, 0, 4095, 0, 0x40, 0}, true},
        {"ST" "fa" "1234" "5678" "0000" "9999" "abc0" "0000" "f7" "00", {0xF, 0xA, 1234, 5678, 0, 9999, 0, 0, 0x7F, 0}, false},
        {"ST1", {0x1, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0}, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        const StatusReply st = ParseStatusReply(c.text, static_cast<int>(std::strlen(c.text)));
        EXPECT_EQ(st, c.st) << c.text;
        if (!c.back) continue;
        char out[40];
        EXPECT_EQ(FormatStatusReply(st, out, sizeof out), 36u);
        EXPECT_STREQ(out, c.text);
    }
}

TEST_F(Decoder, StatusReadings) {
    StatusReply st = kCool;
    st.ampStatus1 = 0xD;
    st.ampStatus2 = 0x9;
    st.in = countFor(2.5f, kIn);
    st.fwd = countFor(100.0f, kFwd);
    st.refl = static_cast<int>(std::lround(std::sqrt((11.1f - kDir * 100.0f) / kRefl)));
    st.current = 2048;
    const int64_t sent = plat_mono_ms();
    decode(st);
    const AmpReadings r = amp();
    EXPECT_EQ(r.ampStatus1, 0xD);
    EXPECT_EQ(r.ampStatus2, 0x9);
    EXPECT_EQ(r.rawFwd, st.fwd);
    EXPECT_NEAR(r.pwrIn, 2.5f, 0.01f);
    EXPECT_NEAR(r.pwrFwd, 100.0f, 0.1f);
    EXPECT_NEAR(r.pwrRefl, 11.1f, 0.05f);
    EXPECT_NEAR(r.swr, 2.0f, 0.01f); // rho about 0.333
    EXPECT_FLOAT_EQ(r.currentRaw, 2048.0f);
    EXPECT_NEAR(r.temp1, 24.99f, 0.01f); // 2048 is just under 25 degrees
    EXPECT_GE(r.readMs, sent);
    EXPECT_LE(r.readMs, plat_mono_ms());
    EXPECT_EQ(linearProcessStatus, kCmdFreqMeter); // nothing queued: "FM;" next
}

// (The reply's powers to its SWR: Decoder.StatusReadings.)
TEST(Swr, FromPowers) {
    EXPECT_FLOAT_EQ(SwrFromPowers(0.2f, 0.6f), 100.0f);
    EXPECT_FLOAT_EQ(SwrFromPowers(0.2f, 0.4f), 0.0f);
    EXPECT_FLOAT_EQ(SwrFromPowers(10.0f, 20.0f), 100.0f);
    EXPECT_FLOAT_EQ(SwrFromPowers(10.0f, 10.0f), 100.0f);
    EXPECT_NEAR(SwrFromPowers(50.0f, 49.9f), 100.0f, 0.001f); // capped
}

TEST_F(Decoder, FaultBitsRaiseTheirAlarmsAndTheInputPowersOnlyWithTheAnCheck) {
    answered();
    StatusReply st = kCool;
    st.ampFault = 0x09; // "I OUT" and "SENS PW": the highest cause is shown
    decode(st);
    EXPECT_EQ(amp().ampFault, 0x09);
    EXPECT_EQ(alarms(), std::vector<int>{15});
    EXPECT_TRUE(w->errorTable[15].line2.equals("SENS PW"));
    EXPECT_TRUE(w->errorFlags.test(1)); // alarm 15 asks for a protection reset

    st.ampFault = 0x4F; // band warning wins over the causes
    DeleteErrore(w.get(), 15);
    decode(st);
    EXPECT_EQ(amp().ampFault, 0x4F);
    EXPECT_EQ(alarms(), std::vector<int>{19});

    // Low input power only with the AN check on and no search running.
    DeleteErrore(w.get(), 19);
    st.ampFault = 0x20;
    for (auto [an, flags, raised] : {std::tuple{0, 1, false}, {1, 2, false}, {1, 1, true}}) {
        w->anState = an;
        w->tuneModeFlags.replace(flags);
        decode(st);
        EXPECT_EQ(ExistError(w.get(), 3) != 0, raised) << an << " " << flags;
    }

    st.ampFault = 0;
    w->errorFlags.replace(3);
    decode(st);
    EXPECT_EQ(w->errorFlags.load(), 0); // the display reset completes once the fault is gone
}

TEST_F(Decoder, NoAlarmBeforeTheFirstCpReply) {
    StatusReply st = kCool;
    st.ampStatus2 = 2;  // high SWR
    st.ampFault = 0x01; // I OUT
    st.temp1 = 400;     // hot: above 80, held at 80 degrees
    w->settings.maxTemperature = 60.0f;
    decode(st);
    EXPECT_TRUE(alarms().empty());
    std::vector<int> q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdBypassOn), 0); // no standby before "CP"
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdProtOn), 1);

    answered();
    EXPECT_FALSE(w->startupFlags.test(1));
    decode(st);
    EXPECT_EQ(alarms(), (std::vector<int>{15, 1, 2}));
    q = queued();
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdBypassOn), 1);
    EXPECT_EQ(std::count(q.begin(), q.end(), kCmdBypassOff), 0); // never into operation
}

// The heat sinks' readings are smoothed (the over-temperature alarm, its
// protection and its end the link meets end to end: Link.FanAndOverTemperatureProtectionOnTheWire).
TEST_F(Decoder, TemperaturesAreSmoothed) {
    answered();
    StatusReply st = kCool;
    decode(st);
    const float first = amp().temp1;
    st.temp1 = st.temp2 = 400; // above 80 degrees: held at 80
    decode(st);
    EXPECT_NEAR(amp().temp1, (first * 9 + 80.0f) / 10, 0.01f);
}

// (With no search running the oldest queued command follows, else "FM":
// Decoder.StatusReadings, Decoder.NoAlarmBeforeTheFirstCpReply.)
TEST_F(Decoder, NextStateAfterTheStatusReplyDuringASearch) {
    for (auto [state, next] : {std::pair{2, kCmdClearProt}, {3, kCmdStatus}}) {
        w->tuneState = state;
        decode(kCool);
        EXPECT_EQ(linearProcessStatus, next) << state;
        EXPECT_EQ(w->tuneState, 1) << state;
    }
}

// (The version reply: Link.StartUpListGoesOutOneCommandAfterEachStatusPoll.)
TEST_F(Decoder, OtherReplies) {
    decode("SA2");
    EXPECT_EQ(w->antennaIdx, 1);
    decode("FM00007100000");
    EXPECT_EQ(w->source[kModeGeneric].freqHz, 7100000);
    decode("FM00000000000"); // no RF: the last measurement stays
    EXPECT_EQ(w->source[kModeGeneric].freqHz, 7100000);
    decode("AB1");
    EXPECT_EQ(w->ampBypass, 1);
    w->anFlags.replace(0x10);
    decode("AN1");
    EXPECT_EQ(w->anState, 1);
    EXPECT_EQ(w->anFlags.load(), 0x30);
    decode("GS0123456789");
    EXPECT_TRUE(w->generalSettings.equals("0123456789"));
    decode("MR1");
    EXPECT_EQ(w->microResetSeen, 0);
    decode("MR0");
    EXPECT_EQ(w->microResetSeen, 1);
    decode("ER00023031"); // "01"
    EXPECT_EQ(w->ident.eeModel[0], '0');
    EXPECT_EQ(w->ident.eeModel[1], '1');
    EXPECT_EQ(w->meters.number_ofStep_meter_FWD, 120);
    decode("ER0000534E20323032362D3030343137" + std::string(38, '0')); // "SN 2026-00417"
    EXPECT_EQ(w->ident.ee0[0], 'S');
    EXPECT_EQ(w->ident.ee0[12], '7');
    EXPECT_EQ(w->ident.ee0[13], 0);
    EXPECT_EQ(linearProcessStatus, kCmdStatus);
}

// The last two name no command: one character, or only the terminator.
TEST_F(Decoder, RejectedUnknownAndShortRepliesAreRetried) {
    for (const char* bad : {"ST?", "FA!", "MT&", "ZZ12", "S", ""}) {
        w->retryCount = 0;
        LastCmdSent(w.get(), 'S', 'T', kCmdStatus);
        linearProcessStatus = kStateDecode;
        decode(bad);
        EXPECT_EQ(w->retryCount, 1) << bad;
        EXPECT_EQ(linearProcessStatus, kCmdStatus) << bad;
    }
}

TEST_F(Decoder, BypassFollowUpAndStateAfterACommunicationFailure) {
    answered();
    StatusReply st = kCool;
    st.ampStatus2 = 8; // the amplifier reports bypass
    w->ampBypass = 0;
    w->bypassRequested = 1;
    decode(st);
    EXPECT_EQ(w->ampBypass, 1);
    st.ampStatus2 = 0;
    w->bypassRequested = 1; // asked for bypass: a missing bit does not clear it
    decode(st);
    EXPECT_EQ(w->ampBypass, 1);

    // With alarm 4 the amplifier's pads and bypass are taken over.
    AddErrore(w.get(), 4);
    st.ampStatus1 = 0x8; // 3 dB pad in only
    decode(st);
    EXPECT_EQ(w->ampBypass, 0);
    EXPECT_EQ(w->attenuator, 2);
    EXPECT_EQ(w->attenuatorShown, 2);
}

TEST_F(Decoder, StatusRecordLayout) {
    w->ModeWorkIdx = 1;
    w->attenuator = 2;
    w->antennaIdx = 1;
    w->ampBypass = 1;
    w->tunerBypass = 1;
    // clang-format off
    PublishAmpReadings(w.get(), {.pwrIn = 2.5f, .pwrFwd = 45.25f, .swr = 1.5f,
                                 .currentRaw = 2048.0f, .temp1 = 31.0f, .temp2 = 35.5f});
    // clang-format on
    w->NumBanco = 3;
    w->supplyAdc[3] = 200;
    w->antennaRowCount = 1;
    w->antennaTable[0].name.set("20m");
    w->antennaTable[0].freqLow = 14000000;
    w->antennaTable[0].freqHigh = 14350000;
    w->startupFlags.replace(0);
    AddErrore(w.get(), 8);
    AddErrore(w.get(), 12);
    char rec[kStatusRecordSize];
    CreaBufferDiStato(w.get(), rec);
    // The band, mode, attenuator, antenna, bypasses; SWR, forward and input power,
    // the hotter heat sink, supply (200 x 3.3 x 118 / 255 / 18) and current, the
    // bank, the last raised alarm (12) plus one, eight zeros.
    EXPECT_EQ(std::string(rec), "20m 1211B0001.50045.25002.5035.517.007.003\r00000000;");
    w->freqHz = 7000000; // no row: "----"
    w->settings.tuneEnabled = -1;
    CreaBufferDiStato(w.get(), rec);
    EXPECT_EQ(std::string(rec, 4), "----");
    EXPECT_EQ(rec[8], 'N');
    // The work mode's character, Hamlib's too; a mode not yet set is '0'.
    for (int mode : {0, 2, 3, -1}) {
        w->ModeWorkIdx = mode;
        CreaBufferDiStato(w.get(), rec);
        EXPECT_EQ(rec[4], mode < 0 ? '0' : '0' + mode) << mode;
    }
}

} // namespace
