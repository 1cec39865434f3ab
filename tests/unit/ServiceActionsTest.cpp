// The service actions against the root's stand-in commands: the panel-software
// update script and the remote shell are waited for, OFF HW asks the converter
// to switch off, FW UPDATE queues "MR1;", and the start-up thread clears the
// update marker between the two remounts.
#include "RootedWorks.h"

#include "amp/LinearPort.h"
#include "app/AggFw.h"
#include "platform/Clock.h"
#include "ui/Menu.h"


namespace {

class ServiceActions : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        w->pages.menuItem = 0;
    }
    int act(int entry, int action) {
        w->pages.menuEntry = entry;
        return ModifyParameter(w.get(), action);
    }
    std::string marker(const char* name) { return dir.path + "/sim/" + name; }
    // A stand-in that takes `ms` of wall time and then leaves a marker file.
    void slowScript(const std::string& path, const char* markerName, int ms) {
        ASSERT_TRUE(SimWriteScript(dir.path, path, "sleep " + std::to_string(ms / 1000.0) +
                                   "\necho done > \"$PANEL_ROOT/sim/" + markerName +
                                   "\"\nexit 3\n")); // its status is of no interest
    }
};

TEST_F(ServiceActions, UiUpdateRunsTheScriptAndWaitsForIt) {
    slowScript("/opt/TavZim/getpack.sh", "getpack.done", 300);
    act(31, kMenuEnter); // not armed
    EXPECT_EQ(FindLine(commands(), "getpack"), -1);

    act(31, kMenuPlus);
    testing::internal::CaptureStderr();
    const int64_t t0 = plat_mono_ms();
    act(31, kMenuEnter);
    const int64_t took = plat_mono_ms() - t0;
    const bool done = FileExists(marker("getpack.done"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(done); // the call returned only after the script had finished
    EXPECT_GE(took, 300);
    EXPECT_TRUE(Contains(err, "Start AGG UI...\n")) << err;
    const auto cmds = commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), "/opt/TavZim/getpack.sh");
    // The failed status changes nothing: still armed, nothing queued.
    EXPECT_TRUE(w->serviceFlags.test(8));
    EXPECT_TRUE(queued().empty());
}

TEST_F(ServiceActions, RemoteServiceStartsTheShellAndWaitsForIt) {
    slowScript("/opt/sshshell", "sshshell.done", 300);
    act(32, kMenuEnter); // not armed
    EXPECT_EQ(FindLine(commands(), "/opt/sshshell"), -1);
    act(32, kMenuPlus);
    act(32, kMenuMinus); // armed and disarmed again
    act(32, kMenuEnter);
    EXPECT_EQ(FindLine(commands(), "/opt/sshshell"), -1);

    act(32, kMenuRight);
    testing::internal::CaptureStderr();
    act(32, kMenuEnter);
    const bool done = FileExists(marker("sshshell.done"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(done);
    const size_t launching = err.find("launching ssh\n"), started = err.find("Start REMOTE SRV\n");
    ASSERT_NE(launching, std::string::npos) << err;
    ASSERT_NE(started, std::string::npos) << err;
    EXPECT_LT(launching, started); // the shell first, then the line
    const std::string log = syslog();
    const size_t a = log.find("6 launching ssh"), b = log.find("6 launched ssh");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_GE(FindLine(commands(), "/opt/sshshell"), 0);
}

TEST_F(ServiceActions, OffHwAsksTheConverterOnEveryAction) {
    for (int a : {kMenuEnter, kMenuMinus, kMenuPlus, kMenuLeft, kMenuRight}) {
        w->panelCmd = 0xFF; // idle
        EXPECT_EQ(act(29, a), 0);
        EXPECT_EQ(w->panelCmd, 0x85) << a;
    }
    EXPECT_TRUE(queued().empty()); // nothing for the amplifier itself
}

TEST_F(ServiceActions, FwUpdateQueuesMr1OnlyWhenArmed) {
    testing::internal::CaptureStderr();
    act(30, kMenuEnter);
    act(30, kMenuPlus);
    act(30, kMenuMinus);
    act(30, kMenuEnter);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(queued().empty());
    EXPECT_FALSE(Contains(err, "Start AGGFW"));

    act(30, kMenuLeft);
    testing::internal::CaptureStderr();
    act(30, kMenuEnter);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(queued(), std::vector<int>{kCmdFwUpdate});
    EXPECT_TRUE(Contains(err, "Start AGGFW\n")) << err;
    EXPECT_TRUE(w->serviceFlags.test(1)); // stays armed (GPIO 13 low) until the restart
}

class AggFw : public ServiceActions {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ServiceActions::SetUp());
        useTimeScale(50); // the five seconds in a tenth
        ASSERT_TRUE(WriteFile(dir.path + "/tmp/good", "1\n"));
    }
    // Runs the thread body to its end; what it wrote to standard error.
    std::string run() {
        testing::internal::CaptureStderr();
        const int64_t t0 = plat_mono_ms();
        AggFWThread(w.get());
        tookMs = plat_mono_ms() - t0;
        return testing::internal::GetCapturedStderr();
    }
    int64_t tookMs = 0;
};

constexpr const char* kRw = "mount -o remount defaults,rw /opt/set";
constexpr const char* kRm = "rm -f /tmp/good >/dev/null 2>&1";
constexpr const char* kRo = "mount -v -n -o remount -r /opt/set";

TEST_F(AggFw, CountsFiveSecondsThenClearsTheMarkerBetweenTheRemounts) {
    const std::string err = run();
    EXPECT_GE(tookMs, 5000);
    size_t at = 0;
    for (int i = 0; i < 5; i++) {
        const std::string line = "AGG FW " + std::to_string(i) + "..\n";
        const size_t p = err.find(line, at);
        ASSERT_NE(p, std::string::npos) << line << err;
        at = p + line.size();
    }
    EXPECT_NE(err.find("--------- END THREAD AGG FW!!!\n", at), std::string::npos) << err;

    const auto cmds = commands();
    const int rw = FindLine(cmds, kRw);
    ASSERT_GE(rw, 0);
    const int rm = FindLine(cmds, kRm, rw + 1);
    ASSERT_GT(rm, rw);
    EXPECT_EQ(cmds[rm], kRm);
    EXPECT_GT(FindLine(cmds, kRo, rm + 1), rm);
    EXPECT_FALSE(FileExists(dir.path + "/tmp/good"));
    EXPECT_EQ(ReadFile(dir.path + "/sim/opt-set.mount"), "ro\n");
}

TEST_F(AggFw, ARefusedRemountEndsItBeforeTheMarker) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 1\n"));
    const std::string err = run();
    EXPECT_TRUE(Contains(err, "can't mount rw /opt/set/ error ")) << err;
    EXPECT_TRUE(Contains(syslog(), "3 can't mount rw /opt/set/ error "));
    EXPECT_FALSE(Contains(err, "END THREAD AGG FW"));
    EXPECT_EQ(FindLine(commands(), "rm -f /tmp/good"), -1);
    EXPECT_TRUE(FileExists(dir.path + "/tmp/good"));
}

TEST_F(AggFw, AFailedRemovalIsReportedAndEndsIt) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/rm", "exit 1\n"));
    const std::string err = run();
    const char* msg = "can't :rm -f /tmp/good >/dev/null 2>&1  ->error ";
    EXPECT_TRUE(Contains(err, msg)) << err;
    EXPECT_TRUE(Contains(syslog(), std::string("3 ") + msg));
    EXPECT_FALSE(Contains(err, "END THREAD AGG FW"));
    EXPECT_TRUE(FileExists(dir.path + "/tmp/good"));
}

TEST_F(AggFw, AFailedReadOnlyRemountIsLoggedAndTheThreadEnds) {
    // rw works (and is recorded, so the partition is writable); -r fails.
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount",
                               "case \" $* \" in *\" -r \"*) exit 1;; esac\n"
                               "echo rw > \"$PANEL_ROOT/sim/opt-set.mount\"\n"));
    const std::string err = run();
    EXPECT_TRUE(Contains(syslog(), "3 can't mount ro /opt/set/ error "));
    EXPECT_FALSE(FileExists(dir.path + "/tmp/good"));
    EXPECT_TRUE(Contains(err, "--------- END THREAD AGG FW!!!\n")) << err;
    EXPECT_GE(FindLine(commands(), kRo), 0);
}

} // namespace
