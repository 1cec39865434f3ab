// The maker's transceiver on its serial link.
//
// The transceiver streams frames unasked: a spectrum trace and its operating
// parameters. The thread finds each frame by its header, decodes the parameters
// into the shared record, forwards both to a remote unit, and after every frame
// sends the amplifier's requests to the transceiver (tune carrier, receive).
#include "trx/Serial.h"

#include "core/AlarmList.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"
#include "wire/Messages.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kIdleMs = 1500;
constexpr int kSliceMs = 100;
constexpr int kWriteGiveUpMs = 1000;
constexpr int kPayloadMax = 1999;

bool linkOn(Works* w) {
    return w->running && w->setup->serialLinkEnabled == '1' && ThreadStillWanted();
}

// Error 8, at most once per hold-off.
void serialTimeout(Works* w, const char* line) {
    int idle = 0; // the link and this thread share the hold-off: whoever starts it raises
    if (w->errHoldoffMs.compareExchange(idle, 2000)) {
        AddErrore(w, kAlarmTavExtio);
        LogOut("%s", line);
    }
}

int digitOf(uint8_t b) { return (b | 0x30) - 0x30; }

// A level field: a raw value is stored; a raw 0 keeps the level as a negative
// number (off, level remembered); a field with nothing to remember starts over.
void level(int32_t& field, int raw, int start) {
    if (raw != 0) {
        field = raw;
        return;
    }
    field = -std::abs(field);
    if (field == 0)
        field = start;
}

int readLength(const uint8_t digits[4], int* length) {
    // Least significant digit first; 0x3A..0x3F stand for A..F. Only hex digits
    // count: a sign or a space must not turn into a negative or short length.
    int v = 0;
    for (int i = 3; i >= 0; i--) {
        uint8_t c = digits[i];
        if (c > 0x39)
            c = static_cast<uint8_t>(c + 7);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return -1;
        v = v * 16 + d;
    }
    *length = v;
    return 0;
}

} // namespace

void getParameters(TrxParameters* dst, Works* w) {
    std::lock_guard<std::mutex> lock(*w->serMut);
    *dst = *w->trxParams;
}

int writeSerialPort(int fd, const uint8_t* bytes, size_t count, Works* w) {
    const PortStatus st = plat_port_write(fd, bytes, count, kWriteGiveUpMs, [w] { return linkOn(w); });
    if (st == PortStatus::Ok)
        return 0;
    if (st != PortStatus::Stopped)
        LogErr("Serial: port not writable, request dropped");
    return -1;
}

int readSerialPort(Works* w, uint8_t* buffer, size_t count) {
    size_t have = 0;
    int waitedMs = 0;
    const int fd = w->serFD;
    while (have < count) {
        PortStatus st;
        const ssize_t n = plat_port_read(fd, buffer + have, count - have, kSliceMs,
                                         [w] { return linkOn(w); }, &st, &waitedMs);
        if (st == PortStatus::TimedOut) {
            if (waitedMs > kIdleMs - 1)
                serialTimeout(w, "---------------------------------------TIMEOUT serial 3\n");
            continue;
        }
        if (st != PortStatus::Ok)
            return -1; // switched off, or the device went away
        have += static_cast<size_t>(n);
    }
    return 0;
}

int decodeCmdParameters(Works* w, uint8_t* subtype, int* length) {
    // The length of the previous frame stays when the digits do not read.
    static int lastLength = 0;
    uint8_t head[5];
    if (readSerialPort(w, head, 5) != 0)
        return -1;
    *subtype = head[0];
    int n;
    if (readLength(head + 1, &n) == 0)
        lastLength = n;
    if (lastLength >= 2000) {
        char digits[5] = {static_cast<char>(head[4]), static_cast<char>(head[3]),
                          static_cast<char>(head[2]), static_cast<char>(head[1]), '\0'};
        LogOut("----------> 3SERIAL : ERROR dataLength %d   %s!!!!!!\n", lastLength,
                     digits);
        lastLength = kPayloadMax;
    }
    *length = lastLength;
    return 0;
}

void storeParameters(Works* w, int n, const uint8_t* b) {
    static bool first = true;
    std::lock_guard<std::mutex> lock(*w->serMut);
    TrxParameters& p = *w->trxParams;
    if (first) {
        p = TrxParameters{};
        first = false;
    }
    if (n < 1)
        return;
    auto bit = [&](int byte, int k) { return (b[byte] >> k) & 1; };

    // Always: the store flags and the frequency of this frame.
    p.flag0b6 = bit(0, 6);
    p.activeIsB = bit(0, 5);
    p.reportIsB = bit(0, 4);
    p.memMode = bit(0, 0);
    p.sel0 = (b[0] >> 2) & 3;
    if (n >= 9) {
        // A corrupted digit can be far above 9: wrap as 32 bits, never overflow.
        uint32_t f = 0;
        for (int i = 1; i <= 8; i++)
            f = f * 10u + static_cast<uint32_t>(digitOf(b[i]));
        p.rxFreq = static_cast<int32_t>(f);
    }
    if (p.memMode) {
        p.freqMem = p.rxFreq;
        p.activeFreq = p.freqMem;
    } else {
        (p.reportIsB ? p.freqB : p.freqA) = p.rxFreq;
        p.activeFreq = p.activeIsB ? p.freqB : p.freqA;
    }
    p.prevFreq = p.lastFreq;
    p.lastFreq = p.activeFreq;

    if (n >= 10 && bit(9, 7)) {
        p.flag9b6 = bit(9, 6);
        p.flag9b5 = bit(9, 5);
        p.flag9b4 = bit(9, 4);
        p.rxMode = b[9] & 0x0F;
        (p.reportIsB ? p.modeB : p.modeA) = p.rxMode;
        p.activeMode = p.activeIsB ? p.modeB : p.modeA;
    }
    if (n >= 11 && (b[10] >> 6) == 1) {
        p.volumeSel = (b[10] >> 4) & 3;
        p.sign10b3 = bit(10, 3) ? -1 : 1;
        p.sign10b2 = bit(10, 2) ? -1 : 1;
        p.sign10b1 = bit(10, 1) ? -1 : 1;
        p.sign10b0 = bit(10, 0) ? 1 : -1;
    }
    if (n >= 12 && (b[11] >> 6) == 1) {
        p.flag11b5 = bit(11, 5);
        p.flag11b4 = bit(11, 4);
        level(p.squelch, b[11] & 0x0F, -1);
    }
    if (n >= 14 && bit(12, 7) && (b[13] >> 6) == 1) {
        p.selHigh = bit(12, 2);
        level(p.level12lo, b[12] & 0x03, 0);
        level(p.level12hi, (b[12] >> 3) & 0x0F, 0);
        p.flag13b5 = bit(13, 5);
        p.flag13b4 = bit(13, 4);
        level(p.level13, b[13] & 0x0F, 0);
        p.combinedSel = p.selHigh ? (b[13] & 0x0F) + 5 : ((b[12] >> 3) & 0x0F) + 1;
    }
    if (n >= 15 && (b[14] >> 4) == 3)
        level(p.nr, b[14] & 0x0F, -1);
    if (n >= 16 && (b[15] >> 4) == 3)
        level(p.nb, b[15] & 0x0F, -1);
    if (n >= 20 && (b[16] >> 5) == 3 && (b[17] >> 5) == 3 && (b[18] >> 4) == 3 &&
        (b[19] >> 5) == 3) {
        p.sel16 = (b[16] & 0x1F) + 1;
        p.sel17 = (b[17] & 0x1F) + 1;
        p.sel18 = (b[18] & 0x0F) + 1;
        p.sel19hi = ((b[19] >> 2) & 0x07) + 1;
        p.sel19lo = (b[19] & 0x03) + 1;
    }
    if (n >= 21 && (b[20] >> 6) == 1) {
        level(p.att, bit(20, 4), -1);
        level(p.lp, bit(20, 3), -1);
        level(p.an, (b[20] >> 1) & 0x03, -1);
        p.flag20b0 = bit(20, 0) ? 1 : -1;
    }
    if (n >= 22)
        p.level21 = b[21] - 211;
    if (n >= 23) {
        const int v = b[22] & 0x7F;
        if (p.volumeSel == 0)
            level(p.volume, v, 50);
        else if (p.volumeSel == 1)
            level(p.volumeAux, v, 50);
        else
            level(p.volumeSide, v, 5);
    }
    if (n >= 26)
        p.pitchHz = 100 * digitOf(b[23]) + 10 * digitOf(b[24]) + digitOf(b[25]);
    if (n >= 31) {
        int v = 0;
        for (int i = 26; i <= 30; i++)
            v = v * 16 + (digitOf(b[i]) & 0x0F);
        p.offsetHz = v >= 0x80000 ? v - 0x100000 : v;
    }
}

void storeFFT(Works* w, int length, const uint8_t* trace) {
    float bins[kPlotPoints];
    int n = 0;
    for (int i = 85; i <= 938 && i < length; i++)
        bins[n++] = trace[i] - 192.0f;
    // Bins the trace did not carry (the USB receiver's 854 bytes carry 769)
    // are at the floor: nothing there, rather than a left-over level.
    for (int i = n; i < kPlotPoints; i++)
        bins[i] = -192.0f;
    std::lock_guard<std::mutex> lock(*w->serMut);
    for (int i = 0; i < kPlotPoints; i++)
        w->grid.trace[i] = bins[i];
}

int SpectrumStart(int activeMode, int pitchHz, int offsetHz) {
    float shift = 0.0f;
    if (activeMode == 4)
        shift = -static_cast<float>(pitchHz * 0.005333);
    else if (activeMode == 6)
        shift = static_cast<float>(pitchHz * 0.005333);
    shift = static_cast<float>(shift + offsetHz * 0.005333);
    shift = shift + 85.0f;
    int start = shift < 0 ? static_cast<int>(shift + 1024.0f) : static_cast<int>(shift);
    if (start >= kTracePoints)
        return 0; // the trace as it came
    // A shift back by more than a whole trace wraps around it again.
    start %= kTracePoints;
    if (start < 0)
        start += kTracePoints;
    return start;
}

void BuildTrace(const uint8_t* payload, int start, uint8_t* trace) {
    for (int i = 0; i < kTracePoints; i++)
        trace[i] = payload[(start + i) % kTracePoints];
}

namespace {

void spectrumFrame(Works* w, const uint8_t* payload, int n) {
    if (w->setup->usbSpectrum != '0')
        return;
    TrxParameters p;
    getParameters(&p, w);
    uint8_t trace[kTracePoints];
    BuildTrace(payload, SpectrumStart(p.activeMode, p.pitchHz, p.offsetHz), trace);
    int send = n - 170;
    if (send > kTracePoints)
        send = kTracePoints; // only the 1024-byte trace exists
    if (send > 0)
        sendWebSockSerSpectrFrame(w, trace, static_cast<size_t>(send));
}

void commandStep(Works* w, int fd) {
    static const uint8_t kRx[] = {'R', 'X', ';'};
    static const uint8_t kTx[] = {'T', 'U', '1', '2', '0', ';', 'T', 'X', '2', ';'};
    if (w->tuneModeFlags.test(0x04)) {
        writeSerialPort(fd, kRx, sizeof kRx, w);
        LogOut("SENT TAV RX;! (0x%x)\n", w->tuneModeFlags.load());
        // Request off, done on, as one step: a lost RX request leaves the radio keyed.
        w->tuneModeFlags.change(0x04, 0x08);
    }
    if (w->tuneModeFlags.test(0x20)) {
        writeSerialPort(fd, kTx, sizeof kTx, w);
        LogOut("SENT TAV TX2;! (0x%x)\n", w->tuneModeFlags.load());
        w->tuneModeFlags.change(0x20, 0x40);
    }
    // The carrier key's request is taken with the flags it was made with, before
    // its command goes out: a key that changes them meanwhile (StopTX while TX2
    // is written) makes a new request, which the next pass sends.
    uint8_t tx = w->txButtonFlags.load();
    for (;;) {
        if (!(tx & 0x01))
            return;
        const bool transmit = tx & 0x02;
        if (transmit && ((tx & 0x10) != 0) != ((tx & 0x20) != 0))
            return; // waiting for the antenna relay's answer
        if (w->txButtonFlags.compareExchange(tx, static_cast<uint8_t>(tx & ~0x01)))
            break;
    }
    if (tx & 0x02) {
        writeSerialPort(fd, kTx, sizeof kTx, w);
        LogOut("SENT TAV TX2...\n");
    } else {
        writeSerialPort(fd, kRx, sizeof kRx, w);
        LogOut("SENT TAV RX...\n");
        w->rxHoldTicks = 30;
    }
}

void portError(Works* w, const char* dev) {
    LogErr("Unable to open device %s", dev);
    LogOut("Serial: Unable to open device %s\n", dev);
    RaiseDeviceError(w, kDevErrSerial, "Serial: Unable to open device %s", dev);
}

int openPort(Works* w, const char* dev) {
    LogInfo("Init Serial Port %s", dev);
    SerialOpenError err;
    const int fd = plat_serial_open(dev, SerialLine{B115200, 0, 0}, &err);
    if (fd < 0) {
        // A missing cable to the transceiver must not stop the amplifier: the
        // error page shows it and its retry key starts the link again.
        portError(w, dev);
        return -1;
    }
    LogInfo("OK works->serFD=%d (%s)", fd, dev);
    LogOut("------------------ OK works->serFD=%d (%s)\n", fd, dev);
    return fd;
}

} // namespace

int SerialLoop(Works* w, int fd) {
    static uint8_t payload[2000];
    int idleMs = 0;
    const PortWanted wanted = [w] { return linkOn(w); };
    while (linkOn(w)) {
        // Header state: wait for a frame type byte.
        uint8_t type;
        PortStatus st;
        plat_port_read(fd, &type, 1, kSliceMs, wanted, &st, &idleMs);
        if (st == PortStatus::TimedOut) {
            if (idleMs > kIdleMs - 1) {
                serialTimeout(w, "---------------------------------------TIMEOUT serial 1\n");
                idleMs = 0;
            }
            continue;
        }
        if (st == PortStatus::Stopped)
            break;
        if (st == PortStatus::HungUp)
            return -1;
        if (st == PortStatus::Failed) {
            LogErr("error %d", -1);
            serialTimeout(w, "---------------------------------------TIMEOUT serial 2\n");
            plat_sleep_ms(20);
            continue;
        }
        idleMs = 0;
        if (type > 14)
            continue; // not a header: resynchronising

        uint8_t subtype;
        int length;
        if (decodeCmdParameters(w, &subtype, &length) != 0)
            return linkOn(w) ? -1 : 0;
        if (type == 0 && subtype == '0') {
            std::memset(payload, 0, sizeof payload);
            if (readSerialPort(w, payload, static_cast<size_t>(length)) != 0)
                return linkOn(w) ? -1 : 0;
            spectrumFrame(w, payload, length);
        } else if (type == 1 && subtype == '1') {
            std::memset(payload, 0, sizeof payload);
            if (readSerialPort(w, payload, static_cast<size_t>(length)) != 0)
                return linkOn(w) ? -1 : 0;
            storeParameters(w, length, payload);
            sendWebSockSerParFrame(w, payload, static_cast<size_t>(length));
        } else if (type >= 2) {
            LogErr("Error3");
        }
        commandStep(w, fd);
    }
    return 0;
}

void Serial(Works* w) {
    char dev[16];
    w->setup->SerPort.copyTo(dev, sizeof dev);
    const int fd = openPort(w, dev);
    if (fd < 0)
        return;
    w->serFD = fd;
    if (SerialLoop(w, fd) != 0) {
        DeviceWentAway(w, kDevErrSerial, "Serial", dev);
    }
    LogOut("---------------------------------------Serial EXIT %x\n",
                 static_cast<unsigned>(w->setup->serialLinkEnabled.load()));
    close(fd);
    w->serFD = -1;
}
