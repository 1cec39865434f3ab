// A raw-socket peer of the remote link, written in the test: it speaks the
// dialect byte by byte so that tests can send what no unit of the program
// would (a wrong code, a frame too large, half a frame).
#pragma once

#include "TestRoot.h"

#include "platform/Clock.h"
#include "wire/Tls.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A port that nothing listens on at the moment. Taken below the kernel's
// range for outgoing connections, so no client socket of a parallel test is
// given it, and from a start that differs per test process, so two tests
// started together do not pick the same one.
inline int FreeTcpPort() {
    constexpr int kFirst = 20000, kCount = 12000;
    static int next = static_cast<int>((static_cast<unsigned>(getpid()) * 7919u) % kCount);
    for (int tries = 0; tries < kCount; tries++) {
        const int port = kFirst + next;
        next = (next + 1) % kCount;
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) break;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (free) return port;
    }
    return 0;
}

struct WsPeer {
    int fd = -1;
    TlsLinkPtr tls; // set by startTls: reads and writes of `fd` then go through it
    ~WsPeer() { closeIt(); }
    void closeIt() {
        tls.reset();
        if (fd >= 0) close(fd);
        fd = -1;
    }

    // TLS keyed by `code` on the connected socket, as the units do (the client's
    // side, or the server's for a test that plays the station); afterwards
    // the peer reads and writes the dialect in clear as before.
    TlsResult startTls(const std::string& code, int timeoutMs = 5000, std::string* why = nullptr,
                       TlsRole role = TlsRole::Client) {
        TlsPsk psk;
        if (!TlsPskFor(code.c_str(), &psk)) return TlsResult::Failed;
        return startTls(psk, timeoutMs, why, role);
    }
    // With a key derived beforehand: the derivation keeps one code's key, and a
    // test's server in this process must not derive its own again meanwhile.
    TlsResult startTls(const TlsPsk& psk, int timeoutMs, std::string* why,
                       TlsRole role = TlsRole::Client) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::string reason;
        const TlsResult r =
            TlsStart(role, fd, psk, plat_mono_ms() + timeoutMs, PortWanted(), &tls, &reason);
        if (why) *why = reason;
        return r;
    }

    // Connects to 127.0.0.1:port, retrying while nothing listens yet.
    // `timeoutMs` of real time: under a test's faster program clock a loaded
    // machine still gets the whole wait for the server to listen.
    bool connectTo(int port, int timeoutMs) {
        fd = ConnectWithin("127.0.0.1", port, timeoutMs);
        return fd >= 0;
    }
    bool send(const std::string& bytes) {
        if (tls)
            return LinkWrite(fd, bytes.data(), bytes.size(), 5000, PortWanted()) == PortStatus::Ok;
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool send(const std::vector<uint8_t>& bytes) {
        return send(std::string(bytes.begin(), bytes.end()));
    }
    // Reads until `n` bytes have come, the peer closes, or `timeoutMs` passes.
    std::string read(size_t n, int timeoutMs) {
        std::string got;
        const int64_t end = plat_mono_ms() + timeoutMs;
        char buf[4096];
        while (got.size() < n) {
            const int64_t left = end - plat_mono_ms();
            if (left <= 0) break;
            ssize_t r;
            if (tls) {
                PortStatus st;
                r = LinkRead(fd, buf, std::min(sizeof buf, n - got.size()), static_cast<int>(left),
                             PortWanted(), &st);
                if (st == PortStatus::TimedOut) break;
            } else {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
                r = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
            }
            if (r <= 0) {
                closedByPeer = true;
                break;
            }
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }
    // Reads up to the end of an HTTP header block ("\r\n\r\n").
    std::string readHeaders(int timeoutMs) {
        std::string got;
        while (got.find("\r\n\r\n") == std::string::npos) {
            std::string c = read(1, timeoutMs);
            if (c.empty()) break;
            got += c;
        }
        return got;
    }
    // True when the peer closed the connection within `timeoutMs`, having sent
    // nothing more (what it sent meanwhile is appended to `extra`).
    bool closesWithin(int timeoutMs, std::string* extra = nullptr) {
        std::string got = read(1 << 20, timeoutMs);
        if (extra) *extra += got;
        return closedByPeer;
    }
    bool closedByPeer = false;
};

// The RFC's sample key and its accept value.
constexpr const char* kWsSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kWsSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

// A standard request, all seven headers the server counts and one empty line.
inline std::string WsStandardRequest(const std::string& key = kWsSampleKey) {
    return "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
           "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: " +
           key + "\r\nSec-WebSocket-Protocol: chat\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

// The server's answer that opens a session, with the accept value of the key.
inline std::string WsAnswer(const std::string& accept) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           accept + "\r\nSec-WebSocket-Protocol: chat\r\n\r\n";
}

// A short text frame with a key; the payload is sent XORed with it.
inline std::vector<uint8_t> WsTextFrame(const std::string& text, const uint8_t key[4] = nullptr) {
    std::vector<uint8_t> f = {0x81, static_cast<uint8_t>(text.size()), 0, 0, 0, 0};
    if (key) std::memcpy(f.data() + 2, key, 4);
    for (size_t i = 0; i < text.size(); i++)
        f.push_back(static_cast<uint8_t>(text[i] ^ (key ? key[i % 4] : 0)));
    return f;
}

// A short binary message: 0x82, n + 2, the tag, the payload.
inline std::vector<uint8_t> WsShort(const char* tag, const std::string& payload) {
    // Sized first: GCC 12 at -O3 takes an insert of an empty payload for an overread.
    std::vector<uint8_t> f(payload.size() + 4);
    f[0] = 0x82;
    f[1] = static_cast<uint8_t>(payload.size() + 2);
    f[2] = static_cast<uint8_t>(tag[0]);
    f[3] = static_cast<uint8_t>(tag[1]);
    std::copy(payload.begin(), payload.end(), f.begin() + 4);
    return f;
}

// One fragment of "SP" or "FB": 526 bytes (the data padded to 512).
inline std::vector<uint8_t> WsFragment(const char* tag, const std::vector<uint8_t>& data,
                                       uint32_t total, uint32_t offset) {
    std::vector<uint8_t> f = {
        0x82, 0x7E, 0x02, 0x0A, static_cast<uint8_t>(tag[0]), static_cast<uint8_t>(tag[1])};
    for (uint32_t v : {total, offset})
        for (int s = 24; s >= 0; s -= 8)
            f.push_back(static_cast<uint8_t>(v >> s));
    for (size_t i = 0; i < 512; i++)
        f.push_back(offset + i < data.size() ? data[offset + i] : 0);
    return f;
}
