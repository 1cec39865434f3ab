// The Raspberry Pi's GPIO registers.
//
// On the board they are 4096 bytes of physical memory at 0x3F200000, mapped
// through "/dev/mem". Under a root folder DIR/dev/mem is a regular (sparse) file
// and the same 4096 bytes at that offset are mapped shared, so a model process
// presses a key by clearing the key's bit in the level register (word 13).
//
// Register access goes through plat_gpio_write/plat_gpio_read. On the board they
// are plain volatile accesses. Under a root they also keep the virtual wire: each
// write is appended to a log in the unused upper half of the block, and when a
// device model is attached (it sets kVirtualMagic) a read first waits, briefly,
// until the model has taken in every write, as a real line settles before it is
// sampled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

constexpr off_t kGpioBase = 0x3F200000;
constexpr size_t kGpioBlockSize = 4096;
constexpr int kGpioLevelWord = 13;
constexpr int kGpioSetWord = 7;
constexpr int kGpioClearWord = 10;
constexpr int kGpioPullWord = 37;
constexpr int kGpioPullClockWord = 38;

// The virtual wire, in words of the block (unused by the real controller).
constexpr int kVirtualMagicWord = 512; // kVirtualMagic while a model is attached
constexpr uint32_t kVirtualMagic = 0x56475049;
constexpr int kVirtualSeqWord = 513;  // writes made so far
constexpr int kVirtualAckWord = 514;  // writes the model has taken in
constexpr int kVirtualLogWord = 520;  // ring of (word, value) pairs
constexpr int kVirtualLogPairs = 248; // 520 + 2 * 248 = 1016 < 1024
constexpr int kVirtualSettleMs = 50;  // longest wait for the model before a read

// Opens "/dev/mem" read-write and synchronous; -1 on failure.
int plat_gpio_open();
// Maps the GPIO block; nullptr on failure. The descriptor may be closed afterwards.
volatile uint32_t* plat_gpio_map(int fd);

void plat_gpio_write(volatile uint32_t* regs, int word, uint32_t value);
uint32_t plat_gpio_read(volatile uint32_t* regs, int word);

// Waiting on a word of a shared mapping (Linux futex, across processes): wait
// while *addr equals `expected`, at most `timeoutMs`; wake every waiter.
void plat_futex_wait(volatile uint32_t* addr, uint32_t expected, int timeoutMs);
void plat_futex_wake(volatile uint32_t* addr);
