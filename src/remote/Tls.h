// TLS 1.3 under the remote link, keyed by the unit's access code.
//
// Both ends derive a 32-byte key from the code (PBKDF2-HMAC-SHA256, once per
// code) and use it as an external pre-shared key with identity "amp-panel", with
// an ephemeral key exchange on top (psk_dhe_ke), so a code that leaks later does
// not open recorded sessions. A peer without the code fails the handshake and
// never reaches the dialect.
//
// After the handshake a pump thread ("tls") carries the bytes between the TCP
// socket and one end of a socket pair; the dialect reads and writes the other
// end as it would a plain socket, so frames, senders and their lock are the same
// with and without TLS. Closing the dialect's end ends the pump and the TCP
// connection; the TCP connection's end closes the dialect's reads.
#pragma once

#include "platform/Wait.h"

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
// A running pump; destroying it waits for the pump to end (close the dialect's
// end first, or it waits until the peer goes).
using TlsLinkPtr = std::unique_ptr<TlsLink, TlsLinkDeleter>;

enum class TlsResult { Ok, Failed, TimedOut, Stopped };

// Runs the handshake on the connected non-blocking `tcpFd` before `deadlineMs`
// of program time. Ok: `*dialectFd` is the plain end for the dialect (the
// caller closes it) and `*link` the pump, which now owns `tcpFd`. Otherwise
// `tcpFd` is still the caller's and `*why` says what failed (for the log).
TlsResult TlsStart(TlsRole role, int tcpFd, const TlsPsk& psk, int64_t deadlineMs,
                   const PortWanted& wanted, int* dialectFd, TlsLinkPtr* link, std::string* why);
