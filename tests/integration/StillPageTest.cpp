// The refresh thread on the real clock: a still page costs no ticks until
// something changes, and a change is drawn by the tick it wakes.
#include "RootedWorks.h"

#include "draw/Fb.h"
#include "draw/Graph.h"
#include "ui/Time.h"

namespace {

class StillPage : public RootedWorks {
  protected:
    static void SetUpTestSuite() { LoadSimFonts(); }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        usePicture();
        w->antennaRowIdx = 100;
        w->ModeWorkIdx = 1;
        // Longer than the test: only a change can end a still wait in time.
        w->stillWaitMs = 60000;
        ticker = std::thread(timer, w.get());
    }
    void TearDown() override {
        w->running = 0; // a change too: it ends the still wait
        if (ticker.joinable()) ticker.join();
        RootedWorks::TearDown();
    }
    uint64_t ticks() const { return w->refreshBeat.passes.load(); }
    // Until no tick has run for 300 ms (at most 10 s).
    bool settled() {
        return WaitFor([&] {
            const uint64_t before = ticks();
            plat_sleep_ms(300);
            return ticks() == before;
        }, 10000);
    }
    std::vector<uint8_t> screen() {
        PictureLock lock(PictureMutex());
        return std::vector<uint8_t>(fb->screen, fb->screen + fb->memSize);
    }

    std::thread ticker;
};

TEST_F(StillPage, SleepsUntilAValueChangesAndDrawsItAtOnce) {
    ASSERT_TRUE(settled()) << "the page never stood still: " << ticks() << " ticks";
    const std::vector<uint8_t> before = screen();
    readings([](AmpReadings& r) { r.pwrFwd = 30.0f; }); // the forward needle moves
    EXPECT_TRUE(WaitFor([&] { return screen() != before; }, 5000));

    // The same values read again are no change: no tick.
    ASSERT_TRUE(settled());
    const uint64_t still = ticks();
    readings([](AmpReadings& r) { r.readMs += 15; });
    plat_sleep_ms(300);
    EXPECT_EQ(ticks(), still);

    // A page drawn outside the tick (as the keys draw a menu) wakes it too: the
    // next tick copies the whole picture again.
    {
        PictureLock lock(PictureMutex());
        DrawHorizontalLine(0, 5, 100, 255, 255, 255, fb, 1);
    }
    EXPECT_TRUE(WaitFor([&] { return ticks() > still; }, 5000));
}

} // namespace
