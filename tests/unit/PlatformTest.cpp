// The platform layer under a root folder: paths, commands, log. (The keyboard's
// FIFO under the root, found and opened: the PanelRun tests, which end with F12.)
#include "RootDir.h"

#include "devsim/SimRoot.h"
#include "platform/Command.h"
#include "platform/Log.h"
#include "platform/Root.h"

#include <unistd.h>

namespace {

class Platform : public RootDir {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(SimRootCreate(dir.path, SimRootOptions{}, &err)) << err;
        RootDir::SetUp();
    }
};

TEST_F(Platform, CommandsAreLoggedExactlyAndRunWithTheRootsStandInsAndPopenWaitsForThem) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/probe",
                               "echo \"$PANEL_ROOT\" > \"$PANEL_ROOT/sim/probe.txt\"\nexit 4\n"));
    int st = plat_system("probe   with  blanks");
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 4);
    EXPECT_EQ(ReadFile(dir.path + "/sim/probe.txt"), dir.path + "\n");
    EXPECT_EQ(ReadLines(dir.path + "/commands.log").back(), "probe   with  blanks");
    // (What plat_popen reads: Storage.ProbesRunThereAndTheirResultsAreRead.)
    FILE* f = plat_popen("probe", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(WEXITSTATUS(plat_pclose(f)), 4);
    EXPECT_EQ(plat_pclose(f), -1); // closed once only
}

// (Absolute paths under the root: every test of a SimRoot,
// SetupFile.MissingFileIsCreatedFromDefaultsBetweenTheRemounts first.)
TEST_F(Platform, AbsoluteWordsAndRedirectionsStayInTheRootRelativeOnesAndAllWithoutOneDoNot) {
    EXPECT_EQ(plat_path("img1.png"), "img1.png");
    // /usr/bin/tput exists in the root: the stand-in runs.
    EXPECT_EQ(plat_command_text("/usr/bin/tput clear"), dir.path + "/usr/bin/tput clear");
    // /bin/true does not: the machine's own runs.
    EXPECT_EQ(plat_command_text("/bin/true"), "/bin/true");
    EXPECT_EQ(plat_command_text("rm -f /tmp/good >/dev/null 2>&1"),
              "rm -f /tmp/good >/dev/null 2>&1");
    EXPECT_EQ(plat_command_text("x > /var/log/a 2>>/tmp/b < /etc/c"),
              "x > " + dir.path + "/var/log/a 2>>" + dir.path + "/tmp/b < " + dir.path + "/etc/c");
    EXPECT_EQ(plat_command_text("echo '>/not/a/redirect'"), "echo '>/not/a/redirect'");
    // Without a root nothing changes.
    plat_set_root(nullptr);
    EXPECT_EQ(plat_path("/opt/set/setup.txt"), "/opt/set/setup.txt");
    EXPECT_EQ(plat_command_text("/bin/echo x >/dev/tty0"), "/bin/echo x >/dev/tty0");
}

// The log's lines carry their level; the one way to say something gives the log
// line and the standard-error line from one call, each whole.
TEST_F(Platform, LogLinesCarryTheirLevelAndCanAlsoGoToStandardError) {
    testing::internal::CaptureStderr();
    LogErr("bad %d", 7);
    LogInfo("fine\n");
    LogErrOut("port %s gone", "/dev/ttyX");
    LogInfoOut("ready\n");
    LogOut("plain %d\n", 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "port /dev/ttyX gone\nready\nplain 3\n");
    // LogOut is the console's only.
    EXPECT_EQ(ReadLines(dir.path + "/syslog.log"),
              (std::vector<std::string>{"3 bad 7", "6 fine", "3 port /dev/ttyX gone", "6 ready"}));
}

} // namespace
