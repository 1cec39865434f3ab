// The two GPIO backends behind one set of pin operations, and the choice between them.
#include "platform/GpioLines.h"

#include "platform/Clock.h"
#include "platform/GpioBlock.h"
#include "platform/GpioChip.h"
#include "platform/Log.h"
#include "platform/Root.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

uint32_t bit(int pin) { return 1u << pin; }

// Three function-select bits a pin: 000 input, 001 output.
void regsInput(volatile uint32_t* r, int pin) {
    const int word = pin / 10, shift = 3 * (pin % 10);
    plat_gpio_write(r, word, plat_gpio_read(r, word) & ~(7u << shift));
}
void regsOutput(volatile uint32_t* r, int pin) {
    regsInput(r, pin);
    const int word = pin / 10, shift = 3 * (pin % 10);
    plat_gpio_write(r, word, plat_gpio_read(r, word) | (1u << shift));
}

void openRegisters(GpioLines* g, volatile uint32_t* regs, const GpioLinesPlan& plan) {
    g->regs = regs;
    for (int pin = 0; pin < 32; pin++) {
        if (plan.outputs & bit(pin)) {
            if (plan.high & bit(pin))
                plat_gpio_write(regs, kGpioSetWord, bit(pin));
            regsOutput(regs, pin);
        }
    }
    for (int pin = 0; pin < 32; pin++)
        if (plan.inputs & bit(pin))
            regsInput(regs, pin);
    if (plan.pullUps) {
        // The pull control's sequence: the kind, a clock on the pins, both off.
        plat_gpio_write(regs, kGpioPullWord, 2);
        plat_sleep_us(10);
        plat_gpio_write(regs, kGpioPullClockWord, plan.pullUps);
        plat_sleep_us(10);
        plat_gpio_write(regs, kGpioPullWord, 0);
        plat_gpio_write(regs, kGpioPullClockWord, 0);
    }
}

int openChip(GpioLines* g, const GpioChipInfo& chip, const GpioLinesPlan& plan, std::string* error) {
    const uint32_t pins = plan.outputs | plan.inputs;
    uint32_t offsets[32];
    uint64_t outputs = 0, high = 0, pullUps = 0;
    int n = 0;
    int highest = 0;
    for (int pin = 0; pin < 32; pin++) {
        g->index[pin] = -1;
        if (!(pins & bit(pin)))
            continue;
        highest = pin;
        const uint64_t at = uint64_t{1} << n;
        outputs |= plan.outputs & bit(pin) ? at : 0;
        high |= plan.high & bit(pin) ? at : 0;
        pullUps |= plan.pullUps & bit(pin) ? at : 0;
        g->index[pin] = static_cast<int8_t>(n);
        offsets[n++] = static_cast<uint32_t>(pin);
    }
    char text[200];
    if (chip.lines <= static_cast<uint32_t>(highest)) {
        std::snprintf(text, sizeof text, "%s (%s) has %u lines, the panel's go up to line %d",
                      chip.path.c_str(), chip.label.c_str(), chip.lines, highest);
        *error = text;
        return 8;
    }
    const int fd = plat_gpiochip_request(chip.path, offsets, n, outputs, high, pullUps, "panel");
    if (fd < 0) {
        std::snprintf(text, sizeof text, "can't request the panel's lines of %s (%s): %s",
                      chip.path.c_str(), chip.label.c_str(), std::strerror(errno));
        *error = text;
        return 8;
    }
    g->request = fd;
    g->requested = pins;
    g->outputs = plan.outputs;
    g->latch = plan.high & plan.outputs;
    g->pullUps = plan.pullUps & pins;
    g->last = g->latch | plan.pullUps;
    return 0;
}

void failedOnce(GpioLines* g, const char* what) {
    if (!g->failed)
        LogErr("GPIO: %s of the line request failed: %s", what, std::strerror(errno));
    g->failed = true;
}

// The request's pin masks as request indexes.
uint64_t indexes(const GpioLines* g, uint32_t pins) {
    uint64_t at = 0;
    for (int pin = 0; pin < 32; pin++)
        if (pins & g->requested & bit(pin))
            at |= uint64_t{1} << g->index[pin];
    return at;
}

// Every line of the request as `g` says now (one direction changed).
void reconfigure(GpioLines* g, const char* what) {
    const int count = __builtin_popcount(g->requested);
    if (plat_gpiochip_configure(g->request, count, indexes(g, g->outputs), indexes(g, g->latch),
                                indexes(g, g->pullUps & ~g->outputs)) != 0)
        failedOnce(g, what);
}

} // namespace

int plat_gpio_lines_open(GpioLines* g, const std::string& chip, const GpioLinesPlan& plan,
                         std::string* error) {
    *g = GpioLines{};
    std::memset(g->index, -1, sizeof g->index);
    std::string why;
    if (chip.empty()) {
        const GpioWhere where = plat_gpio_where(plat_root());
        if (where.supported) {
            const int fd = plat_gpio_open();
            if (fd >= 0) {
                volatile uint32_t* regs = plat_gpio_map(fd);
                close(fd);
                if (!regs) {
                    *error = "can't map the GPIO block of " + where.device;
                    return 255;
                }
                char text[64];
                std::snprintf(text, sizeof text, " at 0x%llX, ",
                              static_cast<unsigned long long>(where.offset));
                g->how = where.device + text + where.how;
                openRegisters(g, regs, plan);
                return 0;
            }
            const int err = errno;
            LogErr("can't open %s", where.device.c_str());
            why = "can't open " + where.device + " (" + std::strerror(err) + ")";
        } else {
            why = "this board is " + where.how;
        }
    } else {
        why = "GpioChip '" + chip + "' in the setup";
    }
    GpioChipInfo found;
    std::string none;
    if (!plat_gpiochip_find(chip, &found, &none)) {
        *error = why + ", and " + none;
        return 8;
    }
    const int status = openChip(g, found, plan, error);
    if (status != 0)
        return status;
    char text[160];
    std::snprintf(text, sizeof text, "the character device %s (%s, %s, %u lines), ",
                  found.path.c_str(), found.name.c_str(), found.label.c_str(), found.lines);
    g->how = text + why;
    return 0;
}

void plat_gpio_lines_close(GpioLines* g) {
    if (g->regs)
        munmap(const_cast<uint32_t*>(g->regs), kGpioBlockSize);
    if (g->request >= 0)
        close(g->request);
    g->regs = nullptr;
    g->request = -1;
}

void plat_gpio_set(GpioLines* g, int pin) {
    if (g->regs) {
        plat_gpio_write(g->regs, kGpioSetWord, bit(pin));
        return;
    }
    g->latch |= bit(pin) & g->requested;
    // An input keeps the value for when it drives again, as the register does.
    if (g->outputs & bit(pin)) {
        const uint64_t at = uint64_t{1} << g->index[pin];
        if (plat_gpiochip_set(g->request, at, at) != 0)
            failedOnce(g, "setting a line");
    }
}

void plat_gpio_clear(GpioLines* g, int pin) {
    if (g->regs) {
        plat_gpio_write(g->regs, kGpioClearWord, bit(pin));
        return;
    }
    g->latch &= ~bit(pin);
    if (g->outputs & bit(pin)) {
        const uint64_t at = uint64_t{1} << g->index[pin];
        if (plat_gpiochip_set(g->request, 0, at) != 0)
            failedOnce(g, "clearing a line");
    }
}

void plat_gpio_make_input(GpioLines* g, int pin) {
    if (g->regs) {
        regsInput(g->regs, pin);
        return;
    }
    if (!(g->requested & bit(pin)))
        return;
    g->outputs &= ~bit(pin);
    reconfigure(g, "turning a line to input");
}

void plat_gpio_make_output(GpioLines* g, int pin) {
    if (g->regs) {
        regsOutput(g->regs, pin);
        return;
    }
    if (!(g->requested & bit(pin)))
        return;
    g->outputs |= bit(pin);
    reconfigure(g, "turning a line to output");
}

uint32_t plat_gpio_levels(GpioLines* g) {
    if (g->regs)
        return plat_gpio_read(g->regs, kGpioLevelWord);
    const uint64_t mask = indexes(g, g->requested);
    uint64_t bits = 0;
    if (plat_gpiochip_get(g->request, mask, &bits) != 0) {
        failedOnce(g, "reading the lines");
        return g->last;
    }
    uint32_t levels = 0;
    for (int pin = 0; pin < 32; pin++)
        if ((g->requested & bit(pin)) && (bits >> g->index[pin]) & 1u)
            levels |= bit(pin);
    g->last = levels;
    return levels;
}
