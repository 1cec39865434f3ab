// The alarm list, the reset key's paths and the alarm keys on the screen.
#include "RootedWorks.h"

#include "ui/Keys.h"

namespace {

class AlarmList : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
    }
};

TEST_F(AlarmList, RaiseOnceRemoveInPlaceAndFlags) {
    AddErrore(w.get(), 8);
    AddErrore(w.get(), 8);
    AddErrore(w.get(), 12);
    AddErrore(w.get(), 1);
    EXPECT_EQ(alarms(), (std::vector<int>{8, 12, 1}));
    EXPECT_EQ(w->errorFlags.load(), 1 | 4); // a protection alarm and a temporary warning
    DeleteErrore(w.get(), 5);               // absent: nothing changes
    EXPECT_EQ(alarms(), (std::vector<int>{8, 12, 1}));
    DeleteErrore(w.get(), 12);
    EXPECT_EQ(alarms(), (std::vector<int>{8, 1}));
    EXPECT_EQ(ExistAnError(w.get()), 8);
    AddErrore(w.get(), kAlarmCodes); // no such code
    AddErrore(w.get(), -1);
    EXPECT_EQ(alarms().size(), 2u);
    // Every code at once fits the list.
    for (int code = 0; code < kAlarmCodes; code++)
        AddErrore(w.get(), code);
    EXPECT_EQ(alarms().size(), static_cast<size_t>(kAlarmCodes));
}

// The reset key is not taken without an alarm, nor with an over-temperature
// alarm oldest. (No alarm before the amplifier's first answer:
// Decoder.NoAlarmBeforeTheFirstCpReply.)
TEST_F(AlarmList, TheResetKeyIsNotTakenWithoutAnAlarmOrWithOverTemperatureOldest) {
    EXPECT_EQ(GPIO_Errori(w.get()), 0);
    AddErrore(w.get(), 2);
    AddErrore(w.get(), 9);
    w->errorFlags.replace(0);
    EXPECT_EQ(GPIO_Errori(w.get()), 0);
    EXPECT_EQ(alarms(), (std::vector<int>{2, 9}));
    EXPECT_TRUE(queued().empty());
}

TEST_F(AlarmList, TemporaryWarningsGoWithOneReset) {
    AddErrore(w.get(), 9);  // flags 0
    AddErrore(w.get(), 12); // temporary
    AddErrore(w.get(), 13); // temporary, next to the other
    EXPECT_EQ(w->errorFlags.load(), 4);
    EXPECT_EQ(GPIO_Errori(w.get()), 1);
    EXPECT_EQ(alarms(), std::vector<int>{9});
    EXPECT_EQ(w->errorFlags.load(), 0);
    // The next press clears what is left and resets the amplifier's state.
    EXPECT_EQ(GPIO_Errori(w.get()), 1);
    EXPECT_TRUE(alarms().empty());
    EXPECT_EQ(queued(), (std::vector<int>{kCmdProtOff, kCmdBypassOn, kCmdAtt}));
}

TEST_F(AlarmList, ProtectionResetGoesThroughTheQueueAndTheNextStatus) {
    // A high-SWR trip, and the micro was reset: the start-up list again.
    PublishAmpReadings(w.get(), {.ampStatus2 = 2, .ampFault = 0x81});
    w->ampBypass = 0;
    AddErrore(w.get(), 1);
    EXPECT_TRUE(w->errorFlags.test(1));
    EXPECT_EQ(GPIO_Errori(w.get()), 1);
    EXPECT_EQ(w->cmdQueueDrain, 1);
    EXPECT_EQ(w->errorResetPhase, 1);
    std::vector<int> q = queued();
    ASSERT_GE(q.size(), 5u);
    EXPECT_EQ(q.front(), kCmdClearProt);
    EXPECT_EQ(q[1], kCmdVersion); // InitMicroCmd follows
    EXPECT_EQ(std::vector<int>(q.end() - 3, q.end()),
              (std::vector<int>{kCmdProtOff, kCmdBypassOff, kCmdAtt}));
    // The status reply after the queue was sent finishes the reset.
    GestErroreSerial(w.get());
    EXPECT_TRUE(w->errorFlags.test(2));
    EXPECT_TRUE(alarms().empty());
}

// The alarm keys: red for errors, amber for warnings, the six most recent; not
// over menus or the status page.
TEST_F(AlarmList, EightAlarmsShowTheSixMostRecentKeys) {
    LoadSimFonts();
    std::unique_ptr<FrameBuffer, void (*)(FrameBuffer*)> fb(
        fbInitMemory(800, 480, 32), [](FrameBuffer* f) { fbRelease(f, true); });
    w->fb = fb.get();
    // The background colour of the key in slot k (a point left of the text).
    auto keyColour = [&](int slot) {
        static const int x[6] = {7, 135, 268, 401, 534, 667};
        const uint8_t* p = fb->work + 372 * fb->lineSize + x[slot] * 4;
        return std::vector<int>{p[2], p[1], p[0]};
    };
    // Entries 0..7: codes with flags that alternate colours so slots can be told apart.
    const int codes[8] = {9, 1, 12, 3, 13, 15, 14, 19};
    for (int c : codes)
        AddErrore(w.get(), c);
    // Nothing over the status page or a menu; then the keys.
    for (auto [view, page] : {std::pair{1, kPageMain}, {0, kPageMenuChoose}}) {
        w->pages.viewFlags.replace(view);
        w->pages.keyPage = page;
        DrawError(w.get());
        EXPECT_EQ(keyColour(0), (std::vector<int>{0, 0, 0})) << view << " " << page;
    }
    w->pages.keyPage = kPageMain;
    DrawError(w.get());
    for (int k = 0; k < 6; k++) {
        const int code = codes[2 + k];
        const bool red = w->errorTable[code].flags & 1;
        EXPECT_EQ(keyColour(k),
                  red ? (std::vector<int>{255, 30, 0}) : (std::vector<int>{250, 150, 0}))
            << "slot " << k;
    }
}

} // namespace
