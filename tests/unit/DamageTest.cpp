// The refresh with its record of what changed: after every tick of a long run
// of changing values the device picture is the one a whole redraw and a whole
// copy give. The whole redraw is made from the same state in a forked copy of
// this process (tracking off), so both ticks start from identical values.
#include "TickedPicture.h"

#include "tuner/Banks.h"
#include "draw/Damage.h"
#include "ui/KeyActions.h"
#include "draw/Png.h"

#include <cmath>
#include <cstring>
#include <map>
#include <sys/mman.h>
#include <sys/wait.h>

namespace {

// Both runs of a tick read the same clock: the clock text, the peak hold and the
// board temperature's pace are the same in each.
class Damage : public TickedPicture {
  protected:
    Damage() : TickedPicture(true) {}
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TickedPicture::SetUp());
        w->startupFlags.replace(0);
        w->antennaRowIdx = 100;
        w->ModeWorkIdx = 1;
        w->settings.viewTimeStr = 1;
        w->settings.pwrPeakEnabled = 1;
        params.activeFreq = 14070000;
        InitTabAntenna(w.get(), 0);
        LoadSkin(w.get(), "img1", 1);
        shared = static_cast<uint8_t*>(
            mmap(nullptr, kShared, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(shared, MAP_FAILED);
    }
    void TearDown() override {
        munmap(shared, kShared);
        TickedPicture::TearDown();
    }

    // One tick both ways: the forked copy redraws the whole picture and copies
    // it; this process ticks with its record. False (with the first differing
    // byte) when the device pictures differ. Each tick is 10 ms of the test's
    // clock, so the clock text changes every hundred ticks.
    bool tickMatches(int tick) {
        plat_clock_step_us(10000);
        const pid_t child = fork();
        if (child == 0) {
            fbSetDamageTracking(fb, false);
            TimerTick(w.get());
            std::memcpy(shared, fb->screen, fb->memSize);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ADD_FAILURE() << "the redraw of tick " << tick << " failed";
            return false;
        }
        TimerTick(w.get());
        TickCountDowns(w.get(), 10);
        for (int i = 0; i < fb->memSize; i++)
            if (fb->screen[i] != shared[i]) {
                ADD_FAILURE() << "tick " << tick << ": byte " << i << " (x "
                              << (i % fb->lineSize) / 4 << ", y " << i / fb->lineSize << ") is "
                              << int(fb->screen[i]) << ", a whole redraw gives " << int(shared[i]);
                return false;
            }
        return true;
    }

    static constexpr size_t kShared = 800 * 480 * 4;
    uint8_t* shared = nullptr;
};

TEST_F(Damage, EveryTickShowsWhatAWholeRedrawShows) {
    int64_t copiedSteady = 0, copiedMoving = 0;
    std::string lastDate;
    int dateChanges = 0;
    // The keys pressed (key, long-press bits) at their ticks: key 6 turns to page 2
    // (SWR), 3, 4 (the plot), 5 (the narrow plot) and back to 1; held, it opens the
    // status page, which the next key closes; key 2 changes the attenuator label.
    const std::map<int, std::pair<int, int>> keys = {
        {170, {6, 0}}, {200, {6, 0}},      {230, {6, 0}}, {231, {6, 0}}, {300, {6, 0}},
        {330, {6, 0}}, {350, {6, 1 << 5}}, {370, {6, 0}}, {390, {2, 0}}};
    for (int t = 0; t < 420; t++) {
        // The values of this tick.
        if (t >= 40 && t < 160) { // needles moving, peaks held and decaying
            readings([t](AmpReadings& r) {
                r.pwrFwd = 30.0f + 25.0f * std::sin(t * 0.21f);
                r.pwrFwdPeak = r.pwrFwd + 4.0f;
                r.pwrRefl = 3.0f + 2.0f * std::sin(t * 0.13f);
                r.swr = 1.2f + 0.5f * std::sin(t * 0.1f);
            });
        }
        if (t == 60) AddErrore(w.get(), 8); // an alarm key appears
        if (t == 90) AddErrore(w.get(), 12);
        if (t == 120) DeleteErrore(w.get(), 8);
        if (t == 100) readings([](AmpReadings& r) { r.temp1 = 41.5f; }); // the information rows
        if (t == 110) w->antennaIdx = 2;
        if (t == 130) params.activeFreq = 7074000; // another band in the row
        if (auto k = keys.find(t); k != keys.end())
            DecodeTasto(w.get(), k->second.first, k->second.second);
        if (t >= 232 && t < 300) {
            std::lock_guard<std::mutex> lock(serMut);
            for (int i = 0; i < kTracePoints; i++)
                w->grid.trace[i] = -120.0f + 30.0f * std::sin(i * 0.05f + t * 0.3f);
        }
        ASSERT_TRUE(tickMatches(t)) << "tick " << t;
        const std::string date = w->dateText.get().s;
        dateChanges += date != lastDate;
        lastDate = date;
        if (t >= 10 && t < 40) copiedSteady += fb->damage->shown;
        if (t >= 40 && t < 160) copiedMoving += fb->damage->shown;
    }
    // The clock text changed with the seconds, and every one of those ticks matched.
    EXPECT_GE(dateChanges, 4);
    // Tracking did its part: a steady page copies next to nothing, moving
    // needles far less than the whole picture each tick.
    EXPECT_LT(copiedSteady / 30, fb->memSize / 20);
    EXPECT_LT(copiedMoving / 120, fb->memSize / 2);
}

} // namespace
