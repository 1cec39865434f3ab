// When tune on transmit may search again: after a stored search only once the
// SWR has stayed high for the hold time, after a failed one once a minute, and
// anywhere else at once.
#include "RootedWorks.h"

#include "tuner/Retune.h"

#include <cmath>

namespace {

class Retune : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        RetuneForget();
        w->freqHz = 14074000;
        w->antennaIdx = 0;
        w->NumBanco = 0;
        w->settings.swrEscAutoTune = 1.3f;
        readings([](AmpReadings& r) { r.pwrFwd = 60.0f; });
    }
    // Transmitting with `swr` for `ms`, one tick per 10 ms from `*t`: the time of
    // the first tick that allowed a search, or -1.
    int64_t transmit(int64_t* t, float swr, int64_t ms) {
        readings([swr](AmpReadings& r) { r.swr = swr; });
        int64_t first = -1;
        for (int64_t end = *t + ms; *t < end; *t += 10)
            if (RetuneAllowed(w.get(), true, *t) && first < 0)
                first = *t;
        return first;
    }
};

TEST_F(Retune, AStoredSearchIsRepeatedOnlyAfterTheSwrStayedHighForTheHoldTime) {
    int64_t t = 1000;
    EXPECT_TRUE(RetuneAllowed(w.get(), true, t)); // nothing searched yet
    RetuneNoteEnd(w.get(), true, 1.2f, t);
    // Tuned: a minute of transmitting at the reached SWR, and at the threshold
    // (the floor of 2.0 here), starts nothing.
    EXPECT_EQ(transmit(&t, 1.2f, 60000), -1);
    EXPECT_EQ(transmit(&t, 2.0f, 10000), -1);
    // Above it, but broken by a lower reading or by receiving: the hold starts over.
    EXPECT_EQ(transmit(&t, 2.6f, 2500), -1);
    EXPECT_EQ(transmit(&t, 1.5f, 10), -1);
    EXPECT_EQ(transmit(&t, 2.6f, 2500), -1);
    EXPECT_FALSE(RetuneAllowed(w.get(), false, t));
    // Nor does a reading at too little forward power (the amplifier bypassed by
    // its protection) count.
    readings([](AmpReadings& r) { r.pwrFwd = 4.0f; });
    EXPECT_EQ(transmit(&t, 2.6f, 5000), -1);
    readings([](AmpReadings& r) { r.pwrFwd = 60.0f; });
    t += 10;
    const int64_t from = t;
    EXPECT_EQ(transmit(&t, 2.6f, 4000), from + kRetuneHoldMs);
    // The threshold follows what the search reached and the target.
    RetuneNoteEnd(w.get(), true, 2.4f, t);
    EXPECT_EQ(transmit(&t, 2.85f, 5000), -1);
    EXPECT_GE(transmit(&t, 2.95f, 5000), 0);
    w->settings.swrEscAutoTune = 3.5f;
    RetuneNoteEnd(w.get(), true, 1.1f, t);
    EXPECT_EQ(transmit(&t, 3.4f, 5000), -1);
    EXPECT_EQ(transmit(&t, NAN, 5000), -1);
}

TEST_F(Retune, AFailedSearchIsRetriedOnceAMinuteAndElsewhereAtOnce) {
    RetuneNoteEnd(w.get(), false, 7.0f, 0);
    EXPECT_FALSE(RetuneAllowed(w.get(), true, 59999));
    EXPECT_TRUE(RetuneAllowed(w.get(), true, 60000));
    // Another tuner memory slot, antenna or bank is another place; the stored one is not.
    RetuneNoteEnd(w.get(), true, 1.1f, 0);
    for (auto [hz, antenna, bank, at, allowed] : {std::tuple{7074000, 0, 0, 10, true},
                                                  {14074000, 1, 0, 20, true},
                                                  {14074000, 0, 3, 30, true},
                                                  {14074000, 0, 0, 40, false}}) {
        w->freqHz = hz;
        w->antennaIdx = antenna;
        w->NumBanco = bank;
        EXPECT_EQ(RetuneAllowed(w.get(), true, at), allowed) << at;
    }
}

} // namespace
