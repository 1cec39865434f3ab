// The six panel keys, as seen by the panel through the GPIO level register.
#pragma once

#include <cstdint>
#include <string>

struct SimGpioKeys {
    volatile uint32_t* regs = nullptr;
};

bool SimGpioKeysOpen(SimGpioKeys* k, const std::string& memPath);
// Key 1..6 down (level 0) or up (level 1).
void SimGpioKeyDown(SimGpioKeys* k, int key);
void SimGpioKeyUp(SimGpioKeys* k, int key);
void SimGpioKeysClose(SimGpioKeys* k);
