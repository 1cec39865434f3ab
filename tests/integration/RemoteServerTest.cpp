// The amplifier unit's WebSocket server against peers written in the test: a
// standard client library for the handshake, a raw socket for the dialect and
// for what a stranger might send.
#include "RootedWorks.h"
#include "WsPeer.h"

#include "app/Threads.h"
#include "devsim/Pty.h"
#include "devsim/TrxCatModel.h"
#include "remote/Handshake.h"
#include "remote/Messages.h"
#include "remote/Wsocket.h"
#include "tuner/CAT.h"
#include "ui/Fb.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";

class RemoteServer : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4); // the server's 2 s before listening, the deadlines
        w->startupFlags.replace(0);
        port = FreeTcpPort();
        w->tcpPort = static_cast<int16_t>(port);
        setup->WebSocket = '1';
        fb = fbInitMemory(800, 480, 32);
        w->fb = fb;
    }
    void TearDown() override {
        w->running = 0;
        if (server.joinable())
            server.join();
        JoinThread(thrCat);
        TrxCatModelStop(cat);
        if (fb)
            fbRelease(fb, true);
        SimPtyClose(&serial);
        RootedWorks::TearDown();
    }
    void startServer() { server = std::thread(Wsocket, w.get()); }
    // Connects and completes the standard handshake; the server's answer.
    std::string handshake(WsPeer& p) {
        EXPECT_TRUE(p.connectTo(port, 10000));
        EXPECT_TRUE(p.send(WsStandardRequest(kSampleKey)));
        return p.readHeaders(5000);
    }
    void open(WsPeer& p) {
        handshake(p);
        ASSERT_TRUE(p.send(WsTextFrame("quintaferolo")));
        ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 5000));
    }
    bool logged(const std::string& text, int timeoutMs = 3000) {
        return WaitFor([&] { return Contains(ReadFile(dir.path + "/syslog.log"), text); }, timeoutMs);
    }
    // The transceiver's serial link: the server writes "SC" and "PA" payloads to it.
    void serialLink() {
        ASSERT_TRUE(SimPtyOpen(&serial, dir.path + "/dev/ttyUSB1"));
        w->serFD = ::open((dir.path + "/dev/ttyUSB1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(w->serFD, 0);
    }
    std::string fromSerial(size_t n, int timeoutMs = 2000) {
        WsPeer master;
        master.fd = dup(serial.master);
        return master.read(n, timeoutMs);
    }

    int port = 0;
    std::thread server;
    FrameBuffer* fb = nullptr;
    SimPty serial;
    TrxCatModel* cat = nullptr;
};

TEST(WsAccept, TheSampleKeyOfTheRfc) {
    EXPECT_EQ(WsAcceptValue(kSampleKey), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST_F(RemoteServer, AStandardClientLibraryCompletesTheHandshake) {
    if (!FileExists("/usr/bin/python3"))
        GTEST_SKIP() << "no Python";
    startServer();
    ASSERT_TRUE(logged("6 Listening on port", 10000));
    const std::string script = dir.path + "/client.py";
    // websockets sends "Connection: Upgrade"; the extra header is the one this
    // server counts among its seven.
    ASSERT_TRUE(WriteFile(script,
                          "import asyncio, os, sys, websockets\n"
                          "async def main():\n"
                          "    ws = await websockets.connect('ws://127.0.0.1:' + sys.argv[1] + '/chat',\n"
                          "        subprotocols=['chat'], open_timeout=20,\n"
                          "        extra_headers={'Connection': 'keep-alive, Upgrade'})\n"
                          "    print('open', ws.subprotocol, flush=True)\n"
                          "    os._exit(0)\n"
                          "asyncio.run(main())\n"));
    const std::string out = dir.path + "/client.out";
    const int rc = std::system(("/usr/bin/python3 " + script + " " + std::to_string(port) + " > " +
                                out + " 2>&1").c_str());
    EXPECT_EQ(rc, 0) << ReadFile(out);
    EXPECT_TRUE(Contains(ReadFile(out), "open chat")) << ReadFile(out);
}

TEST_F(RemoteServer, AccessCodeOpensTheSessionAndFramesFlow) {
    startServer();
    WsPeer p;
    const std::string answer = handshake(p);
    EXPECT_TRUE(Contains(answer, "HTTP/1.1 101 Switching Protocols\r\n"));
    EXPECT_TRUE(Contains(answer, "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"));
    EXPECT_TRUE(Contains(answer, "Sec-WebSocket-Protocol: chat\r\n\r\n"));
    // Before the code, nothing goes out.
    sendWebSockStatusFrame(w.get(), "early", 5);
    EXPECT_EQ(p.read(1, 300), "");
    const uint8_t key[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(p.send(WsTextFrame("quintaferolo", key)));
    ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 5000));
    EXPECT_TRUE(logged("6 required >quintaferolo< equals to >quintaferolo<"));
    EXPECT_TRUE(logged("6 Receiving data"));
    sendWebSockStatusFrame(w.get(), "hello", 5);
    EXPECT_EQ(p.read(9, 2000), std::string("\x82\x07" "ST" "hello"));
}

TEST_F(RemoteServer, AWrongCodeEndsTheSessionWithNothingSentAndTheNextTryWaits) {
    startServer();
    WsPeer p;
    handshake(p);
    ASSERT_TRUE(p.send(WsTextFrame("quintaferola")));
    std::string extra;
    EXPECT_TRUE(p.closesWithin(5000, &extra));
    EXPECT_EQ(extra, "");
    EXPECT_TRUE(logged("3 required >quintaferolo< differ from >quintaferola<"));
    EXPECT_EQ(w->remoteConnected, 0);
    // A guessing peer gets its next answer a second later at the soonest.
    const int64_t t0 = plat_mono_ms();
    WsPeer again;
    EXPECT_TRUE(Contains(handshake(again), "101 Switching Protocols"));
    EXPECT_GE(plat_mono_ms() - t0, 950);
}

TEST_F(RemoteServer, NothingIsDoneForAStrangerBeforeTheCode) {
    serialLink();
    startServer();
    WsPeer p;
    handshake(p);
    // Raw bytes for the transceiver, before any code: the session ends at once.
    ASSERT_TRUE(p.send(WsShort("SC", "TX2;")));
    EXPECT_TRUE(p.closesWithin(5000));
    EXPECT_TRUE(logged("frame 82 before the access code"));
    EXPECT_EQ(fromSerial(1, 300), "");
    EXPECT_EQ(w->remoteConnected, 0);
}

TEST_F(RemoteServer, MessagesOfAnOpenSessionReachTheirPorts) {
    serialLink();
    cat = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
    ASSERT_NE(cat, nullptr);
    setup->EnableCAT = '1';
    StartThreadCAT(w.get()); // the relay holds the transceiver's CAT port
    ASSERT_TRUE(WaitFor([&] { return status_cat == 1; }, 5000));
    startServer();
    WsPeer p;
    open(p);
    ASSERT_TRUE(p.send(WsShort("SC", "RX;")));
    EXPECT_EQ(fromSerial(3), "RX;");
    ASSERT_TRUE(p.send(WsShort("PA", "PARAM")));
    EXPECT_EQ(fromSerial(5), "PARAM");
    ASSERT_TRUE(p.send(WsShort("CA", "FA00014250000;")));
    ASSERT_TRUE(WaitFor([&] { return TrxCatModelFrequency(cat) == 14250000; }, 3000));
    // A close frame is not of the dialect: reported, and the session goes on.
    ASSERT_TRUE(p.send(std::vector<uint8_t>{0x88, 0x02, 0x03, 0xE8}));
    EXPECT_TRUE(logged("3 wrong message type: 88"));
    ASSERT_TRUE(p.send(WsShort("ST", "KAVOFD3")));
    ASSERT_TRUE(WaitFor([&] { return w->divide == 3; }, 3000));
    EXPECT_EQ(w->remoteConnected, 1);
}

TEST_F(RemoteServer, AScreenFromThePeerIsShownRawOrAsJpeg) {
    if (!FileExists("/usr/bin/cjpeg"))
        GTEST_SKIP() << "no cjpeg";
    startServer();
    WsPeer p;
    open(p);
    // A JPEG of the panel's size in one colour, written by libjpeg's own tool.
    std::string ppm = "P6\n800 480\n255\n";
    for (int i = 0; i < 800 * 480; i++)
        ppm += std::string("\x20\x90\xE0", 3);
    ASSERT_TRUE(WriteFile(dir.path + "/screen.ppm", ppm));
    ASSERT_EQ(std::system(("/usr/bin/cjpeg -quality 95 " + dir.path + "/screen.ppm > " + dir.path +
                           "/screen.jpg").c_str()),
              0);
    const std::string jpg = ReadFile(dir.path + "/screen.jpg");
    const std::vector<uint8_t> data(jpg.begin(), jpg.end());
    for (uint32_t off = 0; off < data.size(); off += 512)
        ASSERT_TRUE(p.send(WsFragment("FB", data, static_cast<uint32_t>(data.size()), off)));
    auto near = [](int a, int b) { return a > b - 6 && a < b + 6; };
    ASSERT_TRUE(WaitFor(
        [&] {
            PictureLock lock(PictureMutex());
            const uint8_t* px = fb->screen + (240 * 800 + 400) * 4; // B, G, R, 0
            return near(px[0], 0xE0) && near(px[1], 0x90) && near(px[2], 0x20);
        },
        5000));
    // The received screen is the page's background from now on.
    {
        PictureLock lock(PictureMutex());
        EXPECT_EQ(std::memcmp(fb->back, fb->work, fb->memSize), 0);
    }

    // A fragment whose total does not fit the panel is dropped; the session goes on.
    ASSERT_TRUE(p.send(WsFragment("FB", data, 2000000, 0)));
    EXPECT_TRUE(logged("FB fragment at 0 of 2000000 does not fit"));
    ASSERT_TRUE(p.send(WsShort("ST", "KAVOFD7")));
    ASSERT_TRUE(WaitFor([&] { return w->divide == 7; }, 3000));
}

TEST_F(RemoteServer, FramesThatDoNotFitOrStopHalfWayEndTheSession) {
    startServer();
    {
        WsPeer p;
        open(p);
        // 65535 bytes announced: larger than anything this program sends.
        ASSERT_TRUE(p.send(std::vector<uint8_t>{0x82, 0x7E, 0xFF, 0xFF, 'S', 'O'}));
        EXPECT_TRUE(p.closesWithin(5000));
        EXPECT_TRUE(logged("frame of 65539 bytes does not fit"));
    }
    {
        WsPeer p;
        open(p);
        // Sixteen bytes announced, two sent: the session ends after the deadline.
        ASSERT_TRUE(p.send(std::vector<uint8_t>{0x82, 0x10, 'S', 'T'}));
        const int64_t t0 = plat_mono_ms();
        EXPECT_TRUE(p.closesWithin(20000));
        EXPECT_GE(plat_mono_ms() - t0, 4900);
        EXPECT_TRUE(logged("3 TCP read Error 3a"));
    }
    {
        // A request that stops half way does not hold the only session.
        WsPeer stalled;
        ASSERT_TRUE(stalled.connectTo(port, 10000));
        ASSERT_TRUE(stalled.send("GET /chat HTTP/1.1\r\nHost: x\r\n"));
        EXPECT_TRUE(stalled.closesWithin(20000));
        WsPeer next;
        EXPECT_TRUE(Contains(handshake(next), "101 Switching Protocols"));
    }
}

TEST_F(RemoteServer, TheProgramsEndReachesTheServerWhereverItWaits) {
    startServer();
    // In accept.
    ASSERT_TRUE(logged("6 Listening on port", 10000));
    w->running = 0;
    server.join();
    // During a handshake.
    w->running = 1;
    startServer();
    WsPeer p;
    ASSERT_TRUE(p.connectTo(port, 10000));
    ASSERT_TRUE(p.send("GET /chat HTTP/1.1\r\n"));
    ASSERT_TRUE(logged("6 Received 20 bytes GET /chat HTTP/1.1"));
    w->running = 0;
    server.join();
    EXPECT_TRUE(p.closesWithin(2000));
}

} // namespace
