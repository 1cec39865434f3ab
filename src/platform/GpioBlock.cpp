// /dev/mem mapping of the GPIO block, real or a sparse file under the root.
#include "platform/GpioBlock.h"

#include "platform/Clock.h"
#include "platform/Root.h"

#include <atomic>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic_ref<uint32_t> word(volatile uint32_t* regs, int i) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[i]));
}
} // namespace

void plat_futex_wait(volatile uint32_t* addr, uint32_t expected, int timeoutMs) {
    timespec ts{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, const_cast<uint32_t*>(addr), FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void plat_futex_wake(volatile uint32_t* addr) {
    syscall(SYS_futex, const_cast<uint32_t*>(addr), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

int plat_gpio_open() { return open(plat_path("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC); }

volatile uint32_t* plat_gpio_map(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    if (S_ISREG(st.st_mode) && st.st_size < kGpioBase + static_cast<off_t>(kGpioBlockSize)) {
        if (ftruncate(fd, kGpioBase + static_cast<off_t>(kGpioBlockSize)) != 0)
            return nullptr;
    }
    void* p = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kGpioBase);
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint32_t*>(p);
}

void plat_gpio_write(volatile uint32_t* regs, int i, uint32_t value) {
    if (!plat_has_root()) {
        regs[i] = value;
        return;
    }
    word(regs, i).store(value, std::memory_order_relaxed);
    const uint32_t seq = word(regs, kVirtualSeqWord).load(std::memory_order_relaxed);
    const int slot = kVirtualLogWord + 2 * static_cast<int>(seq % kVirtualLogPairs);
    word(regs, slot).store(static_cast<uint32_t>(i), std::memory_order_relaxed);
    word(regs, slot + 1).store(value, std::memory_order_relaxed);
    word(regs, kVirtualSeqWord).store(seq + 1, std::memory_order_release);
    if (word(regs, kVirtualMagicWord).load(std::memory_order_acquire) == kVirtualMagic)
        plat_futex_wake(&regs[kVirtualSeqWord]);
}

uint32_t plat_gpio_read(volatile uint32_t* regs, int i) {
    if (!plat_has_root())
        return regs[i];
    if (word(regs, kVirtualMagicWord).load(std::memory_order_acquire) == kVirtualMagic) {
        // The model acknowledges each write it has taken in; wait until it has
        // seen them all (bounded: a model that went away only slows us down).
        const uint32_t seq = word(regs, kVirtualSeqWord).load(std::memory_order_relaxed);
        const int64_t end = plat_mono_ms() + kVirtualSettleMs;
        for (;;) {
            const uint32_t ack = word(regs, kVirtualAckWord).load(std::memory_order_acquire);
            const int64_t left = end - plat_mono_ms();
            if (ack == seq || left <= 0)
                break;
            plat_futex_wait(&regs[kVirtualAckWord], ack, static_cast<int>(left));
        }
    }
    return word(regs, i).load(std::memory_order_acquire);
}
