// The 30-slot command ring and the amplifier port.
//
// Many threads queue commands (keys, menus, the refresh tick, the tuner, the
// reply decoder); the link thread alone takes them out. Producers serialise on a
// small lock and publish the write index after the slot; the link thread reads
// without the lock. A full ring refuses the command instead of wrapping into an
// apparently empty queue.
#include "amp/CmdQueue.h"

#include "amp/Linear.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/SerialPort.h"
#include "tuner/Bands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_producerMut;
constexpr int kWriteGiveUpMs = 1000;
} // namespace

int IncPNTIn_CMDLinear(int cmd, Works* w) {
    std::lock_guard<std::mutex> lock(g_producerMut);
    int wr = w->cmdQueueWrite.loadAcquire();
    int next = wr >= kCmdQueueSize - 1 ? 0 : wr + 1;
    if (next == w->cmdQueueRead.loadAcquire()) {
        LogErr("Linear: command queue full, command %d dropped", cmd);
        return -1;
    }
    w->cmdQueue[wr] = cmd;
    w->cmdQueueWrite.storeRelease(next);
    return cmd;
}

bool CmdQueueEmpty(Works* w) {
    return w->cmdQueueRead.loadAcquire() == w->cmdQueueWrite.loadAcquire();
}

int CmdQueueTake(Works* w) {
    int rd = w->cmdQueueRead.loadAcquire();
    if (rd == w->cmdQueueWrite.loadAcquire())
        return -1;
    int cmd = w->cmdQueue[rd];
    w->cmdQueue[rd] = 0;
    w->cmdQueueRead.storeRelease(rd >= kCmdQueueSize - 1 ? 0 : rd + 1);
    return cmd;
}

void NextCmdPriority(Works* w, int defaultState) {
    w->retryCount = 0;
    if (w->cmdQueueDrain == 0) {
        linearProcessStatus = defaultState;
        return;
    }
    int cmd = CmdQueueTake(w);
    if (cmd < 0) {
        w->cmdQueueDrain = 0;
        linearProcessStatus = defaultState;
        if (w->errorResetPhase == 1) {
            std::fprintf(stderr, ">>> ERRORI: Send All CMD for Error\n");
            w->errorResetPhase = 2;
        }
        return;
    }
    linearProcessStatus = cmd;
    std::fprintf(stderr, "cmd ext: %d\n", cmd);
}

void LastCmdSent(Works* w, char letter1, char letter2, int state) {
    w->lastCmd.put(0, letter1);
    w->lastCmd.put(1, letter2);
    w->lastCmd.put(2, '\0');
    w->retryState = state;
}

int writeLinearPort(int fd, const char* text, size_t length, Works* w) {
    const PortStatus st =
        plat_port_write(fd, text, length, kWriteGiveUpMs, [w] { return w->running != 0; });
    if (st == PortStatus::Failed || st == PortStatus::HungUp) {
        LogErr("Linear: write failed, error %d", errno);
        return -1;
    }
    if (st != PortStatus::Ok) {
        LogErr("Linear: port not writable, command dropped");
        return -1;
    }
    counterrortimeout = 0;
    return 0;
}

int OpenLinear(Works* w) {
    char dev[16];
    w->setup->LinPort.copyTo(dev, sizeof dev);
    LogInfo("Init Linear Port %s", dev);
    SerialOpenError err;
    const int fd = plat_serial_open(dev, SerialLine{B115200, HUPCL, 5}, &err);
    if (err == SerialOpenError::Open) {
        LogErr("Unable to open device %s", dev);
        std::fprintf(stderr, "Unable to open device %s\n", dev);
        RaiseDeviceError(w, kDevErrLinear, "Linear: Unable to open device %s", dev);
        return -1;
    }
    if (err == SerialOpenError::Settings) {
        LogErr("Unable to set comm port %s", dev);
        std::fprintf(stderr, "Unable to set comm port %s\n", dev);
        RaiseDeviceError(w, kDevErrLinear, "Linear: Unable to set comm port %s", dev);
        return -1;
    }
    w->linFD = fd;
    LogInfo("OK works->linFD=%d (%s)", fd, dev);
    std::fprintf(stderr, "OK works->linFD=%d (%s) stato:%d\n", fd, dev, linearProcessStatus.load());
    return fd;
}

const char* AttenuatorText(int value) {
    static const char* const texts[4] = {"AT00;", "AT01;", "AT10;", "AT11;"};
    return texts[value & 3];
}

void SetAttenuatorCMD(Works* w, int value, int state) {
    LastCmdSent(w, 'A', 'T', state);
    const char* text = AttenuatorText(value);
    writeLinearPort(w->linFD, text, 5, w);
    linearProcessStatus = kStateWait;
    std::fprintf(stderr, ">> %s\n", text);
}

void InitMicroCmd(Works* w) {
    std::fprintf(stderr, "Init CRT ... \n");
    for (int cmd : {kCmdVersion, kCmdEe0, kCmdEe1, kCmdEe2, kCmdProtOff})
        IncPNTIn_CMDLinear(cmd, w);
    SearchCambioSoglie_TS(w);
    for (int cmd : {kCmdAn, kCmdAntenna, kCmdFreqSens, kCmdTuneWord, kCmdProtParams, kCmdGeneric,
                    kCmdGsRead, kCmdClearProt, kCmdResetQuery})
        IncPNTIn_CMDLinear(cmd, w);
}
