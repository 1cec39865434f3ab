// FT-817 frequency poll and the work-mode switch.
#include "tuner/CATserial.h"

#include "core/AlarmList.h"
#include "core/CmdRing.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "tuner/Banks.h"
#include "tuner/Sources.h"
#include "platform/Thread.h"

#include <cstdio>
#include <unistd.h>

Shared<int> catProcessStatus;
Shared<int> lastCommandSent;
Shared<int> counterimeoutCAT;

namespace {

constexpr int kAnswerTimeoutMs = 1500;
constexpr int kWriteGiveUpMs = 1000;
const uint8_t kQuery[5] = {0x00, 0x00, 0x00, 0x00, 0x03}; // read frequency and mode

bool linkOn(Works* w) {
    return w->running && w->setup->catSerialEnabled == '1' && ThreadStillWanted();
}

int openPort(Works* w, const char* dev) {
    LogInfo("Init CATSerial Port %s", dev);
    SerialOpenError err;
    const int fd = plat_serial_open(dev, SerialLine{B38400, CSTOPB, 0}, &err);
    if (err == SerialOpenError::Open) {
        LogErr("Unable to open device %s", dev);
        RaiseDeviceError(w, kDevErrCat, "CAT: Unable to open device %s", dev);
        return -1;
    }
    if (err == SerialOpenError::Settings) {
        LogErr("Unable to set comm port %s", dev);
        RaiseDeviceError(w, kDevErrCat, "CAT: Unable to set comm port %s", dev);
        return -1;
    }
    return fd;
}

// Sleeps in short steps while the link stays on.
void pause(Works* w, int ms) {
    const int64_t end = plat_mono_ms() + ms;
    while (linkOn(w) && plat_mono_ms() < end)
        plat_sleep_ms(50);
}

} // namespace

int VerifyByteFreq(uint8_t b) { return ((b >> 4) > 9 || (b & 0x0F) > 9) ? 1 : 0; }

int writeSerialCatPort(int fd, const uint8_t* bytes, size_t length, Works* w) {
    if (plat_port_write(fd, bytes, length, kWriteGiveUpMs, [w] { return w->running != 0; }) !=
        PortStatus::Ok)
        return -1;
    counterimeoutCAT = 0;
    return 0;
}

void DecodeCatSerialCmd(Works* w, const uint8_t* a, int length) {
    if (lastCommandSent != 3 || length < 5)
        return;
    w->catMode = a[4];
    if (!VerifyByteFreq(a[0]) && !VerifyByteFreq(a[1]) && !VerifyByteFreq(a[2]) &&
        !VerifyByteFreq(a[3])) {
        auto dec = [](uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
        w->source[kModeFt817].freqHz = 10000000 * dec(a[0]) + 100000 * dec(a[1]) + 1000 * dec(a[2]) + 10 * dec(a[3]);
    } else {
        LogOut("CAT FT817 freq not decoded :  %02x %02x %02x %02x %02x\n", a[0], a[1],
                     a[2], a[3], a[4]);
    }
    plat_sleep_ms(20);
    lastCommandSent = 0;
}

void CatSerial(Works* w) {
    char dev[16];
    w->setup->CatSerialPort.copyTo(dev, sizeof dev);
    const int fd = openPort(w, dev);
    if (fd < 0)
        return;
    w->catSerFD = fd;
    LogInfo("OK works->catSerFD=%d (%s)", fd, dev);
    LogOut("---------------- OK works->catSerFD=%d (%s)\n", fd, dev);
    lastCommandSent = 0;
    catProcessStatus = 3;

    const PortWanted wanted = [w] { return linkOn(w); };
    uint8_t answer[5];
    int have = 0;
    bool gone = false;
    while (linkOn(w)) {
        if (catProcessStatus == 3) {
            writeSerialCatPort(fd, kQuery, sizeof kQuery, w);
            lastCommandSent = 3;
            catProcessStatus = 2;
        } else if (catProcessStatus == 2) {
            const int left = kAnswerTimeoutMs - counterimeoutCAT;
            if (left <= 0) {
                LogOut("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n");
                have = 0;
                catProcessStatus = 3;
                pause(w, 1000);
                continue;
            }
            uint8_t byte;
            PortStatus st;
            int waited = 0;
            const ssize_t n = plat_port_read(fd, &byte, 1, left, wanted, &st, &waited);
            counterimeoutCAT += waited;
            if (st == PortStatus::TimedOut || st == PortStatus::Stopped)
                continue;
            if (st == PortStatus::HungUp) {
                gone = true;
                break;
            }
            if (n != 1) {
                LogErr("timeout %d\n", static_cast<int>(n));
                plat_sleep_ms(20);
                continue;
            }
            answer[have++] = byte;
            if (have == 5)
                catProcessStatus = 1;
        } else {
            DecodeCatSerialCmd(w, answer, have);
            have = 0;
            catProcessStatus = 3;
        }
    }
    close(fd);
    w->catSerFD = 0;
    if (gone) {
        DeviceWentAway(w, kDevErrCat, "CAT", dev);
    }
}

void SetModeWorkIDX(Works* w) {
    BankLock bank(BankMutex()); // the links follow the bank's mode
    // The mode's own link starts, then every other source's ends (a thread ends
    // at its next look at its byte).
    if (const FreqSource* now = CurrentSource(w)) {
        if (now->run && *now->run(w) != '1') {
            *now->run(w) = '1';
            StartService(w, now->service);
        }
        for (int m = 0; m < kModeWorkCount; m++) {
            const FreqSource* s = SourceOfMode(m);
            if (s == now || !s->run || *s->run(w) != '1')
                continue;
            *s->run(w) = '0';
            if (s->stopAlarm >= 0)
                DeleteErrore(w, s->stopAlarm);
        }
    }
    IncPNTIn_CMDLinear(kCmdGsWrite, w);
}
