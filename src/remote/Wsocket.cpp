// The WebSocket server and client threads of remote operation.
//
// One session at a time. The server takes up to four strangers at once, each on
// its own thread with 5 s for TLS (keyed by the unit's code), the handshake and
// the code frame; a stranger that is silent or slow only loses its own time.
// Before the code, a frame of any other kind ends the connection, and nothing is
// sent (the senders wait for remoteConnected). Failures slow their address down
// (Throttle.h). The client speaks TLS too, unless RemotePlain says the server is
// an older unit.
#include "remote/Wsocket.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Socket.h"
#include "core/Services.h"
#include "platform/Thread.h"
#include "wire/Frames.h"
#include "wire/Handshake.h"
#include "remote/Receive.h"
#include "remote/StationRecord.h"
#include "remote/Throttle.h"
#include "wire/Tls.h"
#include "remote/TxGuard.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kListenDelayMs = 2000;
constexpr int kConnectRetryMs = 2000;
constexpr int kConnectTimeoutMs = 2000;
constexpr size_t kCodeFrameMax = 2 + 125 + 4; // a short text frame

PortWanted wantedOf(Works* w) {
    return [w] { return w->running && ThreadStillWanted(); };
}

// The socket for the senders, given to them under their lock.
void publishSocket(Works* w, int fd) {
    std::lock_guard<std::mutex> lock(*w->wsSendMut);
    w->wsFD = fd;
}

// Ends the session: senders stop before the socket goes, so none writes to a
// closed (or reused) descriptor; its TLS, if any, ends before it.
void closeSession(Works* w, int fd, TlsLinkPtr* link) {
    {
        std::lock_guard<std::mutex> lock(*w->connMut);
        w->remoteConnected = 0;
    }
    {
        std::lock_guard<std::mutex> lock(*w->wsSendMut);
        w->wsFD = -1;
    }
    link->reset();
    if (close(fd) != 0)
        LogErr("TCP close Error");
}

// Frames until the session ends; true when the access code was accepted.
bool serve(Works* w, RemoteSession* s, int fd, WsFrame* frame, const PortWanted& wanted) {
    while (wanted()) {
        const size_t max = s->isFirst == 1 ? kCodeFrameMax : kWsFrameMax;
        if (WsReadFrame(fd, frame, s->role, max, wanted) != WsRead::Ok)
            break;
        if (RemoteReceive(w, s, *frame) != Dispatch::Continue)
            break;
    }
    return s->isFirst == 2 && w->remoteConnected;
}

// The client's Base64 key, drawn once per process and used for every reconnection.
std::mutex g_keyMut;
std::string g_clientKey;

bool clientKey(std::string* key) {
    std::lock_guard<std::mutex> lock(g_keyMut);
    if (g_clientKey.empty()) {
        uint8_t raw[16];
        const int r = plat_random_bytes(raw, sizeof raw);
        if (r < 0) {
            LogErr("/dev/urandom error %d", errno);
            return false;
        }
        if (r > 0) {
            LogErr("/dev/urandom read %d instead of 16, error=%d", r, errno);
            return false;
        }
        gchar* b64 = g_base64_encode(raw, sizeof raw);
        g_clientKey = b64;
        g_free(b64);
    }
    *key = g_clientKey;
    return true;
}

// The access code as a short text frame with a zero key.
bool sendAccessCode(Works* w, int fd, const PortWanted& wanted) {
    char code[16];
    w->remotePassword.copyTo(code, sizeof code);
    const size_t n = std::strlen(code);
    uint8_t f[6 + sizeof code] = {0x81, static_cast<uint8_t>(n), 0, 0, 0, 0};
    std::memcpy(f + 6, code, n);
    return LinkWrite(fd, f, n + 6, 1000, wanted) == PortStatus::Ok;
}

} // namespace

namespace {

constexpr int kPendingMax = 4;      // connections at once before their code
static_assert(kPendingMax + 1 == kPeerJobs, "a job slot for each, and one for the session");
constexpr int kAuthMs = 5000;       // TLS, handshake and code, all of it
constexpr int kFloodLogMs = 10000;  // "every slot busy" at most this often

struct Server {
    Works* w;
    // Four waiting for their code and the session: one job slot each.
    std::atomic<bool> busy[kPendingMax + 1]{};
    std::atomic<int> pending{0};
    int64_t floodLoggedMs = -kFloodLogMs;
};

bool codeUsable(Works* w, char* code, size_t size) {
    w->remotePassword.copyTo(code, size);
    return code[0] != '\0';
}

// The first byte tells TLS (a handshake record, 0x16) from the plain dialect.
int firstByte(int fd, const PortWanted& wanted, int64_t deadlineMs) {
    const int64_t left = deadlineMs - plat_mono_ms();
    if (left <= 0 || plat_wait_fd(fd, POLLIN, static_cast<int>(left), wanted) != PortStatus::Ok)
        return -1;
    uint8_t b;
    return recv(fd, &b, 1, MSG_PEEK) == 1 ? b : -1;
}

} // namespace

bool RemoteAuthenticate(Works* w, int fd, const char* peer, RemoteSession* s, WsFrame* frame, TlsLinkPtr* link) {
    const int64_t deadline = plat_mono_ms() + kAuthMs;
    const PortWanted wanted = [w, deadline] {
        return w->running && ThreadStillWanted() && plat_mono_ms() < deadline;
    };
    char code[16];
    if (!codeUsable(w, code, sizeof code)) {
        LogErr("remote: this unit has no access code: %s closed", peer);
        return false;
    }
    const int first = firstByte(fd, wanted, deadline);
    if (first < 0) {
        LogErr("remote: %s sent nothing within %d s", peer, kAuthMs / 1000);
        return false;
    }
    if (first == 0x16) {
        TlsPsk psk;
        if (!TlsPskFor(code, &psk))
            return false;
        std::string why;
        if (TlsStart(TlsRole::Server, fd, psk, deadline, wanted, link, &why) != TlsResult::Ok) {
            LogErr("remote: %s: %s", peer, why.c_str());
            return false;
        }
    } else if (SettingChar(w, "RemotePlain") == '1') {
        LogInfo("remote: plain session from %s", peer);
    } else {
        LogErr("remote: %s did not start TLS, closed", peer);
        return false;
    }
    if (!WsServerHandshake(w, fd, wanted))
        return false;
    s->isFirst = 1;
    if (WsReadFrame(fd, frame, s->role, kCodeFrameMax, wanted) != WsRead::Ok)
        return false;
    return RemoteReceive(w, s, *frame) == Dispatch::Continue;
}

namespace {

// One connection from accept to close.
void handle(Server* srv, int slot, int fd, std::string peer) {
    Works* w = srv->w;
    LogInfo("Connected by %s", peer.c_str());
    auto session = std::make_unique<RemoteSession>();
    session->role = WsRole::Server;
    auto frame = std::make_unique<WsFrame>();
    TlsLinkPtr link;
    const bool ok = RemoteAuthenticate(w, fd, peer.c_str(), session.get(), frame.get(), &link);
    srv->pending--;
    bool closed = false;
    if (!ok) {
        ThrottleFailure(UnitThrottle(), peer.c_str(), plat_mono_ms());
    } else {
        ThrottleSuccess(UnitThrottle(), peer.c_str(), plat_mono_ms());
        if (RemoteClaimSession(w, fd, peer.c_str())) {
            serve(w, session.get(), fd, frame.get(), wantedOf(w));
            LogInfo("TCP exiting");
            closeSession(w, fd, &link);
            LogInfo("TCP closed");
            closed = true;
            RemoteSessionEnded(w);
        }
    }
    if (!closed) {
        link.reset();
        close(fd);
    }
    srv->busy[slot] = false;
}

} // namespace

bool RemoteClaimSession(Works* w, int fd, const char* peer) {
    {
        std::lock_guard<std::mutex> lock(*w->connMut);
        if (w->remoteConnected) {
            LogErr("remote: a second operator from %s refused: a session is up", peer);
            return false;
        }
        publishSocket(w, fd);
        w->remoteConnected = 1;
        LogStdout("connected\n");
    }
    LogInfo("Receiving data");
    return true;
}

void Wsocket(Works* w) {
    const int port = static_cast<uint16_t>(w->settings.tcpPort.load());
    LogInfo("Wsocket on port %d mode %c", port, w->setup->WebSocket.load());
    LogStdout("wsocket\n");
    SleepWhileRunning(w, kListenDelayMs);
    const PortWanted wanted = wantedOf(w);
    if (!wanted())
        return;
    char code[16];
    TlsPsk psk;
    // The key is derived once, before the first stranger waits for it.
    if (codeUsable(w, code, sizeof code))
        TlsPskFor(code, &psk);
    TcpListenError err;
    const int lfd = plat_tcp_listen(port, 8, &err);
    if (lfd < 0) {
        if (err == TcpListenError::Socket)
            LogErr("Socket open error %d", errno);
        else if (err == TcpListenError::Bind)
            LogErr("Binding error %d", errno);
        else
            LogErr("Listening error %d", errno);
        return;
    }
    LogInfo("Listening on port %d", port);

    auto srv = std::make_unique<Server>();
    srv->w = w;
    w->remoteConnected = 0;
    while (wanted()) {
        std::string peer;
        PortStatus st;
        const int fd = plat_tcp_accept(lfd, wanted, &peer, &st);
        if (fd < 0) {
            if (st == PortStatus::Failed)
                LogErr("Accept-ing error %d", errno);
            break;
        }
        const int64_t now = plat_mono_ms();
        if (ThrottleAdmit(UnitThrottle(), peer.c_str(), now) != Admit::Yes) {
            close(fd); // unread
            continue;
        }
        int slot = -1;
        if (srv->pending < kPendingMax)
            for (int i = 0; i <= kPendingMax && slot < 0; i++)
                if (!srv->busy[i])
                    slot = i;
        if (slot < 0) {
            if (now - srv->floodLoggedMs >= kFloodLogMs) {
                LogErr("remote: %d connections wait for their code: %s closed", kPendingMax, peer.c_str());
                srv->floodLoggedMs = now;
            }
            close(fd);
            continue;
        }
        srv->busy[slot] = true;
        srv->pending++;
        Server* s = srv.get();
        if (!StartJob(Job::Peer, slot, [s, slot, fd, peer] { handle(s, slot, fd, peer); })) {
            srv->busy[slot] = false;
            srv->pending--;
            close(fd);
        }
    }
    for (int i = 0; i <= kPendingMax; i++)
        StopJob(Job::Peer, i);
    close(lfd);
}

void Wclient(Works* w) {
    char server[101];
    w->serverAddr.copyTo(server, sizeof server);
    const int port = static_cast<uint16_t>(w->settings.tcpPort.load());
    LogInfo("Wclient to server %s on port %d mode %c", server, port, w->setup->WebSocket.load());
    std::string key;
    if (!clientKey(&key))
        return;
    const PortWanted wanted = wantedOf(w);
    RemoteSession session;
    session.role = WsRole::Client;
    auto frame = std::make_unique<WsFrame>();

    while (wanted()) {
        w->remoteConnected = 0;
        int fd = plat_tcp_socket();
        if (fd < 0) {
            LogErr("Socket error %d", errno);
            return;
        }
        LogInfo("Socket for TCP created");
        sockaddr_in address;
        if (!plat_tcp_resolve(server, port, &address)) {
            LogOut("ERROR, no such host as %s\n", server);
            close(fd);
            return;
        }
        LogInfo("server ok");
        LogInfo("TCP bound");
        PortStatus st;
        while ((st = plat_tcp_connect(fd, address, kConnectTimeoutMs, wanted)) != PortStatus::Ok) {
            close(fd);
            if (st == PortStatus::Stopped)
                return;
            LogOut("Connect Error\n");
            w->remoteConnected = 0;
            SleepWhileRunning(w, kConnectRetryMs);
            if (!wanted())
                return;
            fd = plat_tcp_socket();
            if (fd < 0) {
                LogErr("Socket error %d", errno);
                return;
            }
        }
        LogOut("TCP connected\n");

        // TLS keyed by the code, unless this unit talks to an older server.
        TlsLinkPtr link;
        if (SettingChar(w, "RemotePlain") != '1') {
            char code[16];
            TlsPsk psk;
            std::string why;
            TlsResult tls = TlsResult::Failed;
            if (!codeUsable(w, code, sizeof code))
                why = "this unit has no access code";
            else if (TlsPskFor(code, &psk))
                tls = TlsStart(TlsRole::Client, fd, psk, plat_mono_ms() + kWsHandshakeMs, wanted, &link, &why);
            if (tls != TlsResult::Ok) {
                if (tls != TlsResult::Stopped)
                    LogErr("remote: server %s: %s", server, why.c_str());
                close(fd);
                if (tls == TlsResult::Stopped)
                    return;
                SleepWhileRunning(w, kConnectRetryMs);
                continue;
            }
        }
        const WsClientResult hs = WsClientHandshake(w, fd, key.c_str(), wanted);
        if (hs == WsClientResult::WrongAccept) {
            // Not the amplifier's unit: the program ends.
            link.reset();
            close(fd);
            plat_sleep_ms(1000);
            w->running = 0;
            return;
        }
        if (hs == WsClientResult::Ok && sendAccessCode(w, fd, wanted)) {
            StationViewForget(w); // nothing of the last session's station is shown
            publishSocket(w, fd);
            w->remoteConnected = 1;
            plat_sleep_ms(20);
            LogInfo("Websocket Connected");
            while (w->remoteConnected && wanted()) {
                if (WsReadFrame(fd, frame.get(), WsRole::Client, kWsFrameMax, wanted) != WsRead::Ok)
                    break;
                if (RemoteReceive(w, &session, *frame) != Dispatch::Continue)
                    break;
            }
        }
        closeSession(w, fd, &link);
        LogInfo("reconnecting");
        SleepWhileRunning(w, 100);
    }
}
