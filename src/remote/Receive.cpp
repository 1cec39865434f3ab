// The receivers of the remote messages.
#include "remote/Receive.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "remote/AmpRequestMessage.h"
#include "remote/Compress.h"
#include "remote/StationRecord.h"
#include "remote/TxGuard.h"
#include "remote/TxLimit.h"
#include "remote/th_scrivi.h"
#include "trx/Serial.h"
#include "tuner/Banks.h"
#include "tuner/CAT.h"
#include "draw/Damage.h"
#include "draw/Fb.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t kFragmentData = 512;
constexpr int kRelayWriteMs = 1000;

uint32_t be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

bool running(Works* w) { return w->running != 0; }

// Writes a relayed payload to a port of this unit; false when it did not go out.
bool relay(Works* w, int fd, const uint8_t* data, size_t n) {
    if (fd < 0)
        return false;
    return plat_port_write(fd, data, n, kRelayWriteMs, [w] { return running(w); }) == PortStatus::Ok;
}

// A short binary message: its payload after the tag.
struct Payload {
    const uint8_t* data;
    size_t n;
};
Payload shortPayload(const WsFrame& f) { return {f.bytes + f.dataAt + 2, f.dataLen - 2}; }

// "CA": CAT text for the transceiver's CAT port, while the relay holds it open.
Dispatch catText(Works* w, const RemoteSession* s, Payload p) {
    uint8_t text[kStatusTextMax];
    const size_t n = p.n < sizeof text ? p.n : sizeof text;
    std::memcpy(text, p.data, n);
    const int fd = status_cat ? w->catFD.load() : -1;
    if (s->role == WsRole::Client) {
        relay(w, fd, text, n); // the client does not check it
        return Dispatch::Continue;
    }
    if (TxLimitRefuses(w, text, n, "relayed CAT"))
        return Dispatch::Continue;
    TxGuardCatText(w, text, n);
    if (!relay(w, fd, text, n)) {
        LogErr("TCP read Error 7a %d", errno);
        // The relay ends through its own exit, which closes its port and raises
        // its alarm; it is not closed under it from here.
        w->setup->EnableCAT = '0';
        w->remoteRestart = 1;
        return Dispatch::End;
    }
    return Dispatch::Continue;
}

void statusText(Works* w, RemoteSession* s, Payload p) {
    const size_t n = p.n < kStatusTextMax ? p.n : kStatusTextMax;
    std::memset(s->statusText, 0, sizeof s->statusText);
    std::memcpy(s->statusText, p.data, n);
    dispStat(w, s->statusText);
}

// A completed screen replaces the picture: raw pixels of the panel's size, or a
// JPEG. It becomes the page's background as well, so that the next refresh
// draws over the received screen rather than over the bytes it came in.
void showScreen(Works* w, const uint8_t* data, uint32_t total) {
    FrameBuffer* fb = w->fb;
    PictureLock lock(PictureMutex());
    fbTouched(fb);
    if (total == static_cast<uint32_t>(fb->memSize))
        std::memcpy(fb->work, data, total);
    else if (!Uncompress(w, data, total))
        return;
    std::memcpy(fb->back, fb->work, fb->memSize);
    fbRealize(fb);
}

void touch(const uint8_t* payload, size_t n) {
    // "XY" and two five-digit numbers; nothing is done with them.
    char text[16] = {};
    std::memcpy(text, payload, n < 12 ? n : 12);
    int x = 0, y = 0;
    std::sscanf(text + 2, "%05d", &x);
    std::sscanf(text + 7, "%05d", &y);
    LogInfo("remote touch at %d, %d", x, y);
}

// The server's first frame: the access code in a short text frame. Anything
// else, or another code, ends the session before anything is sent or done; the
// server's thread makes a right one the session (RemoteClaimSession).
Dispatch accessCode(Works* w, RemoteSession* s, const WsFrame& f) {
    s->isFirst = 2;
    if (f.type() != 0x81 || f.form != WsForm::Short) {
        LogErr("remote: frame %x before the access code, session closed", f.type());
        return Dispatch::End;
    }
    uint8_t code[126];
    const size_t n = f.dataLen;
    for (size_t i = 0; i < n; i++)
        code[i] = f.bytes[f.dataAt + i] ^ f.bytes[2 + (i % 4)];
    // Printed as text: a stranger's control bytes do not reach the log.
    char received[127];
    for (size_t i = 0; i < n; i++)
        received[i] = code[i] >= 0x20 && code[i] < 0x7f ? static_cast<char>(code[i]) : '?';
    received[n] = '\0';
    char expected[16];
    w->remotePassword.copyTo(expected, sizeof expected);
    // The unit's code is a secret: the log shows what came, never what was due.
    // A unit without a code takes none.
    if (!expected[0] || !AccessCodeMatches(expected, code, n)) {
        LogErr("required >************< differ from >%s<", received);
        return Dispatch::End;
    }
    LogInfo("required >************< equals to >************<");
    return Dispatch::Continue;
}

// "KAVOFD" and the decimal number, with the ';' the other commands end with or
// without it; anything else keeps the old value.
void setDivide(Works* w, const char* digits) {
    const char* p = digits;
    long v = 0;
    while (*p >= '0' && *p <= '9' && v <= kDivideMax)
        v = v * 10 + (*p++ - '0');
    const bool whole = p != digits && (*p == '\0' || (p[0] == ';' && p[1] == '\0'));
    if (whole && v >= kDivideMin && v <= kDivideMax) {
        w->settings.divide = static_cast<int>(v);
        return;
    }
    // A peer's text reaches the log printable and short.
    char shown[24];
    size_t n = 0;
    for (; digits[n] && n + 1 < sizeof shown; n++)
        shown[n] = digits[n] >= 0x20 && digits[n] < 0x7f ? digits[n] : '?';
    shown[n] = '\0';
    LogErr("remote: KAVOFD%s%s is not a whole number within %d..%d: divide stays %d", shown,
           digits[n] ? "..." : "", kDivideMin, kDivideMax, w->settings.divide.load());
}

Dispatch wrongType(const WsFrame& f) {
    LogErr("wrong message type: %x", f.type());
    return Dispatch::Continue;
}

Dispatch screenFragment(Works* w, RemoteSession* s, const WsFrame& f) {
    FrameBuffer* fb = w->fb;
    if (!fb)
        return Dispatch::Continue;
    if (!s->screen)
        s->screen = std::make_unique<uint8_t[]>(static_cast<size_t>(fb->memSize));
    Fragment frag;
    if (TakeFragment(f, s->screen.get(), static_cast<size_t>(fb->memSize), &frag) && frag.complete)
        showScreen(w, s->screen.get(), frag.total);
    return Dispatch::Continue;
}

Dispatch audio(Works* w, const RemoteSession* s, const WsFrame& f) {
    // "SO", the payload's length, the payload.
    if (f.dataLen < 6)
        return wrongType(f);
    const uint32_t n = be32(f.bytes + f.dataAt + 2);
    if (n > f.dataLen - 6) {
        LogErr("remote: audio block of %u bytes in a frame of %zu, dropped", n, f.size);
        return Dispatch::Continue;
    }
    return PlayReceivedAudio(w, s->role == WsRole::Server, f.bytes + f.dataAt + 6, n)
               ? Dispatch::Continue
               : Dispatch::End;
}

Dispatch binary(Works* w, RemoteSession* s, const WsFrame& f) {
    const bool server = s->role == WsRole::Server;
    if (f.form == WsForm::Short) {
        if (f.dataLen < 2)
            return wrongType(f);
        const Payload p = shortPayload(f);
        if (f.tagIs("CA"))
            return catText(w, s, p);
        if (f.tagIs("ST")) {
            if (!server)
                StationRecordReceived(w, p.data, p.n);
            statusText(w, s, p);
            return Dispatch::Continue;
        }
        if (f.tagIs("AS") && !server) {
            StationAlarmsReceived(w, p.data, p.n);
            return Dispatch::Continue;
        }
        if (f.tagIs("AR") && server) {
            StationResetAsked(w);
            return Dispatch::Continue;
        }
        if (f.tagIs("AQ") && server) {
            StationAmpRequestReceived(w, p.data, p.n);
            return Dispatch::Continue;
        }
        if (f.tagIs("TL") && !server) {
            StationTxLimitReceived(w, p.data, p.n);
            return Dispatch::Continue;
        }
        if (f.tagIs("SC") && server) {
            if (TxLimitRefuses(w, p.data, p.n, "transceiver's link"))
                return Dispatch::Continue;
            if (!relay(w, w->serFD, p.data, p.n)) {
                LogErr("TCP read Error 7a %d", errno);
                return Dispatch::End;
            }
            return Dispatch::Continue;
        }
        if (f.tagIs("PA")) {
            if (!server) {
                storeParameters(w, static_cast<int>(p.n), p.data);
                return Dispatch::Continue;
            }
            LogOut("S BUFFER WEB SERVER : %.*s\n", static_cast<int>(p.n),
                         reinterpret_cast<const char*>(p.data));
            if (TxLimitRefuses(w, p.data, p.n, "transceiver's link"))
                return Dispatch::Continue;
            if (!relay(w, w->serFD, p.data, p.n)) {
                LogErr("TCP read Error 8a %d", errno);
                return Dispatch::End;
            }
            return Dispatch::Continue;
        }
        return wrongType(f);
    }
    if (f.form == WsForm::Len16) {
        if (f.tagIs("SP")) {
            if (server)
                return Dispatch::Continue; // the server has no use for a spectrum
            Fragment frag;
            if (TakeFragment(f, s->spectrum, sizeof s->spectrum, &frag) && frag.complete)
                storeFFT(w, static_cast<int>(frag.total), s->spectrum);
            return Dispatch::Continue;
        }
        if (f.tagIs("FB"))
            return screenFragment(w, s, f);
        if (f.tagIs("SO"))
            return audio(w, s, f);
        if (f.tagIs("AS") && !server) {
            StationAlarmsReceived(w, f.bytes + f.dataAt + 2, f.dataLen - 2);
            return Dispatch::Continue;
        }
    }
    return wrongType(f);
}

} // namespace

bool AccessCodeMatches(const char* expected, const uint8_t* received, size_t n) {
    const size_t len = std::strlen(expected);
    unsigned diff = static_cast<unsigned>(len ^ n);
    // Every byte of the expected code is looked at, whatever arrived.
    for (size_t i = 0; i < len; i++)
        diff |= static_cast<unsigned>(static_cast<uint8_t>(expected[i]) ^ (i < n ? received[i] : 0));
    return diff == 0;
}

bool TakeFragment(const WsFrame& f, uint8_t* buffer, size_t capacity, Fragment* out) {
    // The tag, the total (4), the offset (4), then up to 512 data bytes.
    if (f.dataLen < 10)
        return false;
    const uint8_t* h = f.bytes + f.dataAt;
    out->total = be32(h + 2);
    out->offset = be32(h + 6);
    out->complete = false;
    if (out->total == 0 || out->total > capacity || out->offset >= out->total) {
        LogErr("remote: %c%c fragment at %u of %u does not fit %zu bytes, dropped", h[0], h[1],
               out->offset, out->total, capacity);
        return false;
    }
    size_t n = out->total - out->offset;
    if (n > kFragmentData)
        n = kFragmentData;
    if (n > f.dataLen - 10)
        n = f.dataLen - 10; // a short fragment brings what it has
    std::memcpy(buffer + out->offset, h + 10, n);
    out->complete = out->offset + kFragmentData >= out->total;
    return true;
}

void dispStat(Works* w, const char* text) {
    LogOut("BUFFER Wsocket : %s\n", text);
    SetupRecord* s = w->setup;
    auto is = [&](const char* command, size_t compared) { return std::strncmp(text, command, compared) == 0; };
    if (is("KAVOBANK", 5) || is("KAVOPA1", 5)) {
        LogOut("ChangeBanco\n");
        ChangeBanco(w);
    } else if (is("KAVOTU2", 5)) {
        // nothing
    } else if (is("KAVOFT00;", 9)) {
        s->usbSpectrum = '0';
    } else if (is("KAVOFT01;", 9) || is("KAVOFT02;", 9)) {
        s->usbSpectrum = '1';
        s->Enable1600 = text[7] == '2' ? '1' : '0';
        int d = w->settings.divide; // at least 2, in one step against the menu's change
        while (d < 2 && !w->settings.divide.compareExchange(d, 2)) {
        }
    } else if (is("KAVOFD", 6)) {
        setDivide(w, text + 6);
    }
}

Dispatch RemoteReceive(Works* w, RemoteSession* s, const WsFrame& f) {
    if (s->role == WsRole::Server && s->isFirst == 1)
        return accessCode(w, s, f);
    if (f.type() == 0x82)
        return binary(w, s, f);
    if (f.type() == 0x81) {
        // Touch positions: a short text frame to the server, a 16-bit one to the client.
        const bool server = s->role == WsRole::Server;
        if (server && f.form == WsForm::Short && f.dataLen >= 12) {
            uint8_t text[12];
            for (size_t i = 0; i < 12; i++)
                text[i] = f.bytes[f.dataAt + i] ^ f.bytes[2 + (i % 4)];
            if (text[0] == 'X' && text[1] == 'Y') {
                touch(text, sizeof text);
                return Dispatch::Continue;
            }
        }
        if (!server && f.form == WsForm::Len16 && f.tagIs("XY")) {
            touch(f.bytes + f.dataAt, f.dataLen);
            return Dispatch::Continue;
        }
    }
    return wrongType(f);
}
