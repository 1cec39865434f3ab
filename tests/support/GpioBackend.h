// The two ways the panel reaches its GPIO lines, for tests that run on both:
// the register block of a root's dev/mem, and the character device of a root
// laid out as a Raspberry Pi 5 (its device tree, no dev/mem, the RP1's chip as
// gpiochip4 beside the SoC's own gpiochip0, as its older kernels number them),
// answered by the gpiochip_model library the test programs link.
#pragma once

#include "TestRoot.h"

#include "devsim/SimRoot.h"

#include <string>
#include <unistd.h>

enum class GpioBackend { Registers, Chardev };

inline std::string GpioBackendName(GpioBackend b) {
    return b == GpioBackend::Registers ? "Registers" : "Chardev";
}

// The Pi 5's compatible property.
inline const std::string kPi5Compatible("raspberrypi,5-model-b\0brcm,bcm2712\0", 35);

// Lays out `dir` for the backend; false with `error` set on failure.
inline bool GpioBackendRoot(const std::string& dir, GpioBackend b, SimRootOptions opt,
                            std::string* error) {
    if (b == GpioBackend::Chardev) {
        if (!WriteFile(dir + "/proc/device-tree/compatible", kPi5Compatible)) {
            *error = "device tree";
            return false;
        }
        opt.gpioChips = {{0, "gpio-brcmstb@107d508500", 32}, {4, "pinctrl-rp1", 54}};
    }
    if (!SimRootCreate(dir, opt, error)) return false;
    // A root laid out before keeps no register block the panel would take.
    if (b == GpioBackend::Chardev) unlink((dir + "/dev/mem").c_str());
    return true;
}
