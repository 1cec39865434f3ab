#include "core/Changes.h"

#include "platform/Clock.h"
#include "platform/Futex.h"

#include <atomic>

namespace {
std::atomic<uint32_t> g_count{0};
std::atomic<uint32_t> g_waiting{0}; // 1 while a thread sleeps on the count
} // namespace

void ChangesNote() {
    g_count.fetch_add(1, std::memory_order_seq_cst);
    // The wake's system call only when someone sleeps: writers change values
    // thousands of times a second.
    if (g_waiting.load(std::memory_order_seq_cst) != 0 && g_waiting.exchange(0, std::memory_order_seq_cst) != 0)
        plat_futex_wake(reinterpret_cast<volatile uint32_t*>(&g_count));
}

uint32_t ChangesSeen() { return g_count.load(std::memory_order_seq_cst); }

bool ChangesWait(uint32_t seen, int programMs) {
    if (g_count.load(std::memory_order_seq_cst) != seen)
        return true;
    if (plat_clock_is_manual()) {
        plat_sleep_ms(programMs);
        return g_count.load(std::memory_order_seq_cst) != seen;
    }
    const int64_t end = plat_mono_ms() + programMs;
    for (;;) {
        // Announced before the count is compared again: a writer either sees
        // the waiter or changed the count the futex compares.
        g_waiting.store(1, std::memory_order_seq_cst);
        if (g_count.load(std::memory_order_seq_cst) != seen)
            break;
        const int64_t left = end - plat_mono_ms();
        if (left <= 0)
            break;
        plat_futex_wait(reinterpret_cast<volatile uint32_t*>(&g_count), seen,
                        plat_real_ms(static_cast<int>(left)));
    }
    g_waiting.store(0, std::memory_order_seq_cst);
    return g_count.load(std::memory_order_seq_cst) != seen;
}
