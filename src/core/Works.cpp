// Start values of the shared record and the named globals.
#include "core/Works.h"

#include "platform/Clock.h"
#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>


void ZeroWorks(Works* works) {
    std::destroy_at(works);
    ::new (static_cast<void*>(works)) Works{};
}

void InitRunState(Works* w) {
    w->running = 1;
    w->ident.eeModel[0] = 255;
    w->ident.eeModel[1] = 255;
    w->ident.swVersion.set(kSwVersion);
    w->wsFD = -1;
    w->audio.audioFrameParam = 2;
    w->audio.audioRate = 48000;
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
    w->pages.screenPage = 1;
    w->serFD = -1;
    // The forward scale follows the amplifier's model, not the setup file.
    w->meters.number_ofStep_meter_FWD = 60;
    w->meters.number_ofStep_meter_REFL = 60;
    w->meters.number_ofStep_meter_SWR = 60;
    w->meters.number_ofStep_meter_PW = 60;
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
