// Senders of the remote messages.
//
// Every frame, and every fragment of a long message, is written in one write
// under wsSendMut, so frames of several sending threads never mix on the wire.
// A peer that stops reading holds no sender for longer than one write deadline:
// an audio frame is dropped when the socket has no room for it, any other frame
// when nothing of it went out in time; both are counted. A frame cut off half
// way would break the stream, so the session is ended then.
#include "wire/Messages.h"

#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Socket.h"
#include "wire/Tls.h"

#include <opus/opus.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr int kSendGiveUpMs = 1000;

// The session may end between the caller's look at remoteConnected and the
// lock: the session thread clears it, then the descriptor under this lock, and
// closes the socket only after that, so a frame never goes to a closed one.
bool sendFrame(Works* w, const uint8_t* frame, size_t n, bool audio = false) {
    std::lock_guard<std::mutex> lock(*w->wsSendMut);
    const int fd = w->wsFD;
    if (!w->remoteConnected || fd < 0)
        return false;
    if (audio) {
        const int room = LinkSendRoom(fd);
        if (room >= 0 && static_cast<size_t>(room) < n) {
            w->audio.wsDroppedAudio++;
            return false;
        }
    }
    size_t written = 0;
    const PortStatus st = LinkWrite(fd, frame, n, kSendGiveUpMs,
                                    [w] { return w->running && w->remoteConnected; }, &written);
    if (st == PortStatus::Ok)
        return true;
    if (audio)
        w->audio.wsDroppedAudio++;
    else
        w->audio.wsDroppedFrames++;
    if (written > 0 && written < n) {
        LogErr("remote: a frame was cut off after %zu of %zu bytes, session ended", written, n);
        plat_socket_shutdown(fd); // the session thread sees the end and starts afresh
    }
    return false;
}

void sendShort(Works* w, const char tag[2], const uint8_t* payload, size_t n) {
    if (!w || !w->remoteConnected)
        return;
    uint8_t frame[kShortMax + 4];
    size_t len = BuildShortFrame(tag, payload, n, frame, sizeof frame);
    if (len == 0) {
        LogErr("remote: %c%c message of %zu bytes does not fit a short frame", tag[0], tag[1], n);
        return;
    }
    sendFrame(w, frame, len);
}

} // namespace

size_t BuildShortFrame(const char tag[2], const uint8_t* payload, size_t n, uint8_t* out,
                       size_t outSize) {
    if (n > kShortMax || outSize < n + 4)
        return 0;
    out[0] = 0x82;
    out[1] = static_cast<uint8_t>(n + 2);
    out[2] = static_cast<uint8_t>(tag[0]);
    out[3] = static_cast<uint8_t>(tag[1]);
    if (n)
        std::memcpy(out + 4, payload, n);
    return n + 4;
}

size_t BuildFragment(const char tag[2], const uint8_t* data, size_t total, size_t offset,
                     uint8_t* out) {
    out[0] = 0x82;
    out[1] = 0x7E;
    out[2] = 0x02; // 522 bytes follow the length field
    out[3] = 0x0A;
    out[4] = static_cast<uint8_t>(tag[0]);
    out[5] = static_cast<uint8_t>(tag[1]);
    for (int i = 0; i < 4; i++) {
        out[6 + i] = static_cast<uint8_t>(total >> (24 - 8 * i));
        out[10 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
    }
    // The last fragment is padded with zeros: nothing past the trace is read.
    size_t n = offset < total ? total - offset : 0;
    if (n > kFragmentData)
        n = kFragmentData;
    std::memcpy(out + 14, data + offset, n);
    std::memset(out + 14 + n, 0, kFragmentData - n);
    return kFragmentFrame;
}

void sendWebSockStatusFrame(Works* w, const char* payload, size_t n) {
    sendShort(w, "ST", reinterpret_cast<const uint8_t*>(payload), n);
}

void sendWebSockSerParFrame(Works* w, const uint8_t* payload, size_t n) {
    sendShort(w, "PA", payload, n);
}

void sendWebSockCatFrame(Works* w, const char* payload, size_t n) {
    sendShort(w, "CA", reinterpret_cast<const uint8_t*>(payload), n);
}

size_t BuildTaggedFrame(const char tag[2], const uint8_t* payload, size_t n, uint8_t* out,
                        size_t outSize) {
    if (n <= kShortMax)
        return BuildShortFrame(tag, payload, n, out, outSize);
    if (n + 2 > 0xFFFF || outSize < n + 6)
        return 0;
    out[0] = 0x82;
    out[1] = 0x7E;
    out[2] = static_cast<uint8_t>((n + 2) >> 8);
    out[3] = static_cast<uint8_t>(n + 2);
    out[4] = static_cast<uint8_t>(tag[0]);
    out[5] = static_cast<uint8_t>(tag[1]);
    std::memcpy(out + 6, payload, n);
    return n + 6;
}

void sendWebSockAlarmFrame(Works* w, const char* payload, size_t n) {
    if (!w || !w->remoteConnected)
        return;
    uint8_t frame[kTaggedFrameMax];
    const size_t len = BuildTaggedFrame("AS", reinterpret_cast<const uint8_t*>(payload), n, frame,
                                        sizeof frame);
    if (len == 0) {
        LogErr("remote: AS message of %zu bytes does not fit a frame", n);
        return;
    }
    sendFrame(w, frame, len);
}

bool sendWebSockResetFrame(Works* w) {
    if (!w || !w->remoteConnected)
        return false;
    uint8_t frame[4];
    return sendFrame(w, frame, BuildShortFrame("AR", nullptr, 0, frame, sizeof frame));
}

void sendWebSockSerSpectrFrame(Works* w, const uint8_t* trace, size_t length) {
    if (!w || !w->remoteConnected)
        return;
    uint8_t frame[kFragmentFrame];
    for (size_t offset = 0; offset < length; offset += kFragmentData) {
        BuildFragment("SP", trace, length, offset, frame);
        if (!sendFrame(w, frame, sizeof frame))
            break;
    }
}

size_t BuildAudioFrame(const uint8_t* payload, size_t n, uint8_t* out, size_t outSize) {
    if (n + 10 > outSize || n + 6 > 0xFFFF)
        return 0;
    out[0] = 0x82;
    out[1] = 0x7E;
    out[2] = static_cast<uint8_t>((n + 6) >> 8);
    out[3] = static_cast<uint8_t>(n + 6);
    out[4] = 'S';
    out[5] = 'O';
    for (int i = 0; i < 4; i++)
        out[6 + i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    std::memcpy(out + 10, payload, n);
    return n + 10;
}

void sendWebSockAudioFrame(Works* w, const int16_t* block) {
    if (!w || !w->remoteConnected)
        return;
    const int frames = w->settings.audioMultiplier;
    const size_t raw = static_cast<size_t>(frames) * 4;
    static thread_local std::vector<uint8_t> payload, frame;
    payload.resize(raw);
    frame.resize(raw + 10);
    size_t n = raw;
    if (w->settings.audioBitrate > 0 && w->audio.opusEncoder) {
        const opus_int32 r = opus_encode(w->audio.opusEncoder, block, frames, payload.data(),
                                         static_cast<opus_int32>(raw));
        if (r < 0) {
            LogOut("encode failed: %s\n", opus_strerror(r));
            return;
        }
        n = static_cast<size_t>(r);
    } else {
        std::memcpy(payload.data(), block, raw); // little-endian samples as they are
    }
    const size_t len = BuildAudioFrame(payload.data(), n, frame.data(), frame.size());
    if (len != n + 10) {
        LogOut("rc(%d) != length+10(%d)\n", static_cast<int>(len), static_cast<int>(n + 10));
        return;
    }
    sendFrame(w, frame.data(), len, true);
}

// A short text message of the session's own (a tag and at most kShortMax bytes).
static bool sendShortText(Works* w, const char tag[2], const char* payload, size_t n) {
    if (!w || !w->remoteConnected)
        return false;
    uint8_t frame[kShortMax + 4];
    const size_t len = BuildShortFrame(tag, reinterpret_cast<const uint8_t*>(payload), n, frame, sizeof frame);
    return len > 0 && sendFrame(w, frame, len);
}

bool sendWebSockAmpRequestFrame(Works* w, const char* payload, size_t n) {
    return sendShortText(w, "AQ", payload, n);
}

bool sendWebSockTxLimitFrame(Works* w, const char* payload, size_t n) {
    return sendShortText(w, "TL", payload, n);
}
