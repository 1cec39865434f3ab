// What counts as a change of the shared record, and the wait for one.
#include "core/Changes.h"
#include "core/Shared.h"
#include "platform/Clock.h"

namespace {

TEST(Changes, OnlyWritesThatChangeAValueCount) {
    Shared<int> n;
    SharedFlags<uint8_t> flags;
    SharedText<8> text;
    QuietShared<int> quiet;
    QuietText<4> quietText;

    uint32_t c = ChangesSeen();
    n = 5;
    EXPECT_EQ(ChangesSeen(), c + 1);
    n = 5;
    n += 0;
    int expected = 4; // a failed compare-exchange changes nothing
    EXPECT_FALSE(n.compareExchange(expected, 6));
    expected = 5;
    EXPECT_TRUE(n.compareExchange(expected, 5));
    EXPECT_EQ(ChangesSeen(), c + 1);
    n++;
    n.exchange(7);
    EXPECT_EQ(ChangesSeen(), c + 3);

    c = ChangesSeen();
    flags.set(3);
    flags.set(1); // already set
    flags.clear(4); // already clear
    flags.change(2, 0); // clears a set bit
    flags.change(0, 1); // sets a bit that is set
    flags.replace(1);
    EXPECT_EQ(ChangesSeen(), c + 2);

    c = ChangesSeen();
    text.set("14.0");
    text.set("14.0");
    text.put(0, '1');
    EXPECT_EQ(ChangesSeen(), c + 1);
    text.set("14"); // shorter: the terminator moved
    EXPECT_EQ(ChangesSeen(), c + 2);

    c = ChangesSeen();
    quiet = 1;
    quiet = 2;
    quiet++;
    quietText.set("MT");
    quietText.put(0, 'A');
    EXPECT_EQ(ChangesSeen(), c);
    EXPECT_EQ(quiet.load(), 3);
    EXPECT_STREQ(quietText.get().s, "AT");
}

// (Another thread's change waking a wait: StillPage.SleepsUntilAValueChangesAndDrawsItAtOnce.)
TEST(Changes, AWaitEndsWithItsTimeOrAtOnceAfterAChange) {
    Shared<int> value;
    uint32_t seen = ChangesSeen();
    // Nothing changes: the wait takes its whole time and says so.
    const int64_t t0 = plat_mono_ms();
    EXPECT_FALSE(ChangesWait(seen, 150));
    EXPECT_GE(plat_mono_ms() - t0, 150);

    // A change made before the wait began ends it at once.
    seen = ChangesSeen();
    value = 2;
    EXPECT_TRUE(ChangesWait(seen, 20000));
}

} // namespace
