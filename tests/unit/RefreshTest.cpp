// The refresh tick: the needles' ends, texts and their forms, the alarm key,
// peak hold, the plot's clamping, the frequency-change logic, the screen saver
// and the board temperature's pace.
#include "TickedPicture.h"

#include "core/AlarmList.h"
#include "draw/Damage.h"
#include "draw/Meter.h"

#include <algorithm>
#include <cstring>

namespace {

using Rgb = std::vector<int>;

class Refresh : public TickedPicture {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TickedPicture::SetUp());
        w->antennaRowIdx = 100; // nothing to re-evaluate
        w->ModeWorkIdx = 1;
        params.activeFreq = 14070000;
    }
    Rgb px(int x, int y) const {
        const uint8_t* p = fb->work + y * fb->lineSize + x * 4;
        return {p[2], p[1], p[0]};
    }
    // True when the picture shows the text `t` of `font` at (x, y) in (r, g, b):
    // every pixel the glyphs cover fully has exactly that colour, whatever the
    // background (partly covered pixels blend with it and are not compared).
    bool shows(int font, int x, int y, const char* t, uint8_t r, uint8_t g, uint8_t b) {
        FrameBuffer* ref = fbInitMemory(800, 480, 32);
        putString(font, x, y, t, 255, 255, 255, ref);
        int compared = 0;
        bool same = true;
        for (int o = 0; o < ref->memSize; o += 4) {
            const unsigned a = ref->work[o];
            if (a == 255) {
                compared++;
                same &= fb->work[o] == (a & b) && fb->work[o + 1] == (a & g) &&
                        fb->work[o + 2] == (a & r);
            }
        }
        fbRelease(ref, true);
        return same && compared >= 3;
    }
    // Ticks over a white face: the pixels of rows 163..185, columns x0..x1, that
    // differ from `t` drawn in black at (x0, 180) in the value font.
    int differsFromBlackText(int x0, int x1, const char* t) {
        std::memset(fb->back, 0xFF, fb->memSize);
        for (int i = 3; i < fb->memSize; i += 4)
            fb->back[i] = 0;
        fbTouched(fb); // a writer outside the tick's drawing says so
        TimerTick(w.get());
        FrameBuffer* ref = fbInitMemory(800, 480, 32);
        std::memcpy(ref->work, fb->back, fb->memSize);
        putString(8, x0, 180, t, 0, 0, 0, ref);
        int diff = 0;
        for (int y = 163; y < 186; y++) // below the label's baseline
            for (int x = x0; x < x1; x++)
                diff +=
                    std::memcmp(ref->work + y * 3200 + x * 4, fb->work + y * 3200 + x * 4, 3) != 0;
        fbRelease(ref, true);
        return diff;
    }
};

// The needles at the ends of their scales (the forward needle in range, and
// the key strip, the pages' pictures show: ReferenceScreens.MainPagesOneToFive).
TEST_F(Refresh, OverRangeForwardIsClampedButPrintedAsReadAndZeroReflectedAtTheLeftEnd) {
    readings([](AmpReadings& r) {
        r.pwrFwd = 75.0f;
        r.pwrRefl = 0.0f;
    });
    TimerTick(w.get());
    EXPECT_FLOAT_EQ(w->meters.needleAngle[0], NeedleAngle(60, 60));
    int ex, ey;
    NeedleEnd(590, 260, 200, 200, NeedleAngle(0, 60), &ex, &ey);
    EXPECT_LT(ex, 450);
    EXPECT_LT(ey, 130);
    EXPECT_EQ(px(ex, ey), (Rgb{255, 0, 0}));
    EXPECT_EQ(px(590 + (590 - ex), ey), (Rgb{0, 0, 0})); // nothing at the right end
    // On a white background the black value text is visible: "75.0W".
    EXPECT_EQ(differsFromBlackText(180, 260, "75.0W"), 0);
}

TEST_F(Refresh, PowerInDbmAndFrequencyForms) {
    w->pages.screenPage = 4; // orange texts over the plot page make them visible
    w->ModeWorkIdx = -1;
    w->lastFreqHz = 7100000;
    for (auto [hz, text] :
         {std::pair{7100000, "7.100MHz"}, {999999, "999.999kHz"}, {500, "500Hz"}}) {
        std::memset(fb->work, 0, fb->memSize);
        w->freqHz = hz;
        DrawFreq(w.get());
        EXPECT_TRUE(shows(4, 339, 52, text, 250, 150, 0)) << text;
    }
    std::memset(fb->work, 0, fb->memSize);
    w->freqHz = 0;
    DrawFreq(w.get());
    EXPECT_TRUE(std::all_of(fb->work, fb->work + fb->memSize, [](uint8_t b) { return b == 0; }));

    // The forms on the right-hand meter's value, drawn over a white face.
    w->pages.screenPage = 1;
    w->settings.powerUnits = 1;
    for (auto [watts, text] : {std::pair{1.0f, "30.0dBm"}, {0.0005f, "---dBm"}}) {
        readings([watts](AmpReadings& r) { r.pwrRefl = watts; });
        EXPECT_EQ(differsFromBlackText(565, 680, text), 0) << watts;
    }
}

TEST_F(Refresh, AlarmKeyInRedForACurrentFault) {
    w->startupFlags.replace(0);
    AddErrore(w.get(), kAlarmFault); // this unit's own alarm (the station's: ReferenceScreens)
    TimerTick(w.get());
    EXPECT_EQ(px(8, 372), (Rgb{255, 30, 0}));
    // Key 1 offers the reset.
    EXPECT_TRUE(shows(0, 20, 445, "RESET", 250, 150, 0));
}

TEST_F(Refresh, SwrScaleAndPeakHold) {
    for (auto [swr, scale] :
         {std::pair{1.0f, 0.0f}, {1.25f, 5.5f}, {2.5f, 25.0f}, {0.9f, 0.0f}, {150.0f, 60.0f}})
        EXPECT_FLOAT_EQ(CalcolaSWR(swr), scale) << swr;

    w->settings.TimerPeakSec = 3000;
    w->settings.fattoremedia = 2;
    CalcolaPwrPeak(w.get(), 30.0f);
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 30.0f);
    EXPECT_EQ(w->meters.peakHold[0].holdMs, 3000);
    CalcolaPwrPeak(w.get(), 0.0f); // held
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 30.0f);
    w->meters.peakHold[0].holdMs = 0;
    CalcolaPwrPeak(w.get(), 0.0f);
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 20.0f);
    CalcolaPwrPeak(w.get(), 0.0f);
    EXPECT_NEAR(w->meters.peakHold[0].peak, 13.333f, 0.001f);
    CalcolaPwrPeak(w.get(), 50.0f); // a new maximum restarts the hold
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 50.0f);
    EXPECT_EQ(w->meters.peakHold[0].holdMs, 3000);

    // While held, the peak decays by PeakDecrement every PeakDecrementTime + 1 ticks.
    w->settings.PeakDecrement = 1.0;
    w->settings.PeakDecrementTime = 1;
    TickCountDowns(w.get(), 10);
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 50.0f);
    TickCountDowns(w.get(), 10);
    EXPECT_FLOAT_EQ(w->meters.peakHold[0].peak, 49.0f);
    EXPECT_EQ(w->meters.peakHold[0].holdMs, 2980);
    w->errHoldoffMs = 15;
    TickCountDowns(w.get(), 10);
    TickCountDowns(w.get(), 10);
    EXPECT_EQ(w->errHoldoffMs, 0);
}

// A point of the plot is clamped to it (its scales, for both spans, the pages'
// pictures show: ReferenceScreens.MainPagesOneToFive).
TEST_F(Refresh, PlotPointsAreClampedToThePlot) {
    float x, y;
    CalculatePoint(-110, -10, 10, 50.0f, &x, &y); // far above the top
    EXPECT_FLOAT_EQ(y, 60.0f);
    CalculatePoint(-110, -10, 10, -500.0f, &x, &y);
    EXPECT_FLOAT_EQ(y, 230.0f);
    CalculatePoint(-110, -10, 0, -60.0f, &x, &y);
    EXPECT_FLOAT_EQ(x, 70.0f);
    EXPECT_FLOAT_EQ(y, 145.0f);
}

// What a new frequency sends for each source, on the wire:
// Sources/EachSource.ItsModeRunsItsThreadAloneAndItsFrequencyReachesTheAmplifier.
TEST_F(Refresh, ANewFrequencyQueuesItsCommandsOnce) {
    queued();
    params.activeFreq = 7050000;
    TimerTick(w.get());
    const std::vector<int> q = queued();
    ASSERT_FALSE(q.empty());
    EXPECT_EQ(q.front(), kCmdFreq); // the frequency before what it selects
    TimerTick(w.get());             // the same frequency: nothing more
    EXPECT_TRUE(queued().empty());
}

TEST_F(Refresh, ScreenSaverUsesTheWholeIdleTime) {
    w->settings.saveScreenIdx = 4; // 60 minutes
    w->lastKeyTime = static_cast<int64_t>(plat_mono_s()) - 59 * 60;
    TimerTick(w.get());
    EXPECT_EQ(w->meters.saverOn, 0);
    w->lastKeyTime = static_cast<int64_t>(plat_mono_s()) - 60 * 60 - 1;
    TimerTick(w.get());
    EXPECT_EQ(w->meters.saverOn, 1);
    // While it is on the page is not drawn: no key strip.
    std::memset(fb->back, 0, fb->memSize);
    TimerTick(w.get());
    EXPECT_EQ(px(60, 425), (Rgb{0, 0, 0}));
}

TEST_F(Refresh, BoardTemperatureIsReadOncePerSecondWithoutAProcess) {
    // The kernel's sensor: read, no command run.
    ASSERT_TRUE(WriteFile(dir.path + "/sys/class/thermal/thermal_zone0/temp", "51234\n"));
    for (int i = 0; i < 30; i++)
        TimerTick(w.get());
    EXPECT_FLOAT_EQ(w->cpuTemp[0], 51.234f);
    EXPECT_FLOAT_EQ(w->cpuTemp[1], 51.234f);
    EXPECT_TRUE(commands().empty());
    // A board without it: my_temp, once in those 30 ticks.
    std::filesystem::remove(dir.path + "/sys/class/thermal/thermal_zone0/temp");
    plat_clock_step_us(1000 * 1000);
    for (int i = 0; i < 30; i++)
        TimerTick(w.get());
    auto cmds = commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "my_temp"), 1);
    EXPECT_FLOAT_EQ(w->cpuTemp[0], 45.0f);
}

} // namespace
