// Thread slots started, restarted and stopped from several threads at once:
// never two threads of one slot, no join of a thread by itself, no crash.
#include "RootedWorks.h"

#include <atomic>

namespace {

// A body that counts how many of its kind run at once.
struct Occupancy {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> runs{0};
    void body(int holdMs) {
        const int now = ++inside;
        int seen = most;
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        runs++;
        const int64_t end = plat_mono_ms() + holdMs;
        while (ThreadStillWanted() && plat_mono_ms() < end)
            plat_sleep_ms(1);
        inside--;
    }
};

// Runs `body(c)` in `n` threads at once and waits for them all.
void inThreads(int n, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int c = 0; c < n; c++)
        threads.emplace_back(body, c);
    for (auto& t : threads)
        t.join();
}

TEST(ThreadSlots, StartsAndStopsFromManyThreadsNeverRunTwoAtOnce) {
    ThreadSlot slot;
    Occupancy occ;
    inThreads(4, [&](int c) {
        for (int i = 0; i < 150; i++) {
            if ((i + c) % 5 == 4)
                StopThread(slot);
            else
                ASSERT_TRUE(StartThread(slot, "test", [&] { occ.body(20); }));
            if (i % 7 == 0) JoinThread(slot);
        }
    });
    // A start that nothing supersedes runs (the callers' starts may all have
    // given way before their body began, and any caller's stop may have come
    // last).
    ASSERT_TRUE(StartThread(slot, "test", [&] { occ.body(20); }));
    JoinThread(slot);
    EXPECT_EQ(occ.most, 1);
    EXPECT_GT(occ.runs, 0);
    // Whatever came last, a stop leaves nothing running.
    StopThread(slot);
    EXPECT_FALSE(ThreadRunning(slot));
    EXPECT_EQ(occ.inside, 0);
}

TEST(ThreadSlots, AThreadRestartsItsOwnSlotAndCannotJoinItself) {
    ThreadSlot slot;
    std::atomic<int> generation{0};
    std::atomic<bool> joinedItself{true};
    std::function<void()> body = [&] {
        joinedItself = JoinThread(slot);
        if (++generation < 5) StartThread(slot, "test", body); // the successor waits for us to end
        while (ThreadStillWanted())
            plat_sleep_ms(1);
    };
    ASSERT_TRUE(StartThread(slot, "test", body));
    ASSERT_TRUE(WaitFor([&] { return generation == 5; }, 5000));
    EXPECT_FALSE(joinedItself);
    EXPECT_TRUE(ThreadRunning(slot));
    StopThread(slot);
    EXPECT_FALSE(ThreadRunning(slot));
}

// Three threads share one flag byte, each owning a request bit and its done bit:
// no thread ever finds its own bit changed by another's step.
TEST(SharedFlagBytes, BitsOfSeveralThreadsAreNeverLost) {
    SharedFlags<uint8_t> flags;
    flags.replace(0x80); // a bit nobody touches
    std::atomic<int> lost{0};
    inThreads(3, [&](int b) {
        const uint8_t bit = static_cast<uint8_t>(1u << b);
        for (int i = 0; i < 20000; i++) {
            if (i % 3 == 0)
                flags.change(bit, static_cast<uint8_t>(bit << 4)); // request off, done on
            else
                flags.set(bit);
            if (i % 3 != 0 && !flags.test(bit)) lost++;
            flags.clear(static_cast<uint8_t>(bit | (bit << 4)));
            if (flags.test(bit)) lost++;
        }
    });
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(flags.load(), 0x80);
}

} // namespace
