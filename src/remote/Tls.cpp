// TLS 1.3 with the code's key, and the pump between TLS and the dialect.
#include "remote/Tls.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Thread.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <mutex>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// TLS_AES_128_GCM_SHA256: the key's session needs a cipher of the key's hash.
constexpr unsigned char kPskCipherId[] = {0x13, 0x01};
constexpr size_t kPumpBuffer = 16384; // one TLS record's worth each way
constexpr int kPairBuffer = 65536;     // asked for; the kernel doubles it
constexpr int kTcpBuffer = 32768;

std::mutex g_pskMut;
std::string g_pskCode; // the code the kept key belongs to
TlsPsk g_psk{};

// The key for this connection, set on its SSL before the handshake.
int g_pskIndex = -1;
std::once_flag g_pskIndexOnce;

int pskIndex() {
    std::call_once(g_pskIndexOnce, [] { g_pskIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr); });
    return g_pskIndex;
}

SSL_SESSION* pskSession(SSL* ssl) {
    const auto* psk = static_cast<const TlsPsk*>(SSL_get_ex_data(ssl, pskIndex()));
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kPskCipherId);
    if (!psk || !cipher)
        return nullptr;
    SSL_SESSION* s = SSL_SESSION_new();
    if (!s)
        return nullptr;
    if (!SSL_SESSION_set1_master_key(s, psk->data(), psk->size()) || !SSL_SESSION_set_cipher(s, cipher) ||
        !SSL_SESSION_set_protocol_version(s, TLS1_3_VERSION)) {
        SSL_SESSION_free(s);
        return nullptr;
    }
    return s;
}

// Server: the only identity is ours; another one finds no key, and without a
// certificate the handshake then fails.
int findPsk(SSL* ssl, const unsigned char* identity, size_t len, SSL_SESSION** session) {
    *session = nullptr;
    if (len == std::strlen(kTlsPskIdentity) && std::memcmp(identity, kTlsPskIdentity, len) == 0)
        *session = pskSession(ssl);
    return 1;
}

int usePsk(SSL* ssl, const EVP_MD*, const unsigned char** id, size_t* idLen, SSL_SESSION** session) {
    *session = pskSession(ssl);
    *id = reinterpret_cast<const unsigned char*>(kTlsPskIdentity);
    *idLen = std::strlen(kTlsPskIdentity);
    return *session ? 1 : 0;
}

SSL_CTX* makeContext(TlsRole role) {
    SSL_CTX* ctx = SSL_CTX_new(role == TlsRole::Server ? TLS_server_method() : TLS_client_method());
    if (!ctx)
        return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION);
    SSL_CTX_set_ciphersuites(ctx, "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256");
    SSL_CTX_set_num_tickets(ctx, 0); // no resumption: every session proves the code
    // Partial writes let the pump hand over what fits and come back for the rest.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (role == TlsRole::Server)
        SSL_CTX_set_psk_find_session_callback(ctx, findPsk);
    else
        SSL_CTX_set_psk_use_session_callback(ctx, usePsk);
    return ctx;
}

SSL_CTX* context(TlsRole role) {
    // Made once per role; SSL_CTX is safe to share between threads.
    static SSL_CTX* server = makeContext(TlsRole::Server);
    static SSL_CTX* client = makeContext(TlsRole::Client);
    return role == TlsRole::Server ? server : client;
}

std::string sslErrors() {
    std::string out;
    while (unsigned long e = ERR_get_error()) {
        char buf[160];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty())
            out += "; ";
        out += buf;
    }
    return out;
}

bool nonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

bool TlsPskFor(const char* code, TlsPsk* psk) {
    std::lock_guard<std::mutex> lock(g_pskMut);
    if (g_pskCode.empty() || g_pskCode != code) {
        TlsPsk k{};
        if (PKCS5_PBKDF2_HMAC(code, static_cast<int>(std::strlen(code)),
                              reinterpret_cast<const unsigned char*>(kTlsPskSalt),
                              static_cast<int>(std::strlen(kTlsPskSalt)), kTlsPskIterations, EVP_sha256(),
                              static_cast<int>(k.size()), k.data()) != 1) {
            LogErr("remote: key derivation failed: %s", sslErrors().c_str());
            return false;
        }
        g_psk = k;
        g_pskCode = code;
    }
    *psk = g_psk;
    return true;
}

std::string TlsPskHex(const TlsPsk& psk) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : psk) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

struct TlsLink {
    SSL* ssl = nullptr;
    int tcpFd = -1;
    int pumpFd = -1; // the pump's end of the pair
    TlsPsk psk{};
    ThreadSlot thread;
    uint8_t in[kPumpBuffer]; // from the peer, not yet given to the dialect
    size_t inLen = 0;
    uint8_t out[kPumpBuffer]; // from the dialect, not yet taken by TLS
    size_t outLen = 0;
    bool peerEnded = false; // TLS closed: what is in `in` still goes to the dialect
};

namespace {

enum class Step { Progress, Idle, End };

// The TCP event an SSL call that could not finish waits for; 0 when it failed.
short tcpEventFor(SSL* ssl, int result) {
    const int e = SSL_get_error(ssl, result);
    return e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
}

// Moves what can move without waiting; `wantTcp` gets the TCP events TLS waits for.
Step pumpOnce(TlsLink* l, short* wantTcp) {
    bool moved = false;
    *wantTcp = 0;
    // Peer -> dialect.
    if (!l->peerEnded && l->inLen < sizeof l->in) {
        const int n = SSL_read(l->ssl, l->in + l->inLen, static_cast<int>(sizeof l->in - l->inLen));
        if (n > 0) {
            l->inLen += static_cast<size_t>(n);
            moved = true;
        } else if (const short ev = tcpEventFor(l->ssl, n)) {
            *wantTcp |= ev;
        } else {
            l->peerEnded = true; // closed by the peer, or broken
        }
    }
    if (l->peerEnded && l->inLen == 0)
        return Step::End;
    if (l->inLen > 0) {
        const ssize_t n = send(l->pumpFd, l->in, l->inLen, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            std::memmove(l->in, l->in + n, l->inLen - static_cast<size_t>(n));
            l->inLen -= static_cast<size_t>(n);
            moved = true;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Step::End;
        }
    }
    if (l->peerEnded)
        return moved ? Step::Progress : Step::Idle;
    // Dialect -> peer.
    if (l->outLen < sizeof l->out) {
        const ssize_t n = recv(l->pumpFd, l->out + l->outLen, sizeof l->out - l->outLen, MSG_DONTWAIT);
        if (n > 0) {
            l->outLen += static_cast<size_t>(n);
            moved = true;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return Step::End; // the dialect closed its end
        }
    }
    if (l->outLen > 0) {
        const int n = SSL_write(l->ssl, l->out, static_cast<int>(l->outLen));
        if (n > 0) {
            std::memmove(l->out, l->out + n, l->outLen - static_cast<size_t>(n));
            l->outLen -= static_cast<size_t>(n);
            moved = true;
        } else if (const short ev = tcpEventFor(l->ssl, n)) {
            *wantTcp |= ev;
        } else {
            return Step::End;
        }
    }
    return moved ? Step::Progress : Step::Idle;
}

void pump(TlsLink* l) {
    const PortWanted wanted = [] { return ThreadStillWanted(); };
    for (;;) {
        short wantTcp = 0;
        const Step s = pumpOnce(l, &wantTcp);
        if (s == Step::End)
            break;
        if (s == Step::Progress)
            continue;
        // Once TLS has ended only the dialect's end is watched, until it has
        // taken the rest.
        pollfd p[2] = {{l->peerEnded ? -1 : l->tcpFd, wantTcp, 0}, {l->pumpFd, 0, 0}};
        if (l->inLen > 0)
            p[1].events |= POLLOUT;
        if (!l->peerEnded && l->outLen < sizeof l->out)
            p[1].events |= POLLIN;
        const PortStatus st = plat_wait_fds(p, 2, -1, wanted);
        if (st == PortStatus::Stopped || st == PortStatus::Failed)
            break;
        if ((p[0].revents & (POLLERR | POLLNVAL)) || (p[1].revents & (POLLERR | POLLNVAL)))
            break;
        // A hang-up with nothing to read is the end; with data, the reads above see it.
        if ((p[1].revents & POLLHUP) && !(p[1].revents & POLLIN))
            break;
        if ((p[0].revents & POLLHUP) && !(p[0].revents & POLLIN))
            break;
    }
    // What the dialect wrote last (a closing frame) goes out if it can at once.
    if (l->outLen > 0)
        SSL_write(l->ssl, l->out, static_cast<int>(l->outLen));
    SSL_shutdown(l->ssl);
    // The dialect's reads see the end.
    shutdown(l->pumpFd, SHUT_RDWR);
}

} // namespace

void TlsLinkDeleter::operator()(TlsLink* l) const {
    if (!l)
        return;
    JoinThread(l->thread);
    if (l->ssl)
        SSL_free(l->ssl);
    if (l->pumpFd >= 0)
        close(l->pumpFd);
    if (l->tcpFd >= 0)
        close(l->tcpFd);
    delete l;
}

TlsResult TlsStart(TlsRole role, int tcpFd, const TlsPsk& psk, int64_t deadlineMs, const PortWanted& wanted,
                   int* dialectFd, TlsLinkPtr* link, std::string* why) {
    SSL_CTX* ctx = context(role);
    std::unique_ptr<TlsLink> l(new TlsLink);
    l->psk = psk;
    l->ssl = ctx ? SSL_new(ctx) : nullptr;
    auto fail = [&](TlsResult r, const char* what) {
        *why = what;
        const std::string detail = sslErrors();
        if (!detail.empty())
            *why += ": " + detail;
        if (l->ssl)
            SSL_free(l->ssl);
        return r;
    };
    if (!l->ssl || !SSL_set_ex_data(l->ssl, pskIndex(), &l->psk) || !SSL_set_fd(l->ssl, tcpFd))
        return fail(TlsResult::Failed, "TLS set-up failed");
    // Records go out as the pump makes them: Nagle's wait for an ACK would hold
    // each small one (a status frame, an audio block) for tens of ms.
    const int on = 1;
    setsockopt(tcpFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // fails harmlessly off TCP
    for (;;) {
        ERR_clear_error();
        const int r = role == TlsRole::Server ? SSL_accept(l->ssl) : SSL_connect(l->ssl);
        if (r == 1)
            break;
        const short events = tcpEventFor(l->ssl, r);
        if (!events)
            return fail(TlsResult::Failed, "TLS handshake failed");
        const int64_t left = deadlineMs - plat_mono_ms();
        if (left <= 0)
            return fail(TlsResult::TimedOut, "TLS handshake timed out");
        const PortStatus st = plat_wait_fd(tcpFd, events, static_cast<int>(left), wanted);
        // A caller's wish that ends with the deadline counts as the deadline.
        if (st == PortStatus::TimedOut || (st == PortStatus::Stopped && plat_mono_ms() >= deadlineMs))
            return fail(TlsResult::TimedOut, "TLS handshake timed out");
        if (st == PortStatus::Stopped)
            return fail(TlsResult::Stopped, "TLS handshake stopped");
        if (st != PortStatus::Ok)
            return fail(TlsResult::Failed, "TLS handshake failed");
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0 || !nonBlocking(pair[0]) ||
        !nonBlocking(pair[1]))
        return fail(TlsResult::Failed, "socket pair failed");
    // The senders drop audio and spectra when their socket has no room
    // (plat_socket_send_room): small buffers on the pair and on TCP behind the
    // pump let a slow link show there soon, as a plain socket shows it, instead
    // of queueing seconds of audio.
    const int pairBuffer = kPairBuffer, tcpBuffer = kTcpBuffer;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &pairBuffer, sizeof pairBuffer);
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &pairBuffer, sizeof pairBuffer);
    setsockopt(tcpFd, SOL_SOCKET, SO_SNDBUF, &tcpBuffer, sizeof tcpBuffer);
    l->tcpFd = tcpFd;
    l->pumpFd = pair[1];
    TlsLink* raw = l.get();
    if (!StartThread(l->thread, "tls", [raw] { pump(raw); })) {
        close(pair[0]);
        close(pair[1]);
        l->tcpFd = -1; // still the caller's
        l->pumpFd = -1;
        return fail(TlsResult::Failed, "TLS pump not started");
    }
    *dialectFd = pair[0];
    link->reset(l.release());
    return TlsResult::Ok;
}
