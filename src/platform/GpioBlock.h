// The Raspberry Pi's GPIO registers.
//
// On the board they are 4096 bytes of the controller's registers, mapped from
// "/dev/gpiomem" (the block alone, at offset 0, what Raspberry Pi OS offers
// without /dev/mem) or from "/dev/mem" at the board's peripheral base plus
// 0x200000: 0x3F200000 on the Pi 2 and 3, 0xFE200000 on the Pi 4. The base is
// read from the device tree (/proc/device-tree/soc/ranges). Under a root folder
// the same files are looked for under DIR; a root without them keeps a sparse
// DIR/dev/mem with the 4096 bytes at 0x3F200000, mapped shared, so a model
// process presses a key by clearing the key's bit in the level register (word 13).
//
// Register access goes through plat_gpio_write/plat_gpio_read. On the board they
// are plain volatile accesses. Under a root they also keep the virtual wire: each
// write is appended to a log in the unused upper half of the block, and when a
// device model is attached (it sets kVirtualMagic) a read first waits, briefly,
// until the model has taken in every write, as a real line settles before it is
// sampled.
#pragma once

#include "platform/VirtualWire.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// The block on the Pi 2 and 3, and where a root's virtual block lives.
constexpr off_t kGpioBase = 0x3F200000;
constexpr size_t kGpioBlockSize = 4096;
constexpr int kGpioLevelWord = 13;
constexpr int kGpioSetWord = 7;
constexpr int kGpioClearWord = 10;
constexpr int kGpioPullWord = 37;
constexpr int kGpioPullClockWord = 38;

// Where this board's GPIO block is.
struct GpioWhere {
    std::string device = "/dev/mem"; // machine path: "/dev/gpiomem" or "/dev/mem"
    off_t offset = kGpioBase;        // of the block in the device
    std::string how;                 // how it was chosen, for the log
    bool supported = true;           // false where the lines are not in this block (Pi 5)
};

// Chooses from the files under `top` ("" for the machine's own, the root folder
// in tests): "/dev/gpiomem" when it exists, else "/dev/mem" at the address that
// /proc/device-tree/soc/ranges gives the GPIO block, else "/dev/mem" at kGpioBase.
GpioWhere plat_gpio_where(const std::string& top);
// The GPIO block's physical address from the bytes of soc/ranges (big-endian
// cells: the peripherals' bus address, the parent's address in `parentCells`
// cells, the size). `parentCells` 0: not known, guessed from the first entry as
// the Pi's own firmware tools do. 0 when no entry maps the block.
uint64_t plat_gpio_from_ranges(const std::vector<uint8_t>& ranges, int parentCells);

// Opens the device that plat_gpio_where chooses (under the root) read-write and
// synchronous; -1 on failure, also on a board whose lines are not in the block.
int plat_gpio_open();
// Maps the GPIO block at the chosen offset; nullptr on failure. The descriptor
// may be closed afterwards.
volatile uint32_t* plat_gpio_map(int fd);

void plat_gpio_write(volatile uint32_t* regs, int word, uint32_t value);
uint32_t plat_gpio_read(volatile uint32_t* regs, int word);
