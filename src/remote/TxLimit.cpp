// The transmit time limit of remote operation.
#include "remote/TxLimit.h"

#include "core/AlarmList.h"
#include "core/Services.h"
#include "core/Setup.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "remote/TxGuard.h"
#include "wire/Messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

bool transmitting(Works* w) {
    const AmpReadings r = AmpReadingsNow(w);
    return r.transmitting() || r.pwrFwd > kTxGuardPowerW;
}

// Whole seconds, to the nearest: the ticks come every 10-100 ms.
int seconds(int64_t ms) { return static_cast<int>((ms + 500) / 1000); }

// The timed transmission has ended: without the remote operator, without a
// limit, or paused for longer than a gap between words.
void timedEnded(Works* w, int phase, int limitS) {
    TxLimitState& t = w->txLimit;
    if (phase == kTxNear) {
        DeleteErrore(w, kAlarmTxLimitNear);
        LogInfoOut("remote TX limit: the transmission ended after %d s, before the limit of %d s",
                   seconds(t.lastTxMs - t.startMs), limitS);
    }
    t.phase = kTxIdle;
}

void limitReached(Works* w, int64_t now, int limitS) {
    TxLimitState& t = w->txLimit;
    t.lastedS = seconds(now - t.startMs);
    t.endedMs = now;
    t.refusedLogged = 0;
    // Locked before the guard's "RX;" goes out: a relayed "TX;" meanwhile is refused.
    t.phase = kTxLocked;
    DeleteErrore(w, kAlarmTxLimitNear);
    AddErrore(w, kAlarmTxLimit);
    t.alarmShown = ExistError(w, kAlarmTxLimit) ? 1 : 0;
    LogErrOut("remote TX limit: the transmission ended after %d s (limit %d s); transmit refused until "
              "acknowledged",
              t.lastedS.load(), limitS);
    StartJob(Job::TxLimit, 0, [w] { TxGuardReturnToReceive(w); });
}

// The notice stays until the reset key takes its alarm key away.
void lockedTick(Works* w, int64_t now) {
    TxLimitState& t = w->txLimit;
    const bool shown = ExistError(w, kAlarmTxLimit);
    if (!t.alarmShown) {
        // Not yet in the list (none goes in before the amplifier's first reply).
        if (!shown)
            AddErrore(w, kAlarmTxLimit);
        t.alarmShown = ExistError(w, kAlarmTxLimit) ? 1 : 0;
        return;
    }
    if (shown)
        return;
    LogInfoOut("remote TX limit: acknowledged %d s after it ended a transmission of %d s",
               seconds(now - t.endedMs), t.lastedS.load());
    t.phase = kTxIdle;
}

char phaseChar(int phase) {
    switch (phase) {
    case kTxTiming:
        return 'T';
    case kTxNear:
        return 'W';
    case kTxLocked:
        return 'L';
    default:
        return 'R';
    }
}

bool digits(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (p[i] < '0' || p[i] > '9')
            return false;
    return true;
}

int number(const uint8_t* p, size_t n) {
    int v = 0;
    for (size_t i = 0; i < n; i++)
        v = v * 10 + (p[i] - '0');
    return v;
}

} // namespace

int TxLimitSeconds(Works* w) {
    const long v = SettingNumber(w, "RemoteTxLimit");
    if (v <= 0)
        return 0;
    return v < kTxLimitMinS ? kTxLimitMinS : static_cast<int>(v);
}

bool OperatedRemotely(Works* w) {
    return (w->setup->WebSocket == '1' && w->remoteConnected) || w->txLimit.console;
}

void TxLimitTick(Works* w, int64_t now) {
    TxLimitState& t = w->txLimit;
    const int phase = t.phase;
    if (phase == kTxLocked) {
        lockedTick(w, now);
        return;
    }
    const int limitS = TxLimitSeconds(w);
    const bool timed = limitS > 0 && OperatedRemotely(w);
    const bool tx = transmitting(w);
    if (phase == kTxIdle) {
        if (timed && tx) {
            t.startMs = now;
            t.lastTxMs = now;
            t.phase = kTxTiming;
        }
        return;
    }
    if (tx)
        t.lastTxMs = now;
    if (!timed || (!tx && now - t.lastTxMs >= kTxLimitGapMs)) {
        timedEnded(w, phase, limitS);
        return;
    }
    const int64_t elapsed = now - t.startMs;
    if (tx && elapsed >= limitS * 1000LL) {
        limitReached(w, now, limitS);
        return;
    }
    if (phase == kTxTiming && elapsed >= (limitS - kTxLimitWarnS) * 1000LL) {
        t.phase = kTxNear;
        AddErrore(w, kAlarmTxLimitNear);
        LogInfoOut("remote TX limit: %d s left after %d s of transmitting", TxLimitLeftS(w, now),
                   seconds(elapsed));
    }
}

int TxLimitLeftS(Works* w, int64_t now) {
    const int phase = w->txLimit.phase;
    if (phase != kTxTiming && phase != kTxNear)
        return -1;
    const int64_t leftMs = TxLimitSeconds(w) * 1000LL - (now - w->txLimit.startMs);
    return leftMs <= 0 ? 0 : static_cast<int>((leftMs + 999) / 1000);
}

bool TxLimitRefuses(Works* w, const uint8_t* text, size_t n, const char* where) {
    if (w->txLimit.phase != kTxLocked || !HasTransmitCommand(text, n))
        return false;
    if (!w->txLimit.refusedLogged.exchange(1))
        LogErrOut("remote TX limit: a transmit request on the %s refused until the limit is acknowledged (told once)",
                  where);
    return true;
}

size_t BuildTxLimitMessage(Works* w, int64_t now, char* out, size_t cap) {
    if (cap < kTxLimitMessageSize + 1)
        return 0;
    // Four digits each: the limit is at most 3600 s and the time left within it.
    const int limit = std::clamp(TxLimitSeconds(w), 0, 9999);
    const int left = std::clamp(TxLimitLeftS(w, now), 0, 9999);
    std::snprintf(out, cap, "%04d%04d%c", limit, left, phaseChar(w->txLimit.phase));
    return kTxLimitMessageSize;
}

bool ParseTxLimitMessage(const uint8_t* p, size_t n, StationState* into) {
    if (n != kTxLimitMessageSize || !digits(p, 8))
        return false;
    const char phase = static_cast<char>(p[8]);
    if (phase != 'R' && phase != 'T' && phase != 'W' && phase != 'L')
        return false;
    into->txLimitS = number(p, 4);
    into->txLeftS = number(p + 4, 4);
    into->txPhase = phase;
    return true;
}

void SendTxLimit(Works* w) {
    const int64_t now = plat_mono_ms();
    char text[kTxLimitMessageSize + 1];
    const size_t n = BuildTxLimitMessage(w, now, text, sizeof text);
    TxLimitState& t = w->txLimit;
    const int fd = w->wsFD;
    // Also now and then unchanged: a new session may have the old one's descriptor.
    if (n == 0 || (fd == t.sentFd && std::strcmp(text, t.sent) == 0 && now - t.sentMs < kTxLimitRepeatMs))
        return;
    if (!sendWebSockTxLimitFrame(w, text, n))
        return; // tried again at the next tick
    std::memcpy(t.sent, text, n + 1);
    t.sentFd = fd;
    t.sentMs = now;
}

void StationTxLimitReceived(Works* w, const uint8_t* p, size_t n) {
    std::lock_guard<std::mutex> lock(w->station.mu);
    if (!ParseTxLimitMessage(p, n, &w->station.s)) {
        LogErr("remote: a transmit limit message of %zu bytes that is not one, not shown", n);
        return;
    }
    w->station.s.txLimitMs = plat_mono_ms();
}

bool TxLimitNotice(Works* w, char* text, size_t size) {
    if (w->setup->WebSocket == '2') {
        if (!w->remoteConnected)
            return false;
        StationState s;
        {
            std::lock_guard<std::mutex> lock(w->station.mu);
            s = w->station.s;
        }
        if (s.txLimitMs < 0)
            return false;
        if (s.txPhase == 'T' || s.txPhase == 'W')
            std::snprintf(text, size, "Station TX limit %d s: %d s left", s.txLimitS, s.txLeftS);
        else if (s.txPhase == 'L')
            std::snprintf(text, size, "Station TX limit reached: RESET to transmit again");
        else
            return false;
        return true;
    }
    const int phase = w->txLimit.phase;
    if (phase == kTxNear)
        std::snprintf(text, size, "Remote TX: the time limit ends it in %d s", TxLimitLeftS(w, plat_mono_ms()));
    else if (phase == kTxLocked)
        std::snprintf(text, size, "Remote TX ended by the time limit after %d s: RESET to transmit again",
                      w->txLimit.lastedS.load());
    else
        return false;
    return true;
}

const char* TxLimitStateName(Works* w) {
    switch (w->txLimit.phase) {
    case kTxTiming:
        return "timing";
    case kTxNear:
        return "near";
    case kTxLocked:
        return "reached";
    default:
        return TxLimitSeconds(w) > 0 ? "idle" : "off";
    }
}
