// The virtual wire of a root folder's GPIO block: a log of register writes in the
// block's unused upper half, taken in and acknowledged by a device model in
// another process. Kept apart from GpioBlock so that the GPIO chip model (a
// preloaded library with no clock or root of the panel's) writes the same wire.
#pragma once

#include "platform/Futex.h"

#include <cstdint>

// In words of the block (unused by the real controller).
constexpr int kVirtualMagicWord = 512; // kVirtualMagic while a model is attached
constexpr uint32_t kVirtualMagic = 0x56475049;
constexpr int kVirtualSeqWord = 513;  // writes made so far
constexpr int kVirtualAckWord = 514;  // writes the model has taken in
constexpr int kVirtualLogWord = 520;  // ring of (word, value) pairs
constexpr int kVirtualLogPairs = 248; // 520 + 2 * 248 = 1016 < 1024
constexpr int kVirtualSettleMs = 50;  // longest wait for the model before a read

// Stores `value` in word `i` and appends the write to the log.
void plat_wire_write(volatile uint32_t* regs, int i, uint32_t value);
// Reads word `i` once an attached model has taken in every write, waiting at
// most `settleMs` of real time (a model that went away only slows us down).
uint32_t plat_wire_read(volatile uint32_t* regs, int i, int settleMs);
