// The transceiver's CAT port model seen from the port, as the panel uses it.
#include "PtyPeer.h"
#include "TestRoot.h"

#include "devsim/TrxCatModel.h"
#include "platform/Clock.h"

#include <algorithm>
#include <unistd.h>

namespace {

class TrxCatModelTest : public ::testing::Test {
  protected:
    void SetUp() override { start(TrxCatModelConfig{}); }
    void TearDown() override { stop(); }
    void start(const TrxCatModelConfig& cfg) {
        stop();
        link = dir.path + "/dev/KAVOCAT0";
        m = TrxCatModelStart(link, cfg);
        ASSERT_NE(m, nullptr);
        fd = PtyPeerOpen(link);
        ASSERT_GE(fd, 0);
    }
    void stop() {
        if (fd >= 0)
            close(fd);
        fd = -1;
        TrxCatModelStop(m);
        m = nullptr;
    }
    void send(const std::string& s) {
        ASSERT_EQ(write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    // Everything that arrives until `texts` ';'-terminated texts are in, or the deadline.
    std::string receive(int texts = 1, int timeoutMs = 1000) {
        return PtyPeerRead(fd, timeoutMs, 256, [texts](const std::string& got) {
            return std::count(got.begin(), got.end(), ';') >= texts;
        });
    }
    std::string ask(const std::string& cmd, int texts = 1, int timeoutMs = 1000) {
        send(cmd);
        return receive(texts, timeoutMs);
    }
    std::vector<std::string> receivedTexts() {
        std::vector<std::string> v;
        for (const auto& r : TrxCatModelReceived(m))
            v.push_back(r.text);
        return v;
    }

    TempDir dir;
    std::string link;
    TrxCatModel* m = nullptr;
    int fd = -1;
};

using Texts = std::vector<std::string>;

// The identity it answers "DT;" with: its own, another one, or none.
TEST_F(TrxCatModelTest, IdentifiesItselfAsConfigured) {
    EXPECT_EQ(ask("DT;"), "DT001;");
    TrxCatModelConfig cfg;
    cfg.id = "DT002;";
    start(cfg);
    EXPECT_EQ(ask("DT;"), "DT002;");
    cfg.id = "";
    start(cfg);
    EXPECT_EQ(ask("DT;", 1, 150), "");
}

TEST_F(TrxCatModelTest, FrequencyAndModeAreAnsweredAndSetCommandsEchoedAndApplied) {
    EXPECT_EQ(ask("FA;"), "FA00014200000;");
    EXPECT_EQ(ask("MD;"), "MD2;");
    TrxCatModelSetFrequency(m, 7074000);
    TrxCatModelSetMode(m, 1);
    EXPECT_EQ(ask("FA;MD;", 2), "FA00007074000;MD1;");
    TrxCatModelSetFrequency(m, 50313000);
    EXPECT_EQ(ask("FA;"), "FA00050313000;");
    EXPECT_EQ(ask("FA00021074000;"), "FA00021074000;");
    EXPECT_EQ(TrxCatModelFrequency(m), 21074000);
    EXPECT_EQ(ask("FA;"), "FA00021074000;");
    EXPECT_EQ(ask("MD3;"), "MD3;");
    EXPECT_EQ(TrxCatModelMode(m), 3);
    EXPECT_EQ(ask("MD;"), "MD3;");
    // Unknown, or not the form the transceiver takes: echoed, nothing changes.
    EXPECT_EQ(ask("AI2;"), "AI2;");
    EXPECT_EQ(ask("FA123;"), "FA123;");
    EXPECT_EQ(ask("MD12;"), "MD12;");
    EXPECT_EQ(TrxCatModelFrequency(m), 21074000);
    EXPECT_EQ(TrxCatModelMode(m), 3);
}

TEST_F(TrxCatModelTest, RecordsEveryTextWithItsTime) {
    int64_t t0 = plat_mono_ms();
    send("DT;");
    send("\r\nFA;"); // control bytes are not part of a text
    send("IF");
    plat_sleep_ms(20);
    send(";MD;");
    receive(4);
    auto rx = TrxCatModelReceived(m);
    ASSERT_EQ(receivedTexts(), (Texts{"DT;", "FA;", "IF;", "MD;"}));
    for (size_t i = 0; i < rx.size(); i++) {
        EXPECT_GE(rx[i].ms, t0);
        EXPECT_LE(rx[i].ms, plat_mono_ms());
        if (i) {
            EXPECT_GE(rx[i].ms, rx[i - 1].ms);
        }
    }
    TrxCatModelClearReceived(m);
    EXPECT_TRUE(TrxCatModelReceived(m).empty());
}

TEST_F(TrxCatModelTest, OverlongTextIsDropped) {
    send(std::string(150, 'X'));
    send(std::string(100, 'Y') + ";");
    EXPECT_EQ(ask("FA;"), "FA00014200000;"); // no echo of the overlong text came first
    EXPECT_EQ(receivedTexts(), (Texts{"FA;"}));
    // 199 bytes and the ';' are still a text.
    std::string longest = "ZZ" + std::string(197, '1') + ";";
    EXPECT_EQ(ask(longest), longest);
    EXPECT_EQ(receivedTexts().back(), longest);
}

TEST_F(TrxCatModelTest, UnpromptedText) {
    std::string info = "IF00014200000     +00000000002000000;";
    EXPECT_TRUE(TrxCatModelSend(m, info));
    EXPECT_EQ(receive(), info);
    EXPECT_TRUE(TrxCatModelSend(m, "TX0;"));
    EXPECT_TRUE(TrxCatModelSend(m, "RX;"));
    EXPECT_EQ(receive(2), "TX0;RX;");
    EXPECT_FALSE(TrxCatModelSend(m, std::string(70 * 1024, 'A')));
    EXPECT_TRUE(receivedTexts().empty()); // what the model sends is not what it received
    // Stopped, the model takes its link away.
    EXPECT_TRUE(FileExists(link));
    stop();
    EXPECT_FALSE(FileExists(link));
}

} // namespace
