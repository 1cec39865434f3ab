// The amplifier model as the panel sees it: through the pty, decoded by the panel's rules.
#include "PtyPeer.h"
#include "TestRoot.h"

#include "amp/Decoder.h"
#include "amp/Temperature.h"
#include "devsim/AmpModel.h"

#include <cmath>
#include <tuple>
#include <unistd.h>

namespace {

// The panel's calibration, written out here rather than taken from the model.
constexpr double kFwd = 5.156579e-06, kRefl = 3.3262754e-06, kIn = 5.5078103e-06, kDir = -0.007;

// A status reply read by the panel's rules, with its powers in watts.
struct Status : StatusReply {
    double fwdW() const { return kFwd * fwd * fwd; }
    double reflW() const { return kRefl * refl * refl + kDir * fwdW(); }
    double inW() const { return kIn * in * in; }
    double amps() const { return current / 4096.0 * 14.05; }
};

class AmpModelTest : public ::testing::Test {
  protected:
    void SetUp() override { start(AmpModelConfig{}); }
    void TearDown() override { stop(); }
    void start(const AmpModelConfig& cfg) {
        stop();
        link = dir.path + "/dev/ttyAMP0";
        m = AmpModelStart(link, cfg);
        ASSERT_NE(m, nullptr);
        fd = PtyPeerOpen(link, B115200);
        ASSERT_GE(fd, 0);
    }
    void stop() {
        if (fd >= 0) close(fd);
        fd = -1;
        AmpModelStop(m);
        m = nullptr;
    }
    // Sends `cmd` and returns what arrives up to the first ';' (or everything by the deadline).
    // A reply is waited for up to 5 s: a loaded machine can hold the model's
    // thread back for longer than a reply's usual few milliseconds, and a reply
    // taken for the next question would shift every answer after it.
    std::string ask(const std::string& cmd, int timeoutMs = 5000) {
        if (!cmd.empty() && write(fd, cmd.data(), cmd.size()) != static_cast<ssize_t>(cmd.size()))
            return "write failed";
        return PtyPeerReadText(fd, timeoutMs);
    }
    // The status reply, well formed (the panel's encoding of its fields gives it
    // back byte for byte) and decoded by the panel's rules.
    Status status() {
        const std::string r = ask("ST;");
        Status s;
        static_cast<StatusReply&>(s) = ParseStatusReply(r.c_str(), static_cast<int>(r.size()) - 1);
        char back[40] = {};
        FormatStatusReply(s, back, sizeof back);
        EXPECT_EQ(std::string(back) + ";", r);
        return s;
    }

    TempDir dir;
    std::string link;
    AmpModel* m = nullptr;
    int fd = -1;
};

TEST_F(AmpModelTest, StatusLayoutAndPowers) {
    AmpModelSetFrequency(m, 14200000);
    ask("SA3;"), ask("SF3000008;"), ask("AB1;");
    AmpModelSetDrive(m, 100);
    EXPECT_EQ(status().fwd, 4095); // the converter saturates
    AmpModelSetDrive(m, 40);
    AmpModelSetAntenna(m, 2, AmpAntennaFixed(100, 0));
    ask("SA2;");
    EXPECT_NEAR(status().reflW(), 40.0 / 9, 0.15); // |gamma| = 1/3
    ask("SA3;"), ask("AB0;");
    AmpModelSetDrive(m, 0.2f);
    Status s = status();
    EXPECT_EQ(s.ampStatus2, 0x1);
    EXPECT_NEAR(s.fwdW(), 0.2 * std::pow(10, 1.3), 0.1); // 13 dB, far below saturation
    EXPECT_NEAR(s.amps(), 0.4 + s.fwdW() / (0.55 * 48), 0.03);
    EXPECT_EQ(s.peak, s.fwd);
    for (auto [cmd, bits, db] : {std::tuple{"AT10;", 0x8, 3.0}, {"AT01;", 0x4, 2.0}}) {
        ask(cmd);
        Status padded = status();
        EXPECT_EQ(padded.ampStatus1, bits);
        EXPECT_NEAR(padded.fwdW() / s.fwdW(), std::pow(10, -db / 10), 0.02);
        EXPECT_NEAR(padded.inW(), 0.2 * std::pow(10, -db / 10), 0.004);
    }
    ask("AT00;");
    AmpModelSetDrive(m, 5);
    s = status();
    EXPECT_GT(s.fwdW(), 55);
    EXPECT_LT(s.fwdW(), 66);
    AmpModelSetFaultBits(m, 0x21);
    s = status();
    EXPECT_EQ(s.ampFault, 0x21); // sent low nibble first: "12"
    EXPECT_EQ(s.ampStatus2, 0x1 | 0x4 | 0x8);
    EXPECT_NEAR(s.fwdW(), 5, 0.2); // standby passes the drive through
    EXPECT_EQ(ask("CPFFFF;"), "CPFFFF;");
    s = status();
    EXPECT_EQ(s.ampFault, 0);
    EXPECT_EQ(s.ampStatus2, 0x1);
    ask("SF3000000;");
    EXPECT_EQ(status().ampFault, 0x10); // amplifying without a filter
}

TEST_F(AmpModelTest, HeatSinkWarmsUnderDriveAndTheFanCoolsIt) {
    AmpModelConfig fast;
    fast.thermalTimeScale = 200; // a real second is 200 s of heat sink
    start(fast);
    ask("SA3;"), ask("SF3000008;");
    AmpModelSetDrive(m, 5);
    Status s;
    EXPECT_TRUE(WaitFor([&] { return CalcolaTemp((s = status()).temp1) > 60; }, 3000));
    EXPECT_LT(CalcolaTemp(s.temp2), CalcolaTemp(s.temp1));
    AmpModelSetDrive(m, 0);
    ask("FN1100;");
    EXPECT_TRUE(WaitFor([&] { return CalcolaTemp(status().temp1) < 27; }, 3000));
}

TEST_F(AmpModelTest, ProtectionTripsAndClears) {
    AmpModelSetFrequency(m, 14200000);
    ask("SA3;"), ask("SF3000008;"), ask("MP1;");
    ask("TS4095200040954095;");
    AmpModelSetDrive(m, 2); // ~38 W, forward count ~2700
    Status s = status();
    EXPECT_EQ(s.ampFault, 0x04);
    EXPECT_EQ(s.ampStatus2, 0x1 | 0x4 | 0x8);
    EXPECT_NEAR(s.fwdW(), 2, 0.2);
    AmpModelSetDrive(m, 0);
    ask("CPFFFF;");
    EXPECT_EQ(status().ampStatus2, 0);
    ask("MP0;");
    AmpModelSetDrive(m, 2);
    EXPECT_EQ(status().ampFault, 0);
    AmpModelSetDrive(m, 0);
    ask("MP1;"), ask("AN1;"), ask("TS0100409540954095;");
    AmpModelSetDrive(m, 1);
    EXPECT_EQ(status().ampFault, 0x20);
    AmpModelSetDrive(m, 0);
    ask("CPFFFF;"), ask("AN0;");
    ask("SA1;"), ask("MT100010000;");
    AmpModelSetFrequency(m, 10120000);
    AmpModelSetDrive(m, 1);
    EXPECT_EQ(status().ampStatus2, 0x1 | 0x2 | 0x4 | 0x8); // high SWR trip
    AmpModelSetDrive(m, 0);
    ask("CPFFFF;");
    EXPECT_EQ(status().ampStatus2, 0);
}

// What the simulator asks of it beyond the panel's tests: noise for an answer.
TEST_F(AmpModelTest, NoiseForAnAnswer) {
    ask("SA2;");
    AmpModelSetAnswer(m, AmpAnswer::Noise, 0, 1);
    std::string noise = ask("ST;", 2000);
    EXPECT_FALSE(noise.empty());
    EXPECT_EQ(noise.find(';'), std::string::npos);
    EXPECT_EQ(ask("SA3;"), "SA3;");
}

} // namespace
