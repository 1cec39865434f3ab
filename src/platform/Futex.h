// Waiting on a word of memory, also of a mapping shared across processes (Linux
// futex). Kept alone so that the GPIO chip model (a preloaded library with no
// clock or root of the panel's) can use it too.
#pragma once

#include <cstdint>

// Waits while *addr equals `expected`, at most `timeoutMs` of wall time.
void plat_futex_wait(volatile uint32_t* addr, uint32_t expected, int timeoutMs);
// Wakes every waiter.
void plat_futex_wake(volatile uint32_t* addr);
