// The link's TLS without a thread of its own: the reader and the senders share
// the session over a real loopback connection.
#include "WsPeer.h"

#include "devsim/ProcStat.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "wire/Tls.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kCode = "ABCDEFGHJKLM";

// A connected loopback pair with TLS on both ends, as the two units have it.
struct TlsPair {
    WsPeer server, client;

    bool open() {
        TcpListenError e;
        const int lfd = plat_tcp_listen(0, 1, &e);
        if (lfd < 0 || !client.connectTo(plat_tcp_local_port(lfd), 5000)) return false;
        server.fd = accept(lfd, nullptr, nullptr);
        close(lfd);
        TlsResult rs = TlsResult::Failed;
        std::thread t([&] { rs = server.startTls(kCode, 5000, nullptr, TlsRole::Server); });
        const TlsResult rc = client.startTls(kCode);
        t.join();
        return rs == TlsResult::Ok && rc == TlsResult::Ok;
    }
    ~TlsPair() { // both sessions end while both sockets are open
        server.tls.reset();
        client.tls.reset();
    }
};

// A frame of the test: sender, sequence number, length, then bytes that follow
// from the three.
std::vector<uint8_t> makeFrame(uint8_t sender, uint32_t seq, uint16_t len) {
    std::vector<uint8_t> f(7 + len);
    f[0] = sender;
    std::memcpy(&f[1], &seq, 4);
    std::memcpy(&f[5], &len, 2);
    for (uint16_t i = 0; i < len; i++)
        f[7 + i] = static_cast<uint8_t>(sender * 31 + seq * 7 + i);
    return f;
}

// Reads one frame; false at the end of the stream or on a frame that is not
// whole and intact.
bool readFrame(int fd, int timeoutMs, uint8_t* sender, uint32_t* seq, PortStatus* end) {
    uint8_t head[7];
    *end = LinkReadExact(fd, head, sizeof head, timeoutMs, PortWanted());
    if (*end != PortStatus::Ok) return false;
    uint16_t len;
    *sender = head[0];
    std::memcpy(seq, &head[1], 4);
    std::memcpy(&len, &head[5], 2);
    std::vector<uint8_t> body(len);
    if ((*end = LinkReadExact(fd, body.data(), len, timeoutMs, PortWanted())) != PortStatus::Ok)
        return false;
    for (uint16_t i = 0; i < len; i++)
        if (body[i] != static_cast<uint8_t>(*sender * 31 + *seq * 7 + i)) return false;
    return true;
}

} // namespace

// Three senders under their lock and a reader use one session at once, as the
// audio, spectrum and status senders and the session thread do: the far end
// echoes, and every frame comes back whole and in each sender's order. The
// session starts no thread.
TEST(TlsLink, SendersAndTheReaderShareTheSessionAndFramesStayWhole) {
    // A thread started and ended first: a sanitizer's runtime starts its own
    // with the process's first one.
    std::thread([] {}).join();
    const size_t threadsBefore = ProcThreads(getpid()).size();
    TlsPair p;
    ASSERT_TRUE(p.open());
    EXPECT_EQ(ProcThreads(getpid()).size(), threadsBefore);

    constexpr int kSenders = 3, kFrames = 400;
    std::thread echo([&] {
        std::vector<uint8_t> buf(9000);
        for (;;) {
            PortStatus st;
            const ssize_t n =
                LinkRead(p.server.fd, buf.data(), buf.size(), 10000, PortWanted(), &st);
            if (n <= 0 || LinkWrite(p.server.fd, buf.data(), static_cast<size_t>(n), 10000,
                                    PortWanted()) != PortStatus::Ok)
                return;
        }
    });
    std::mutex sendMut;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; s++)
        senders.emplace_back([&, s] {
            for (uint32_t i = 0; i < kFrames; i++) {
                // Sizes from a byte to past one record.
                const auto f = makeFrame(static_cast<uint8_t>(s), i,
                                         static_cast<uint16_t>((i * 977 + s * 131) % 20000));
                std::lock_guard<std::mutex> lock(sendMut);
                ASSERT_EQ(LinkWrite(p.client.fd, f.data(), f.size(), 10000, PortWanted()),
                          PortStatus::Ok);
            }
        });
    uint32_t next[kSenders] = {};
    int got = 0;
    for (; got < kSenders * kFrames; got++) {
        uint8_t sender;
        uint32_t seq;
        PortStatus end;
        ASSERT_TRUE(readFrame(p.client.fd, 10000, &sender, &seq, &end))
            << got << " frames, then " << int(end);
        ASSERT_LT(sender, kSenders);
        ASSERT_EQ(seq, next[sender]++);
    }
    for (auto& t : senders)
        t.join();
    // A read of nothing is no end of the session.
    PortStatus st;
    EXPECT_EQ(LinkRead(p.client.fd, nullptr, 0, 100, PortWanted(), &st), 0);
    EXPECT_EQ(st, PortStatus::Ok);
    // The peer's close reads as the end, on both sides.
    shutdown(p.client.fd, SHUT_WR);
    echo.join();
    uint8_t b;
    EXPECT_EQ(LinkReadExact(p.client.fd, &b, 1, 5000, PortWanted()), PortStatus::HungUp);
}

// A peer that stops reading: writes give up at their deadline; whatever the
// far end then reads is whole frames, in order, and then either more whole
// frames or the end, never a broken record. A session whose last record went
// out half is over for its writers too.
TEST(TlsLink, AWriteThatGivesUpNeverLeavesABrokenStream) {
    TlsPair p;
    ASSERT_TRUE(p.open());
    uint32_t sent = 0;
    PortStatus st = PortStatus::Ok;
    while (st == PortStatus::Ok && sent < 10000) {
        const auto f = makeFrame(1, sent, 12000);
        st = LinkWrite(p.client.fd, f.data(), f.size(), 200, PortWanted());
        if (st == PortStatus::Ok) sent++;
    }
    ASSERT_EQ(st, PortStatus::TimedOut) << sent << " frames went into a peer that reads nothing";
    // The far end reads again: frames 0 .. sent-1, then the end when the frame
    // that gave up went out half, or else the next frame, whole.
    uint32_t expect = 0;
    PortStatus end = PortStatus::Ok;
    std::thread reader([&] {
        uint8_t sender;
        uint32_t seq;
        while (readFrame(p.server.fd, 5000, &sender, &seq, &end)) {
            EXPECT_EQ(sender, 1);
            EXPECT_EQ(seq, expect++);
            if (seq == sent) break;
        }
    });
    const auto next = makeFrame(1, sent, 100);
    const PortStatus after = LinkWrite(p.client.fd, next.data(), next.size(), 5000, PortWanted());
    reader.join();
    if (after == PortStatus::Ok) {
        EXPECT_EQ(expect, sent + 1);
    } else {
        EXPECT_EQ(after, PortStatus::HungUp);
        EXPECT_EQ(LinkSendRoom(p.client.fd), 0);
        EXPECT_EQ(expect, sent);
        EXPECT_EQ(end, PortStatus::HungUp);
    }
}

// A frame wakes the thread that waits for it and no other: a reader fed 100
// frames over a second wakes about once a frame, and the process's other
// threads, the sender's aside, hardly at all (a thread between TLS and the
// dialect would wake once a frame on each side).
TEST(TlsLink, EachFrameWakesOnlyItsReader) {
    TlsPair p;
    ASSERT_TRUE(p.open());
    const pid_t sender = static_cast<pid_t>(gettid());
    auto othersSleeps = [&] {
        int64_t n = 0;
        for (const ThreadUse& t : ProcThreads(getpid()))
            if (t.tid != sender) n += static_cast<int64_t>(t.voluntary);
        return n;
    };
    std::atomic<int> received{0};
    std::thread reader([&] {
        pthread_setname_np(pthread_self(), "tls-reader");
        uint8_t from;
        uint32_t seq;
        PortStatus end;
        while (readFrame(p.server.fd, 5000, &from, &seq, &end))
            received++;
    });
    const int64_t t0 = plat_mono_ms();
    while (ProcThreadSleeps(getpid(), "tls-reader") < 0 && plat_mono_ms() - t0 < 2000)
        plat_sleep_ms(1);
    const int64_t s0 = ProcThreadSleeps(getpid(), "tls-reader"), o0 = othersSleeps();
    ASSERT_GE(s0, 0);
    for (uint32_t i = 0; i < 100; i++) {
        const auto f = makeFrame(2, i, 200);
        ASSERT_EQ(LinkWrite(p.client.fd, f.data(), f.size(), 1000, PortWanted()), PortStatus::Ok);
        plat_sleep_ms(10);
    }
    while (received < 100 && plat_mono_ms() - t0 < 10000)
        plat_sleep_ms(5);
    const int64_t woke = ProcThreadSleeps(getpid(), "tls-reader") - s0,
                  others = othersSleeps() - o0 - woke;
    EXPECT_EQ(received, 100);
    EXPECT_LE(woke, 100 + 10) << "reader wake-ups for 100 frames";
    // A sanitizer's own thread wakes now and then.
    EXPECT_LE(others, 30) << "other wake-ups for 100 frames";
    p.client.tls.reset();
    shutdown(p.client.fd, SHUT_RDWR);
    reader.join();
}
