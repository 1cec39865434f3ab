// The panel's GPIO lines behind one small interface, over either backend: the
// mapped register block (GpioBlock: the Pi 2 to 4, the cheapest) or a line
// request on the GPIO character device (GpioChip: every Pi, the Pi 5 included,
// and most Linux boards). Pins are bank 0's, 0..31, as in the level register.
#pragma once

#include <cstdint>
#include <string>

// What the lines are to be once opened (bit masks of pins).
struct GpioLinesPlan {
    uint32_t outputs = 0; // driven, starting low
    uint32_t high = 0;    // outputs that start high
    uint32_t inputs = 0;
    uint32_t pullUps = 0; // inputs with the pull-up
};

struct GpioLines {
    volatile uint32_t* regs = nullptr; // the register block, or
    int request = -1;                  // the character device's line request
    int8_t index[32];                  // pin -> index in the request, -1 not requested
    uint32_t requested = 0;            // pins in the request
    uint32_t outputs = 0;              // of those, the outputs now
    uint32_t latch = 0;                // what each output drives (kept across an input spell)
    uint32_t pullUps = 0;              // inputs with the pull-up
    uint32_t last = 0;                 // the levels last read, what a failed read gives
    bool failed = false;               // an ioctl failed (logged once)
    std::string how;                   // which backend and why, for the log
};

// Chooses the backend and opens the lines as `plan` says: the chip `chip` names
// (GpioChip in the setup: a path, name or label) when it is not empty; else the
// register block where the board has one and it can be opened; else the
// character device's Raspberry Pi controller. 0 on success, or the status the
// program ends with, `error` saying why: 8 (no GPIO for the panel here), 255
// (the block cannot be mapped).
int plat_gpio_lines_open(GpioLines* g, const std::string& chip, const GpioLinesPlan& plan,
                         std::string* error);
void plat_gpio_lines_close(GpioLines* g);

void plat_gpio_set(GpioLines* g, int pin);
void plat_gpio_clear(GpioLines* g, int pin);
void plat_gpio_make_input(GpioLines* g, int pin);
// An output drives what the pin was last set or cleared to.
void plat_gpio_make_output(GpioLines* g, int pin);
// The pins' levels as the level register shows them (pins not requested read 0).
uint32_t plat_gpio_levels(GpioLines* g);
