// The frame reader: header, length forms, bounds, deadlines.
#include "wire/Frames.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "wire/Tls.h"

#include <cerrno>

namespace {

// "TCP read Error 3a %d"; the client writes its letter in capitals.
void readError(WsRole role, int n, PortStatus st) {
    const char letter = role == WsRole::Client ? 'A' : 'a';
    const int e = st == PortStatus::TimedOut ? ETIMEDOUT : st == PortStatus::HungUp ? 0 : errno;
    LogErr("TCP read Error %d%c %d", n, letter, e);
}

} // namespace

WsRead WsReadFrame(int fd, WsFrame* f, WsRole role, size_t maxSize, const PortWanted& wanted) {
    if (maxSize > sizeof f->bytes)
        maxSize = sizeof f->bytes;
    f->size = 0;
    f->dataLen = 0;
    // The first byte: a session may idle for as long as it likes.
    PortStatus st = LinkReadExact(fd, f->bytes, 1, -1, wanted);
    if (st == PortStatus::Ok)
        st = LinkReadExact(fd, f->bytes + 1, 3, kWsFrameMs, wanted);
    if (st != PortStatus::Ok) {
        if (st != PortStatus::Stopped) {
            readError(role, 1, st);
            readError(role, 2, st);
        }
        return WsRead::Ended;
    }
    const uint8_t len = f->bytes[1];
    size_t total;
    int step;
    if (len < 126) {
        f->form = WsForm::Short;
        // A text frame carries its key before the payload.
        const size_t after = len + (f->isText() ? 4u : 0u);
        total = 2 + after;
        f->dataAt = f->isText() ? 6 : 2;
        step = 3;
    } else if (len == 126) {
        f->form = WsForm::Len16;
        total = 4 + ((static_cast<size_t>(f->bytes[2]) << 8) | f->bytes[3]);
        f->dataAt = 4;
        step = 4;
    } else {
        f->form = WsForm::Len32;
        if (maxSize < 6 || (st = LinkReadExact(fd, f->bytes + 4, 2, kWsFrameMs, wanted)) != PortStatus::Ok) {
            readError(role, 1, st);
            return WsRead::Ended;
        }
        const uint32_t l = (static_cast<uint32_t>(f->bytes[2]) << 24) |
                           (static_cast<uint32_t>(f->bytes[3]) << 16) |
                           (static_cast<uint32_t>(f->bytes[4]) << 8) | f->bytes[5];
        if (l < 2) {
            LogErr("remote: frame length %u too short, session closed", l);
            return WsRead::Ended;
        }
        total = 4 + static_cast<size_t>(l);
        f->dataAt = 6;
        step = 5;
    }
    // The 4 bytes already read must belong to this frame.
    if (total < 4) {
        LogErr("remote: frame of %zu bytes is too short, session closed", total);
        return WsRead::Ended;
    }
    if (total > maxSize) {
        LogErr("remote: frame of %zu bytes does not fit the %zu-byte buffer, session closed", total,
               maxSize);
        return WsRead::Ended;
    }
    const size_t have = f->form == WsForm::Len32 ? 6 : 4;
    if (total > have) {
        st = LinkReadExact(fd, f->bytes + have, total - have, kWsFrameMs, wanted);
        if (st != PortStatus::Ok) {
            if (st != PortStatus::Stopped) {
                readError(role, step, st);
                readError(role, 6, st);
            }
            return WsRead::Ended;
        }
    }
    f->size = total;
    f->dataLen = total > f->dataAt ? total - f->dataAt : 0;
    return WsRead::Ok;
}
