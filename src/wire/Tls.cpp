// TLS 1.3 with the code's key, and the dialect's reads and writes through it.
#include "wire/Tls.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "platform/Socket.h"

#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <mutex>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

namespace {

// TLS_AES_128_GCM_SHA256: the key's session needs a cipher of the key's hash.
constexpr unsigned char kPskCipherId[] = {0x13, 0x01};
constexpr size_t kRecordMax = 16384; // the most one TLS record carries
constexpr int kRecordOverhead = 22;  // header 5, AEAD tag 16, inner type 1
constexpr int kTcpBuffer = 32768;    // asked for; the kernel doubles it

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
    // A write that waits for the socket comes back with the rest, from wherever
    // the caller keeps it.
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
    int fd = -1; // the TCP socket, still its owner's
    TlsPsk psk{};
    // One SSL call at a time: the reader and the senders take turns, and none
    // holds it while it waits for the socket.
    std::mutex mu;
    bool writePending = false; // SSL holds a record the socket did not take yet
    bool ended = false;        // closed by the peer, broken, or a record cut off
};

namespace {

// The sessions' TCP sockets that carry TLS: at most the server's five
// connections and the client's, with room for tests that play both ends.
constexpr int kLinksMax = 32;
std::mutex g_linksMut;
struct LinkEntry {
    int fd;
    TlsLink* link;
};
LinkEntry g_links[kLinksMax];
int g_linkCount = 0;

bool registerLink(TlsLink* l) {
    std::lock_guard<std::mutex> lock(g_linksMut);
    if (g_linkCount >= kLinksMax)
        return false;
    g_links[g_linkCount++] = {l->fd, l};
    return true;
}

void unregisterLink(TlsLink* l) {
    std::lock_guard<std::mutex> lock(g_linksMut);
    for (int i = 0; i < g_linkCount; i++)
        if (g_links[i].link == l) {
            g_links[i] = g_links[--g_linkCount];
            return;
        }
}

TlsLink* linkOf(int fd) {
    std::lock_guard<std::mutex> lock(g_linksMut);
    for (int i = 0; i < g_linkCount; i++)
        if (g_links[i].fd == fd)
            return g_links[i].link;
    return nullptr;
}

// The socket event an SSL call that could not finish waits for; 0 when it failed.
short tcpEventFor(SSL* ssl, int result) {
    const int e = SSL_get_error(ssl, result);
    return e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
}

// Program time left before `end` (negative: none), or 0 when it has passed.
int leftUntil(int64_t end) {
    if (end < 0)
        return -1;
    const int64_t left = end - plat_mono_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

void TlsLinkDeleter::operator()(TlsLink* l) const {
    if (!l)
        return;
    unregisterLink(l);
    {
        std::lock_guard<std::mutex> lock(l->mu);
        // close_notify if it goes out at once; a record half sent cannot be followed.
        if (!l->ended && !l->writePending)
            SSL_shutdown(l->ssl);
    }
    SSL_free(l->ssl);
    delete l;
}

ssize_t LinkRead(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted, PortStatus* status) {
    TlsLink* l = linkOf(fd);
    if (!l)
        return plat_port_read(fd, buffer, n, timeoutMs, wanted, status);
    if (n == 0) { // SSL_read of nothing reads as a failure, which would end the session
        *status = PortStatus::Ok;
        return 0;
    }
    const int64_t end = timeoutMs < 0 ? -1 : plat_mono_ms() + timeoutMs;
    const int len = n > kRecordMax ? static_cast<int>(kRecordMax) : static_cast<int>(n);
    for (;;) {
        int r;
        short events = 0;
        {
            std::lock_guard<std::mutex> lock(l->mu);
            if (l->ended) {
                *status = PortStatus::HungUp;
                return 0;
            }
            ERR_clear_error();
            r = SSL_read(l->ssl, buffer, len);
            if (r <= 0 && !(events = tcpEventFor(l->ssl, r)))
                l->ended = true; // closed by the peer, or broken: both end the session
        }
        if (r > 0) {
            *status = PortStatus::Ok;
            return r;
        }
        if (!events) {
            *status = PortStatus::HungUp;
            return 0;
        }
        const int left = leftUntil(end);
        if (left == 0) {
            *status = PortStatus::TimedOut;
            return 0;
        }
        // Readable, or hung up: the next SSL_read tells which.
        *status = plat_wait_fd(l->fd, events, left, wanted);
        if (*status != PortStatus::Ok)
            return 0;
    }
}

PortStatus LinkReadExact(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t have = 0;
    const int64_t end = timeoutMs < 0 ? -1 : plat_mono_ms() + timeoutMs;
    while (have < n) {
        const int left = leftUntil(end);
        if (left == 0)
            return PortStatus::TimedOut;
        PortStatus st;
        const ssize_t r = LinkRead(fd, bytes + have, n - have, left, wanted, &st);
        if (st != PortStatus::Ok)
            return st;
        have += static_cast<size_t>(r);
    }
    return PortStatus::Ok;
}

PortStatus LinkWrite(int fd, const void* data, size_t n, int timeoutMs, const PortWanted& wanted,
                     size_t* written) {
    TlsLink* l = linkOf(fd);
    if (!l)
        return plat_port_write(fd, data, n, timeoutMs, wanted, written);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    const int64_t end = plat_mono_ms() + timeoutMs;
    PortStatus st = PortStatus::Ok;
    while (done < n) {
        int r;
        short events = 0;
        {
            std::lock_guard<std::mutex> lock(l->mu);
            if (l->ended) {
                st = PortStatus::HungUp;
                break;
            }
            ERR_clear_error();
            const size_t chunk = n - done > kRecordMax ? kRecordMax : n - done;
            r = SSL_write(l->ssl, bytes + done, static_cast<int>(chunk));
            if (r > 0)
                l->writePending = false;
            else if ((events = tcpEventFor(l->ssl, r)))
                l->writePending = true;
            else
                l->ended = true;
        }
        if (r > 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        if (!events) {
            st = PortStatus::HungUp;
            break;
        }
        const int left = leftUntil(end);
        short revents = 0;
        st = left == 0 ? PortStatus::TimedOut : plat_wait_fd(l->fd, events, left, wanted, &revents);
        if (st != PortStatus::Ok)
            break;
        if ((revents & (POLLHUP | POLLERR)) && !(revents & events)) {
            st = PortStatus::HungUp;
            break;
        }
    }
    if (written)
        *written = done;
    if (st == PortStatus::Ok)
        return st;
    std::lock_guard<std::mutex> lock(l->mu);
    if (l->writePending && !l->ended) {
        // The next record would go after part of this one: the stream is
        // broken, and the session ends as for a frame cut off.
        l->ended = true;
        if (done == 0)
            LogErr("remote: a TLS record was cut off, session ended");
        plat_socket_shutdown(l->fd);
    }
    return st;
}

int LinkSendRoom(int fd) {
    TlsLink* l = linkOf(fd);
    if (!l)
        return plat_socket_send_room(fd);
    {
        std::lock_guard<std::mutex> lock(l->mu);
        if (l->writePending)
            return 0;
    }
    const int room = plat_socket_send_room(l->fd);
    if (room < 0)
        return room;
    // Each record adds its header, tag and type byte.
    const int overhead = kRecordOverhead * (room / static_cast<int>(kRecordMax) + 1);
    return room > overhead ? room - overhead : 0;
}

TlsResult TlsStart(TlsRole role, int tcpFd, const TlsPsk& psk, int64_t deadlineMs, const PortWanted& wanted,
                   TlsLinkPtr* link, std::string* why) {
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
    // Records go out as the senders make them: Nagle's wait for an ACK would hold
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
    // The senders drop audio when the socket has no room (LinkSendRoom): a
    // small send buffer lets a slow link show there soon instead of queueing
    // seconds of audio.
    const int tcpBuffer = kTcpBuffer;
    setsockopt(tcpFd, SOL_SOCKET, SO_SNDBUF, &tcpBuffer, sizeof tcpBuffer);
    l->fd = tcpFd;
    if (!registerLink(l.get()))
        return fail(TlsResult::Failed, "too many TLS sessions");
    link->reset(l.release());
    return TlsResult::Ok;
}
