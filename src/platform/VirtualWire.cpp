// The virtual wire's writer and reader side.
#include "platform/VirtualWire.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic_ref<uint32_t> word(volatile uint32_t* regs, int i) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(regs[i]));
}

// Real time: the bound is on how long a stalled model may hold a read up.
int64_t realMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
} // namespace

void plat_wire_write(volatile uint32_t* regs, int i, uint32_t value) {
    word(regs, i).store(value, std::memory_order_relaxed);
    const uint32_t seq = word(regs, kVirtualSeqWord).load(std::memory_order_relaxed);
    const int slot = kVirtualLogWord + 2 * static_cast<int>(seq % kVirtualLogPairs);
    word(regs, slot).store(static_cast<uint32_t>(i), std::memory_order_relaxed);
    word(regs, slot + 1).store(value, std::memory_order_relaxed);
    word(regs, kVirtualSeqWord).store(seq + 1, std::memory_order_release);
    if (word(regs, kVirtualMagicWord).load(std::memory_order_acquire) == kVirtualMagic)
        plat_futex_wake(&regs[kVirtualSeqWord]);
}

uint32_t plat_wire_read(volatile uint32_t* regs, int i, int settleMs) {
    if (word(regs, kVirtualMagicWord).load(std::memory_order_acquire) == kVirtualMagic) {
        // The model acknowledges each write it has taken in; wait until it has
        // seen them all.
        const uint32_t seq = word(regs, kVirtualSeqWord).load(std::memory_order_relaxed);
        const int64_t end = realMs() + settleMs;
        for (;;) {
            const uint32_t ack = word(regs, kVirtualAckWord).load(std::memory_order_acquire);
            const int64_t left = end - realMs();
            if (ack == seq || left <= 0)
                break;
            plat_futex_wait(&regs[kVirtualAckWord], ack, static_cast<int>(left));
        }
    }
    return word(regs, i).load(std::memory_order_acquire);
}
