// The amplifier protocol's server: one poll() over the listening socket and
// the clients, their bytes cut into commands, answered from the view of the
// amplifier (remote/AmpctlSource.h).
#include "remote/AmpctlServer.h"

#include "core/Settings.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "remote/AmpctlAccess.h"
#include "remote/AmpctlAnswer.h"
#include "remote/AmpctlCommand.h"
#include "remote/AmpctlSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

constexpr size_t kReadMax = 512;     // bytes taken from a client at once
constexpr int kListenPauseMs = 1000; // after accept failed (no descriptor left...)
constexpr int kRefusalKinds = 8;     // kinds of refusal remembered per client
constexpr int kRefusalLinesPerMinute = 20;

// A kind of refusal: the command, its argument and the code, as logged once.
struct RefusalKind {
    AmpctlCmd cmd = AmpctlCmd::Unknown;
    int code = 0;
    char arg[16] = {};
};

struct Client {
    int fd = -1;
    TcpPeer peer;
    bool mayChange = false;
    AmpctlReader reader;
    char in[kReadMax];
    size_t inLen = 0, inAt = 0;
    AmpctlAnswer out;  // out.len bytes to send, outAt of them sent
    size_t outAt = 0;
    int64_t heardMs = 0;
    RefusalKind refusals[kRefusalKinds]; // logged already
    int refusalCount = 0;
};

struct Server {
    Works* w = nullptr;
    int listenFd = -1;
    int64_t listenPausedUntilMs = 0;
    bool acceptFailLogged = false; // until a connection is taken again
    AmpctlAccess access;
    Client clients[kAmpctlClientsMax];
    // Connections refused in the current burst, and when the last one was.
    int refused = 0;
    int64_t refusedMs = 0;
    // Connections taken in the current second.
    int64_t secondMs = 0;
    int inSecond = 0;
    // Refusal lines of the current minute, and those not logged for it.
    int64_t minuteMs = 0;
    int refusalLines = 0, refusalsUnlogged = 0;
    AmpctlCommand command;
    AmpctlView view;
};

bool pending(const Client& c) { return c.outAt < c.out.len; }

void closeClient(Client& c) {
    if (c.fd >= 0)
        close(c.fd);
    c.fd = -1;
}

void refuse(Server& s, int fd, const char* peer, const char* why, int64_t now) {
    close(fd);
    if (s.refused++ == 0)
        LogErr("ampctl: %s refused: %s (until %lld s pass without one, refusals are counted, not logged)",
               peer, why, static_cast<long long>(kAmpctlBurstQuietMs / 1000));
    s.refusedMs = now;
}

void endBurst(Server& s, int64_t now) {
    if (s.refused == 0 || now - s.refusedMs < kAmpctlBurstQuietMs)
        return;
    if (s.refused > 1)
        LogErr("ampctl: %d connections refused in that burst", s.refused);
    s.refused = 0;
}

void acceptAll(Server& s, int64_t now) {
    for (int i = 0; i < 2 * kAmpctlConnectionsPerSecond; i++) {
        TcpPeer peer;
        const int fd = plat_tcp_accept_now(s.listenFd, &peer);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                if (!s.acceptFailLogged)
                    LogErr("ampctl: accept failed, error %d: connections wait, %d ms at a time", errno,
                           kListenPauseMs);
                s.acceptFailLogged = true;
                s.listenPausedUntilMs = now + kListenPauseMs;
            }
            return;
        }
        s.acceptFailLogged = false;
        if (now - s.secondMs >= 1000) {
            s.secondMs = now;
            s.inSecond = 0;
        }
        Client* c = nullptr;
        for (Client& k : s.clients)
            if (k.fd < 0 && !c)
                c = &k;
        if (++s.inSecond > kAmpctlConnectionsPerSecond) {
            refuse(s, fd, peer.text, "more than 16 connections a second", now);
        } else if (!c) {
            refuse(s, fd, peer.text, "8 clients are connected", now);
        } else {
            c->fd = fd;
            c->peer = peer;
            c->mayChange = AmpctlAccessAllows(s.access, peer.address);
            c->reader = AmpctlReader{};
            c->inLen = c->inAt = 0;
            c->out.len = c->outAt = 0;
            c->heardMs = now;
            c->refusalCount = 0;
        }
    }
}

// Sends what waits; false when the client has gone.
bool flush(Client& c) {
    while (pending(c)) {
        const ssize_t n = plat_socket_send_now(c.fd, c.out.text + c.outAt, c.out.len - c.outAt);
        if (n < 0)
            return false;
        if (n == 0)
            return true; // the rest when the socket takes it
        c.outAt += static_cast<size_t>(n);
    }
    c.out.len = c.outAt = 0;
    return true;
}

bool isChange(AmpctlCmd cmd) {
    switch (cmd) {
    case AmpctlCmd::SetFreq:
    case AmpctlCmd::SetLevel:
    case AmpctlCmd::SendCmd:
    case AmpctlCmd::Reset:
    case AmpctlCmd::SetPowerstat:
    case AmpctlCmd::SetAnt:
    case AmpctlCmd::AmpOp:
        return true;
    default:
        return false;
    }
}

// The code of the answer's "RPRT n", 1 when it has none.
int codeOf(const AmpctlAnswer& a) {
    const char* key = "RPRT ";
    for (size_t at = a.len; at-- > 0;)
        if (a.len - at > 5 && std::memcmp(a.text + at, key, 5) == 0)
            return std::atoi(a.text + at + 5);
    return 1;
}

// A refused change: logged once per client and kind (command, argument,
// code), and at most kRefusalLinesPerMinute lines a minute for all clients.
void logRefusal(Server& s, Client& c, const AmpctlCommand& cmd, const AmpctlAnswer& a, int64_t now) {
    const int code = codeOf(a);
    if (!isChange(cmd.cmd) || (code != kAmpctlRejected && code != kAmpctlNotAvailable && code != kAmpctlNotAllowed))
        return;
    RefusalKind kind;
    kind.cmd = cmd.cmd;
    kind.code = code;
    // The argument as text the log can hold: printable, short.
    for (size_t i = 0; i + 1 < sizeof kind.arg && cmd.args[0][i]; i++) {
        const char ch = cmd.args[0][i];
        kind.arg[i] = ch > ' ' && ch < 0x7f ? ch : '?';
    }
    for (int i = 0; i < c.refusalCount; i++)
        if (c.refusals[i].cmd == kind.cmd && c.refusals[i].code == code && std::strcmp(c.refusals[i].arg, kind.arg) == 0)
            return;
    if (c.refusalCount < kRefusalKinds)
        c.refusals[c.refusalCount++] = kind;
    if (now - s.minuteMs >= 60000) {
        if (s.refusalsUnlogged > 0)
            LogErr("ampctl: %d more refusals were not logged", s.refusalsUnlogged);
        s.minuteMs = now;
        s.refusalLines = s.refusalsUnlogged = 0;
    }
    if (s.refusalLines++ >= kRefusalLinesPerMinute) {
        s.refusalsUnlogged++;
        return;
    }
    const char* why = code == kAmpctlRejected      ? "the panel's rules refuse it now"
                      : code == kAmpctlNotAvailable ? "not available"
                                                    : "outside AmpctlControl, this client only reads";
    LogErr("ampctl: %s: %s %s refused with RPRT %d: %s", c.peer.text, AmpctlCommandName(cmd.cmd), kind.arg, code,
           why);
}

void answer(Server& s, Client& c) {
    s.view.mayChange = c.mayChange;
    AmpctlFillView(s.w, &s.view);
    AmpctlRespond(s.view, s.command, &c.out);
    if (c.out.request.action != AmpctlAction::None)
        AmpctlComplete(&c.out, AmpctlAsk(s.w, c.out.request, c.peer.text));
    logRefusal(s, c, s.command, c.out, plat_mono_ms());
    c.outAt = 0;
}

// Answers the client's commands that wait, while the answers go out at once;
// false when the client is to be closed.
bool serve(Server& s, Client& c) {
    while (!pending(c)) {
        // The reader may hold more commands of a line whose bytes are all taken.
        size_t used = 0;
        const AmpctlRead r = AmpctlNextCommand(&c.reader, c.in + c.inAt, c.inLen - c.inAt, &used, &s.command);
        c.inAt += used;
        if (r == AmpctlRead::NeedBytes) {
            c.inAt = c.inLen = 0;
            return true;
        }
        if (r == AmpctlRead::LineTooLong) {
            LogErr("ampctl: %s sent a line over %zu bytes: closed", c.peer.text, kAmpctlLineMax);
            return false;
        }
        answer(s, c);
        if (c.out.close || !flush(c))
            return false;
    }
    return true;
}

void step(Server& s, Client& c, short events, int64_t now) {
    bool keep = true;
    if (events & POLLERR) {
        keep = false;
    } else if (pending(c)) {
        keep = !(events & POLLOUT) || (flush(c) && serve(s, c));
    } else if (events & (POLLIN | POLLHUP)) {
        const ssize_t n = plat_socket_recv_now(c.fd, c.in, sizeof c.in);
        if (n > 0) {
            c.inLen = static_cast<size_t>(n);
            c.inAt = 0;
            c.heardMs = now;
            keep = serve(s, c);
        } else {
            keep = n == 0;
        }
    }
    if (!keep)
        closeClient(c);
}

void closeSilent(Server& s, int64_t now) {
    for (Client& c : s.clients) {
        if (c.fd < 0 || now - c.heardMs < kAmpctlSilentMs)
            continue;
        LogInfo("ampctl: %s silent for %lld minutes: closed", c.peer.text,
                static_cast<long long>(kAmpctlSilentMs / 60000));
        closeClient(c);
    }
}

// The next time something is due: a client's silence, a burst's end, the
// listening socket's pause; -1 when nothing is.
int nextDueMs(const Server& s, int64_t now) {
    int64_t due = -1;
    auto at = [&](int64_t t) { due = due < 0 ? t : std::min(due, t); };
    for (const Client& c : s.clients)
        if (c.fd >= 0)
            at(c.heardMs + kAmpctlSilentMs);
    if (s.refused > 0)
        at(s.refusedMs + kAmpctlBurstQuietMs);
    if (s.listenPausedUntilMs > now)
        at(s.listenPausedUntilMs);
    return due < 0 ? -1 : static_cast<int>(std::clamp<int64_t>(due - now, 0, 3600 * 1000));
}

} // namespace

void AmpctlServe(Works* w) {
    const long port = SettingNumber(w, "AmpctlPort");
    if (port <= 0 || port > 65535)
        return;
    char listenAt[kSettingTextMax], control[kSettingTextMax];
    SettingText(w, "AmpctlListen", listenAt, sizeof listenAt);
    SettingText(w, "AmpctlControl", control, sizeof control);
    auto s = std::make_unique<Server>();
    s->w = w;
    s->access = AmpctlAccessParse(control);
    if (s->access.refused > 0)
        LogErr("ampctl: AmpctlControl: %d words are no network or past the %dth (the first: \"%s\"): they allow "
               "nothing",
               s->access.refused, kAmpctlNetworksMax, s->access.firstRefused);
    TcpListenError err;
    s->listenFd = plat_tcp_listen_on(listenAt, static_cast<int>(port), 16, &err);
    if (s->listenFd < 0) {
        if (err == TcpListenError::Address)
            LogErr("ampctl: AmpctlListen \"%s\" is not an IPv4 or IPv6 address: no server", listenAt);
        else
            LogErr("ampctl: cannot listen on %s port %ld: %s", listenAt, port, std::strerror(errno));
        return;
    }
    LogInfo("ampctl: listening on %s port %ld; changes from %s", listenAt, port, control);

    const PortWanted wanted = [w] { return w->running && ThreadStillWanted(); };
    pollfd fds[1 + kAmpctlClientsMax];
    while (wanted()) {
        const int64_t now = plat_mono_ms();
        fds[0] = pollfd{now >= s->listenPausedUntilMs ? s->listenFd : -1, POLLIN, 0};
        for (int i = 0; i < kAmpctlClientsMax; i++) {
            const Client& c = s->clients[i];
            fds[1 + i] = pollfd{c.fd, static_cast<short>(pending(c) ? POLLOUT : POLLIN), 0};
        }
        const PortStatus st = plat_wait_fds(fds, 1 + kAmpctlClientsMax, nextDueMs(*s, now), wanted);
        if (st == PortStatus::Stopped)
            break;
        if (st == PortStatus::Failed) {
            LogErr("ampctl: poll failed, error %d: server ended", errno);
            break;
        }
        const int64_t t = plat_mono_ms();
        if (st == PortStatus::Ok) {
            if (fds[0].revents & POLLIN)
                acceptAll(*s, t);
            for (int i = 0; i < kAmpctlClientsMax; i++)
                if (fds[1 + i].revents && s->clients[i].fd >= 0)
                    step(*s, s->clients[i], fds[1 + i].revents, t);
        }
        closeSilent(*s, t);
        endBurst(*s, t);
    }
    for (Client& c : s->clients)
        closeClient(c);
    close(s->listenFd);
    LogInfo("ampctl: server ended");
}
