// The upgrade handshake: request and response lines, the accept value.
#include "wire/Handshake.h"

#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "wire/Tls.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <glib.h>
#include <openssl/sha.h>

namespace {

constexpr const char* kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
constexpr int kResponseWriteMs = 1000;

const char* const requestHeader[] = {"GET ",
                                     "Host: ",
                                     "Sec-WebSocket-Version: ",
                                     "Sec-WebSocket-Protocol: ",
                                     "Sec-WebSocket-Key: ",
                                     "Connection: keep-alive, Upgrade",
                                     "Upgrade: websocket"};
constexpr const char* keyHeader = "Sec-WebSocket-Key: ";
const char* const responseHeader[] = {"HTTP/1.1 101 Switching Protocols", "Upgrade: websocket",
                                      "Connection: Upgrade", "Sec-WebSocket-Accept:",
                                      "Sec-WebSocket-Protocol: chat"};
constexpr const char* recKeyHeader = "Sec-WebSocket-Accept: ";

bool startsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// The value after a header, without its final CR or LF (twice), bounded.
std::string valueAfter(const char* line, const char* header) {
    std::string v(line + std::strlen(header));
    for (int i = 0; i < 2; i++)
        if (!v.empty() && (v.back() == '\r' || v.back() == '\n'))
            v.pop_back();
    if (v.size() > kWsKeyMax)
        v.resize(kWsKeyMax);
    return v;
}

bool endsWithNewline(const char* line) {
    const size_t n = std::strlen(line);
    return n > 0 && line[n - 1] == '\n';
}

} // namespace

std::string WsAcceptValue(const char* key) {
    std::string text = std::string(key) + kGuid;
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    gchar* b64 = g_base64_encode(digest, sizeof digest);
    std::string out = b64;
    g_free(b64);
    return out;
}

PortStatus WsReadLine(int fd, char* line, size_t size, int64_t deadlineMs, const PortWanted& wanted) {
    size_t n = 0;
    const size_t max = size - 1 < kWsLineMax ? size - 1 : kWsLineMax;
    line[0] = '\0';
    // One byte at a time: nothing past the handshake is taken from the socket.
    while (n < max) {
        const int64_t left = deadlineMs - plat_mono_ms();
        if (left <= 0)
            return PortStatus::TimedOut;
        char c;
        PortStatus st;
        if (LinkRead(fd, &c, 1, static_cast<int>(left), wanted, &st) != 1)
            return st;
        line[n++] = c;
        line[n] = '\0';
        if (c == '\n')
            break;
    }
    return PortStatus::Ok;
}

bool WsServerHandshake(Works*, int fd, const PortWanted& wanted) {
    const int64_t deadline = plat_mono_ms() + kWsHandshakeMs;
    char line[kWsLineMax + 1];
    std::string key;
    int count = 0;
    while (count < 8) {
        const PortStatus st = WsReadLine(fd, line, sizeof line, deadline, wanted);
        if (st != PortStatus::Ok) {
            // A stranger that stops or goes away ends its session, not the server.
            LogErr("TCP read error %d", st == PortStatus::TimedOut ? ETIMEDOUT : errno);
            return false;
        }
        if (!endsWithNewline(line))
            continue; // a piece of an overlong line
        LogInfo("Received %d bytes %s", static_cast<int>(std::strlen(line)), line);
        for (const char* prefix : requestHeader) {
            if (startsWith(line, prefix)) {
                count++;
                LogOut("Caught %s go to status %d/%d\n", prefix, count, 7);
            }
        }
        if (startsWith(line, keyHeader)) {
            key = valueAfter(line, keyHeader);
            LogInfo("Caught key %s", key.c_str());
        }
        if (std::strlen(line) < 3) {
            count++;
            LogInfo("status advanced %d", count);
        }
    }
    const std::string accept = WsAcceptValue(key.c_str());
    char acceptLine[160];
    std::snprintf(acceptLine, sizeof acceptLine, "Sec-WebSocket-Accept: %s\r\n", accept.c_str());
    const char* answer[] = {"HTTP/1.1 101 Switching Protocols\r\n", "Upgrade: websocket\r\n",
                            "Connection: Upgrade\r\n", acceptLine,
                            "Sec-WebSocket-Protocol: chat\r\n\r\n"};
    for (const char* a : answer) {
        const size_t n = std::strlen(a);
        errno = 0;
        const bool sent = LinkWrite(fd, a, n, kResponseWriteMs, wanted) == PortStatus::Ok;
        LogInfo("sent %d bytes error %d", sent ? static_cast<int>(n) : -1, errno);
        if (!sent)
            return false;
    }
    return true;
}

WsClientResult WsClientHandshake(Works* w, int fd, const char* key, const PortWanted& wanted) {
    char server[101];
    w->serverAddr.copyTo(server, sizeof server);
    char lines[6][200];
    std::snprintf(lines[0], sizeof lines[0], "GET /chat HTTP/1.1\r\n");
    // The port number, also above 32767 (the field is a signed 16-bit one).
    std::snprintf(lines[1], sizeof lines[1], "Host: %s:%d\r\n", server,
                  static_cast<uint16_t>(w->settings.tcpPort.load()));
    std::snprintf(lines[2], sizeof lines[2], "Upgrade: websocket\r\n");
    std::snprintf(lines[3], sizeof lines[3], "Connection: keep-alive, Upgrade\r\n");
    std::snprintf(lines[4], sizeof lines[4], "Sec-WebSocket-Key: %s\r\n", key);
    std::snprintf(lines[5], sizeof lines[5], "Sec-WebSocket-Version: 13\r\n\r\n\r\n");
    for (const char* l : lines) {
        const size_t n = std::strlen(l);
        if (LinkWrite(fd, l, n, kResponseWriteMs, wanted) != PortStatus::Ok) {
            LogErr("TCP write Error");
            return WsClientResult::Failed;
        }
        LogOut("TCP write %d bytes\n", static_cast<int>(n));
    }

    const int64_t deadline = plat_mono_ms() + kWsHandshakeMs;
    const std::string expected = WsAcceptValue(key);
    char line[kWsLineMax + 1];
    int count = 0;
    while (count <= 5) {
        const PortStatus st = WsReadLine(fd, line, sizeof line, deadline, wanted);
        if (st != PortStatus::Ok) {
            LogErr("TCP read error 1 %d", st == PortStatus::TimedOut ? ETIMEDOUT : errno);
            return WsClientResult::Failed;
        }
        if (!endsWithNewline(line))
            continue;
        for (const char* prefix : responseHeader) {
            if (startsWith(line, prefix)) {
                count++;
                LogOut("Caught %s go to status %d/%d\n", prefix, count, 5);
            }
        }
        if (startsWith(line, recKeyHeader)) {
            const std::string got = valueAfter(line, recKeyHeader);
            if (got == expected) {
                LogInfo("keys correct %s %s", got.c_str(), expected.c_str());
            } else {
                LogErr("keys not correct %s %s", got.c_str(), expected.c_str());
                return WsClientResult::WrongAccept;
            }
        }
        if (std::strlen(line) < 3) {
            count++;
            LogInfo("status advanced %d", count);
        }
    }
    return WsClientResult::Ok;
}
