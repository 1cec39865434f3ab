// The remote link's security at work: the key derivation, the time from a TCP
// connection to an open session (TLS keyed by the code, then the handshake and
// the code frame) against the plain dialect, and the processor time of moving a
// busy session's bytes through TLS against a plain socket pair.
// Usage: bench_remote_link [SESSIONS]
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "platform/Socket.h"
#include "wire/Tls.h"
#include "remote/Wsocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kCode = "ABCDEFGHJKLM";
constexpr double kBusyBytesPerSecond = 256000; // raw stereo audio, spectrum, status

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int connectLocal(int port) {
    for (int i = 0; i < 500; i++) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            return fd;
        close(fd);
        usleep(10000);
    }
    return -1;
}

// Through the socket's TLS when it has one, as the program writes.
bool sendAll(int fd, const void* p, size_t n) { return LinkWrite(fd, p, n, 5000, PortWanted()) == PortStatus::Ok; }

// Reads up to the blank line that ends the server's answer.
bool readAnswer(int fd) {
    std::string got;
    char c;
    while (got.size() < 4096 && got.find("\r\n\r\n") == std::string::npos) {
        PortStatus st;
        if (LinkRead(fd, &c, 1, 5000, PortWanted(), &st) != 1)
            return false;
        got += c;
    }
    return got.find("101 Switching Protocols") != std::string::npos;
}

// One session from connect to the server's "connected"; its milliseconds.
double oneSession(Works* w, int port, bool tls) {
    const auto t0 = std::chrono::steady_clock::now();
    int fd = connectLocal(port);
    if (fd < 0)
        return -1;
    TlsLinkPtr link;
    if (tls) {
        TlsPsk psk;
        TlsPskFor(kCode, &psk);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::string why;
        if (TlsStart(TlsRole::Client, fd, psk, plat_mono_ms() + 5000, PortWanted(), &link, &why) != TlsResult::Ok) {
            std::fprintf(stderr, "TLS: %s\n", why.c_str());
            close(fd);
            return -1;
        }
    }
    const std::string request = "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                "Connection: keep-alive, Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Sec-WebSocket-Protocol: chat\r\nSec-WebSocket-Version: 13\r\n\r\n";
    std::string code = std::string("\x81\x0C\0\0\0\0", 6) + kCode;
    double ms = -1;
    if (sendAll(fd, request.data(), request.size()) && readAnswer(fd) && sendAll(fd, code.data(), code.size())) {
        for (int i = 0; i < 5000 && !w->remoteConnected; i++)
            usleep(200);
        if (w->remoteConnected)
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }
    link.reset();
    close(fd);
    for (int i = 0; i < 5000 && w->remoteConnected; i++)
        usleep(1000);
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Processor seconds (all threads) for `bytes` sent one way in 1200-byte writes
// and read on the other side.
double moveBytes(int writeFd, int readFd, size_t bytes) {
    std::thread reader([readFd, bytes] {
        std::vector<char> buf(65536);
        size_t got = 0;
        while (got < bytes) {
            PortStatus st;
            const ssize_t r = LinkRead(readFd, buf.data(), buf.size(), 5000, PortWanted(), &st);
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
    });
    std::vector<char> block(1200, 'x');
    const double c0 = processCpuSeconds();
    for (size_t sent = 0; sent < bytes; sent += block.size())
        sendAll(writeFd, block.data(), block.size());
    reader.join();
    return processCpuSeconds() - c0;
}

} // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::atoi(argv[1]) : 20;
    signal(SIGPIPE, SIG_IGN); // as the program does

    char tmpl[] = "/tmp/panel-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const std::string root = tmpl;
    std::string err;
    if (!SimRootCreate(root, SimRootOptions{}, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    plat_set_root(root.c_str());

    // The key derivation, once per code.
    std::vector<double> derive;
    for (int i = 0; i < 5; i++) {
        TlsPsk psk;
        std::string code = kCode;
        code[11] = "ABCDE"[i];
        const auto t0 = std::chrono::steady_clock::now();
        TlsPskFor(code.c_str(), &psk);
        derive.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("key derivation (PBKDF2-HMAC-SHA256, 200000 iterations): %.0f ms, once per code\n", median(derive));

    static Works w;
    static SetupRecord setup;
    static std::mutex sendMut, connMut, serMut;
    w.setup = &setup;
    w.wsSendMut = &sendMut;
    w.connMut = &connMut;
    w.serMut = &serMut;
    InitGlobalVar(&w);
    initSetup(&w);
    w.remotePassword.set(kCode);
    const int port = 20000 + getpid() % 20000;
    w.settings.tcpPort = static_cast<int16_t>(port);
    setup.WebSocket = '1';
    SetSettingText(&w, "RemotePlain", "1");
    plat_set_time_scale(20); // the server's 2 s before it listens
    std::thread server(Wsocket, &w);

    for (bool tls : {false, true}) {
        std::vector<double> ms;
        for (int i = 0; i < sessions; i++) {
            const double t = oneSession(&w, port, tls);
            if (t >= 0)
                ms.push_back(t);
        }
        std::printf("connect to open session, %s: median %.2f ms (wall clock) over %zu sessions (loopback)\n",
                    tls ? "TLS 1.3 with the code's key" : "plain dialect", median(ms), ms.size());
    }
    w.running = 0;
    server.join();

    // The bytes of a busy session: through TLS, and through a plain pair.
    const size_t bytes = 64u << 20;
    int plain[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, plain);
    const double plainCpu = moveBytes(plain[0], plain[1], bytes);
    close(plain[0]);
    close(plain[1]);

    int tcp[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tcp);
    for (int fd : tcp)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    TlsPsk psk;
    TlsPskFor(kCode, &psk);
    TlsLinkPtr serverLink, clientLink;
    std::string why;
    std::thread accept(
        [&] { TlsStart(TlsRole::Server, tcp[0], psk, plat_mono_ms() + 5000, PortWanted(), &serverLink, &why); });
    const TlsResult r = TlsStart(TlsRole::Client, tcp[1], psk, plat_mono_ms() + 5000, PortWanted(), &clientLink, &why);
    accept.join();
    if (r != TlsResult::Ok || !serverLink) {
        std::fprintf(stderr, "TLS pair failed: %s\n", why.c_str());
        return 1;
    }
    const double tlsCpu = moveBytes(tcp[0], tcp[1], bytes);
    serverLink.reset();
    clientLink.reset();
    close(tcp[0]);
    close(tcp[1]);

    const double mb = bytes / 1e6;
    std::printf("processor time per MB, both ends in this process: plain %.2f ms, TLS %.2f ms\n",
                plainCpu * 1000 / mb, tlsCpu * 1000 / mb);
    std::printf("a busy session (%.0f kB/s): plain %.2f %%, TLS %.2f %% of a core, both ends\n",
                kBusyBytesPerSecond / 1000, plainCpu / mb * kBusyBytesPerSecond / 1e6 * 100,
                tlsCpu / mb * kBusyBytesPerSecond / 1e6 * 100);
    std::filesystem::remove_all(root);
    return 0;
}
