// Start values of the shared record and the named globals.
#include "core/Works.h"

#include "platform/Clock.h"
#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

Shared<double> TIME_LONG_PRESS;
Shared<int> number_ofStep_meter_FWD;
Shared<int> number_ofStep_meter_REFL;
Shared<int> number_ofStep_meter_SWR;
Shared<int> number_ofStep_meter_PW;
Shared<int> fattoremedia;
Shared<double> PeakDecrement;
Shared<int> PeakDecrementTime;
Shared<int> TimerPeakSec;
Shared<int> CntIP, CntDNS, CntNetMask, CntGateway;

void ZeroWorks(Works* works) {
    std::destroy_at(works);
    ::new (static_cast<void*>(works)) Works{};
}

void InitRunState(Works* w) {
    w->running = 1;
    w->eeModel[0] = 255;
    w->eeModel[1] = 255;
    w->swVersion.set(kSwVersion);
    w->wsFD = -1;
    w->audioFrameParam = 2;
    w->audioRate = 48000;
    w->refreshUs = 10000;
    w->stillWaitMs = 100;
    w->freqHz = 14070000;
    w->lastFreqHz = 14070000;
    w->ampBypass = 1;
    w->tsThresholds[0] = 4095;
    w->tsThresholds[1] = 4095;
    w->tsThresholds[2] = 1500;
    w->tsThresholds[3] = 3700;
    w->panelCmd = 0xB0;
    w->clockIdle = 1;
    w->startupFlags.replace(1);
    w->ModeWorkIdx = -1;
    w->thresholdRowIdx = -1;
    w->antennaRowIdx = kNoAntennaRow;
    w->screenPage = 1;
    w->serFD = -1;
    // The forward scale follows the amplifier's model, not the setup file.
    number_ofStep_meter_FWD = 60;
    number_ofStep_meter_REFL = 60;
    number_ofStep_meter_SWR = 60;
    number_ofStep_meter_PW = 60;
}

void InitSettingMirrors(Works* w) {
    w->tcpPort = 6666;
    w->audioMultiplier = 240;
    w->audioBitrate = 0;
    w->antennaIdx = 0;
    w->pwrPeakEnabled = 0;
    w->tempMode = 0;
    w->freqSensIn = 0;
    w->freqPeriod = 10;
    w->attenuator = 0;
    w->attenuatorTune = 0;
    w->swrEscAutoTune = 0.0f;
    w->viewTimeStr = 0;
    w->viewTemp = 0;
    w->maxTemperature = 60.0f;
    w->autoTuneMaxCycles = 0;
    w->powerUnits = 0;
    w->saveScreenIdx = 0;
    w->tuneModeFlags.clear(static_cast<uint8_t>(~0x04u)); // a pending return to receive stays
    w->divide = kDivideStart;
    w->maxTempAllowed = 60;
    w->psPar[0] = 1;
    w->psPar[1] = 1000;
    w->psPar[2] = 0;
    w->psPar[3] = 0;
    w->gmPar[0] = 2;
    w->gmPar[1] = 100;
    w->hysteresis1 = 1;
    w->hysteresis2 = 1;
    w->plotOffset = 0.0;
    w->tuneEnabled = 0;
    w->NumBanco = 1;
    w->MAXbank = 20;
    w->debugEnabled = 0;
    w->logTempEnabled = 0;
    w->hamlibModel = 2; // NET rigctl: a rigctld on this machine
    w->hamlibSpeed = 0; // the model's own
    w->hamlibPollMs = 200;
    w->webPort = 8443;

    TIME_LONG_PRESS = 0.5;
    fattoremedia = 2;
    PeakDecrement = 1.0;
    PeakDecrementTime = 1;
    TimerPeakSec = 3000;
}

void InitGlobalVar(Works* w) {
    InitRunState(w);
    InitSettingMirrors(w);
}

namespace {
std::mutex& deviceErrorMutex() {
    static std::mutex m;
    return m;
}
} // namespace

void RaiseDeviceError(Works* works, int code, const char* fmt, ...) {
    char text[104];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    // Two devices that fail together leave one whole pair, text and code.
    std::lock_guard<std::mutex> lock(deviceErrorMutex());
    works->deviceErrorText.set(text);
    works->deviceErrorCode.storeRelease(code);
}

int DeviceErrorShown(Works* works, char* text, size_t size) {
    std::lock_guard<std::mutex> lock(deviceErrorMutex());
    works->deviceErrorText.copyTo(text, size);
    return works->deviceErrorCode.loadAcquire();
}

bool DeviceErrorStep(Works* works, int from, int to) {
    return works->deviceErrorCode.compareExchange(from, to);
}

void DeviceWentAway(Works* w, int code, const char* link, const char* dev) {
    LogErr("%s: device %s went away", link, dev);
    RaiseDeviceError(w, code, "%s: device %s went away", link, dev);
}

std::mutex& OperatingPointMutex() {
    static std::mutex m;
    return m;
}

void SleepWhileRunning(Works* w, int ms) {
    const int64_t end = plat_mono_ms() + ms;
    while (w->running) {
        const int64_t left = end - plat_mono_ms();
        if (left <= 0)
            return;
        plat_sleep_ms(left < 200 ? left : 200);
    }
}
