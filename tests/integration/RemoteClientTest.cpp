// The operator unit's WebSocket client against a server written in the test:
// what it sends (its request, its 18-byte access code), how it reconnects, and
// what it does with each message.
#include "RootedWorks.h"
#include "WsPeer.h"

#include "devsim/TrxModel.h"
#include "platform/Socket.h"
#include "wire/Handshake.h"
#include "wire/Tls.h"
#include "remote/Wsocket.h"
#include "trx/Serial.h"
#include "draw/Fb.h"

namespace {

constexpr const char* kCode = "ABCDEFGHJKLM"; // the station's, given to the operator's unit

// A listening socket of the test; accepts one connection at a time, with TLS
// keyed by the code unless told otherwise.
struct TestServer {
    TcpListenError error;
    int fd;
    explicit TestServer(int port) : fd(plat_tcp_listen_on("127.0.0.1", port, 1, &error)) {}
    ~TestServer() { close(fd); }
    bool accept(WsPeer* p, int timeoutMs, bool tls = true) {
        pollfd q{fd, POLLIN, 0};
        if (poll(&q, 1, timeoutMs) <= 0) return false;
        p->fd = ::accept(fd, nullptr, nullptr);
        if (p->fd < 0) return false;
        return !tls || p->startTls(kCode, 5000, nullptr, TlsRole::Server) == TlsResult::Ok;
    }
};

// The server's answer to a request: the accept value of its key.
std::string answerTo(const std::string& request, bool rightKey = true) {
    const std::string tag = "Sec-WebSocket-Key: ";
    const size_t at = request.find(tag);
    std::string key = at == std::string::npos ? "" : request.substr(at + tag.size(), 24);
    return WsAnswer(rightKey ? WsAcceptValue(key.c_str()) : "AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
}

class RemoteClient : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        useTimeScale(4);
        port = FreeTcpPort();
        w->settings.tcpPort = static_cast<int16_t>(port);
        w->serverAddr.set("127.0.0.1");
        setup->WebSocket = '2';
        usePicture();
        w->remotePassword.set(kCode);
    }
    void TearDown() override {
        w->running = 0;
        if (client.joinable()) client.join();
        RootedWorks::TearDown();
    }
    void startClient() { client = std::thread(Wclient, w.get()); }
    // Accepts the client, reads its request and the access code that follows the
    // answer; the request.
    std::string session(TestServer& srv, WsPeer& p) {
        EXPECT_TRUE(srv.accept(&p, 10000));
        std::string request = p.read(1000, 200);
        while (request.find("\r\n\r\n\r\n") == std::string::npos) {
            std::string more = p.read(1, 3000);
            if (more.empty()) break;
            request += more;
        }
        EXPECT_TRUE(p.send(answerTo(request)));
        code = p.read(18, 3000);
        // Connected once the code has gone out, a moment after the peer read it.
        EXPECT_TRUE(WaitFor([&] { return w->remoteConnected == 1; }, 10000));
        return request;
    }

    int port = 0;
    std::thread client;
    std::string code;
};

TEST_F(RemoteClient, AServerWithAnotherCodeFailsTheHandshakeAndTheClientTriesAgain) {
    TestServer srv(port);
    startClient();
    WsPeer p;
    ASSERT_TRUE(srv.accept(&p, 10000, false));
    EXPECT_NE(p.startTls("ZZZZZZZZZZZZ", 5000, nullptr, TlsRole::Server), TlsResult::Ok);
    // Refused by the other key, or, on a loaded machine, out of time first.
    EXPECT_TRUE(logged("3 remote: server 127.0.0.1: TLS handshake "));
    p.closeIt();
    // With the right code the next try opens the session.
    WsPeer q;
    session(srv, q);
}

TEST_F(RemoteClient, WithRemotePlainTheClientSpeaksInTheClearToAnOlderServer) {
    SetSettingText(w.get(), "RemotePlain", "1");
    TestServer srv(port);
    startClient();
    WsPeer p;
    ASSERT_TRUE(srv.accept(&p, 10000, false));
    EXPECT_EQ(p.read(18, 3000), "GET /chat HTTP/1.1");
}

TEST_F(RemoteClient, ConnectErrorEveryTwoSecondsUntilTheServerListensThenTheSameKey) {
    testing::internal::CaptureStderr();
    startClient();
    plat_sleep_ms(4500); // program time: tries at 0, 2 and 4 s
    std::unique_ptr<TestServer> srv = std::make_unique<TestServer>(port);
    WsPeer first;
    const std::string request = session(*srv, first);
    const std::string err = testing::internal::GetCapturedStderr();
    const size_t tries = CountOf(err, "Connect Error\n");
    EXPECT_GE(tries, 2u);
    EXPECT_LE(tries, 4u);
    EXPECT_TRUE(Contains(err, "TCP connected\n"));
    // The server ends the session: the client comes back with the same key.
    first.closeIt();
    ASSERT_TRUE(logged("6 reconnecting"));
    WsPeer second;
    const std::string again = session(*srv, second);
    const auto keyOf = [](const std::string& r) { return r.substr(r.find("Key: ") + 5, 24); };
    EXPECT_EQ(keyOf(again), keyOf(request));
}

TEST_F(RemoteClient, TheProgramsEndReachesTheClientBetweenTries) {
    startClient(); // a server that does not listen
    ASSERT_TRUE(logged("6 TCP bound"));
    w->running = 0;
    client.join();
}

TEST_F(RemoteClient, AWrongAcceptValueEndsTheProgram) {
    TestServer srv(port);
    startClient();
    WsPeer p;
    ASSERT_TRUE(srv.accept(&p, 10000));
    const std::string request = p.readHeaders(3000);
    ASSERT_TRUE(p.send(answerTo(request, false)));
    ASSERT_TRUE(WaitFor([&] { return w->running == 0; }, 5000));
    EXPECT_TRUE(logged("3 keys not correct"));
}

// The request and the access code as the server counts them; what the client
// does with each message; the program's end in a session that has gone quiet.
TEST_F(RemoteClient, RequestCodeMessagesFromTheServerAndTheProgramsEnd) {
    TestServer srv(port);
    startClient();
    WsPeer p;
    const std::string request = session(srv, p);
    const std::string head = "GET /chat HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                             "\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
                             "Sec-WebSocket-Key: ";
    EXPECT_EQ(request.substr(0, head.size()), head);
    EXPECT_TRUE(Contains(request, "\r\nSec-WebSocket-Version: 13\r\n\r\n\r\n"));
    // A 12-character code is 18 bytes on the wire: 0x81, its length, a zero key.
    EXPECT_EQ(code, std::string("\x81\x0C\0\0\0\0", 6) + kCode);
    EXPECT_TRUE(logged("6 keys correct"));
    EXPECT_TRUE(logged("6 Websocket Connected"));

    // A parameter block of 31 bytes reaches the transceiver's record, in the
    // serial link's decoding: the model's, with the noise blanker, the
    // attenuator and AN on, as no other test has them.
    auto pa = TrxParameterPayload(14074000, 3, false, false, 600, 0x100);
    pa[15] = 0x30 | 0x04;        // noise blanker 4
    pa[20] = 0x40 | 0x10 | 0x04; // att on, AN 2
    ASSERT_TRUE(p.send(WsShort("PA", std::string(pa.begin(), pa.end()))));
    TrxParameters q;
    ASSERT_TRUE(WaitFor(
        [&] {
            getParameters(&q, w.get());
            return q.offsetHz == 0x100;
        },
        3000));
    EXPECT_EQ(q.rxFreq, 14074000);
    EXPECT_EQ(q.rxMode, 3);
    EXPECT_EQ(q.nb, 4);
    EXPECT_EQ(q.att, 1);
    EXPECT_EQ(q.an, 2);
    EXPECT_EQ(q.pitchHz, 600);

    // An 854-byte spectrum in two fragments; bins 85 to 853 reach the plot.
    std::vector<uint8_t> sp(854);
    for (size_t i = 0; i < sp.size(); i++)
        sp[i] = static_cast<uint8_t>(192 - 20 - (i % 50));
    ASSERT_TRUE(p.send(WsFragment("SP", sp, 854, 0)));
    ASSERT_TRUE(p.send(WsFragment("SP", sp, 854, 512)));
    auto traceAt = [&](int i) {
        std::lock_guard<std::mutex> lock(serMut);
        return w->grid.trace[i];
    };
    ASSERT_TRUE(WaitFor([&] { return traceAt(0) == -20.0f - 35; }, 10000));
    EXPECT_FLOAT_EQ(traceAt(853 - 85), static_cast<float>(-20 - (853 % 50)));
    // The USB receiver's 1706-byte spectrum is taken whole; the plot draws its first bins.
    std::vector<uint8_t> wide(1706, 192 - 70);
    for (uint32_t off = 0; off < 1706; off += 512)
        ASSERT_TRUE(p.send(WsFragment("SP", wide, 1706, off)));
    ASSERT_TRUE(WaitFor([&] { return traceAt(0) == -70.0f; }, 10000));
    EXPECT_FALSE(logged("SP fragment", 200));
    EXPECT_EQ(w->remoteConnected, 1);

    // The server sends nothing more: the program's end still reaches the client.
    w->running = 0;
    client.join();
    EXPECT_EQ(w->remoteConnected, 0);
    EXPECT_TRUE(p.closesWithin(2000));
}

} // namespace
