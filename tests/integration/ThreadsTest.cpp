// Thread slots started, restarted and stopped from several threads at once:
// never two threads of one slot, no join of a thread by itself, no crash; and a
// thread that cannot be created is reported.
#include "RootedWorks.h"

#include "devsim/Ft817Model.h"

#include <atomic>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

class LinkThreads : public RootedWorks {
  protected:
    void TearDown() override {
        w->running = 0;
        JoinThread(SlotOf(Thread::Ft817));
        Ft817ModelStop(radio);
        RootedWorks::TearDown();
    }
    Ft817Model* radio = nullptr;
};

TEST_F(LinkThreads, FtPollStartedAndSwitchedFromSeveralThreadsEndsWithOnePoller) {
    setup->CatSerialPort.set("/dev/ttyUSB2");
    Ft817ModelConfig cfg;
    cfg.hz = 7100000;
    radio = Ft817ModelStart(dir.path + "/dev/ttyUSB2", cfg);
    ASSERT_NE(radio, nullptr);
    // The keys, the refresh tick and the alarm handler all switch the work mode.
    inThreads(4, [&](int c) {
        for (int i = 0; i < 60; i++) {
            setup->catSerialEnabled = (i + c) % 3 == 0 ? '0' : '1';
            StartThreadCATserial(w.get());
        }
    });
    setup->catSerialEnabled = '1';
    StartThreadCATserial(w.get());
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 7100000; }, 10000));
    Ft817ModelSetFrequency(radio, 21074000);
    ASSERT_TRUE(WaitFor([&] { return w->source[kModeFt817].freqHz == 21074000; }, 10000));
    EXPECT_EQ(w->deviceErrorCode, 0); // every run opened the port it was given

    // One poller: the radio sees one query per answer, not two interleaved.
    Ft817ModelClearReceived(radio);
    plat_sleep_ms(300);
    const int queries = static_cast<int>(Ft817ModelReceived(radio).size());
    EXPECT_LE(queries, Ft817ModelAnswered(radio) + 2);

    setup->catSerialEnabled = '0';
    ASSERT_TRUE(WaitFor([&] { return !ThreadRunning(SlotOf(Thread::Ft817)); }, 10000));
}

// A process that may not create threads: the link reports it on its error page
// instead of losing it (run in a child, as an unprivileged user limited to one
// task, so the limit is the kernel's own).
TEST_F(LinkThreads, ThreadThatCannotBeCreatedIsReported) {
    setup->EnableLinear = '1';
    const std::string log = dir.path + "/syslog.log";
    close(open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
    // The child writes it as another user.
    ASSERT_EQ(chmod(dir.path.c_str(), 0711), 0);
    ASSERT_EQ(chmod(log.c_str(), 0666), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit one{1, 1};
        if (setrlimit(RLIMIT_NPROC, &one) != 0 || setuid(65534) != 0) _exit(3);
        StartThreadLinear(w.get());
        const bool page =
            w->deviceErrorCode == 1 && w->deviceErrorText.equals("Linear: cannot start thread");
        _exit(page ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop to an unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(Contains(ReadFile(log), "3 cannot start thread link")) << ReadFile(log);
}

} // namespace
