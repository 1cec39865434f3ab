// TLS 1.3 under the remote link, keyed by the unit's access code.
//
// Both ends derive a 32-byte key from the code (PBKDF2-HMAC-SHA256, once per
// code) and use it as an external pre-shared key with identity "amp-panel", with
// an ephemeral key exchange on top (psk_dhe_ke), so a code that leaks later does
// not open recorded sessions. A peer without the code fails the handshake and
// never reaches the dialect.
//
// After the handshake the dialect reads and writes the TCP socket with the Link
// functions below: through TLS where the socket carries a session, straight
// otherwise, so frames, senders and their lock are the same with and without
// TLS. No thread of its own: the reader decrypts what it reads and each sender
// encrypts what it writes, taking turns on the session's lock, so a message
// wakes only the thread that waits for it.
#pragma once

#include "platform/Wait.h"

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

constexpr const char* kTlsPskIdentity = "amp-panel";
constexpr const char* kTlsPskSalt = "amp-panel remote link v1";
constexpr int kTlsPskIterations = 200000;
constexpr size_t kTlsPskSize = 32;

using TlsPsk = std::array<uint8_t, kTlsPskSize>;

// PBKDF2-HMAC-SHA256 of `code` with the link's salt; computed once per code and
// kept (the last code only). False when libcrypto failed (logged).
bool TlsPskFor(const char* code, TlsPsk* psk);
// The key as 64 lower-case hex digits, as openssl's -psk option takes it.
std::string TlsPskHex(const TlsPsk& psk);

enum class TlsRole { Server, Client };

struct TlsLink;
struct TlsLinkDeleter {
    void operator()(TlsLink* link) const;
};
// A socket's TLS session. Destroying it sends the peer TLS's close if it goes
// out at once, and forgets the socket; the socket stays its owner's, to close
// after the session (and after every reader and sender of it has stopped).
using TlsLinkPtr = std::unique_ptr<TlsLink, TlsLinkDeleter>;

enum class TlsResult { Ok, Failed, TimedOut, Stopped };

// Runs the handshake on the connected non-blocking `tcpFd` before `deadlineMs`
// of program time. Ok: `*link` is the session, and the Link functions on
// `tcpFd` go through it. Otherwise `*why` says what failed (for the log).
TlsResult TlsStart(TlsRole role, int tcpFd, const TlsPsk& psk, int64_t deadlineMs,
                   const PortWanted& wanted, TlsLinkPtr* link, std::string* why);

// The dialect's transfers, as plat_port_read, plat_port_write and
// plat_socket_send_room on a plain socket (LinkReadExact: exactly `n` bytes
// within `timeoutMs`, negative for no deadline). A TLS session
// that the peer closed or that broke reads and writes as HungUp; a write that
// gives up with part of a record sent ends the session (logged, the socket shut
// down), as a frame cut off does.
ssize_t LinkRead(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted,
                 PortStatus* status);
PortStatus LinkReadExact(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted);
PortStatus LinkWrite(int fd, const void* data, size_t n, int timeoutMs, const PortWanted& wanted,
                     size_t* written = nullptr);
int LinkSendRoom(int fd);
