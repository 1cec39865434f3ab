// After an update the start-up thread clears the update marker between the two
// remounts of /opt/set, against the root's stand-in commands.
#include "RootedWorks.h"

#include "app/AggFw.h"

namespace {

class AggFw : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
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
    EXPECT_TRUE(Contains(err, "--------- END THREAD AGG FW!!!\n")) << err;

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

// A refused read-write remount ends it before the marker; a failed removal
// ends it after the read-only remount; a failed read-only remount is logged
// and the thread ends as usual.
TEST_F(AggFw, FailuresAreLoggedAndTheMarkerGoesOnlyWhenRemoved) {
    const struct {
        const char* name;
        const char* stub;
        const char* script;
        const char* said;
        bool removes, ends;
    } cases[] = {
        {"rw refused", "/bin/mount", "exit 1\n", "can't mount rw /opt/set/ error ", false, false},
        {"rm fails", "/bin/rm", "exit 1\n", "can't :rm -f /tmp/good >/dev/null 2>&1  ->error ",
         true, false},
        // rw works (and is recorded, so the partition is writable); -r fails.
        {"ro refused", "/bin/mount",
         "case \" $* \" in *\" -r \"*) exit 1;; esac\n"
         "echo rw > \"$PANEL_ROOT/sim/opt-set.mount\"\n",
         "can't mount ro /opt/set/ error ", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string e;
        ASSERT_TRUE(SimRootCreate(dir.path, SimRootOptions{}, &e)) << e; // the stand-ins again
        ASSERT_TRUE(WriteFile(dir.path + "/tmp/good", "1\n"));
        std::remove((dir.path + "/commands.log").c_str());
        ASSERT_TRUE(SimWriteScript(dir.path, c.stub, c.script));
        const std::string err = run();
        EXPECT_TRUE(Contains(syslog(), std::string("3 ") + c.said));
        if (!c.ends) { // said on standard error too
            EXPECT_TRUE(Contains(err, c.said)) << err;
        }
        EXPECT_EQ(Contains(err, "--------- END THREAD AGG FW!!!\n"), c.ends) << err;
        EXPECT_EQ(FindLine(commands(), kRm) >= 0, c.removes);
        EXPECT_EQ(FindLine(commands(), kRo) >= 0, c.removes); // never left writable
        EXPECT_EQ(FileExists(dir.path + "/tmp/good"), !c.ends);
    }
}

} // namespace
