// The amplifier unit's WebSocket server against peers written in the test: a
// standard client library for the handshake, a raw socket for the dialect and
// for what a stranger might send, and openssl's own client for the TLS handshake.
#include "Jpeg.h"
#include "RootedWorks.h"
#include "WsPeer.h"

#include "app/Threads.h"
#include "core/CmdRing.h"
#include "devsim/Pty.h"
#include "devsim/TrxCatModel.h"
#include "wire/Handshake.h"
#include "wire/Messages.h"
#include "remote/Throttle.h"
#include "wire/Tls.h"
#include "remote/Wsocket.h"
#include "tuner/CAT.h"
#include "draw/Fb.h"

#include <cstdio>
#include <fcntl.h>

namespace {

constexpr const char* kCode = "ABCDEFGHJKLM"; // this unit's, as remote.txt gives it

class RemoteServer : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4); // the server's 2 s before listening, the deadlines
        w->startupFlags.replace(0);
        port = FreeTcpPort();
        w->settings.tcpPort = static_cast<int16_t>(port);
        setup->WebSocket = '1';
        usePicture();
        w->remotePassword.set(kCode);
        // The unit's throttle outlives a test: each starts with the address's
        // back-off of the tests before it cleared.
        ThrottleSuccess(UnitThrottle(), "127.0.0.1", plat_mono_ms());
    }
    void TearDown() override {
        w->running = 0;
        if (server.joinable()) server.join();
        JoinThread(SlotOf(Thread::CatRelay));
        TrxCatModelStop(cat);
        SimPtyClose(&serial);
        RootedWorks::TearDown();
    }
    void startServer() {
        server = std::thread(Wsocket, w.get());
        ASSERT_TRUE(logged("6 Listening on port", 10000));
    }
    // The relay holds the transceiver's CAT port (its model's).
    void catRelay() {
        cat = TrxCatModelStart(dir.path + "/dev/KAVOCAT0");
        ASSERT_NE(cat, nullptr);
        setup->EnableCAT = '1';
        StartThreadCAT(w.get());
        ASSERT_TRUE(WaitFor([&] { return status_cat == 1; }, 5000));
    }
    // Connects, starts TLS with the unit's code and completes the standard
    // handshake; the server's answer.
    std::string handshake(WsPeer& p) {
        EXPECT_TRUE(p.connectTo(port, 10000));
        EXPECT_EQ(p.startTls(kCode), TlsResult::Ok);
        EXPECT_TRUE(p.send(WsStandardRequest()));
        return p.readHeaders(5000);
    }
    void open(WsPeer& p) {
        handshake(p);
        ASSERT_TRUE(p.send(WsTextFrame(kCode)));
        ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 5000));
    }
    // The back-off after a failure from this address (1 s, then 2, 4 ...).
    void waitOutBackOff(int seconds = 1) { plat_sleep_ms(seconds * 1000 + 100); }

    int port = 0;
    std::thread server;
    SimPty serial;
    TrxCatModel* cat = nullptr;
};

// The plain dialect, for units not yet upgraded, only where RemotePlain allows it.
TEST_F(RemoteServer, AStandardClientLibraryCompletesThePlainHandshakeWhenAllowed) {
    if (!FileExists("/usr/bin/python3")) GTEST_SKIP() << "no Python";
    SetSettingText(w.get(), "RemotePlain", "1");
    startServer();
    const std::string script = dir.path + "/client.py";
    // websockets sends "Connection: Upgrade"; the extra header is the one this
    // server counts among its seven.
    ASSERT_TRUE(WriteFile(
        script, "import asyncio, os, sys, websockets\n"
                "async def main():\n"
                "    ws = await websockets.connect('ws://127.0.0.1:' + sys.argv[1] + '/chat',\n"
                "        subprotocols=['chat'], open_timeout=20,\n"
                "        extra_headers={'Connection': 'keep-alive, Upgrade'})\n"
                "    print('open', ws.subprotocol, flush=True)\n"
                "    os._exit(0)\n"
                "asyncio.run(main())\n"));
    const std::string out = dir.path + "/client.out";
    const int rc = std::system(
        ("/usr/bin/python3 " + script + " " + std::to_string(port) + " > " + out + " 2>&1")
            .c_str());
    EXPECT_EQ(rc, 0) << ReadFile(out);
    EXPECT_TRUE(Contains(ReadFile(out), "open chat")) << ReadFile(out);
    EXPECT_TRUE(logged("6 remote: plain session from 127.0.0.1"));
}

TEST_F(RemoteServer, AccessCodeOpensTheSessionAndFramesFlow) {
    startServer();
    WsPeer p;
    EXPECT_EQ(handshake(p), WsAnswer(kWsSampleAccept));
    // Before the code, nothing goes out.
    sendWebSockStatusFrame(w.get(), "early", 5);
    EXPECT_EQ(p.read(1, 300), "");
    const uint8_t key[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(p.send(WsTextFrame(kCode, key)));
    ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 5000));
    // The code is a secret: the log never shows it.
    EXPECT_TRUE(logged("6 required >************< equals to >************<"));
    EXPECT_FALSE(Contains(syslog(), kCode));
    EXPECT_TRUE(logged("6 Receiving data"));
    sendWebSockStatusFrame(w.get(), "hello", 5);
    EXPECT_EQ(p.read(9, 2000), std::string("\x82\x07SThello"));
}

TEST_F(RemoteServer, AWrongCodeOrAFrameBeforeTheCodeEndsTheSessionAndTheNextTryWaits) {
    // The transceiver's serial link, where an open session's "SC" payloads go.
    ASSERT_TRUE(SimPtyOpen(&serial, dir.path + "/dev/ttyUSB1"));
    w->serFD = ::open((dir.path + "/dev/ttyUSB1").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(w->serFD, 0);
    startServer();
    WsPeer p;
    handshake(p);
    ASSERT_TRUE(p.send(WsTextFrame("ABCDEFGHJKLN\n")));
    std::string extra;
    EXPECT_TRUE(p.closesWithin(5000, &extra));
    EXPECT_EQ(extra, "");
    EXPECT_TRUE(logged("3 required >************< differ from >ABCDEFGHJKLN?<"));
    EXPECT_EQ(w->remoteConnected, 0);
    // The address's next connection within a second is closed unread.
    WsPeer again;
    ASSERT_TRUE(again.connectTo(port, 10000));
    EXPECT_NE(again.startTls(kCode, 2000), TlsResult::Ok);
    EXPECT_TRUE(logged("3 remote: 127.0.0.1 refused for 1 s after 1 failed authentications"));
    waitOutBackOff();
    WsPeer later;
    EXPECT_TRUE(Contains(handshake(later), "101 Switching Protocols"));
    // Raw bytes for the transceiver, before any code: the session ends at once.
    ASSERT_TRUE(later.send(WsShort("SC", "TX2;")));
    EXPECT_TRUE(later.closesWithin(5000));
    EXPECT_TRUE(logged("frame 82 before the access code"));
    WsPeer transceiver;
    transceiver.fd = dup(serial.master);
    EXPECT_EQ(transceiver.read(1, 300), "");
    EXPECT_EQ(w->remoteConnected, 0);
}

TEST_F(RemoteServer, MessagesOfAnOpenSessionReachTheirPortsAndItsScreenIsShown) {
    ASSERT_NO_FATAL_FAILURE(catRelay());
    startServer();
    WsPeer p;
    open(p);
    ASSERT_TRUE(p.send(WsShort("CA", "FA00014250000;")));
    ASSERT_TRUE(WaitFor([&] { return TrxCatModelFrequency(cat) == 14250000; }, 10000));
    // A screen: a JPEG of the panel's size in one colour. A fragment whose
    // total does not fit the panel is dropped.
    const auto data = JpegOf(800, 480, [](int, int) {
        return std::array<uint8_t, 3>{0x20, 0x90, 0xE0};
    });
    const auto size = static_cast<uint32_t>(data.size());
    for (uint32_t off = 0; off < size; off += 512)
        ASSERT_TRUE(p.send(WsFragment("FB", data, size, off)));
    auto near = [](int a, int b) { return a > b - 6 && a < b + 6; };
    ASSERT_TRUE(WaitFor(
        [&] {
            PictureLock lock(PictureMutex());
            const uint8_t* px = fb->screen + (240 * 800 + 400) * 4; // B, G, R, 0
            return near(px[0], 0xE0) && near(px[1], 0x90) && near(px[2], 0x20);
        },
        5000));
    {
        // The received screen is the page's background from now on.
        PictureLock lock(PictureMutex());
        EXPECT_EQ(std::memcmp(fb->back, fb->work, fb->memSize), 0);
    }
    ASSERT_TRUE(p.send(WsFragment("FB", {}, 2000000, 0)));
    EXPECT_TRUE(logged("FB fragment at 0 of 2000000 does not fit"));
    ASSERT_TRUE(p.send(WsShort("ST", "KAVOFD3")));
    ASSERT_TRUE(WaitFor([&] { return w->settings.divide == 3; }, 10000));
    EXPECT_EQ(w->remoteConnected, 1);
}

// (A frame larger than the reader's buffer: RemoteFrames, in process.)
TEST_F(RemoteServer, AFrameOrARequestThatStopsHalfWayEndsItsSession) {
    startServer();
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
        ASSERT_EQ(stalled.startTls(kCode), TlsResult::Ok);
        ASSERT_TRUE(stalled.send("GET /chat HTTP/1.1\r\nHost: x\r\n"));
        EXPECT_TRUE(stalled.closesWithin(20000));
        waitOutBackOff();
        WsPeer next;
        EXPECT_TRUE(Contains(handshake(next), "101 Switching Protocols"));
    }
}

// (Waiting in accept: every test's TearDown.)
TEST_F(RemoteServer, TheProgramsEndReachesTheServerDuringAHandshake) {
    startServer();
    WsPeer p;
    ASSERT_TRUE(p.connectTo(port, 10000));
    ASSERT_EQ(p.startTls(kCode), TlsResult::Ok);
    ASSERT_TRUE(p.send("GET /chat HTTP/1.1\r\n"));
    ASSERT_TRUE(logged("6 Received 20 bytes GET /chat HTTP/1.1"));
    w->running = 0;
    server.join();
    EXPECT_TRUE(p.closesWithin(2000));
}

TEST_F(RemoteServer, OpensslsClientWithTheDerivedKeyIsAPeerAndAnotherCodesKeyGetsAnAlert) {
    TlsPsk psk;
    ASSERT_TRUE(TlsPskFor(kCode, &psk));
    startServer();
    // openssl's client, run in the test's folder, with the key in hex.
    // The request and the code frame, then the session stays open while the
    // test talks to it.
    const auto code = WsTextFrame(kCode);
    ASSERT_TRUE(
        WriteFile(dir.path + "/in", WsStandardRequest() + std::string(code.begin(), code.end())));
    const std::string out = dir.path + "/peer.out";
    const std::string cmd = "cd " + dir.path +
                            " && { cat in; while [ ! -e done ]; do sleep 0.1; done; } | " +
                            "openssl s_client -tls1_3 -quiet -psk " + TlsPskHex(psk) +
                            " -psk_identity amp-panel -connect 127.0.0.1:" + std::to_string(port) +
                            " -no_ign_eof > peer.out 2>&1";
    std::thread good([cmd] { (void)std::system(cmd.c_str()); });
    EXPECT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 10000))
        << ReadFile(out) << syslog();
    sendWebSockStatusFrame(w.get(), "hello", 5);
    auto said = [&](const char* what) { return Contains(ReadFile(out), what); };
    EXPECT_TRUE(WaitFor([&] { return said("SThello"); }, 5000)) << ReadFile(out);
    EXPECT_TRUE(said("101 Switching Protocols"));
    ASSERT_TRUE(WriteFile(dir.path + "/done", ""));
    good.join();
    ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 0; }, 5000));

    // Another code's key: the handshake fails with an alert. Both keys are
    // derived first, the server's last, so that its handshake finds its own.
    TlsPsk other;
    ASSERT_TRUE(TlsPskFor("ZZZZZZZZZZZZ", &other));
    ASSERT_TRUE(TlsPskFor(kCode, &psk));
    WsPeer bad;
    ASSERT_TRUE(bad.connectTo(port, 10000));
    std::string why;
    EXPECT_EQ(bad.startTls(other, 5000, &why), TlsResult::Failed);
    EXPECT_TRUE(Contains(why, "alert")) << why;
    EXPECT_TRUE(logged("3 remote: 127.0.0.1: TLS handshake failed"));
}

TEST_F(RemoteServer, SilentStrangersDoNotKeepTheOperatorOutAndASecondOperatorIsRefused) {
    startServer();
    // Three strangers: two say nothing, one begins a TLS handshake and stops.
    WsPeer silent1, silent2, halfTls;
    ASSERT_TRUE(silent1.connectTo(port, 10000));
    ASSERT_TRUE(silent2.connectTo(port, 10000));
    ASSERT_TRUE(halfTls.connectTo(port, 10000));
    ASSERT_TRUE(halfTls.send(std::string("\x16\x03\x01\x00\xF0\x01", 6)));
    // The operator gets in while they wait.
    const int64_t t0 = plat_mono_ms();
    WsPeer op;
    open(op);
    EXPECT_LT(plat_mono_ms() - t0, 2000);
    // A second operator with the right code: refused, the first keeps the session.
    WsPeer second;
    handshake(second);
    ASSERT_TRUE(second.send(WsTextFrame(kCode)));
    EXPECT_TRUE(second.closesWithin(5000));
    EXPECT_TRUE(logged("3 remote: a second operator from 127.0.0.1 refused: a session is up"));
    sendWebSockStatusFrame(w.get(), "still", 5);
    EXPECT_EQ(op.read(9, 2000), std::string("\x82\x07STstill"));
    // The strangers are closed at their deadline, 5 s after they came.
    for (WsPeer* s : {&silent1, &silent2, &halfTls})
        EXPECT_TRUE(s->closesWithin(8000));
    EXPECT_GE(plat_mono_ms() - t0, 4500);
    EXPECT_TRUE(logged("3 remote: 127.0.0.1 sent nothing within 5 s"));
    EXPECT_TRUE(logged("3 remote: 127.0.0.1: TLS handshake timed out")) << syslog();
    EXPECT_EQ(w->remoteConnected, 1);
}

TEST_F(RemoteServer, WithoutRemotePlainAPlainPeerIsClosedUnansweredAndAFloodAfterItRefusedUnread) {
    startServer();
    WsPeer first;
    ASSERT_TRUE(first.connectTo(port, 10000));
    ASSERT_TRUE(first.send(WsStandardRequest())); // not TLS: a failure
    std::string extra;
    EXPECT_TRUE(first.closesWithin(5000, &extra));
    EXPECT_EQ(extra, "");
    EXPECT_TRUE(logged("3 remote: 127.0.0.1 did not start TLS, closed"));
    // The next tries within 1 s are closed unread; one that comes later and
    // stays silent fails again and doubles the wait.
    for (int i = 0; i < 20; i++) {
        WsPeer p;
        ASSERT_TRUE(p.connectTo(port, 10000));
        EXPECT_TRUE(p.closesWithin(2000));
    }
    const std::string log = syslog();
    const size_t n = CountOf(log, "remote: 127.0.0.1 refused for");
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 3u) << log; // once per blocked stretch, not once per connection
    waitOutBackOff(4);
    WsPeer op;
    open(op);
}

// The station's transmitter when the operator's link drops in the middle of a
// transmission through the relayed CAT port.
TEST_F(RemoteServer,
       ASessionEndingInReceiveLeavesTheStationOneWhileTransmittingReturnsItToReceiveThenStandby) {
    ASSERT_NO_FATAL_FAILURE(catRelay());
    startServer();
    w->ampBypass = 0;
    w->attenuatorShown = 1;
    {
        WsPeer p;
        open(p);
    } // in receive
    ASSERT_TRUE(WaitFor([&] { return w->remoteConnected == 0; }, 5000));
    plat_sleep_ms(500);
    EXPECT_EQ(w->attenuatorShown, 1);
    EXPECT_TRUE(CmdQueueEmpty(w.get()));
    EXPECT_FALSE(Contains(syslog(), "session ended while transmitting"));
    {
        WsPeer p;
        open(p);
        ASSERT_TRUE(p.send(WsShort("CA", "TX;")));
        ASSERT_TRUE(WaitFor([&] { return TrxCatModelTransmitting(cat); }, 10000));
        PublishAmpReadings(w.get(), {.pwrFwd = 60.0f}); // the amplifier sees the carrier
        // The link drops.
    }
    ASSERT_TRUE(WaitFor([&] { return !TrxCatModelTransmitting(cat); }, 5000));
    EXPECT_TRUE(logged("3 remote: session ended while transmitting"));
    EXPECT_TRUE(logged("3 remote: \"RX;\" sent on the CAT port"));
    // No standby under power. (The receive request and the bypass command
    // once it has gone: TxLimit.WhoIsLimitedAndWhen, the same way back.)
    plat_sleep_ms(1000);
    EXPECT_NE(w->attenuatorShown, 4);
    EXPECT_TRUE(CmdQueueEmpty(w.get()));
    PublishAmpReadings(w.get(), {.pwrFwd = 0.2f});
    ASSERT_TRUE(WaitFor([&] { return w->attenuatorShown == 4; }, 10000));
}

} // namespace
