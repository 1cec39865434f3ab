// Key levels in the shared GPIO block (keys 1..6 are GPIO 22..27, pressed = 0).
#include "devsim/GpioKeys.h"

#include "devsim/SimRoot.h"
#include "platform/GpioBlock.h"

#include <atomic>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
uint32_t keyBit(int key) { return 1u << (21 + key); }

// The panel reads the level word concurrently; change it with one atomic step.
std::atomic_ref<uint32_t> levelWord(SimGpioKeys* k) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(k->regs[kGpioLevelWord]));
}
} // namespace

bool SimGpioKeysOpen(SimGpioKeys* k, const std::string& memPath) {
    int fd = open(memPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    void* p = mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                   SimGpioOffset(memPath));
    close(fd);
    if (p == MAP_FAILED)
        return false;
    k->regs = static_cast<volatile uint32_t*>(p);
    return true;
}

void SimGpioKeyDown(SimGpioKeys* k, int key) {
    if (key >= 1 && key <= 6)
        levelWord(k).fetch_and(~keyBit(key));
}

void SimGpioKeyUp(SimGpioKeys* k, int key) {
    if (key >= 1 && key <= 6)
        levelWord(k).fetch_or(keyBit(key));
}

void SimGpioKeysClose(SimGpioKeys* k) {
    if (k->regs)
        munmap(const_cast<uint32_t*>(k->regs), kGpioBlockSize);
    k->regs = nullptr;
}
