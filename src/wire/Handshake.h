// The HTTP upgrade handshake of the remote link, both ends.
//
// The server counts the request lines that start with the known header
// prefixes and answers once it has seen eight (a standard request's seven
// headers and its empty line, or this program's client's six headers and two
// empty lines). The client sends its six lines, counts the response's and checks
// the accept value. Lines are bounded and the whole handshake has a deadline, so
// a peer that stops half way does not hold the only session.
#pragma once

#include "platform/SerialPort.h"

#include <cstddef>
#include <string>

struct Works;

constexpr size_t kWsLineMax = 1023;     // characters of one handshake line
constexpr int kWsHandshakeMs = 5000;    // for the whole exchange
constexpr size_t kWsKeyMax = 100;       // a key longer than this is cut

// The Sec-WebSocket-Accept value for `key`: Base64 of the SHA-1 of the key and
// the RFC 6455 GUID.
std::string WsAcceptValue(const char* key);

// Reads one line (up to and with its '\n', at most kWsLineMax characters; a
// longer line comes in pieces, as fgets gives it) before `deadlineMs` of the
// program clock. Ok with the line in `line`.
PortStatus WsReadLine(int fd, char* line, size_t size, int64_t deadlineMs, const PortWanted& wanted);

// The server's side: reads the request, answers it. True when the session may
// go on to the access code.
bool WsServerHandshake(Works* works, int fd, const PortWanted& wanted);

enum class WsClientResult { Ok, Failed, WrongAccept };
// The client's side with its Base64 key: sends the request, reads and checks
// the answer.
WsClientResult WsClientHandshake(Works* works, int fd, const char* key, const PortWanted& wanted);
