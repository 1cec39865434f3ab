// The GPIO block: which device and offset on this board, its mapping, and the
// virtual wire of a root's sparse file.
#include "platform/GpioBlock.h"

#include "platform/Clock.h"
#include "platform/Root.h"
#include "platform/Wait.h"

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The peripherals' bus address as the VideoCore sees it, and the GPIO block's.
constexpr uint64_t kBusPeripherals = 0x7E000000;
constexpr uint64_t kBusGpio = 0x7E200000;

bool readBytes(const std::string& path, std::vector<uint8_t>* out, size_t limit) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->assign(limit, 0);
    const size_t n = std::fread(out->data(), 1, limit, f);
    std::fclose(f);
    out->resize(n);
    return true;
}

uint64_t cell(const std::vector<uint8_t>& b, size_t at) {
    return (uint64_t{b[at]} << 24) | (uint64_t{b[at + 1]} << 16) | (uint64_t{b[at + 2]} << 8) |
           b[at + 3];
}

// A device-tree property of one cell (#address-cells and the like); 0 when absent.
int cellProperty(const std::string& path) {
    std::vector<uint8_t> b;
    if (!readBytes(path, &b, 8) || b.size() != 4)
        return 0;
    const uint64_t v = cell(b, 0);
    return v >= 1 && v <= 2 ? static_cast<int>(v) : 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}
} // namespace

uint64_t plat_gpio_from_ranges(const std::vector<uint8_t>& ranges, int parentCells) {
    // Child addresses and sizes are one cell on every board of the family.
    if (parentCells == 0) {
        // A one-cell parent address is never 0 (the base is 0x20000000 or
        // 0x3F000000 there); a two-cell one starts with its high word, 0 below 4 GiB.
        if (ranges.size() < 12)
            return 0;
        parentCells = cell(ranges, 4) == 0 ? 2 : 1;
    }
    const size_t entry = 4 * static_cast<size_t>(2 + parentCells);
    for (size_t at = 0; at + entry <= ranges.size(); at += entry) {
        const uint64_t child = cell(ranges, at);
        uint64_t parent = cell(ranges, at + 4);
        if (parentCells == 2)
            parent = (parent << 32) | cell(ranges, at + 8);
        const uint64_t size = cell(ranges, at + entry - 4);
        if (child <= kBusGpio && kBusGpio + kGpioBlockSize <= child + size)
            return parent + (kBusGpio - child);
    }
    return 0;
}

GpioWhere plat_gpio_where(const std::string& top) {
    GpioWhere where;
    const std::string dt = top + "/proc/device-tree";
    std::vector<uint8_t> compatible;
    if (readBytes(dt + "/compatible", &compatible, 4096)) {
        const std::string text(compatible.begin(), compatible.end());
        if (text.find("brcm,bcm2712") != std::string::npos) {
            where.supported = false;
            where.how = "a Raspberry Pi 5 (bcm2712): its GPIO lines are on the RP1 chip, "
                        "driven through the GPIO character device";
            return where;
        }
    }
    if (exists(top + "/dev/gpiomem")) {
        where.device = "/dev/gpiomem";
        where.offset = 0;
        where.how = "the GPIO block alone";
        return where;
    }
    std::vector<uint8_t> ranges;
    if (!readBytes(dt + "/soc/ranges", &ranges, 4096)) {
        where.how = "no /proc/device-tree/soc/ranges, the Pi 2 and 3 address";
        return where;
    }
    const uint64_t at = plat_gpio_from_ranges(ranges, cellProperty(dt + "/#address-cells"));
    if (at == 0 || at % 4096 != 0 || at > static_cast<uint64_t>(INT64_MAX) - kGpioBlockSize) {
        where.how = "/proc/device-tree/soc/ranges maps no GPIO block, the Pi 2 and 3 address";
        return where;
    }
    where.offset = static_cast<off_t>(at);
    where.how = "peripherals at " + hex(at - (kBusGpio - kBusPeripherals)) +
                " from /proc/device-tree/soc/ranges";
    return where;
}

int plat_gpio_open() {
    const GpioWhere where = plat_gpio_where(plat_root());
    if (!where.supported)
        return -1;
    return open(plat_path(where.device.c_str()).c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
}

volatile uint32_t* plat_gpio_map(int fd) {
    const off_t offset = plat_gpio_where(plat_root()).offset;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    // A root's block is a regular file: it grows (sparse) to hold the block.
    if (S_ISREG(st.st_mode) && st.st_size < offset + static_cast<off_t>(kGpioBlockSize)) {
        if (ftruncate(fd, offset + static_cast<off_t>(kGpioBlockSize)) != 0)
            return nullptr;
    }
    void* p = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint32_t*>(p);
}

void plat_gpio_write(volatile uint32_t* regs, int i, uint32_t value) {
    if (!plat_has_root()) {
        regs[i] = value;
        return;
    }
    plat_wire_write(regs, i, value);
}

uint32_t plat_gpio_read(volatile uint32_t* regs, int i) {
    if (!plat_has_root())
        return regs[i];
    return plat_wire_read(regs, i, plat_real_ms(kVirtualSettleMs));
}
