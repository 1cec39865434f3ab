#include "platform/Futex.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

void plat_futex_wait(volatile uint32_t* addr, uint32_t expected, int timeoutMs) {
    timespec ts{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    syscall(SYS_futex, const_cast<uint32_t*>(addr), FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void plat_futex_wake(volatile uint32_t* addr) {
    syscall(SYS_futex, const_cast<uint32_t*>(addr), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}
