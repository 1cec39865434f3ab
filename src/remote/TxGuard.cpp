// The station's transmitter when a remote session ends.
#include "remote/TxGuard.h"

#include "core/CmdRing.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "tuner/CAT.h"

namespace {

constexpr int kLookMs = 50;

bool rfPresent(Works* w) {
    const AmpReadings r = AmpReadingsNow(w);
    return r.transmitting() || r.pwrFwd > kTxGuardPowerW;
}

} // namespace

bool HasTransmitCommand(const uint8_t* t, size_t n) {
    // Kenwood-style transmit: "TX;" or "TX" and one digit, ';' ending it.
    for (size_t i = 0; i + 2 < n; i++) {
        if (t[i] != 'T' || t[i + 1] != 'X')
            continue;
        if (i > 0 && t[i - 1] != ';')
            continue; // inside another command
        const size_t end = t[i + 2] >= '0' && t[i + 2] <= '9' ? i + 3 : i + 2;
        if (end < n && t[end] == ';')
            return true;
    }
    return false;
}

void TxGuardCatText(Works* w, const uint8_t* t, size_t n) {
    if (!HasTransmitCommand(t, n))
        return;
    const int64_t now = plat_mono_ms();
    w->remoteTxCmdMs = now > 0 ? now : 1;
}

void RemoteSessionEnded(Works* w) {
    const int64_t cmd = w->remoteTxCmdMs.exchange(0);
    const bool recentCmd = cmd > 0 && plat_mono_ms() - cmd < kTxGuardCatMs;
    if (!rfPresent(w) && !recentCmd)
        return;
    LogErr("remote: session ended while transmitting: the station returns to receive");
    TxGuardReturnToReceive(w);
}

void TxGuardReturnToReceive(Works* w) {
    const int fd = status_cat ? w->catFD.load() : -1;
    if (fd >= 0) {
        static const char kRx[] = "RX;";
        const bool sent = plat_port_write(fd, kRx, sizeof kRx - 1, 1000, [w] { return w->running != 0; }) ==
                          PortStatus::Ok;
        LogErr(sent ? "remote: \"RX;\" sent on the CAT port" : "remote: \"RX;\" could not be sent on the CAT port");
    }
    // The serial link's receive request, as the carrier key makes it.
    w->txButtonFlags.change(2 | 16 | 32, 1);
    LogErr("remote: receive requested on the transceiver's link");
    int waited = 0;
    while (rfPresent(w) && waited < kTxGuardRfWaitMs && w->running) {
        plat_sleep_ms(kLookMs);
        waited += kLookMs;
    }
    if (!w->running)
        return;
    OperatingPointLock op(OperatingPointMutex());
    if (rfPresent(w)) {
        LogErr("remote: RF still present after %d s: the amplifier stays in operate", kTxGuardRfWaitMs / 1000);
        return;
    }
    w->attenuatorShown = 4;
    if (w->ampBypass == 0)
        IncPNTIn_CMDLinear(kCmdBypassOn, w);
    LogErr("remote: no RF: the amplifier is in standby until a key or the next operator returns it");
}
