// The converter model driven the way the panel drives it, through the panel's GPIO
// backends: register writes and reads through the virtual wire of a root folder's
// GPIO block, and line requests on a modelled chip of the character device.
#include "GpioBackend.h"
#include "TestRoot.h"

#include "devsim/GpioConverter.h"
#include "devsim/GpioKeys.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/GpioBlock.h"
#include "platform/GpioChip.h"
#include "platform/GpioLines.h"
#include "platform/Root.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kData = 4, kClock = 6, kArmed = 13, kAlive = 16;
constexpr int kStepUs = 20; // the wire is acknowledged, so the panel's 200 us are not needed

const auto bit = [](int pin) { return 1u << pin; };

uint32_t atomicLoad(volatile uint32_t* regs, int i) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[i])).load();
}

class GpioConverterTest : public ::testing::TestWithParam<GpioBackend> {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(GpioBackendRoot(dir.path, GetParam(), SimRootOptions{}, &err)) << err;
        plat_set_root(dir.path.c_str());
        // The block the model watches: dev/mem's, or the chip file's.
        const std::string block = SimGpioPath(dir.path);
        int fd = open(block.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0) << block;
        void* p = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                       SimGpioOffset(block));
        close(fd);
        ASSERT_NE(p, MAP_FAILED);
        regs = static_cast<volatile uint32_t*>(p);
        m = GpioConverterStart(block);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(atomicLoad(regs, kVirtualMagicWord), kVirtualMagic);
        // The panel's setup: data, clock and the two plain lines as outputs,
        // data and clock high; the keys as inputs with their pull-ups.
        GpioLinesPlan plan;
        plan.outputs = bit(kData) | bit(kClock) | bit(kArmed) | bit(kAlive);
        plan.high = bit(kData) | bit(kClock);
        plan.inputs = plan.pullUps = 0x0FC00000u;
        ASSERT_EQ(plat_gpio_lines_open(&lines, "", plan, &err), 0) << err;
        ASSERT_EQ(lines.regs != nullptr, GetParam() == GpioBackend::Registers) << lines.how;
    }
    void TearDown() override {
        plat_gpio_lines_close(&lines);
        GpioConverterStop(m);
        if (regs) munmap(const_cast<uint32_t*>(regs), kGpioBlockSize);
        plat_set_root(nullptr);
    }

    void setOutput(int p, bool out) {
        out ? plat_gpio_make_output(&lines, p) : plat_gpio_make_input(&lines, p);
    }
    void pin(int p, bool high) { high ? plat_gpio_set(&lines, p) : plat_gpio_clear(&lines, p); }
    // Waits (with a deadline) until the model has taken in every write, then reads
    // the levels. Keeps the results independent of scheduling; PanelReadsAreWokenByTheModel
    // covers the panel's own bounded wait.
    uint32_t settledLevels() {
        const int64_t end = plat_mono_ms() + 2000;
        auto seqWord = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[kVirtualSeqWord]));
        auto ackWord = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[kVirtualAckWord]));
        for (;;) {
            uint32_t ack = ackWord.load();
            if (ack == seqWord.load() || plat_mono_ms() >= end) break;
            plat_futex_wait(&regs[kVirtualAckWord], ack, 20);
        }
        return plat_gpio_levels(&lines);
    }

    // The panel's side of one exchange; of the 12 bits clocked in, the last 8.
    int exchange(uint8_t cmd, bool settle = true) {
        for (int i = 7; i >= 0; i--) {
            pin(kClock, true);
            plat_sleep_us(kStepUs);
            pin(kData, (cmd >> i) & 1);
            plat_sleep_us(kStepUs);
            pin(kClock, false);
            plat_sleep_us(kStepUs);
        }
        setOutput(kData, false);
        pin(kClock, true);
        plat_sleep_us(3 * kStepUs);
        int v = 0;
        for (int i = 0; i < 12; i++) {
            pin(kClock, false);
            plat_sleep_us(kStepUs);
            uint32_t lv = settle ? settledLevels() : plat_gpio_levels(&lines);
            v = (v << 1) | static_cast<int>((lv >> kData) & 1u);
            pin(kClock, true);
            plat_sleep_us(kStepUs);
        }
        setOutput(kData, true);
        pin(kData, true);
        pin(kClock, true);
        return v & 0xFF;
    }

    TempDir dir;
    volatile uint32_t* regs = nullptr; // the block, for the wire's counters
    GpioLines lines;
    GpioConverter* m = nullptr;
};

// (Each command's reply in its slot, the 12 bits of which the panel keeps the
// last 8, every command recorded in order, the outputs set and cleared, the data
// line turned around, every write taken: the keys' thread meets them end to end
// on both backends, KeysThread.ConverterRepliesFillTheirSlotsInRotation...)

TEST_P(GpioConverterTest, KeyBitsAreLeftAlone) {
    SimGpioKeys keys;
    ASSERT_TRUE(SimGpioKeysOpen(&keys, SimGpioPath(dir.path)));
    SimGpioKeyDown(&keys, 2); // GPIO 23
    SimGpioKeyDown(&keys, 6); // GPIO 27
    // Writes that name the key bits must not move them either; a line request
    // refuses to drive an input at all.
    if (lines.regs) {
        plat_gpio_write(regs, kGpioSetWord, 0x0FC00000u | bit(kAlive));
        plat_gpio_write(regs, kGpioClearWord, 0x0FC00000u | bit(kArmed));
    } else {
        const uint64_t key = uint64_t{1} << lines.index[23];
        EXPECT_EQ(plat_gpiochip_set(lines.request, key, key), -1);
        EXPECT_EQ(errno, EPERM);
    }
    EXPECT_EQ(exchange(0xD2), 177);
    pin(kAlive, false);
    EXPECT_EQ(settledLevels() & 0x0FC00000u, 0x0FC00000u & ~bit(23) & ~bit(27));

    // Keys pressed and released while exchanges run: each press and release must
    // still be there a moment later, whatever the model publishes meanwhile.
    std::atomic<bool> done{false};
    std::atomic<int> lost{0};
    std::thread presser([&] {
        for (int i = 0; !done.load(); i++) {
            int key = 1 + i % 6;
            uint32_t b = bit(21 + key);
            SimGpioKeyDown(&keys, key);
            plat_sleep_us(20);
            if (atomicLoad(regs, kGpioLevelWord) & b) lost++;
            SimGpioKeyUp(&keys, key);
            plat_sleep_us(20);
            if (!(atomicLoad(regs, kGpioLevelWord) & b)) lost++;
        }
    });
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(exchange(0xD1), 141);
    done.store(true);
    presser.join();
    EXPECT_EQ(lost.load(), 0);
    SimGpioKeyDown(&keys, 4);
    pin(kAlive, true);
    pin(kAlive, false);
    EXPECT_EQ(settledLevels() & 0x0FC00000u, 0x0FC00000u & ~bit(25));
    SimGpioKeysClose(&keys);
}

// The panel reads with plat_gpio_read alone: the model must wake it, not leave it
// to the 50 ms settle limit, also for a read straight after a write, which finds
// the model still busy and sleeps on the acknowledgement.
TEST_P(GpioConverterTest, PanelReadsAreWokenByTheModel) {
    int64_t t0 = plat_mono_ms();
    for (auto [cmd, reply] : {std::pair{0xB0, 0x23}, {0xD1, 141}, {0xD2, 177}, {0xD3, 163}})
        EXPECT_EQ(exchange(cmd, false), reply) << cmd;
    // 48 reads: every one sitting out the limit would take 2.4 s.
    EXPECT_LT(plat_mono_ms() - t0, 1200);
    t0 = plat_mono_ms();
    for (int i = 0; i < 50; i++) {
        pin(kAlive, i % 2);
        EXPECT_EQ((plat_gpio_levels(&lines) >> kAlive) & 1u, static_cast<uint32_t>(i % 2));
    }
    EXPECT_LT(plat_mono_ms() - t0, 1000); // 50 x 50 ms without the wake-ups
}

TEST_P(GpioConverterTest, OverrunResynchronises) {
    GpioConverterHold(m, true);
    // The panel keeps writing while the model is stalled: more than the log holds.
    for (int i = 0; i < 300; i++)
        pin(kAlive, i % 2);
    setOutput(kArmed, false); // a direction change the model can recover from the registers
    int64_t t0 = plat_mono_ms();
    plat_gpio_levels(&lines); // the stalled model leaves the read to its limit
    EXPECT_GE(plat_mono_ms() - t0, kVirtualSettleMs - 1);
    EXPECT_NE(atomicLoad(regs, kVirtualAckWord), atomicLoad(regs, kVirtualSeqWord));

    GpioConverterHold(m, false);
    ASSERT_TRUE(WaitFor(
        [&] { return atomicLoad(regs, kVirtualAckWord) == atomicLoad(regs, kVirtualSeqWord); },
        2000));
    EXPECT_EQ(GpioConverterOverruns(m), 1);
    EXPECT_FALSE(GpioConverterIsOutput(m, kArmed));
    EXPECT_TRUE(GpioConverterIsOutput(m, kClock));
    // And the next exchange works from a clean start.
    EXPECT_EQ(exchange(0xD3), 163);
    pin(kAlive, false);
    EXPECT_FALSE((settledLevels() >> kAlive) & 1u);
}

TEST_P(GpioConverterTest, AbortedCommandDoesNotShiftTheNextOne) {
    // Three bits, then the panel gives up and turns the line around.
    for (int i = 0; i < 3; i++) {
        pin(kClock, true);
        pin(kData, i % 2);
        pin(kClock, false);
    }
    setOutput(kData, false);
    setOutput(kData, true);
    pin(kClock, true);
    EXPECT_EQ(exchange(0xD2), 177);

    // Three bits, and nothing for longer than the frame timeout.
    for (int i = 0; i < 3; i++) {
        pin(kClock, true);
        pin(kData, true);
        pin(kClock, false);
    }
    pin(kClock, true);
    settledLevels();
    plat_sleep_ms(GpioConverterConfig{}.frameTimeoutMs + 50);
    EXPECT_EQ(exchange(0xD1), 141);
    auto cmds = GpioConverterCommands(m);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].byte, 0xD2);
    EXPECT_EQ(cmds[1].byte, 0xD1);
}

INSTANTIATE_TEST_SUITE_P(Backends, GpioConverterTest,
                         ::testing::Values(GpioBackend::Registers, GpioBackend::Chardev),
                         [](const ::testing::TestParamInfo<GpioBackend>& i) {
                             return GpioBackendName(i.param);
                         });

} // namespace
