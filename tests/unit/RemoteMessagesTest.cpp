// The remote messages: frames as they go on the wire, the status-channel
// commands, the access-code comparison, fragment reassembly and JPEG screens.
#include "Jpeg.h"
#include "RootedWorks.h"
#include "WsPeer.h"

#include "amp/Decoder.h"
#include "core/AlarmList.h"
#include "remote/Compress.h"
#include "wire/Messages.h"
#include "remote/Receive.h"
#include "remote/StationRecord.h"
#include "remote/TxLimit.h"
#include "trx/Serial.h"
#include "trx/TavRead.h"
#include "draw/Fb.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const uint8_t* u8(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// A socket to read `bytes` from, then its end.
int socketWith(const std::vector<uint8_t>& bytes) {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    EXPECT_EQ(write(sv[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(sv[0]);
    return sv[1];
}

class RemoteMessages : public RootedWorks {
  protected:
    // Frames written into a socket pair and read back by the session's reader,
    // then dispatched as a session of `role` past its access code would: each
    // is read whole, and the session goes on.
    void receive(WsRole role, const std::vector<std::vector<uint8_t>>& in) {
        std::vector<uint8_t> bytes;
        for (const auto& f : in)
            bytes.insert(bytes.end(), f.begin(), f.end());
        const int fd = socketWith(bytes);
        RemoteSession session;
        session.role = role;
        session.isFirst = 2;
        auto frame = std::make_unique<WsFrame>();
        std::vector<Dispatch> out;
        while (WsReadFrame(fd, frame.get(), role, kWsFrameMax, [] { return true; }) == WsRead::Ok)
            out.push_back(RemoteReceive(w.get(), &session, *frame));
        close(fd);
        EXPECT_EQ(out, std::vector<Dispatch>(in.size(), Dispatch::Continue));
    }
};

TEST(RemoteFrames, ShortMessagesAndSpectrumFragmentsOnTheWire) {
    uint8_t out[kFragmentFrame];
    std::vector<uint8_t> big(124, 'x');
    // Too long for a 7-bit length.
    EXPECT_EQ(BuildShortFrame("CA", big.data(), big.size(), out, sizeof out), 0u);
    // An 854-byte trace is two fragments; the second carries 342 bytes of it.
    std::vector<uint8_t> trace(854);
    for (size_t i = 0; i < trace.size(); i++)
        trace[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(BuildFragment("SP", trace.data(), trace.size(), 512, out), kFragmentFrame);
    EXPECT_EQ(std::memcmp(out, "\x82\x7E\x02\x0ASP\0\0\x03\x56\0\0\x02\0", 14), 0);
    EXPECT_EQ(out[14], static_cast<uint8_t>(512));
    EXPECT_EQ(out[14 + 341], static_cast<uint8_t>(853));
    for (size_t i = 14 + 342; i < kFragmentFrame; i++)
        ASSERT_EQ(out[i], 0) << i; // nothing past the trace is sent
}

TEST_F(RemoteMessages, StatusChannelCommandsAndDivideWithinItsTwoDigits) {
    w->settings.divide = 5;
    setup->usbSpectrum = '0';
    dispStat(w.get(), "KAVOFT01;");
    EXPECT_EQ(w->settings.divide, 5); // already above 2
    EXPECT_EQ(setup->usbSpectrum, '1');
    EXPECT_EQ(setup->Enable1600, '0');
    w->settings.divide = 1;
    dispStat(w.get(), "KAVOFT02;");
    EXPECT_EQ(w->settings.divide, 2);
    EXPECT_EQ(setup->Enable1600, '1');
    dispStat(w.get(), "KAVOFT00;");
    EXPECT_EQ(setup->usbSpectrum, '0');
    // A text that is none of them changes nothing: nor does a status record.
    dispStat(w.get(), "KAVOFT03;");
    dispStat(w.get(), "20m 1001T000.00000.00000.0000.000.000.0011");
    EXPECT_EQ(setup->usbSpectrum, '0');
    EXPECT_EQ(w->settings.divide, 2);
    // The bank changes on the first five characters, whatever follows.
    testing::internal::CaptureStderr();
    dispStat(w.get(), "KAVOBxyz");
    dispStat(w.get(), "KAVOPA9");
    EXPECT_EQ(CountOf(testing::internal::GetCapturedStderr(), "ChangeBanco\n"), 2u);

    // Divide takes only a whole number within its two digits.
    dispStat(w.get(), "KAVOFD07");
    EXPECT_EQ(w->settings.divide, 7);
    for (const char* bad :
         {"KAVOFD-2147483648", "KAVOFD0", "KAVOFD100", "KAVOFD999999999999999999999999999999",
          "KAVOFD", "KAVOFD 5", "KAVOFD+5", "KAVOFD5x", "KAVOFD5;;", "KAVOFD\x01\x7f"}) {
        dispStat(w.get(), bad);
        EXPECT_EQ(w->settings.divide, 7) << bad;
    }
    for (const char* line : {"KAVOFD-2147483648 is not a whole number within 1..99: divide stays 7",
                             "KAVOFD99999999999999999999999... is not", // cut, not all of it
                             "KAVOFD?? is not"}) // control bytes do not reach the log
        EXPECT_TRUE(Contains(syslog(), line)) << line;
    dispStat(w.get(), "KAVOFD99;");
    EXPECT_EQ(w->settings.divide, 99);
}

// The reader's buffer bounds a frame: one that fills it is read, one byte more
// ends the session before anything of it lands past the buffer.
TEST(RemoteFrames, AFrameTheBufferHoldsIsReadAndOneByteMoreEndsTheSession) {
    for (const size_t total : {kWsFrameMax, kWsFrameMax + 1}) {
        const size_t n = total - 4;
        std::vector<uint8_t> f = {0x82, 0x7E, uint8_t(n >> 8), uint8_t(n & 0xFF), 'S', 'O'};
        f.resize(total, 0);
        const int fd = socketWith(f);
        auto frame = std::make_unique<WsFrame>();
        const WsRead r =
            WsReadFrame(fd, frame.get(), WsRole::Server, kWsFrameMax, [] { return true; });
        close(fd);
        EXPECT_EQ(r, total <= kWsFrameMax ? WsRead::Ok : WsRead::Ended) << total;
        if (r == WsRead::Ok) {
            EXPECT_EQ(frame->size, total);
        }
    }
}

TEST_F(RemoteMessages, LengthsAndCoordinatesFromAPeerAreCheckedBeforeUse) {
    // An audio block that says it is longer than its frame; a one-byte and an
    // empty parameter block; touch texts that are short or not numbers.
    const std::vector<uint8_t> so = {0x82, 0x7E, 0,    10, 'S', 'O', 0xFF,
                                     0xFF, 0xFF, 0xFF, 1,  2,   3,   4};
    std::vector<uint8_t> xyShortLen16 = {0x81, 0x7E, 0x00, 126, 'X', 'Y', '1', '2'};
    xyShortLen16.resize(4 + 126, 0); // the smallest 16-bit frame; its text ends after "12"
    receive(WsRole::Client, {so, WsShort("PA", "0"), WsShort("PA", ""), xyShortLen16});
    TrxParameters p;
    getParameters(&p, w.get());
    EXPECT_EQ(p.rxFreq, 0); // the frequency needs nine bytes
    EXPECT_EQ(p.memMode, 0);
    const auto st = WsShort("ST", "KAVOFT01;");
    receive(WsRole::Server, {so, WsTextFrame("XY1"), WsTextFrame("XYab-9x99999"), st});
    for (const char* line : {"3 remote: audio block of 4294967295 bytes in a frame of 14, dropped",
                             "3 wrong message type: 81", // "XY1" is no touch
                             "remote touch at 12, 0", "remote touch at 0, 99999"})
        EXPECT_TRUE(Contains(syslog(), line)) << line;
}

// Values that never came through the doors count as the nearest bound. (The
// count itself: UsbRx.APeersDivideTakesEffectAtTheNextBlock.)
TEST(SpectrumCounter, ADivideOutsideItsRangeCountsAsTheNearestBound) {
    DivideCounter c;
    EXPECT_TRUE(SpectrumBlockDue(&c, 0));
    EXPECT_TRUE(SpectrumBlockDue(&c, -2147483647 - 1));
    int blocks = 1;
    while (!SpectrumBlockDue(&c, 2147483647))
        blocks++;
    EXPECT_EQ(blocks, 99);
}

TEST(AccessCode, ComparesEveryByteAndTheLength) {
    auto matches = [](const std::string& got, size_t n) {
        return AccessCodeMatches("quintaferolo", u8(got), n);
    };
    EXPECT_TRUE(matches("quintaferolo", 12));
    EXPECT_FALSE(matches("quintaferolo", 11));
    EXPECT_FALSE(matches("quintaferolo!", 13));
    EXPECT_FALSE(matches("Quintaferolo", 12));
}

// A fragment as the reader takes it: tag, total, offset, 512 bytes of `fill`.
WsFrame fragment(const char* tag, uint32_t total, uint32_t offset, uint8_t fill) {
    WsFrame f;
    const std::vector<uint8_t> data(offset + 512, fill);
    const int fd = socketWith(WsFragment(tag, data, total, offset));
    EXPECT_EQ(WsReadFrame(fd, &f, WsRole::Client, kWsFrameMax, [] { return true; }), WsRead::Ok);
    close(fd);
    return f;
}

TEST_F(RemoteMessages, FragmentsStayInsideTheirBuffer) {
    std::vector<uint8_t> buf(1706 + 16, 0xEE); // 16 guard bytes after the buffer
    Fragment fr;
    ASSERT_TRUE(TakeFragment(fragment("SP", 1706, 1536, 7), buf.data(), 1706, &fr));
    EXPECT_TRUE(fr.complete);
    EXPECT_EQ(buf[1705], 7);
    EXPECT_EQ(buf[1706], 0xEE); // 170 bytes were left of the total, not 512
    EXPECT_FALSE(TakeFragment(fragment("SP", 4000, 0, 1), buf.data(), 1706, &fr));
    EXPECT_FALSE(TakeFragment(fragment("SP", 1706, 1706, 1), buf.data(), 1706, &fr));
    EXPECT_FALSE(TakeFragment(fragment("SP", 0, 0, 1), buf.data(), 1706, &fr));
    ASSERT_TRUE(TakeFragment(fragment("SP", 1024, 0, 3), buf.data(), 1706, &fr));
    EXPECT_FALSE(fr.complete);
    EXPECT_TRUE(Contains(syslog(), "SP fragment at 0 of 4000 does not fit"));
}

TEST_F(RemoteMessages, DamagedOrHugeJpegLeavesThePicture) {
    FrameBuffer* fb = fbInitMemory(800, 480, 32);
    w->fb = fb;
    std::memset(fb->work, 0x5A, fb->memSize);
    const std::vector<uint8_t> junk(3000, 0x42);
    EXPECT_FALSE(Uncompress(w.get(), junk.data(), junk.size()));
    // A whole, valid JPEG, but wider than any screen: refused before decoding.
    auto grey = [](int, int) { return std::array<uint8_t, 3>{0x80, 0x80, 0x80}; };
    const auto wide = JpegOf(5000, 2, grey);
    EXPECT_FALSE(Uncompress(w.get(), wide.data(), wide.size()));
    EXPECT_TRUE(Contains(syslog(), "screen image of 5000x2 refused"));
    // A damaged copy of a good one (cut in the middle) changes nothing either.
    const auto small = JpegOf(100, 100, grey);
    EXPECT_FALSE(Uncompress(w.get(), small.data(), small.size() / 2));
    for (int i = 0; i < fb->memSize; i += 997)
        ASSERT_EQ(fb->work[i], 0x5A) << i;
    // Whole, it leaves what lies outside it (its picture: RemoteServer's screen).
    EXPECT_TRUE(Uncompress(w.get(), small.data(), small.size()));
    EXPECT_EQ(fb->work[(50 * 800 + 150) * 4], 0x5A);
    EXPECT_EQ(fb->work[(150 * 800 + 50) * 4], 0x5A);
    fbRelease(fb, true);
}

} // namespace

// The station's side of the operator's view: its record and alarm message, as
// the operator's session thread takes them.
class OperatorView : public RemoteMessages {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RemoteMessages::SetUp());
        w->startupFlags.replace(0); // past the amplifier's first reply: alarms are raised
        w->setup->WebSocket = '2';
    }
    std::string record() {
        char r[kStatusRecordSize];
        CreaBufferDiStato(w.get(), r);
        return std::string(r, kStatusRecordSent);
    }
    std::string alarms() {
        char text[kAlarmMessageMax];
        return std::string(text, BuildAlarmMessage(w.get(), text, sizeof text));
    }
    std::vector<uint8_t> tagged(const char* tag, const std::string& payload) {
        std::vector<uint8_t> f(kTaggedFrameMax);
        f.resize(BuildTaggedFrame(tag, u8(payload), payload.size(), f.data(), f.size()));
        return f;
    }
};

TEST_F(OperatorView, TheRecordAndTheAlarmsReachTheOperatorAsTheStationHasThem) {
    // The station: 20 m, bank 3, antenna 2, attenuator 2 in standby, tuner
    // bypassed, 61.27 W out of 5 W in at SWR 1.49, 41.5 and 38 degrees; a fault
    // (an error) and a tune time-out (a warning); transmitting.
    w->freqHz = 14074000;
    w->NumBanco = 3;
    w->antennaIdx = 1;
    w->attenuator = 2;
    w->ampBypass = 1;
    w->tunerBypass = 1;
    PublishAmpReadings(w.get(), {.ampStatus2 = 1,
                                 .pwrIn = 5.0f,
                                 .pwrFwd = 61.27f,
                                 .swr = 1.49f,
                                 .currentRaw = 790.0f,
                                 .temp1 = 41.5f,
                                 .temp2 = 38.0f});
    AddErrore(w.get(), kAlarmFault);
    AddErrore(w.get(), kAlarmTuneTimeout);
    const std::string st = record(), as = alarms();
    EXPECT_LE(as.size(), kShortMax) << "two alarms go short";

    // Seven more alarms need the 16-bit frame.
    for (int code : {kAlarmPwrIn, kAlarmComm, kAlarmRemoteUsb, kAlarmAudioMissing, kAlarmTavMode,
                     kAlarmTavExtio, kAlarmMicroReset})
        AddErrore(w.get(), code);
    const std::string many = alarms();
    EXPECT_GT(many.size(), kShortMax);
    receive(WsRole::Client, {WsShort("ST", st), tagged("AS", as)});
    StationState s = StationViewCopy(w.get());
    EXPECT_GE(s.recordMs, 0);
    EXPECT_EQ(std::string(s.band), st.substr(0, 4)); // as the station names its band
    EXPECT_EQ(s.bank, 3);
    EXPECT_EQ(s.antenna, 1);
    EXPECT_EQ(s.attenuator, 2);
    EXPECT_TRUE(s.ampBypass);
    EXPECT_EQ(s.tuner, 'B');
    EXPECT_FLOAT_EQ(s.fwd, 61.27f);
    EXPECT_FLOAT_EQ(s.in, 5.0f);
    EXPECT_FLOAT_EQ(s.swr, 1.49f);
    EXPECT_FLOAT_EQ(s.temp, 41.5f); // the higher heat sink
    EXPECT_NEAR(s.amps, 790.0 / 4096 * 14.05, 0.05);
    EXPECT_EQ(s.lastAlarm, kAlarmTuneTimeout + 1);
    EXPECT_TRUE(s.tx);
    ASSERT_EQ(s.alarmCount, 2);
    EXPECT_EQ(s.alarms[0].code, kAlarmFault);
    EXPECT_EQ(s.alarms[0].flags & 1, 1);
    EXPECT_STREQ(s.alarms[0].line1, "Error");
    EXPECT_EQ(s.alarms[1].code, kAlarmTuneTimeout);
    EXPECT_EQ(s.alarms[1].flags & 1, 0);
    EXPECT_STREQ(s.alarms[1].line2, "timeout");

    receive(WsRole::Client, {tagged("AS", many)});
    s = StationViewCopy(w.get());
    ASSERT_EQ(s.alarmCount, 9);
    EXPECT_EQ(s.alarms[8].code, kAlarmMicroReset);
    EXPECT_STREQ(s.alarms[8].line1, "Micro Reset");
}

TEST_F(OperatorView, WhatIsNotAWholeRecordOrAlarmMessageChangesNothing) {
    w->freqHz = 14074000;
    PublishAmpReadings(w.get(), {.pwrFwd = 30.0f});
    AddErrore(w.get(), kAlarmHighSwr);
    const std::string st = record(), as = alarms();
    receive(WsRole::Client, {WsShort("ST", st), WsShort("AS", as)});
    const StationState before = StationViewCopy(w.get());
    ASSERT_EQ(before.alarmCount, 1);

    // The record with `part` at `at`, and an alarm message, as frames.
    auto with = [&](size_t at, const std::string& part) {
        std::string r = st;
        return WsShort("ST", r.replace(at, part.size(), part));
    };
    auto message = [](const std::string& m) { return WsShort("AS", m); };
    const std::string alarm = as.substr(4);
    const std::vector<std::vector<uint8_t>> frames = {
        WsShort("ST", st.substr(0, kStatusRecordSent - 1)),            // short
        with(10, "1x.000"),                                            // not a number
        with(16, "1e+999"),                                            // not finite
        with(8, "X"),                                                  // no tuner state
        with(1, std::string(1, '\0')),                                 // not text
        with(40, "-1"),                                                // not a bank
        message("0002" + alarm),                                       // fewer alarms than it says
        message("0001" + alarm + "x"),                                 // bytes after the last
        message("0023" + alarm),                                       // more than the list holds
        message("0001" + std::string("0x") + alarm.substr(2)),         // no code
        message("0001013" + std::string(kAlarmTextSize, 'a') + "|b;"), // a text too long
        message("0001013abc|def"),                                     // no end
        message("2001" + alarm),                                       // no transmit state
    };
    receive(WsRole::Client, frames);
    const StationState after = StationViewCopy(w.get());
    EXPECT_EQ(after.recordMs, before.recordMs);
    EXPECT_EQ(after.alarmsMs, before.alarmsMs);
    EXPECT_FLOAT_EQ(after.fwd, 30.0f);
    EXPECT_FLOAT_EQ(after.swr, before.swr);
    EXPECT_EQ(after.alarmCount, 1);
    EXPECT_EQ(after.alarms[0].code, kAlarmHighSwr);
    // Each kind is logged once, the first, until a whole one comes.
    EXPECT_EQ(CountOf(syslog(), "3 remote: a status record of"), 1u);
    EXPECT_TRUE(Contains(syslog(), "a status record of 43 bytes that is not one, not shown"));
    EXPECT_EQ(CountOf(syslog(), "3 remote: an alarm message of"), 1u);
    // After a whole record, the next broken one is told of again.
    receive(WsRole::Client, {WsShort("ST", st), frames[0], frames[1]});
    EXPECT_EQ(CountOf(syslog(), "3 remote: a status record of"), 2u);
}

TEST_F(OperatorView, AStationTakesTheOperatorsResetAndPassesOverAnAlarmMessage) {
    w->setup->WebSocket = '1';
    receive(WsRole::Server, {WsShort("AR", ""), WsShort("AS", "0000")});
    EXPECT_EQ(w->alarmResetAsked, 1); // the keys' thread runs it
    EXPECT_LT(StationViewCopy(w.get()).alarmsMs, 0);
    // An operator's unit ignores a reset, the station's "SC" and a text that is
    // no touch; both log what they do not take, as an older unit logs the new
    // messages, and go on.
    w->alarmResetAsked = 0;
    receive(WsRole::Client, {WsShort("AR", ""), WsShort("SC", "RX;"), WsTextFrame("hello")});
    EXPECT_EQ(w->alarmResetAsked, 0);
    const std::string log = syslog();
    EXPECT_TRUE(Contains(log, "remote: the operator asked for the alarm reset"));
    EXPECT_EQ(CountOf(log, "3 wrong message type: 82"), 3u);
    EXPECT_TRUE(Contains(log, "3 wrong message type: 81"));
}

// While the transmit time limit waits for its acknowledgement, the station
// writes no transmit request of the peer to the transceiver's link ("SC", "PA");
// the rest goes through. The operator's unit keeps the station's "TL".
TEST_F(OperatorView, TransmitRequestsWaitForTheLimitsAcknowledgement) {
    w->setup->WebSocket = '1';
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv), 0);
    w->serFD = sv[0];
    const std::vector<std::vector<uint8_t>> frames = {WsShort("SC", "TX2;"),
                                                      WsShort("SC", "FA00014074000;"),
                                                      WsShort("PA", "TX;"), WsShort("SC", "RX;")};
    for (const int phase : {kTxLocked, kTxIdle}) {
        w->txLimit.phase = phase;
        receive(WsRole::Server, frames);
        char got[64] = {};
        const ssize_t n = read(sv[1], got, sizeof got - 1);
        EXPECT_STREQ(got, phase == kTxLocked ? "FA00014074000;RX;" : "TX2;FA00014074000;TX;RX;")
            << n;
    }
    w->serFD = -1;
    close(sv[0]);
    close(sv[1]);
    EXPECT_EQ(CountOf(syslog(), "a transmit request on the transceiver's link refused"), 1u);

    w->setup->WebSocket = '2';
    receive(WsRole::Client, {WsShort("TL", "01800042W"), WsShort("TL", "broken")});
    const StationState st = StationViewCopy(w.get());
    EXPECT_GE(st.txLimitMs, 0);
    EXPECT_EQ(st.txLeftS, 42);
    EXPECT_TRUE(Contains(syslog(), "a transmit limit message of 6 bytes that is not one"));
}
