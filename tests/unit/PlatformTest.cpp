// The platform layer under a root folder: paths, commands, log, GPIO block, keyboard.
#include "TestRoot.h"

#include "devsim/GpioKeys.h"
#include "devsim/Keyboard.h"
#include "devsim/SimRoot.h"
#include "platform/Command.h"
#include "platform/GpioBlock.h"
#include "platform/InputDevice.h"
#include "platform/Log.h"
#include "platform/Root.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

namespace {

class Platform : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(SimRootCreate(dir.path, SimRootOptions{}, &err)) << err;
        plat_set_root(dir.path.c_str());
    }
    void TearDown() override { plat_set_root(nullptr); }
    TempDir dir;
};

TEST(PlatformPaths, WithoutRootPathsAreUnchanged) {
    plat_set_root(nullptr);
    EXPECT_EQ(plat_path("/opt/set/setup.txt"), "/opt/set/setup.txt");
    EXPECT_EQ(plat_command_text("mount -o remount defaults,rw /opt/set"),
              "mount -o remount defaults,rw /opt/set");
    EXPECT_EQ(plat_command_text("/bin/echo x >/dev/tty0"), "/bin/echo x >/dev/tty0");
}

TEST_F(Platform, AbsolutePathsResolveUnderTheRootRelativeOnesDoNot) {
    EXPECT_EQ(plat_path("/opt/set/setup.txt"), dir.path + "/opt/set/setup.txt");
    EXPECT_EQ(plat_path("/dev/ttyAMA0"), dir.path + "/dev/ttyAMA0");
    EXPECT_EQ(plat_path("img1.png"), "img1.png");
}

TEST_F(Platform, CommandsAreLoggedExactlyAndRunWithTheRootsStandIns) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/probe",
                               "echo \"$PANEL_ROOT\" > \"$PANEL_ROOT/sim/probe.txt\"\nexit 4\n"));
    int st = plat_system("probe   with  blanks");
    EXPECT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 4);
    EXPECT_EQ(ReadFile(dir.path + "/sim/probe.txt"), dir.path + "\n");
    EXPECT_EQ(ReadLines(dir.path + "/commands.log").back(), "probe   with  blanks");
}

TEST_F(Platform, AbsoluteFirstWordAndRedirectionsStayInTheRoot) {
    // /usr/bin/tput exists in the root: the stand-in runs.
    EXPECT_EQ(plat_command_text("/usr/bin/tput clear"), dir.path + "/usr/bin/tput clear");
    // /bin/true does not: the machine's own runs.
    EXPECT_EQ(plat_command_text("/bin/true"), "/bin/true");
    EXPECT_EQ(plat_command_text("/bin/echo -e -n '\\e[?25l' >/dev/tty0"),
              "/bin/echo -e -n '\\e[?25l' >" + dir.path + "/dev/tty0");
    EXPECT_EQ(plat_command_text("rm -f /tmp/good >/dev/null 2>&1"),
              "rm -f /tmp/good >/dev/null 2>&1");
    EXPECT_EQ(plat_command_text("x > /var/log/a 2>>/tmp/b < /etc/c"),
              "x > " + dir.path + "/var/log/a 2>>" + dir.path + "/tmp/b < " + dir.path + "/etc/c");
    EXPECT_EQ(plat_command_text("echo '>/not/a/redirect'"), "echo '>/not/a/redirect'");
}

TEST_F(Platform, RmStandInRemovesInsideTheRoot) {
    ASSERT_TRUE(WriteFile(dir.path + "/tmp/good", "x"));
    EXPECT_EQ(plat_system("rm -f /tmp/good >/dev/null 2>&1"), 0);
    EXPECT_FALSE(FileExists(dir.path + "/tmp/good"));
}

TEST_F(Platform, PopenReadsTheCommandsOutput) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/my_temp", "echo 42.5 43.0\n"));
    FILE* f = plat_popen("my_temp", "r");
    ASSERT_NE(f, nullptr);
    char buf[64] = {};
    ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "42.5 43.0\n");
    EXPECT_EQ(plat_pclose(f), 0);
    EXPECT_EQ(plat_pclose(f), -1); // closed once only
}

TEST_F(Platform, LogLinesCarryTheirLevel) {
    LogErr("bad %d", 7);
    LogInfo("fine\n");
    auto lines = ReadLines(dir.path + "/syslog.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "3 bad 7");
    EXPECT_EQ(lines[1], "6 fine");
}

TEST_F(Platform, GpioBlockIsSharedWithTheKeyModel) {
    int fd = plat_gpio_open();
    ASSERT_GE(fd, 0);
    volatile uint32_t* regs = plat_gpio_map(fd);
    close(fd);
    ASSERT_NE(regs, nullptr);
    EXPECT_EQ(regs[kGpioLevelWord] & 0x0FC00000u, 0x0FC00000u); // all keys released

    SimGpioKeys keys;
    ASSERT_TRUE(SimGpioKeysOpen(&keys, SimGpioPath(dir.path)));
    SimGpioKeyDown(&keys, 3);
    EXPECT_EQ(regs[kGpioLevelWord] & (1u << 24), 0u);
    SimGpioKeyUp(&keys, 3);
    EXPECT_NE(regs[kGpioLevelWord] & (1u << 24), 0u);
    SimGpioKeysClose(&keys);
}

TEST_F(Platform, KeyboardFifoCarriesInputEvents) {
    std::string dev;
    ASSERT_TRUE(plat_glob_first("/dev/input/by-id/*-event-kbd", &dev));
    EXPECT_EQ(dev, SimKeyboardFifo(dir.path));
    int fd = plat_input_open(dev);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat_input_grab(fd), 0);
    SimKeyboard kbd;
    ASSERT_TRUE(SimKeyboardOpen(&kbd, dev));
    ASSERT_TRUE(SimKeyboardTap(&kbd, KEY_F11));
    input_event ev;
    ASSERT_EQ(read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.type, EV_KEY);
    EXPECT_EQ(ev.code, KEY_F11);
    EXPECT_EQ(ev.value, 1);
    SimKeyboardClose(&kbd);
    close(fd);
}

} // namespace
