// The WebSocket server and client threads of remote operation.
//
// One session at a time. The server answers a peer's handshake, then takes
// nothing but the access code until the code is right: before it, a frame of
// any other kind ends the session, and nothing is sent (the senders wait for
// remoteConnected). A wrong code holds the next accept back by a second.
#include "remote/Wsocket.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "remote/Frames.h"
#include "remote/Handshake.h"
#include "remote/Receive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

constexpr int kListenDelayMs = 2000;
constexpr int kWrongCodePauseMs = 1000;
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
// closed (or reused) descriptor.
void closeSession(Works* w, int fd) {
    {
        std::lock_guard<std::mutex> lock(*w->connMut);
        w->remoteConnected = 0;
    }
    {
        std::lock_guard<std::mutex> lock(*w->wsSendMut);
        w->wsFD = -1;
    }
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
    return plat_port_write(fd, f, n + 6, 1000, wanted) == PortStatus::Ok;
}

} // namespace

void Wsocket(Works* w) {
    const int port = static_cast<uint16_t>(w->tcpPort.load());
    LogInfo("Wsocket on port %d mode %c", port, w->setup->WebSocket.load());
    LogStdout("wsocket\n");
    SleepWhileRunning(w, kListenDelayMs);
    const PortWanted wanted = wantedOf(w);
    if (!wanted())
        return;
    TcpListenError err;
    const int lfd = plat_tcp_listen(port, 1, &err);
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

    RemoteSession session;
    session.role = WsRole::Server;
    auto frame = std::make_unique<WsFrame>();
    while (wanted()) {
        w->remoteConnected = 0;
        std::string peer;
        PortStatus st;
        const int fd = plat_tcp_accept(lfd, wanted, &peer, &st);
        if (fd < 0) {
            if (st == PortStatus::Failed)
                LogErr("Accept-ing error %d", errno);
            break;
        }
        LogInfo("Connected by %s", peer.c_str());
        bool accepted = false;
        if (WsServerHandshake(w, fd, wanted)) {
            publishSocket(w, fd);
            session.isFirst = 1;
            accepted = serve(w, &session, fd, frame.get(), wanted);
        }
        LogInfo("TCP exiting");
        const bool codeTried = session.isFirst == 2;
        closeSession(w, fd);
        LogInfo("TCP closed");
        session.isFirst = 0;
        // A peer that got the code wrong (or sent anything else first) tries
        // again a second later at the soonest.
        if (codeTried && !accepted)
            SleepWhileRunning(w, kWrongCodePauseMs);
    }
    close(lfd);
}

void Wclient(Works* w) {
    char server[101];
    w->serverAddr.copyTo(server, sizeof server);
    const int port = static_cast<uint16_t>(w->tcpPort.load());
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

        const WsClientResult hs = WsClientHandshake(w, fd, key.c_str(), wanted);
        if (hs == WsClientResult::WrongAccept) {
            // Not the amplifier's unit: the program ends.
            close(fd);
            plat_sleep_ms(1000);
            w->running = 0;
            return;
        }
        if (hs == WsClientResult::Ok && sendAccessCode(w, fd, wanted)) {
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
        closeSession(w, fd);
        LogInfo("reconnecting");
        SleepWhileRunning(w, 100);
    }
}
