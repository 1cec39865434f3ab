// The keys' thread against the GPIO block and against a Raspberry Pi 5's GPIO
// chip: debouncing, short presses on release, long presses with the
// accelerating repeat, one key at a time, and the converter exchange with its model.
#include "GpioPanel.h"
#include "ModelWire.h"

#include "core/CmdRing.h"
#include "tuner/TunerRequests.h"

namespace {

class KeysThread : public GpioPanel, public ::testing::WithParamInterface<GpioBackend> {
  protected:
    GpioBackend backend() const override { return GetParam(); }
};

TEST_P(KeysThread, ShortPressActsOnRelease) {
    SimGpioKeyDown(&keys, 5); // SET
    waitPasses(200);
    EXPECT_EQ(w->pages.keyPage, 0); // held: nothing yet
    SimGpioKeyUp(&keys, 5);
    ASSERT_TRUE(WaitFor([&] { return w->pages.keyPage == 1; }, 5000));
    tap(4);
    tap(4);
    ASSERT_TRUE(WaitFor([&] { return w->pages.menuEntry == 2; }, 5000));
    tap(1);
    ASSERT_TRUE(WaitFor([&] { return w->pages.keyPage == 0; }, 5000));
}

TEST_P(KeysThread, LongPressActsOnceAndRepeatsFasterWhileAsked) {
    // The manual tuning page: "up L" repeats while held. A stand-in for the
    // link thread carries out the steps the keys ask for and takes the words.
    std::jthread link([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            TunerServeRequests(w.get());
            while (CmdQueueTake(w.get()) >= 0) {
            }
            plat_sleep_ms(2);
        }
    });
    w->pages.keyPage = 4;
    w->tuner.tuneL = 0;
    const int64_t t0 = plat_mono_ms();
    SimGpioKeyDown(&keys, 3);
    ASSERT_TRUE(WaitFor([&] { return w->tuner.tuneL >= 1; }, 10000));
    const int64_t first = plat_mono_ms() - t0;
    EXPECT_GE(first, 480); // 0.5 s of holding (plus the debounce)
    ASSERT_TRUE(WaitFor([&] { return w->tuner.tuneL >= 15; }, 4000));
    const int64_t fifteen = plat_mono_ms() - t0;
    // Fourteen repeats at 0.1 s after the first step.
    EXPECT_GE(fifteen - first, 1300);
    // After fifteen repeats the steps come every 20 ms: 25 more take 0.5 s, not 2.5 s.
    ASSERT_TRUE(WaitFor([&] { return w->tuner.tuneL >= 40; }, 10000));
    EXPECT_GE(plat_mono_ms() - t0 - fifteen, 480);
    SimGpioKeyUp(&keys, 3);
    plat_sleep_ms(100);
    const uint32_t atRelease = w->tuner.tuneL;
    waitPasses(200);
    EXPECT_EQ(w->tuner.tuneL, atRelease); // no short press on release after a long one

    // A long press whose action does not repeat acts once.
    w->pages.keyPage = 0;
    w->pages.screenPage = 1;
    SimGpioKeyDown(&keys, 6); // long: the status page
    ASSERT_TRUE(WaitFor([&] { return w->pages.viewFlags.load() == 1; }, 10000));
    plat_sleep_ms(700);
    SimGpioKeyUp(&keys, 6);
    waitPasses(150);
    EXPECT_EQ(w->pages.viewFlags.load(), 1);
    EXPECT_EQ(w->pages.screenPage, 1); // the release did not turn the page
}

TEST_P(KeysThread, TwoKeysTogetherTheFirstDebouncedWins) {
    SimGpioKeyDown(&keys, 4); // TUNE page
    plat_sleep_ms(4);
    SimGpioKeyDown(&keys, 5); // SET, a moment later
    waitPasses(150);
    SimGpioKeyUp(&keys, 4);
    SimGpioKeyUp(&keys, 5);
    ASSERT_TRUE(WaitFor([&] { return w->pages.keyPage != 0; }, 5000));
    plat_sleep_ms(150);
    EXPECT_EQ(w->pages.keyPage, 3); // key 4's page, never the menu
}

// The converter's exchanges in rotation, one every 200 passes, and an idle
// pass drives its lines only when their levels change: the exchanges write, the
// passes between them nothing, so a root's model is not asked to take a write
// each pass (which cost the thread a wake-up each pass).
TEST_P(KeysThread, ConverterRepliesFillTheirSlotsInRotationAndIdlePassesWriteNothing) {
    GpioConverterSetReply(converter, 3, 192); // a 48 V rail on the 120 W model
    ASSERT_TRUE(WaitFor([&] { return GpioConverterCommands(converter).size() >= 2; }, 5000));
    const uint64_t passes0 = w->keysBeat.passes.load();
    const uint32_t writes0 = GpioConverterWritesTaken(converter);
    const size_t exchanges0 = GpioConverterCommands(converter).size();
    plat_sleep_ms(1500);
    const uint64_t passes = w->keysBeat.passes.load() - passes0;
    const uint32_t writes = GpioConverterWritesTaken(converter) - writes0;
    const size_t exchanges = GpioConverterCommands(converter).size() - exchanges0;
    ASSERT_GT(passes, 100u);
    // At most one exchange more than seen whole (on the chip each turn of the
    // data line configures every line again, which the model writes out), and
    // never one write a pass.
    EXPECT_LE(writes, (exchanges + 1) * 100) << passes << " passes, " << exchanges << " exchanges";
    EXPECT_LT(writes, passes) << exchanges << " exchanges";

    ASSERT_TRUE(WaitFor([&] { return GpioConverterCommands(converter).size() >= 5; }, 5000));
    auto cmds = GpioConverterCommands(converter);
    EXPECT_EQ(cmds[0].byte, 0xB0); // the start value of the command byte
    const uint8_t rotation[4] = {0xB0, 0xD1, 0xD2, 0xD3};
    for (size_t i = 1; i < cmds.size(); i++)
        EXPECT_EQ(cmds[i].byte, rotation[(i - 1) % 4]) << i;
    for (size_t i = 2; i < cmds.size(); i++)
        EXPECT_GE(cmds[i].ms - cmds[i - 1].ms, 350); // one every 200 passes of 2 ms
    EXPECT_EQ(w->supplyAdc[0], 0x23);
    EXPECT_EQ(w->supplyAdc[1], 141);
    EXPECT_EQ(w->supplyAdc[2], 177);
    ASSERT_TRUE(WaitFor([&] { return w->supplyAdc[3] == 192; }, 5000)); // the last exchange ends
    // A command from elsewhere goes out at the next pass.
    w->panelCmd = 0x95;
    ASSERT_TRUE(ConverterGot(converter, 0x95, 2000));
    // GPIO 16 high. (GPIO 13 low while the firmware update is armed:
    // ServiceMenu.FirmwareUpdateArmsGpio13ThenSendsMr1AndTheLinkFallsSilent.)
    EXPECT_TRUE(GpioConverterOutput(converter, 16));
}

INSTANTIATE_TEST_SUITE_P(Backends, KeysThread,
                         ::testing::Values(GpioBackend::Registers, GpioBackend::Chardev),
                         [](const ::testing::TestParamInfo<GpioBackend>& i) {
                             return GpioBackendName(i.param);
                         });

} // namespace
