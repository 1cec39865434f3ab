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

// Each thread its own time-out (ten times as long while it waits for a command):
// alive up to it, hung one millisecond later, with one log line naming it.
TEST_F(Watch, AThreadIsAliveUntilItsOwnTimeOutPassesWithoutAPass) {
    const struct {
        const char* name;
        int64_t timeoutMs, quietMs;
        bool inCommand;
        const char* logged;
    } cases[] = {
        {"refresh", 1000, 1000, false,
         "3 watchdog: the refresh thread made no progress for 1001 ms"},
        {"keys", 3000, 3000, false, "3 watchdog: the keys thread made no progress for 3001 ms"},
        {"link", 1000, 10000, true, "(waiting for a command)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFile(dir.path + "/syslog.log", "")); // this case's lines only
        Heartbeat beat(c.name);
        ProgressWatch w = watchOf(&beat, c.timeoutMs, 0);
        beat.inCommand = c.inCommand;
        EXPECT_TRUE(plat_watch_progress(&w, true, c.quietMs / 2));
        EXPECT_TRUE(plat_watch_progress(&w, true, c.quietMs)); // the time-out itself is fine
        EXPECT_FALSE(plat_watch_progress(&w, true, c.quietMs + 1));
        EXPECT_FALSE(plat_watch_progress(&w, true, c.quietMs + 4000));
        EXPECT_TRUE(Contains(syslog(), c.logged)) << syslog();
        EXPECT_EQ(ReadLines(dir.path + "/syslog.log").size(), 1u);
    }
}

// A pass, and the time-out starts again from when the watch saw it; another
// thread's passes do not count.
TEST_F(Watch, APassStartsTheTimeOutAgainForItsThreadOnly) {
    Heartbeat beat("refresh"), other("link");
    ProgressWatch w = watchOf(&beat, 1000, 0), wo = watchOf(&other, 1000, 0);
    EXPECT_FALSE(plat_watch_progress(&w, true, 5000));
    // (The count is moved by hand: plat_heartbeat would tie this test thread to
    // a heartbeat that ends with the test.)
    for (int64_t t = 5100; t <= 6000; t += 100) {
        beat.passes++;
        EXPECT_TRUE(plat_watch_progress(&w, true, t));
        EXPECT_FALSE(plat_watch_progress(&wo, true, t)) << t;
    }
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

// plat_system marks the calling thread's heartbeat for as long as the command runs.
TEST_F(Watch, ACommandMarksTheThreadThatWaitsForIt) {
    ASSERT_TRUE(WriteFile(dir.path + "/go", ""));
    Heartbeat beat("keys");
    std::atomic<bool> done{false};
    std::thread t([&] {
        plat_heartbeat(beat);
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
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
            unsetenv(name);
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
