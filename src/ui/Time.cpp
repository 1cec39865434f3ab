// The refresh thread, the meters and the spectrum plot.
#include "ui/Time.h"

#include "core/AlarmList.h"
#include "core/Changes.h"
#include "core/CmdRing.h"
#include "amp/Decoder.h"
#include "amp/Temperature.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "wire/Messages.h"
#include "remote/StationRecord.h"
#include "tuner/Follow.h"
#include "draw/Damage.h"
#include "draw/Fb.h"
#include "draw/Graph.h"
#include "ui/Keys.h"
#include "draw/Meter.h"
#include "ui/Nuova.h"
#include "remote/TxLimit.h"
#include "draw/Png.h"
#include "ui/Readings.h"
#include "draw/TTF.h"

#include <cmath>
#include <cstdio>
#include <mutex>

PlotGrid plot;

namespace {

// State of the refresh thread kept from one tick to the next.
struct TickState {
    bool errorPageShown = false;
    int64_t lastCpuReadMs = -1000000;
    int logAccMs = 0;
    bool still = false; // the last tick changed nothing on the screen
};
TickState g_tick;

// Derived plot geometry of the current globals.
struct Grid {
    int rx, ry, left, right, top, bottom;
};
Grid gridNow() {
    Grid g;
    g.rx = (plot.SchermoWidth - plot.borderLeft - plot.borderRight) / plot.divX;
    g.ry = (plot.SchermoHeight - plot.borderTop - plot.borderBottom) / plot.divY;
    g.left = plot.borderLeft;
    g.right = plot.divX * g.rx + g.left;
    g.top = plot.borderTop;
    g.bottom = plot.divY * g.ry + g.top;
    return g;
}

void needle(FrameBuffer* fb, int px, int py, float a, uint8_t r, uint8_t g, uint8_t b) {
    int x, y;
    NeedleEnd(px, py, kNeedleLength, kNeedleLength, a, &x, &y);
    DrawLine(px - 1, py, x, y, r, g, b, fb, 0);
    DrawLine(px, py, x, y, r, g, b, fb, 0);
    DrawLine(px + 1, py, x, y, r, g, b, fb, 0);
}

float clampTo(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

// A power in the chosen units: "%02.01fW", or dBm ("---dBm" below 0 dBm).
void powerText(Works* w, float watts, char* out, size_t size) {
    if (w->settings.powerUnits == 0) {
        std::snprintf(out, size, "%02.01fW", watts);
        return;
    }
    const float dbm = ConvertW_to_dBm(watts);
    if (dbm < 0 || std::isnan(dbm))
        std::snprintf(out, size, "---dBm");
    else
        std::snprintf(out, size, "%02.01fdBm", dbm);
}

void label(Works* w, int x, int y, const char* text) { putString(8, x, y, text, 0, 0, 0, w->fb); }

// A meter's value: black, grey when the station's record is old, "no link"
// without a session.
void valueLabel(Works* w, const Readings& r, int x, int y, const char* text) {
    if (!ReadingsLive(r)) {
        putString(8, x - 5, y, "no link", 120, 120, 120, w->fb);
        return;
    }
    const uint8_t pen = r.stale ? 130 : 0;
    putString(8, x, y, text, pen, pen, pen, w->fb);
}

// Device-error page; true while it is shown (the rest of the page is skipped).
bool errorPage(Works* w) {
    char what[104];
    const int code = DeviceErrorShown(w, what, sizeof what);
    if (code > 0) {
        if (!g_tick.errorPageShown) {
            LoadSkin(w, HighPowerModel(w) ? "start120" : "start", 1);
            g_tick.errorPageShown = true;
        }
        fbSetBack(w->fb);
        char text[128];
        std::snprintf(text, sizeof text, "Error! %s", what);
        putString(9, 130, 300, text, 255, 255, 255, w->fb);
        w->pages.keyPage = kPageDeviceError;
        LoadButtons(w);
        return true;
    }
    if (code == kDevErrRetry && DeviceErrorStep(w, kDevErrRetry, kDevErrNone)) {
        w->pages.keyPage = kPageMain;
        // Back to the page the error interrupted.
        g_tick.errorPageShown = false;
        SetWorkImg(w);
        return true;
    }
    if (g_tick.errorPageShown) {
        g_tick.errorPageShown = false;
        SetWorkImg(w);
    }
    return false;
}

void screenSaver(Works* w) {
    const int idx = w->settings.saveScreenIdx <= 4 ? w->settings.saveScreenIdx.load() : 4;
    const int64_t idleS = static_cast<int64_t>(plat_mono_s()) - w->lastKeyTime;
    if (idleS >= static_cast<int64_t>(SaveScreen[idx]) * 60 && w->meters.saverOn == 0) {
        w->meters.saverOn = 1;
        LoadSkin(w, "start", 1);
        fbSetBack(w->fb);
    }
}

} // namespace

void InitGrid() {
    plot.SchermoWidth = 800;
    plot.SchermoHeight = 280;
    plot.divX = 16;
    plot.divY = 10;
    plot.borderLeft = 70;
    plot.borderRight = 40;
    plot.borderBottom = 50;
    plot.borderTop = 60;
    plot.xRangeStart = 0;
    plot.xRangeEnd = kPlotPoints;
    plot.LabelBorder = 4;
    plot.RefLevel = -110;
    plot.RefPos = 0;
    plot.PointDiv = 10;
}

float ConvertW_to_dBm(float watts) { return 10.0f * std::log10(watts * 1000.0f); }

void CalculatePoint(int bottom, int top, int index, float value, float* x, float* y) {
    const Grid g = gridNow();
    const double span = static_cast<double>(plot.xRangeEnd - plot.xRangeStart);
    const double px = g.left + (index - plot.xRangeStart) / span * (g.right - g.left);
    double py = g.bottom - (value - bottom) / static_cast<double>(top - bottom) * (g.bottom - g.top);
    if (py < g.top)
        py = g.top;
    if (py > g.bottom)
        py = g.bottom;
    *x = static_cast<float>(px);
    *y = static_cast<float>(py);
}

namespace {
void peakHold(Works* w, PeakHold& h, float value) {
    if (h.peak < value) {
        h.peak = value;
        h.holdMs = w->settings.TimerPeakSec.load();
    } else if (h.holdMs < 1) {
        const float k = static_cast<float>(w->settings.fattoremedia.load());
        h.peak = (k * h.peak + value) / (k + 1);
    }
}
} // namespace

void CalcolaPwrPeak(Works* w, float value) { peakHold(w, w->meters.peakHold[0], value); }
void CalcolaPwrPeak2(Works* w, float value) { peakHold(w, w->meters.peakHold[1], value); }

void TickCountDowns(Works* w, int tickMs) {
    // One step from what it is: a hold-off the link starts meanwhile is not lost.
    int left = w->errHoldoffMs;
    while (left > 0 && !w->errHoldoffMs.compareExchange(left, left > tickMs ? left - tickMs : 0)) {
    }
    for (PeakHold& h : w->meters.peakHold) {
        if (h.holdMs <= 0)
            continue;
        h.holdMs -= tickMs;
        if (h.decayCount >= w->settings.PeakDecrementTime) {
            float p = h.peak - static_cast<float>(w->settings.PeakDecrement.load());
            h.peak = p > 0 ? p : 0;
            h.decayCount = 0;
        } else {
            h.decayCount++;
        }
    }
}

void DrawFreq(Works* w) {
    const int f = w->freqHz;
    if (f <= 0)
        return;
    char text[32];
    if (f < 1000)
        std::snprintf(text, sizeof text, "%.00fHz", static_cast<double>(f));
    else if (f < 1000000)
        std::snprintf(text, sizeof text, "%.03fkHz", f / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.03fMHz", f / 1000000.0);
    const Grid g = gridNow();
    const int x = (g.right - g.left) / 2 + g.left - 75;
    const int y = g.top - g.ry / 2;
    const bool plot = w->pages.screenPage == 4 || w->pages.screenPage == 5;
    putString(4, x, y, text, plot ? 250 : 0, plot ? 150 : 0, 0, w->fb);
}

void DrawGrid(Works* w) {
    if (w->pages.viewFlags.load() != 0)
        return;
    FrameBuffer* fb = w->fb;
    const Grid g = gridNow();
    const int bottom = plot.RefLevel - plot.PointDiv * plot.RefPos;
    const int top = bottom + plot.PointDiv * plot.divY;
    char text[16];
    putString(8, g.left - 35, g.top - g.ry, "dBm", 180, 180, 180, fb);
    for (int i = 0; i <= plot.divY; i++) {
        const int y = g.top + i * g.ry;
        DrawHorizontalLine(g.left, y, g.right, 120, 120, 120, fb, 0);
        std::snprintf(text, sizeof text, "%d", top - i * plot.PointDiv);
        putString(6, g.left - 35, y, text, 180, 180, 180, fb);
    }
    const int span = w->grid.spanHz > 0 ? w->grid.spanHz.load() : 160000;
    for (int i = 0; i <= plot.divX; i++) {
        const int x = g.left + i * g.rx;
        DrawLine(x, g.top, x, g.bottom, 120, 120, 120, fb, 0);
        const int n = 10 * i - span / 2000;
        std::snprintf(text, sizeof text, n > 0 ? "+%d" : "%d", n);
        putString(6, n == 0 ? x : x - 10, g.bottom + 13, text, 180, 180, 180, fb);
    }
    // The trace, copied under the lock its writers hold.
    float trace[kPlotPoints];
    {
        std::lock_guard<std::mutex> lock(*w->serMut);
        for (int i = 0; i < kPlotPoints; i++)
            trace[i] = w->grid.trace[i];
    }
    const int shift = plot.divX == 8 ? 213 : 0;
    const float offset = static_cast<float>(w->settings.plotOffset.load());
    const int end = plot.xRangeEnd;
    float x0 = 0, y0 = 0;
    for (int i = 0; i + 1 < end && i + 1 + shift < kPlotPoints; i++) {
        float x1, y1;
        if (i == 0)
            CalculatePoint(bottom, top, 0, trace[shift] + offset, &x0, &y0);
        CalculatePoint(bottom, top, i + 1, trace[i + 1 + shift] + offset, &x1, &y1);
        DrawLine(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
                 static_cast<int>(y1), 250, 0, 150, fb, 0);
        x0 = x1;
        y0 = y1;
    }
    DrawFreq(w);
}

void DrawMeters(Works* w) {
    FrameBuffer* fb = w->fb;
    const Readings r = ReadingsNow(w);
    // Without a session nothing is a reading: no needles, "no link" for the
    // values; an old record draws its needles and values grey.
    const bool live = ReadingsLive(r);
    const bool peakOn = w->settings.pwrPeakEnabled == 1 && live;
    const uint8_t needleRed = r.stale ? 150 : 255, needleOther = r.stale ? 150 : 0;
    const uint8_t peakPen = r.stale ? 150 : 0;
    char text[32];

    // Forward meter.
    const float fwdMax = HighPowerModel(w) ? 120.0f : 60.0f;
    const float fwdScale = static_cast<float>(w->meters.number_ofStep_meter_FWD.load());
    const float fwd = r.fwd;
    if (live) {
        w->meters.needleAngle[0] = NeedleAngle(clampTo(fwd, 0, fwdMax), fwdScale);
        needle(fb, kFwdPivotX, kFwdPivotY, w->meters.needleAngle[0], needleRed, needleOther, needleOther);
    }
    if (peakOn) {
        const float reading = r.fwdPeak;
        if (w->meters.peakAngle[0] == 0.0f)
            w->meters.peakHold[0].peak = reading;
        else
            CalcolaPwrPeak(w, reading);
        w->meters.peakAngle[0] = NeedleAngle(clampTo(w->meters.peakHold[0].peak, 0, fwdMax), fwdScale);
        needle(fb, kFwdPivotX, kFwdPivotY, w->meters.peakAngle[0], peakPen, peakPen, peakPen);
    }

    // Right-hand meter: reflected, SWR or input power by page.
    const int page = w->pages.screenPage;
    float value, needleValue, scale;
    if (page == 2) {
        value = clampTo(r.swr, 0, 100);
        needleValue = CalcolaSWR(value);
        scale = static_cast<float>(w->meters.number_ofStep_meter_SWR.load());
        label(w, 570, 160, "SWR");
        std::snprintf(text, sizeof text, "%02.01f", value);
        valueLabel(w, r, 580, 180, text);
    } else {
        const bool input = page == 3;
        value = input ? r.in : r.refl;
        needleValue = clampTo(value, 0, 60);
        scale = static_cast<float>(input ? w->meters.number_ofStep_meter_PW.load()
                                         : w->meters.number_ofStep_meter_REFL.load());
        label(w, input ? 560 : 535, 160, input ? "PRWIN" : "REFLECTED");
        powerText(w, value, text, sizeof text);
        valueLabel(w, r, input ? 570 : 565, 180, text);
    }
    if (live) {
        w->meters.needleAngle[1] = NeedleAngle(needleValue, scale);
        needle(fb, kRightPivotX, kRightPivotY, w->meters.needleAngle[1], needleRed, needleOther, needleOther);
    }
    if (peakOn) {
        if (w->meters.peakAngle[1] == 0.0f)
            w->meters.peakHold[1].peak = needleValue;
        else
            CalcolaPwrPeak2(w, needleValue);
        w->meters.peakAngle[1] = NeedleAngle(w->meters.peakHold[1].peak, scale);
        needle(fb, kRightPivotX, kRightPivotY, w->meters.peakAngle[1], peakPen, peakPen, peakPen);
    }

    DrawFreq(w);
    label(w, 155, 160, "FORWARD");
    powerText(w, fwd, text, sizeof text);
    valueLabel(w, r, 180, 180, text);
}

void TimerDrawPage(Works* w) {
    FrameBuffer* fb = w->fb;
    if (!errorPage(w)) {
        screenSaver(w);
        FollowFrequency(w);
        if (w->meters.saverOn == 0) {
            const int64_t now = plat_mono_ms();
            // The board temperature changes slowly; its command is not run every tick.
            if (now - g_tick.lastCpuReadMs >= 1000) {
                ReadCPUTemp(w);
                g_tick.lastCpuReadMs = now;
            }
            ReadDataOra(w);
            if (w->settings.viewTimeStr && w->pages.viewFlags.load() == 0) {
                auto date = w->dateText.get();
                putString(6, 780 - getStringSpace(6, date.s), 17, date.s, 255, 255, 255, fb);
            }
            if (w->meters.skinReload) {
                LoadSkin(w, HighPowerModel(w) ? "img1b" : "img1", 1);
                w->meters.skinReload = 0;
            }
            LoadButtons(w);
            const int page = w->pages.screenPage;
            if (page >= 1 && page <= 3 && w->pages.viewFlags.load() == 0)
                DrawMeters(w);
            else if ((page == 4 || page == 5) && w->pages.viewFlags.load() == 0)
                DrawGrid(w);
        }
    }
}

void TimerTick(Works* w) {
    // The station times a remote transmission before it draws the notice.
    if (w->setup->WebSocket != '2')
        TxLimitTick(w, plat_mono_ms());
    {
        PictureLock lock(PictureMutex());
        fbTickBegin(w->fb);
        TimerDrawPage(w);
        fbTickEnd(w->fb);
        g_tick.still = fbTickStill(w->fb);
    }
    // The status goes to a remote unit outside the picture lock: a slow peer
    // must not hold up the keys' page changes.
    if (w->remoteConnected) {
        char record[kStatusRecordSize];
        CreaBufferDiStato(w, record);
        sendWebSockStatusFrame(w, record, kStatusRecordSent);
        if (w->setup->WebSocket == '1') {
            SendStationAlarms(w);
            SendTxLimit(w);
        }
    }
}

void TimerInit(Works* w) {
    InitGrid();
    w->meters.peakAngle[0] = 0.0f;
    w->meters.peakAngle[1] = 0.0f;
    g_tick = TickState{};
}

// A page whose last tick changed nothing on the screen and that nothing counts
// down on: the next tick would draw the same unless something changes. A
// connected operator gets the status every tick, so the rhythm stays.
bool TickWasStill(Works* w) {
    if (!g_tick.still || w->remoteConnected || w->errHoldoffMs > 0)
        return false;
    for (const PeakHold& h : w->meters.peakHold)
        if (h.holdMs > 0)
            return false;
    return true;
}

void timer(Works* w) {
    LogInfo("Timer thread started");
    TimerInit(w);
    while (w->running) {
        plat_heartbeat(w->refreshBeat);
        const int64_t t0 = plat_mono_ms();
        // Counted before the tick reads anything: a change while it draws or
        // sleeps ends the still wait at once.
        const uint32_t seen = ChangesSeen();
        TimerTick(w);
        plat_sleep_us(w->refreshUs);
        // On a still page the next tick waits for a change (the clock's second
        // and the saver's time are drawn at most stillWaitMs late).
        if (TickWasStill(w))
            ChangesWait(seen, w->stillWaitMs);
        const int tickMs = static_cast<int>(plat_mono_ms() - t0);
        TickCountDowns(w, tickMs);
        if (w->settings.logTempEnabled == 1 && w->logTempStarted == 1) {
            g_tick.logAccMs += tickMs;
            if (g_tick.logAccMs >= 5000) {
                LogTempFunction(w, 0);
                g_tick.logAccMs = 0;
            }
        }
    }
    LogInfo("Timer operations end\n");
}
