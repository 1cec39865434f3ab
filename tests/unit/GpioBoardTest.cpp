// Which device and offset the GPIO block is taken from on each board, from the
// files a Raspberry Pi OS kernel offers. (The mapping that follows the choice the
// panel meets end to end: PanelOnBoard.*.)
#include "DeviceTree.h"
#include "TestRoot.h"

#include "platform/GpioBlock.h"

namespace {

const auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };

// soc/ranges as the boards' device trees have them: the peripherals' bus
// address, the CPU address (one cell, or two on the Pi 4), the size; then the
// local interrupt controller's window.
const std::string kPi1Ranges = DtCells({0x7E000000, 0x20000000, 0x01000000});
const std::string kPi3Ranges =
    DtCells({0x7E000000, 0x3F000000, 0x01000000, 0x40000000, 0x40000000, 0x00001000});
const std::string kPi4Ranges =
    DtCells({0x7E000000, 0, 0xFE000000, 0x01800000, 0x7C000000, 0, 0xFC000000, 0x02000000,
             0x40000000, 0, 0xFF800000, 0x00800000});

TEST(GpioRanges, EachBoardsPeripheralBasePlusTheGpioOffsetOrNothingWithoutTheBlock) {
    EXPECT_EQ(plat_gpio_from_ranges(bytes(kPi1Ranges), 0), 0x20200000u);
    EXPECT_EQ(plat_gpio_from_ranges(bytes(kPi3Ranges), 0), 0x3F200000u);
    // (The Pi 4's, end to end: PanelOnBoard.MapsTheGpioBlock.../Pi4; with the
    // parent's #address-cells known: GpioBoard.DevMemAtTheBase...)
    // The Pi 4's table read with one-cell parents finds nothing sensible to map:
    // its 0x7E000000 entry would be "CPU address 0, size 0xFE000000".
    EXPECT_NE(plat_gpio_from_ranges(bytes(kPi4Ranges), 1), 0xFE200000u);
    // Tables that do not map the block give nothing.
    EXPECT_EQ(plat_gpio_from_ranges({}, 0), 0u);
    EXPECT_EQ(plat_gpio_from_ranges(bytes(kPi3Ranges.substr(0, 11)), 0), 0u); // cut short
    // Only the local interrupt controller's window.
    EXPECT_EQ(plat_gpio_from_ranges(bytes(DtCells({0x40000000, 0x40000000, 0x1000})), 0), 0u);
    // A peripherals window too small to reach the GPIO block at bus 0x7E200000.
    EXPECT_EQ(plat_gpio_from_ranges(bytes(DtCells({0x7E000000, 0x3F000000, 0x200000})), 0), 0u);
    // A window that starts past the block.
    EXPECT_EQ(plat_gpio_from_ranges(bytes(DtCells({0x7E300000, 0x3F300000, 0x100000})), 0), 0u);
}

class GpioBoard : public ::testing::Test {
  protected:
    void fake(const std::string& rel, const std::string& content) {
        ASSERT_TRUE(WriteFile(dir.path + rel, content));
    }
    GpioWhere where() { return plat_gpio_where(dir.path); }
    TempDir dir;
};

// Beyond the boards the panel is run on end to end (PanelOnBoard.*: no device
// tree, a Pi 3's and a Pi 4's tables, gpiomem): the parent's #address-cells, a
// Pi 1's table, and a table that maps no GPIO block, which falls back and says so.
TEST_F(GpioBoard, DevMemAtTheBaseTheRangesGiveOrThePi3sWhenTheyMapNoBlock) {
    fake("/proc/device-tree/soc/ranges", kPi4Ranges);
    fake("/proc/device-tree/#address-cells", DtCells({2}));
    EXPECT_EQ(where().device, "/dev/mem");
    EXPECT_EQ(where().offset, 0xFE200000);
    fake("/proc/device-tree/soc/ranges", kPi1Ranges);
    fake("/proc/device-tree/#address-cells", DtCells({1}));
    EXPECT_EQ(where().offset, 0x20200000);
    fake("/proc/device-tree/soc/ranges", DtCells({0x40000000, 0x40000000, 0x1000}));
    EXPECT_EQ(where().offset, 0x3F200000);
    EXPECT_TRUE(Contains(where().how, "maps no GPIO block")) << where().how;
}

} // namespace
