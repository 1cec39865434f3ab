// The GPIO character device as the panel uses it: finding the chip by label,
// name or path, and one line request with its values and direction changes,
// against the chip model.
#include "GpioBackend.h"
#include "TestRoot.h"

#include "devsim/GpioChip.h"
#include "devsim/GpioKeys.h"
#include "devsim/SimRoot.h"
#include "platform/GpioChip.h"
#include "platform/GpioLines.h"
#include "platform/Root.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const auto bit = [](int pin) { return 1u << pin; };
constexpr uint64_t kUsed = GPIO_V2_LINE_FLAG_USED, kIn = GPIO_V2_LINE_FLAG_INPUT,
                   kOut = GPIO_V2_LINE_FLAG_OUTPUT, kPullUp = GPIO_V2_LINE_FLAG_BIAS_PULL_UP;

gpio_v2_line_info lineInfo(int chip, uint32_t offset) {
    gpio_v2_line_info li;
    std::memset(&li, 0, sizeof li);
    li.offset = offset;
    EXPECT_EQ(ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &li), 0) << offset;
    return li;
}

class GpioChipDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(GpioBackendRoot(dir.path, GpioBackend::Chardev, SimRootOptions{}, &err)) << err;
        plat_set_root(dir.path.c_str());
    }
    void TearDown() override {
        if (chip >= 0) close(chip);
        plat_set_root(nullptr);
    }
    int openChip(const char* name = "/dev/gpiochip4") {
        chip = open(plat_path(name).c_str(), O_RDWR | O_CLOEXEC);
        return chip;
    }
    gpio_v2_line_info info(uint32_t offset) { return lineInfo(chip, offset); }
    TempDir dir;
    int chip = -1;
};

// Chips are found by label, name or path; files by a chip's name that are no
// chip are left alone.
TEST_F(GpioChipDevice, ChipsAreFoundByLabelNameOrPathAndFilesThatAreNoChipAreLeftAlone) {
    // A plain file by a chip's name answers no chip call, as a real file would not.
    ASSERT_TRUE(WriteFile(dir.path + "/dev/gpiochip7", std::string(9000, '\0')));
    ASSERT_TRUE(WriteFile(dir.path + "/dev/gpiochip-x", ""));
    const std::vector<GpioChipInfo> chips = plat_gpiochip_list();
    ASSERT_EQ(chips.size(), 2u);
    EXPECT_EQ(chips[0].name, "gpiochip0");

    GpioChipInfo c;
    std::string why;
    ASSERT_TRUE(plat_gpiochip_find("gpiochip0", &c, &why)) << why;
    EXPECT_EQ(c.label, "gpio-brcmstb@107d508500");
    ASSERT_TRUE(plat_gpiochip_find("/dev/gpiochip4", &c, &why)) << why;
    EXPECT_EQ(c.label, "pinctrl-rp1");
    ASSERT_TRUE(plat_gpiochip_find("gpio-brcmstb@107d508500", &c, &why)) << why;
    EXPECT_EQ(c.path, "/dev/gpiochip0");

    EXPECT_FALSE(plat_gpiochip_find("/dev/gpiochip9", &c, &why));
    EXPECT_TRUE(Contains(why, "no GPIO chip answers at /dev/gpiochip9")) << why;

    // Without a Pi's chip the search says which chips there are. (Without any:
    // PanelOnPi5.WithoutItsChipEndsWithTheGpioStatus.)
    ASSERT_EQ(unlink((dir.path + "/dev/gpiochip4").c_str()), 0);
    EXPECT_FALSE(plat_gpiochip_find("", &c, &why));
    EXPECT_TRUE(Contains(why, "no GPIO chip is a Raspberry Pi's")) << why;
}

// (The request's flags, values read and set, and the output levels it starts
// with, the panel meets through its lines: GpioChoice.APi5TakesTheRp1sChip...,
// Backends/GpioConverterTest.*/Chardev.)
TEST_F(GpioChipDevice, TheDataLinesTurnAroundKeepsTheOtherLinesAndTooManyLinesAreRefused) {
    ASSERT_GE(openChip(), 0);
    const uint32_t offsets[] = {4, 16, 23, 40};
    // 4 and 16 outputs (16 high), 23 and 40 inputs with the pull-up.
    const int req =
        plat_gpiochip_request("/dev/gpiochip4", offsets, 4, 0b0011, 0b0010, 0b1100, "panel");
    ASSERT_GE(req, 0) << std::strerror(errno);
    EXPECT_STREQ(info(23).consumer, "panel");

    // The data line's turn-around: input, the others as they were (the key's
    // pull-up kept).
    ASSERT_EQ(plat_gpiochip_configure(req, 4, 0b0010, 0, 0b1100), 0);
    EXPECT_EQ(info(4).flags, kUsed | kIn);
    EXPECT_EQ(info(16).flags, kUsed | kOut);
    EXPECT_EQ(info(23).flags & kPullUp, kPullUp);
    EXPECT_EQ(plat_gpiochip_configure(req, 65, 1, 1, 0), -1);
    close(req);
}

// Which backend the panel's lines take on each board, and what it says.
class GpioChoice : public ::testing::Test {
  protected:
    void TearDown() override {
        plat_gpio_lines_close(&lines);
        plat_set_root(nullptr);
    }
    void root(const std::string& compatible, std::vector<SimChip> chips) {
        ASSERT_TRUE(WriteFile(dir.path + "/proc/device-tree/compatible", compatible));
        SimRootOptions opt;
        opt.gpioChips = std::move(chips);
        std::string err;
        ASSERT_TRUE(SimRootCreate(dir.path, opt, &err)) << err;
        plat_set_root(dir.path.c_str());
    }
    int open(const std::string& chip = "") {
        plat_gpio_lines_close(&lines);
        GpioLinesPlan plan;
        plan.outputs = bit(4) | bit(6) | bit(13) | bit(16);
        plan.high = bit(13);
        plan.inputs = plan.pullUps = 0x0FC00000u;
        return plat_gpio_lines_open(&lines, chip, plan, &error);
    }
    TempDir dir;
    GpioLines lines;
    std::string error;
};

const std::string kPi4Compatible("raspberrypi,4-model-b\0brcm,bcm2711\0", 35);

TEST_F(GpioChoice, APi4TakesTheRegistersWhereTheyOpen) {
    root(kPi4Compatible, {{0, "pinctrl-bcm2711", 58}});
    ASSERT_TRUE(WriteFile(dir.path + "/dev/mem", ""));
    ASSERT_EQ(open(), 0) << error;
    EXPECT_NE(lines.regs, nullptr); // (what it says: PanelOnBoard.MapsTheGpioBlock.../NoDeviceTree)
    // Without /dev/mem (no access to memory) the character device.
    ASSERT_EQ(unlink((dir.path + "/dev/mem").c_str()), 0);
    ASSERT_EQ(open(), 0) << error;
    EXPECT_EQ(lines.regs, nullptr);
    EXPECT_GE(lines.request, 0);
    EXPECT_EQ(lines.how,
              "the character device /dev/gpiochip0 (gpiochip0, pinctrl-bcm2711, 58 lines), "
              "can't open /dev/mem (No such file or directory)");
    EXPECT_EQ(CountOf(ReadFile(dir.path + "/syslog.log"), "3 can't open /dev/mem\n"), 1u);
    // GpioChip names the chip, even where the registers would do.
    ASSERT_TRUE(WriteFile(dir.path + "/dev/mem", ""));
    ASSERT_EQ(open("pinctrl-bcm2711"), 0) << error;
    EXPECT_EQ(lines.regs, nullptr);
    EXPECT_TRUE(Contains(lines.how, "GpioChip 'pinctrl-bcm2711' in the setup")) << lines.how;
}

TEST_F(GpioChoice, APi5TakesTheRp1sChipAndRequestsThePanelsLines) {
    root(kPi5Compatible, {{0, "gpio-brcmstb@107d508500", 32}, {4, "pinctrl-rp1", 54}});
    ASSERT_TRUE(WriteFile(dir.path + "/dev/gpiomem", "")); // its gpiomem is not the RP1's
    // (What it says of the choice: PanelOnPi5.FindsTheRp1ChipAndSaysTheBoardIsAPi5.)
    ASSERT_EQ(open(), 0) << error;
    EXPECT_EQ(lines.regs, nullptr);
    const int chip = ::open((dir.path + "/dev/gpiochip4").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(chip, 0);
    auto flags = [&](uint32_t offset) {
        const gpio_v2_line_info li = lineInfo(chip, offset);
        EXPECT_EQ(li.num_attrs, 0u) << offset; // no debounce: the keys' thread debounces
        return li.flags;
    };
    for (uint32_t key = 22; key <= 27; key++)
        EXPECT_EQ(flags(key), kUsed | kIn | kPullUp);
    for (uint32_t out : {4u, 6u, 13u, 16u})
        EXPECT_EQ(flags(out), kUsed | kOut) << out;
    EXPECT_EQ(flags(5) & kUsed, 0u);
    close(chip);
    EXPECT_EQ(plat_gpio_levels(&lines), 0x0FC00000u | bit(13)); // keys up, 13 high

    // The lines held by another: refused, and why.
    GpioLines second;
    GpioLinesPlan plan;
    plan.inputs = bit(22);
    EXPECT_EQ(plat_gpio_lines_open(&second, "", plan, &error), 8);
    EXPECT_TRUE(Contains(error, "can't request the panel's lines of /dev/gpiochip4 (pinctrl-rp1): "
                                "Device or resource busy"))
        << error;
}

// A request that stops answering: the keys read as last seen (not all pressed),
// and the failure is logged once, not every 2 ms pass.
TEST_F(GpioChoice, AFailingRequestKeepsTheLastLevelsAndSaysSoOnce) {
    root(kPi5Compatible, {{4, "pinctrl-rp1", 54}});
    ASSERT_EQ(open(), 0) << error;
    SimGpioKeys keys;
    ASSERT_TRUE(SimGpioKeysOpen(&keys, SimGpioPath(dir.path)));
    SimGpioKeyDown(&keys, 1);
    const uint32_t seen = plat_gpio_levels(&lines);
    EXPECT_EQ(seen & 0x0FC00000u, 0x0F800000u);
    SimGpioKeysClose(&keys);
    ASSERT_EQ(close(lines.request), 0); // gone from under the thread
    // The system's answer for a closed descriptor (EBADF; ENOSYS under qemu-user).
    gpio_v2_line_values probe{0, 1};
    EXPECT_EQ(ioctl(lines.request, GPIO_V2_LINE_GET_VALUES_IOCTL, &probe), -1);
    const std::string why = std::strerror(errno);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(plat_gpio_levels(&lines), seen);
    plat_gpio_set(&lines, 16);
    const std::string log = ReadFile(dir.path + "/syslog.log");
    EXPECT_EQ(CountOf(log, "3 GPIO: reading the lines of the line request failed: " + why), 1u)
        << log;
    EXPECT_EQ(CountOf(log, "3 GPIO:"), 1u) << log;
    lines.request = -1;
}

// GpioChip naming no chip there is: refused, and the chips there are named. (No
// chip, or one too small, the panel meets end to end: PanelOnPi5.*.)
TEST_F(GpioChoice, AGpioChipOfNoChipThereIsIsRefused) {
    root(kPi5Compatible, {{0, "pinctrl-rp1", 54}});
    EXPECT_EQ(open("gpiochip3"), 8);
    EXPECT_TRUE(Contains(error, "GpioChip 'gpiochip3' in the setup, and no GPIO chip is named or "
                                "labelled 'gpiochip3'; chips: gpiochip0 'pinctrl-rp1'"))
        << error;
}

} // namespace
