// The amplifier's readings as one value: a reader never gets fields of two
// replies, and only new values wake a still page.
#include "RootedWorks.h"

#include "core/Changes.h"

#include <atomic>

namespace {

class Readings : public RootedWorks {};

// Reply i: every field says i, so a copy of two replies shows.
AmpReadings reply(int i) {
    const auto b = static_cast<uint8_t>(i);
    const auto u = static_cast<uint16_t>(i);
    const auto f = static_cast<float>(i);
    return AmpReadings{b, b, b, u, u, u, f, f, f, f, f, f, f, f, i};
}

TEST_F(Readings, AReaderNeverSeesTwoRepliesAtOnce) {
    constexpr int kReplies = 20000;
    std::atomic<bool> reading{false};
    std::thread link([&] {
        while (!reading.load())
            std::this_thread::yield();
        for (int i = 1; i <= kReplies; i++)
            PublishAmpReadings(w.get(), reply(i));
    });
    int torn = 0;
    for (int64_t at = -1; at < kReplies;) {
        reading = true;
        const AmpReadings r = AmpReadingsNow(w.get());
        at = r.readMs;
        if (at > 0 && !(r == reply(static_cast<int>(at)))) torn++;
    }
    link.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(Readings, OnlyNewValuesCountAsAChange) {
    PublishAmpReadings(w.get(), reply(7));
    const uint32_t seen = ChangesSeen();
    AmpReadings again = reply(7);
    again.readMs += 15; // the idle link reads the same values again
    PublishAmpReadings(w.get(), again);
    EXPECT_EQ(ChangesSeen(), seen);
    again.swr = 1.5f;
    PublishAmpReadings(w.get(), again);
    EXPECT_NE(ChangesSeen(), seen);
}

} // namespace
