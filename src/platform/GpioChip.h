// GPIO chips of the kernel's character device (/dev/gpiochipN, the v2 line API).
//
// The v2 ioctls of <linux/gpio.h> are issued directly, with no library: Debian
// 12's libgpiod (1.6) speaks only the v1 API, in which a line cannot change
// direction within its request, and the converter's data line turns around
// twice an exchange. With v2 that is one GPIO_V2_LINE_SET_CONFIG_IOCTL, and
// setting or reading the lines one ioctl each.
//
// Paths are machine paths, resolved under the root (plat_path); chips are found
// by listing /dev and asking each its label.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GpioChipInfo {
    std::string path;  // "/dev/gpiochip4"
    std::string name;  // the kernel's: "gpiochip4"
    std::string label; // the driver's: "pinctrl-rp1"
    uint32_t lines = 0;
};

constexpr int kGpioChipsMax = 32;     // chips looked at under /dev
constexpr int kGpioRequestMax = 64;   // lines in one request (GPIO_V2_LINES_MAX)

// Asks the chip at `path` its name, label and number of lines.
bool plat_gpiochip_info(const std::string& path, GpioChipInfo* out);
// The chips under /dev that answer, in their numbers' order.
std::vector<GpioChipInfo> plat_gpiochip_list();
// A Raspberry Pi's own GPIO controller: the RP1 of the Pi 5, the SoC's of the others.
bool plat_gpiochip_is_pi(const std::string& label);
// The chip `wanted` names (a path "/dev/gpiochip4", a name "gpiochip4" or a label
// "pinctrl-rp1"), or with `wanted` empty the first Raspberry Pi controller;
// false with `why` set when there is none.
bool plat_gpiochip_find(const std::string& wanted, GpioChipInfo* out, std::string* why);

// Requests `count` lines of the chip at once for `consumer`: bit i of `outputs`
// makes offsets[i] an output that starts at bit i of `high`, the others inputs,
// with the pull-up where `pullUps` has bit i (no debounce: the caller times the
// lines itself). Returns the request's descriptor, or -1 with errno set.
int plat_gpiochip_request(const std::string& path, const uint32_t* offsets, int count,
                          uint64_t outputs, uint64_t high, uint64_t pullUps, const char* consumer);
// The lines of `mask` (bits are request indexes) to `bits`; 0 or -1 with errno.
int plat_gpiochip_set(int request, uint64_t bits, uint64_t mask);
// The lines of `mask` into `bits`; 0 or -1 with errno.
int plat_gpiochip_get(int request, uint64_t mask, uint64_t* bits);
// The request's lines configured again, every one as plat_gpiochip_request
// takes them (`count` lines; bits are request indexes). The kernel takes every
// line's flags from this one call: a line left out would keep its direction but
// lose its pull-up, so none is left out. 0 or -1 with errno.
int plat_gpiochip_configure(int request, int count, uint64_t outputs, uint64_t high, uint64_t pullUps);
