// The FT-817 model seen from the port, the way the panel polls it.
#include "PtyPeer.h"
#include "TestRoot.h"

#include "devsim/Ft817Model.h"
#include "platform/Clock.h"

#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kPoll = {0, 0, 0, 0, 0x03};

// Eight BCD digits in units of 10 Hz; -1 when a nibble is not a digit.
long long decodeHz(const Bytes& a) {
    long long v = 0;
    for (int i = 0; i < 4; i++) {
        int hi = a[static_cast<size_t>(i)] >> 4, lo = a[static_cast<size_t>(i)] & 0xF;
        if (hi > 9 || lo > 9)
            return -1;
        v = v * 100 + hi * 10 + lo;
    }
    return v * 10;
}

class Ft817ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link = dir.path + "/dev/ttyUSB1";
        m = Ft817ModelStart(link);
        ASSERT_NE(m, nullptr);
        fd = PtyPeerOpen(link, B38400, CSTOPB); // 8N2, as the panel sets the port
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0)
            close(fd);
        Ft817ModelStop(m);
    }
    void send(const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    // Up to `n` bytes, whatever arrived by the deadline.
    Bytes readUpTo(size_t n, int timeoutMs) {
        std::string got = PtyPeerRead(fd, timeoutMs, 1,
                                      [n](const std::string& s) { return s.size() >= n; });
        return Bytes(got.begin(), got.end());
    }
    Bytes ask(const Bytes& cmd = kPoll, int timeoutMs = 1000) {
        send(cmd);
        return readUpTo(5, timeoutMs);
    }
    // Nothing more arrives for a while.
    bool quiet(int ms = 150) { return readUpTo(1, ms).empty(); }

    TempDir dir;
    std::string link;
    Ft817Model* m = nullptr;
    int fd = -1;
};

TEST_F(Ft817ModelTest, AnswersTheFrequencyPollInBcd) {
    Ft817ModelSetFrequency(m, 14234560);
    Ft817ModelSetMode(m, kFt817Usb);
    Bytes a = ask();
    EXPECT_EQ(a, (Bytes{0x01, 0x42, 0x34, 0x56, 0x01}));
    EXPECT_TRUE(quiet());

    const struct {
        long long hz;
        uint8_t mode;
        long long expect;
    } cases[] = {{7074000, kFt817Lsb, 7074000},     {145500000, kFt817Fm, 145500000},
                 {14234567, kFt817Cw, 14234570},    {3573004, kFt817Dig, 3573000},
                 {432100010, kFt817Cwr, 432100010}, {0, kFt817Am, 0}};
    for (const auto& c : cases) {
        Ft817ModelSetFrequency(m, c.hz);
        Ft817ModelSetMode(m, c.mode);
        a = ask();
        ASSERT_EQ(a.size(), 5u) << c.hz;
        EXPECT_EQ(decodeHz(a), c.expect);
        EXPECT_EQ(a[4], c.mode);
        EXPECT_EQ(Ft817ModelFrequency(m), c.expect);
    }
    Ft817ModelSetFrequency(m, 1800000);
    EXPECT_EQ(ask(), (Bytes{0x00, 0x18, 0x00, 0x00, kFt817Am}));
}

TEST_F(Ft817ModelTest, OnlyTheOpcodeMattersAndOthersGetNoAnswer) {
    Ft817ModelSetFrequency(m, 21074000);
    EXPECT_EQ(decodeHz(ask({0x12, 0x34, 0x56, 0x78, 0x03})), 21074000);
    send({0, 0, 0, 0, 0xE7});
    send({0x01, 0x42, 0x34, 0x56, 0x01}); // a set-frequency: taken, not answered
    EXPECT_TRUE(quiet());
    // A command split over several writes is one command.
    send({0, 0});
    plat_sleep_ms(20);
    EXPECT_EQ(decodeHz(ask({0, 0, 0x03})), 21074000);
    auto rx = Ft817ModelReceived(m);
    ASSERT_EQ(rx.size(), 4u);
    EXPECT_EQ(rx[0].bytes, (std::array<uint8_t, 5>{0x12, 0x34, 0x56, 0x78, 0x03}));
    EXPECT_EQ(rx[1].bytes[4], 0xE7);
    EXPECT_EQ(rx[2].bytes[4], 0x01);
    EXPECT_EQ(rx[3].bytes, (std::array<uint8_t, 5>{0, 0, 0, 0, 0x03}));
    EXPECT_LE(rx[0].ms, rx[3].ms);
    EXPECT_LE(rx[3].ms, plat_mono_ms());
    EXPECT_EQ(Ft817ModelAnswered(m), 2);
    Ft817ModelClearReceived(m);
    EXPECT_TRUE(Ft817ModelReceived(m).empty());
    // Counted strictly in fives: a stray byte shifts the next poll.
    send({0x55});
    EXPECT_TRUE(ask(kPoll, 150).empty());
    EXPECT_EQ(Ft817ModelReceived(m).back().bytes, (std::array<uint8_t, 5>{0x55, 0, 0, 0, 0}));
}

// The modes the panel's tests put the radio in: silent, or one digit spoilt,
// for a count of polls or for good.
TEST_F(Ft817ModelTest, SilentAndBadDigitForACount) {
    Ft817ModelSetFrequency(m, 14234560);
    Ft817ModelSetAnswer(m, Ft817Answer::BadDigit, 3, 1);
    EXPECT_EQ(ask(), (Bytes{0x01, 0x4A, 0x34, 0x56, 0x01}));
    Ft817ModelSetAnswer(m, Ft817Answer::BadDigit, 0, 1);
    EXPECT_EQ(ask(), (Bytes{0xA1, 0x42, 0x34, 0x56, 0x01}));
    EXPECT_EQ(decodeHz(ask()), 14234560);
    Ft817ModelClearReceived(m);
    Ft817ModelSetAnswer(m, Ft817Answer::Silent, 0, 2);
    EXPECT_TRUE(ask(kPoll, 150).empty());
    EXPECT_TRUE(ask(kPoll, 150).empty());
    EXPECT_EQ(ask().size(), 5u);
    Ft817ModelSetAnswer(m, Ft817Answer::Silent);
    EXPECT_TRUE(ask(kPoll, 150).empty());
    EXPECT_TRUE(ask(kPoll, 150).empty());
    EXPECT_EQ(Ft817ModelReceived(m).size(), 5u);
    Ft817ModelSetAnswer(m, Ft817Answer::Normal);
    EXPECT_EQ(ask().size(), 5u);
    // Stopped, the model takes its link away.
    Ft817ModelStop(m);
    m = nullptr;
    EXPECT_FALSE(FileExists(link));
}

} // namespace
