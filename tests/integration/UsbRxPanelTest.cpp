// The whole program with the USB receiver: the panel runs under umockdev's
// preload against the receiver's model in this process, and the spectra it
// makes reach a peer connected to its remote link.
#include "PanelFixture.h"
#include "WsPeer.h"

#include "devsim/UsbRxModel.h"

namespace {

// The next frame's tag and payload (after the tag), skipping none; false when
// no whole frame came in time.
bool readFrame(WsPeer& p, std::string* tag, std::string* payload, int timeoutMs) {
    const std::string head = p.read(2, timeoutMs);
    if (head.size() != 2) return false;
    size_t n = static_cast<uint8_t>(head[1]) & 0x7F;
    // A length of 126 or 127 says the real one follows in 2 or 8 bytes.
    if (const size_t extended = n == 126 ? 2 : n == 127 ? 8 : 0) {
        const std::string ext = p.read(extended, timeoutMs);
        if (ext.size() != extended) return false;
        n = 0;
        for (char c : ext)
            n = (n << 8) | static_cast<uint8_t>(c);
    }
    const std::string body = p.read(n, timeoutMs);
    if (body.size() != n || n < 2) return false;
    *tag = body.substr(0, 2);
    *payload = body.substr(2);
    return true;
}

class UsbRxPanel : public PanelRun {
  protected:
    void TearDown() override {
        PanelRun::TearDown();
        UsbRxModelStop(model);
    }
    UsbRxModel* model = nullptr;
};

TEST_F(UsbRxPanel, SpectraOfTheReceiverReachTheConnectedPeer) {
    if (!UsbRxModelPreloadable())
        GTEST_SKIP()
            << "umockdev is not installed, or this build cannot follow its preload library";
    std::string err;
    model = UsbRxModelStart(UsbRxModelConfig{}, &err);
    ASSERT_NE(model, nullptr) << err;
    const int port = FreeTcpPort();
    // A unit that was left in remote operation with the USB receiver's 4096-point
    // spectrum chosen. Its sound devices are ALSA's null ones: retries of a
    // missing card each leak a socket of umockdev's preload, which aborts at 50.
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/setup.txt",
                          "WebSocket: 1\nTcpPort: " + std::to_string(port) +
                              "\nEnableFFT: 1\nEnable1600: 1\nDivide: 1\n"
                              "AudioIn: null\nAudioOut: null\n"));
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/remote.txt", "Code: RXPEER234567\n"));
    ASSERT_TRUE(PanelStart(&panel, PANEL_EXE, dir.path, PANEL_SKINS_DIR, &err, 1,
                           UsbRxModelEnvironment(model)))
        << err;
    ASSERT_TRUE(printed("SYN transfer starting", 20000)) << output();

    WsPeer peer;
    ASSERT_TRUE(peer.connectTo(port, 20000)) << output();
    std::string why;
    ASSERT_EQ(peer.startTls("RXPEER234567", 5000, &why), TlsResult::Ok) << why;
    ASSERT_TRUE(peer.send(WsStandardRequest()));
    ASSERT_TRUE(Contains(peer.readHeaders(5000), "101 Switching Protocols"));
    ASSERT_TRUE(peer.send(WsTextFrame("RXPEER234567")));

    // A fragment of the 4096-point spectrum the setup file chose, among the
    // session's other messages (its bins and levels: UsbRx.StreamsFourWhole...).
    std::string tag, payload;
    bool spectrum = false;
    for (int frames = 0; !spectrum && frames < 5000 && readFrame(peer, &tag, &payload, 10000);
         frames++)
        spectrum = tag == "SP" && payload.size() == 520;
    ASSERT_TRUE(spectrum) << output();
    EXPECT_EQ(payload.substr(0, 4), std::string("\0\0\x06\xAA", 4)); // 1706 bytes in all
    stop();
    EXPECT_TRUE(Contains(output(), "TavRead.cpp Operations end"));
}

} // namespace
