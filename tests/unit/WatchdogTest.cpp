// The service watchdog's pieces: the progress watch over each thread's time-out,
// the longer time-out while a thread waits for a command, and the notifications'
// failures and interval.
#include "RootDir.h"

#include "platform/Command.h"
#include "platform/Watchdog.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace {

ProgressWatch watchOf(Heartbeat* beat, int64_t timeoutMs, int64_t nowMs) {
    ProgressWatch w;
    w.beat = beat;
    w.timeoutMs = timeoutMs;
    w.commandTimeoutMs = 10 * timeoutMs;
    w.seenPasses = beat->passes.load();
    w.seenAtMs = nowMs;
    return w;
}

class Watch : public RootDir {};

TEST_F(Watch, AThreadIsAliveUntilItsOwnTimeOutPassesWithoutAPass) {
    Heartbeat beat("refresh");
    ProgressWatch w = watchOf(&beat, 1000, 0);
    EXPECT_TRUE(plat_watch_progress(&w, true, 500));
    EXPECT_TRUE(plat_watch_progress(&w, true, 1000)); // the time-out itself is still fine
    EXPECT_FALSE(plat_watch_progress(&w, true, 1001));
    EXPECT_FALSE(plat_watch_progress(&w, true, 5000));
    // One stall, one log line, with the thread's name and how long it was quiet.
    EXPECT_TRUE(Contains(syslog(), "3 watchdog: the refresh thread made no progress for 1001 ms"))
        << syslog();
    EXPECT_EQ(ReadLines(dir.path + "/syslog.log").size(), 1u);

    // A pass, and its time-out starts again from when the watch saw it. (The
    // count is moved by hand: plat_heartbeat would tie this test thread to a
    // heartbeat that ends with the test.)
    beat.passes++;
    EXPECT_TRUE(plat_watch_progress(&w, true, 6000));
    EXPECT_TRUE(Contains(syslog(), "6 watchdog: the refresh thread moves again"));
    EXPECT_TRUE(plat_watch_progress(&w, true, 7000));
    EXPECT_FALSE(plat_watch_progress(&w, true, 7001));
}

TEST_F(Watch, AThreadThatDoesNotRunIsNotHungAndStartsAfreshWhenItRunsAgain) {
    Heartbeat beat("link");
    ProgressWatch w = watchOf(&beat, 1000, 0);
    // The link ended (its port went away): however long, that is no hang.
    EXPECT_TRUE(plat_watch_progress(&w, false, 50000));
    // Started again by its retry key: a full time-out from then on.
    EXPECT_TRUE(plat_watch_progress(&w, true, 50900));
    EXPECT_TRUE(plat_watch_progress(&w, true, 51000));
    EXPECT_FALSE(plat_watch_progress(&w, true, 51001));
    EXPECT_FALSE(Contains(syslog(), "moves again"));
}

TEST_F(Watch, EachThreadHasItsOwnTimeOut) {
    Heartbeat link("link"), keys("keys");
    ProgressWatch wl = watchOf(&link, 1000, 0), wk = watchOf(&keys, 3000, 0);
    for (int64_t t = 100; t <= 2000; t += 100) {
        link.passes++;
        EXPECT_TRUE(plat_watch_progress(&wl, true, t));
        EXPECT_TRUE(plat_watch_progress(&wk, true, t)) << t;
    }
    EXPECT_TRUE(plat_watch_progress(&wk, true, 3000));
    EXPECT_FALSE(plat_watch_progress(&wk, true, 3001));
    EXPECT_TRUE(Contains(syslog(), "the keys thread made no progress"));
    EXPECT_FALSE(Contains(syslog(), "the link thread"));
}

TEST_F(Watch, WaitingForACommandGetsTheLongerTimeOut) {
    Heartbeat beat("keys");
    ProgressWatch w = watchOf(&beat, 1000, 0);
    beat.inCommand = true;
    EXPECT_TRUE(plat_watch_progress(&w, true, 9000));
    EXPECT_TRUE(plat_watch_progress(&w, true, 10000));
    EXPECT_FALSE(plat_watch_progress(&w, true, 10001));
    EXPECT_TRUE(Contains(syslog(), "(waiting for a command)")) << syslog();
}

// plat_system marks the calling thread's heartbeat for as long as the command runs.
TEST_F(Watch, ACommandMarksTheThreadThatWaitsForIt) {
    ASSERT_TRUE(WriteFile(dir.path + "/go", ""));
    Heartbeat beat("keys");
    std::atomic<bool> done{false};
    std::thread t([&] {
        plat_heartbeat(beat);
        EXPECT_EQ(plat_current_heartbeat(), &beat);
        plat_system(("while [ -e " + dir.path + "/go ]; do sleep 0.01; done").c_str());
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return beat.inCommand.load(); }, 5000));
    EXPECT_FALSE(done);
    std::remove((dir.path + "/go").c_str());
    t.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(beat.inCommand);
    // A thread that never counted has no heartbeat to mark.
    std::thread([] { EXPECT_EQ(plat_current_heartbeat(), nullptr); }).join();
}

// The notifications to a service manager (those that reach its socket the
// panel sends end to end: PanelRun.ReportsAliveOnlyWhileTheRefreshThreadMoves).
class Notify : public RootDir {
  protected:
    void TearDown() override {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
        RootDir::TearDown();
    }
};

TEST_F(Notify, AManagerThatWentAwayIsReportedOnce) {
    unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(plat_sd_notify("READY=1")); // not run by a manager: nothing to do
    setenv("NOTIFY_SOCKET", (dir.path + "/gone").c_str(), 1);
    EXPECT_FALSE(plat_sd_notify("WATCHDOG=1"));
    EXPECT_FALSE(plat_sd_notify("WATCHDOG=1"));
    auto lines = ReadLines(dir.path + "/syslog.log");
    ASSERT_EQ(lines.size(), 1u) << syslog();
    EXPECT_TRUE(Contains(lines[0], "3 sd_notify(WATCHDOG=1): ")) << lines[0];
}

TEST_F(Notify, TheWatchdogIntervalIsThisProcesssOnly) {
    unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(plat_sd_watchdog_usec(), 0u);
    setenv("WATCHDOG_USEC", "20000000", 1);
    EXPECT_EQ(plat_sd_watchdog_usec(), 20000000u);
    // Meant for another process (a parent that did not clear it): not ours.
    setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
    EXPECT_EQ(plat_sd_watchdog_usec(), 0u);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    EXPECT_EQ(plat_sd_watchdog_usec(), 20000000u);
    setenv("WATCHDOG_USEC", "soon", 1);
    EXPECT_EQ(plat_sd_watchdog_usec(), 0u);
    EXPECT_TRUE(Contains(syslog(), "3 watchdog: bad WATCHDOG_USEC"));
}

} // namespace
