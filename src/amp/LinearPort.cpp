// The amplifier port: opening it, writing a command against a deadline, and
// the link's choice of the next command.
#include "amp/LinearPort.h"

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
constexpr int kWriteGiveUpMs = 1000;
} // namespace

void NextCmdPriority(Works* w, int defaultState) {
    w->retryCount = 0;
    if (w->cmdQueueDrain == 0) {
        linearProcessStatus = defaultState;
        return;
    }
    int cmd = CmdQueueTakeDraining(w);
    if (cmd < 0) {
        linearProcessStatus = defaultState;
        return;
    }
    linearProcessStatus = cmd;
    LogOut("cmd ext: %d\n", cmd);
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
        LogErrOut("Unable to open device %s", dev);
        RaiseDeviceError(w, kDevErrLinear, "Linear: Unable to open device %s", dev);
        return -1;
    }
    if (err == SerialOpenError::Settings) {
        LogErrOut("Unable to set comm port %s", dev);
        RaiseDeviceError(w, kDevErrLinear, "Linear: Unable to set comm port %s", dev);
        return -1;
    }
    w->linFD = fd;
    LogInfo("OK works->linFD=%d (%s)", fd, dev);
    LogOut("OK works->linFD=%d (%s) stato:%d\n", fd, dev, linearProcessStatus.load());
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
    LogOut(">> %s\n", text);
}

void InitMicroCmd(Works* w) {
    LogOut("Init CRT ... \n");
    for (int cmd : {kCmdVersion, kCmdEe0, kCmdEe1, kCmdEe2, kCmdProtOff})
        IncPNTIn_CMDLinear(cmd, w);
    SearchCambioSoglie_TS(w);
    for (int cmd : {kCmdAn, kCmdAntenna, kCmdFreqSens, kCmdTuneWord, kCmdProtParams, kCmdGeneric,
                    kCmdGsRead, kCmdClearProt, kCmdResetQuery})
        IncPNTIn_CMDLinear(cmd, w);
}
