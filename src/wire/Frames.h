// Reading the frames of the remote link's WebSocket dialect.
//
// h[0] is 0x81 (text) or 0x82 (binary). h[1] below 126 is a short frame of h[1]
// bytes after h[1] (text frames add a four-byte key before their payload); 126 a
// frame whose 16-bit length follows; 127 or more one whose 32-bit length follows.
// The receive buffer holds the largest frame this program sends (raw audio at
// the largest block); a peer's frame that does not fit ends the session.
#pragma once

#include "platform/SerialPort.h"

#include <cstddef>
#include <cstdint>

constexpr int kAudioMaxMultiplier = 12; // largest audio block: 12 x 240 frames
constexpr size_t kWsFrameMax = 10 + kAudioMaxMultiplier * 240 * 4;
constexpr int kWsFrameMs = 5000; // for the rest of a frame once it has begun

enum class WsForm { Short, Len16, Len32 };
enum class WsRole { Server, Client };

struct WsFrame {
    uint8_t bytes[kWsFrameMax]; // the whole frame, header included
    size_t size = 0;
    WsForm form = WsForm::Short;
    size_t dataAt = 0;  // where the tag (binary) or the payload (text) begins
    size_t dataLen = 0; // bytes from dataAt to the end of the frame

    uint8_t type() const { return bytes[0]; }
    bool isText() const { return (bytes[0] & 1) != 0; }
    // The two-letter tag at the start of the data ("" when there is none).
    bool tagIs(const char* tag) const {
        return dataLen >= 2 && bytes[dataAt] == tag[0] && bytes[dataAt + 1] == tag[1];
    }
};

enum class WsRead { Ok, Ended };

// Reads one frame of at most `maxSize` bytes. The first byte may take as long as
// the peer likes; the rest must come within kWsFrameMs. A failed or late read
// logs the dialect's "TCP read Error" lines (the client's with capital letters)
// and ends the session, as does a frame too large or too short for its form.
WsRead WsReadFrame(int fd, WsFrame* frame, WsRole role, size_t maxSize, const PortWanted& wanted);
