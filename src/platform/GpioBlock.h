// The Raspberry Pi's GPIO registers.
//
// On the board they are 4096 bytes of physical memory at 0x3F200000, mapped
// through "/dev/mem". Under a root folder DIR/dev/mem is a regular (sparse) file
// and the same 4096 bytes at that offset are mapped shared, so a model process
// presses a key by clearing the key's bit in the level register (word 13).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

constexpr off_t kGpioBase = 0x3F200000;
constexpr size_t kGpioBlockSize = 4096;
constexpr int kGpioLevelWord = 13;

// Opens "/dev/mem" read-write and synchronous; -1 on failure.
int plat_gpio_open();
// Maps the GPIO block; nullptr on failure. The descriptor may be closed afterwards.
volatile uint32_t* plat_gpio_map(int fd);
