// The amplifier link loop.
//
// The thread owns the tuner (tuner/TunerRequests.h) and alternates "ST;" with a
// queued command or "FM;". Every reply goes to the decoder; then the loop picks
// the next state: a retry of a failed exchange, the next command, or while the
// tuner searches its next step and tune word. A reply is awaited against
// the 1.5 s time-out; bytes are taken one at a time from what has arrived, so
// two replies that arrive together are decoded in turn. A port that hangs up
// ends the link with the device-error page.
#include "amp/Linear.h"

#include "core/AlarmList.h"
#include "amp/LinearPort.h"
#include "amp/Decoder.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Thread.h"
#include "tuner/AutoTune.h"
#include "tuner/Bands.h"
#include "tuner/Sources.h"
#include "tuner/TuneMem.h"
#include "tuner/TunerRequests.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

QuietShared<int> linearProcessStatus;
QuietShared<int> counterrortimeout;

namespace {

void send(Works* w, const char* text, char l1, char l2, int state) {
    LastCmdSent(w, l1, l2, state);
    writeLinearPort(w->linFD, text, std::strlen(text), w);
    linearProcessStatus = kStateWait;
}

void sendTuneWord(Works* w, int state) {
    char text[16];
    std::snprintf(text, sizeof text, "MT1%08X;", w->tunerWord.load());
    send(w, text, 'M', 'T', state);
}

// Bytes read from the port but not yet taken by the state machine.
struct Incoming {
    char bytes[256];
    size_t len = 0;
    size_t pos = 0;
};

} // namespace

void GestRetrayCMD(Works* w) {
    w->retryTotal++;
    char l1 = w->lastCmd.at(0), l2 = w->lastCmd.at(1);
    if (w->retryCount > 2) {
        char text[kAlarmTextSize];
        std::snprintf(text, sizeof text, "Err %c%c", l1, l2);
        w->errorTable[kAlarmComm].line2.set(text);
        int idle = 0; // the transceiver's link shares the hold-off
        if (w->errHoldoffMs.compareExchange(idle, 2000))
            AddErrore(w, kAlarmComm);
        LogOut(
                     "---------------------------------------STOP RETRAY!! %c%c (%d, %d) Restart da "
                     "ST (Timer: %i)\n",
                     l1, l2, w->retryTotal.load(), w->retryCount.load(), w->errHoldoffMs.load());
        w->retryStops++;
        linearProcessStatus = kCmdStatus;
        w->retryCount = 0;
        return;
    }
    w->retryCount++;
    linearProcessStatus = w->retryState.load();
    LogOut("--------------------------------------- ERROR LINEAR: RETRAY %c%c (%d , %d)\n",
                 l1, l2, w->retryTotal.load(), w->retryCount.load());
}

void SendLinearCommand(Works* w, int state) {
    char text[32];
    switch (state) {
    case kCmdVersion:
        send(w, "VSM;", 'V', 'S', state);
        break;
    case kCmdStatus:
        send(w, "ST;", 'S', 'T', state);
        break;
    case kCmdAntenna:
        std::snprintf(text, sizeof text, "SA%d;", w->antennaIdx + 1);
        send(w, text, 'S', 'A', state);
        break;
    case kCmdFreqMeter:
        send(w, "FM;", 'F', 'M', state);
        break;
    case kCmdFreq:
        std::snprintf(text, sizeof text, "FA%011lu;",
                      static_cast<unsigned long>(static_cast<uint32_t>(w->freqHz.load())));
        send(w, text, 'F', 'A', state);
        break;
    case kCmdTuneQuery:
        send(w, "MT;", 'M', 'T', state);
        break;
    case kCmdTuneWord:
        sendTuneWord(w, state);
        w->tunerBypass = (w->tunerWord & 0x10000) ? 1 : 0;
        break;
    case kCmdFreqSens:
        std::snprintf(text, sizeof text, "FS%01d%04d;", w->settings.freqSensIn.load() % 10,
                      w->settings.freqPeriod / 10);
        send(w, text, 'F', 'S', state);
        break;
    case kCmdClearProt:
        send(w, "CPFFFF;", 'C', 'P', state);
        break;
    case kCmdAtt:
        SetAttenuatorCMD(w, w->attenuator, state);
        break;
    case kCmdAttTune:
        SetAttenuatorCMD(w, w->settings.attenuatorTune, state);
        break;
    case kCmdAttBoth:
        SetAttenuatorCMD(w, 3, state);
        break;
    case kCmdProtOff:
        send(w, "MP0;", 'M', 'P', state);
        break;
    case kCmdProtOn:
        send(w, "MP1;", 'M', 'P', state);
        break;
    case kCmdBypassOff:
        send(w, "AB0;", 'A', 'B', state);
        w->bypassRequested = 0;
        LogOut(">> AB0;\n");
        break;
    case kCmdBypassOn:
        send(w, "AB1;", 'A', 'B', state);
        w->bypassRequested = 1;
        {
            OperatingPointLock op(OperatingPointMutex());
            w->attenuatorShown = 4;
        }
        LogOut(">> AB1;\n");
        break;
    case kCmdAn:
        std::snprintf(text, sizeof text, "AN%d;", w->anState % 10);
        send(w, text, 'A', 'N', state);
        LogOut(">> %s\n", text);
        break;
    case kCmdThresholds: {
        int ts[4];
        ReadThresholds(w, ts);
        std::snprintf(text, sizeof text, "TS%04d%04d%04d%04d;", ts[0], ts[1], ts[2], ts[3]);
        send(w, text, 'T', 'S', state);
        break;
    }
    case kCmdFan:
        std::snprintf(text, sizeof text, "FN1%03d;", w->fanWanted.load());
        send(w, text, 'F', 'N', state);
        break;
    case kCmdProtParams:
        std::snprintf(text, sizeof text, "PS%04d%04d%04d%04d;", w->settings.psPar[0].load(),
                      w->settings.psPar[1].load(), w->settings.psPar[2].load(), w->settings.psPar[3].load());
        send(w, text, 'P', 'S', state);
        LogOut(">> %s\n", text);
        break;
    case kCmdTuneFromMem:
        LoadTuneFromMEM(w, w->antennaIdx);
        w->tunerBypass = 0;
        sendTuneWord(w, state);
        break;
    case kCmdFilter:
        std::snprintf(text, sizeof text, "SF30000%02x;", w->relayDrive.load());
        send(w, text, 'S', 'F', state);
        LogOut(">> %s\n", text);
        break;
    case kCmdFwUpdate:
        send(w, "MR1;", 'M', 'R', state);
        w->serviceFlags.set(4);
        linearProcessStatus = kStateParked; // nothing more goes to the micro
        break;
    case kCmdResetQuery:
        send(w, "MR0;", 'M', 'R', state);
        break;
    case kCmdGeneric:
        std::snprintf(text, sizeof text, "GM%04d%04d;", w->settings.gmPar[0].load(), w->settings.gmPar[1].load());
        send(w, text, 'G', 'M', state);
        LogOut(">> %s\n", text);
        break;
    case kCmdGsRead:
        send(w, "GS;", 'G', 'S', state);
        LogOut(">>r: %s\n", "GS;");
        break;
    case kCmdGsWrite: {
        char gs[11];
        w->generalSettings.copyTo(gs, sizeof gs);
        // Bit 1 of the second character tells the micro whether it counts the frequency.
        if (const FreqSource* src = CurrentSource(w); src && src->amplifierCounts)
            gs[1] = static_cast<char>(gs[1] | 0x02);
        else
            gs[1] = static_cast<char>(gs[1] & ~0x02);
        std::snprintf(text, sizeof text, "GS%s;", gs);
        send(w, text, 'G', 'S', state);
        break;
    }
    case kCmdEe0:
        send(w, "ER0000;", 'E', 'R', state);
        break;
    case kCmdEe1:
        send(w, "ER0001;", 'E', 'R', state);
        break;
    case kCmdEe2:
        send(w, "ER0002;", 'E', 'R', state);
        break;
    case kCmdTunerBypass:
        w->tunerBypass = 1;
        w->tunerWord = (w->tunerWord | 0x10000u) & ~(0x40000u | 0x800000u);
        sendTuneWord(w, state);
        break;
    case kCmdTunerReset:
        w->tunerBypass = 0;
        w->tunerWord = 0;
        w->tuner.tuneC = 0;
        w->tuner.tuneL = 0;
        w->tunerWord |= 0x800000u;
        sendTuneWord(w, state);
        break;
    default:
        // Not a command: nothing to send. Fall back to the status poll rather
        // than stay in a state that never moves.
        LogErr("Linear: unknown state %d", state);
        linearProcessStatus = kCmdStatus;
        break;
    }
}

void LinearAfterReply(Works* w, ReplyKind kind) {
    if (kind == ReplyKind::Failed) {
        GestRetrayCMD(w);
        plat_sleep_ms(20);
        return;
    }
    if (kind == ReplyKind::Other) {
        NextCmdPriority(w, kCmdStatus);
        plat_sleep_ms(20);
        return;
    }
    switch (w->tuneState) {
    case 0: {
        const int cmd = CmdQueueTake(w);
        linearProcessStatus = cmd >= 0 ? cmd : kCmdFreqMeter;
        break;
    }
    case 1:
        TuneTask(w);
        linearProcessStatus = kCmdTuneWord;
        break;
    case 2:
        linearProcessStatus = kCmdClearProt;
        w->tuneState = 1;
        break;
    case 3:
        linearProcessStatus = kCmdStatus;
        w->tuneState = 1;
        break;
    default:
        // No such tuning phase: keep polling rather than stall.
        linearProcessStatus = kCmdStatus;
        break;
    }
    plat_sleep_ms(10);
}

bool LinearReplyByte(LinearReply* reply, char c) {
    const TextStep step = reply->push(c);
    if (step == TextStep::Dropped)
        LogOut("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n");
    if (step != TextStep::Text)
        return false;
    reply->text[reply->len - 1] = '\0';
    return true;
}

void Linear(Works* w) {
    linearProcessStatus = kCmdStatus;
    int fd = OpenLinear(w);
    if (fd < 0) {
        // The error page shows the failure; its retry key starts the link again.
        LogErr("Linear: no port, link stopped");
        return;
    }
    const PortWanted wanted = [w] { return w->running && ThreadStillWanted(); };

    LinearReply reply;
    Incoming in;
    bool gone = false;
    TunerDropRequests(w);
    while (!gone && wanted()) {
        plat_heartbeat(w->linkBeat);
        // The tuner is this thread's: what the keys, the menus and the tick asked
        // for is done here, before the next command goes out.
        TunerServeRequests(w);
        const int state = linearProcessStatus;
        if (state == kStateWait) {
            if (in.pos == in.len) {
                const int left = kReplyTimeoutMs - counterrortimeout;
                if (left <= 0) {
                    GestRetrayCMD(w);
                    counterrortimeout = 0;
                    continue;
                }
                PortStatus st;
                int waited = 0;
                const ssize_t n = plat_port_read(fd, in.bytes, sizeof in.bytes, left, wanted, &st, &waited);
                counterrortimeout += waited;
                if (st == PortStatus::TimedOut || st == PortStatus::Stopped)
                    continue;
                if (st == PortStatus::HungUp) {
                    gone = true;
                    break;
                }
                if (n <= 0) {
                    LogErr("timeout %d\n", static_cast<int>(n));
                    GestRetrayCMD(w);
                    plat_sleep_ms(20);
                    continue;
                }
                in.len = static_cast<size_t>(n);
                in.pos = 0;
            }
            if (LinearReplyByte(&reply, in.bytes[in.pos++]))
                linearProcessStatus = kStateDecode;
        } else if (state == kStateDecode) {
            const ReplyKind kind = DecodeCatCmd(w, reply.text, static_cast<int>(reply.len));
            reply.reset();
            LinearAfterReply(w, kind);
        } else if (state == kStateParked) {
            plat_sleep_ms(1000);
        } else {
            SendLinearCommand(w, state);
        }
    }
    close(fd);
    w->linFD = 0;
    if (gone) {
        char dev[16];
        w->setup->LinPort.copyTo(dev, sizeof dev);
        DeviceWentAway(w, kDevErrLinear, "Linear", dev);
    }
}
