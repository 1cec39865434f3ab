// The panel keys and the converter on the GPIO lines.
//
// Every 2 ms the thread drives the outputs, runs a pending converter exchange,
// debounces the six keys (one key at a time) and times presses: a short press
// acts on release, a long press acts once when it has been held long enough,
// and repeats, faster and faster, while its action asks for it.
#include "ui/GPIO.h"

#include "amp/Alarms.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/GpioBlock.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "ui/KeyActions.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kPassUs = 2000;
constexpr int kDataPin = 4;
constexpr int kClockPin = 6;
constexpr int kUpdatePin = 13;
constexpr int kPowerPin = 16;
constexpr int kFirstKeyPin = 22;
constexpr uint8_t kIdle = 255;
constexpr uint8_t kRotation[4] = {0xB0, 0xD1, 0xD2, 0xD3};

uint32_t bit(int pin) { return 1u << pin; }

void setPin(volatile uint32_t* g, int pin) { plat_gpio_write(g, kGpioSetWord, bit(pin)); }
void clearPin(volatile uint32_t* g, int pin) { plat_gpio_write(g, kGpioClearWord, bit(pin)); }

// Three function-select bits a pin: 000 input, 001 output.
void makeInput(volatile uint32_t* g, int pin) {
    const int word = pin / 10, shift = 3 * (pin % 10);
    plat_gpio_write(g, word, plat_gpio_read(g, word) & ~(7u << shift));
}
void makeOutput(volatile uint32_t* g, int pin) {
    makeInput(g, pin);
    const int word = pin / 10, shift = 3 * (pin % 10);
    plat_gpio_write(g, word, plat_gpio_read(g, word) | (1u << shift));
}

// One exchange: eight command bits out, twelve clocked in; the last eight remain.
uint8_t exchange(volatile uint32_t* g, uint8_t cmd) {
    for (int i = 7; i >= 0; i--) {
        setPin(g, kClockPin);
        plat_sleep_us(200);
        if (cmd & (1u << i))
            setPin(g, kDataPin);
        else
            clearPin(g, kDataPin);
        plat_sleep_us(200);
        clearPin(g, kClockPin);
        plat_sleep_us(200);
    }
    makeInput(g, kDataPin);
    setPin(g, kClockPin);
    plat_sleep_us(600);
    uint8_t reply = 0;
    for (int i = 0; i < 12; i++) {
        clearPin(g, kClockPin);
        plat_sleep_us(200);
        reply = static_cast<uint8_t>((reply << 1) | ((plat_gpio_read(g, kGpioLevelWord) >> kDataPin) & 1));
        setPin(g, kClockPin);
        plat_sleep_us(200);
    }
    makeOutput(g, kDataPin);
    setPin(g, kDataPin);
    setPin(g, kClockPin);
    return reply;
}

// Key state across passes.
struct Keys {
    int state[6] = {1, 1, 1, 1, 1, 1}; // debounced: 1 released, 0 pressed
    int counter[6] = {};
    int pressed = -1;                  // key marked pressed, -1 none
    double pressStart = 0;             // seconds, monotonic
    int longBits = 0;
    bool longFired = false; // a long action ran during this press: no short one on release
    int repeats = 0;
};

double threshold(int repeats) {
    if (repeats == 0)
        return TIME_LONG_PRESS;
    return repeats <= 14 ? 0.1 : 0.02;
}

void keysPass(Works* w, Keys& k, uint32_t level) {
    bool changed[6] = {};
    for (int i = 0; i < 6; i++) {
        const int pin = (level >> (kFirstKeyPin + i)) & 1;
        if (pin == k.state[i])
            continue;
        if (k.counter[i] < 5) {
            k.counter[i]++;
            continue;
        }
        bool othersReleased = true;
        for (int j = 0; j < 6; j++)
            othersReleased &= j == i || k.state[j] == 1;
        if (othersReleased) {
            k.state[i] = pin;
            k.counter[i] = 0;
            changed[i] = true;
        }
    }

    for (int i = 0; i < 6; i++) {
        const int key = i + 1;
        const int mask = 1 << i;
        if (k.state[i] == 0) {
            if (k.pressed < 0) {
                k.pressed = i;
                k.pressStart = plat_mono_s();
            }
            if (k.pressed == i && !(k.longBits & mask)) {
                const double held = plat_mono_s() - k.pressStart;
                const double limit = threshold(k.repeats);
                if (held >= limit - 0.15)
                    w->keyNotice.set(1); // "Entering second function..."
                if (held > limit) {
                    k.longBits |= mask;
                    k.longFired = true;
                    if (DecodeTasto(w, key, mask)) {
                        k.longBits &= ~mask;
                        k.repeats++;
                        k.pressStart = plat_mono_s();
                    }
                }
            }
        }
        if (changed[i] && k.state[i] == 1) {
            // A repeating action clears its long bit between repeats; the press
            // still was a long one and gets no short action on release. (A change
            // is taken after five passes at the earliest, so never on the first.)
            if (!(k.longBits & mask) && !k.longFired)
                DecodeTasto(w, key, 0);
            if (k.pressed == i) {
                k.pressed = -1;
                k.longFired = false;
            }
            k.longBits &= ~mask;
            k.repeats = 0;
        }
    }
}

} // namespace

void GPIO(Works* w) {
    LogInfo("GPIO operations start\n");
    const GpioWhere where = plat_gpio_where(plat_root());
    if (!where.supported) {
        LogErr("GPIO: this board is %s", where.how.c_str());
        std::fflush(stderr);
        _exit(8);
    }
    LogInfo("GPIO block: %s at 0x%llX, %s", where.device.c_str(),
            static_cast<unsigned long long>(where.offset), where.how.c_str());
    const int fd = plat_gpio_open();
    if (fd < 0) {
        LogErr("can't open %s", where.device.c_str());
        std::fflush(stderr);
        _exit(8);
    }
    volatile uint32_t* g = plat_gpio_map(fd);
    if (!g) {
        LogErr("mmap error %d\n", -1);
        std::fflush(stderr);
        _exit(255);
    }
    close(fd);

    makeOutput(g, kDataPin);
    makeOutput(g, kClockPin);
    makeOutput(g, kPowerPin);
    setPin(g, kUpdatePin);
    makeOutput(g, kUpdatePin);
    for (int i = 0; i < 6; i++)
        makeInput(g, kFirstKeyPin + i);
    // Pull-ups on the key lines.
    plat_gpio_write(g, kGpioPullWord, 2);
    plat_sleep_us(10);
    plat_gpio_write(g, kGpioPullClockWord, 0x0FC00000);
    plat_sleep_us(10);
    plat_gpio_write(g, kGpioPullWord, 0);
    plat_gpio_write(g, kGpioPullClockWord, 0);
    LogInfo("GPIO loop start\n");

    Keys keys;
    int countdown = 200;
    int rotation = 0;
    // The levels this loop last drove: a line is written only when its level
    // changes (the same level again changes nothing on the board, and a root's
    // device model takes every write in before the next read).
    uint32_t high = 0, low = 0;
    auto drive = [&](int pin, bool on) {
        const uint32_t b = bit(pin);
        if ((on ? high : low) & b)
            return;
        if (on)
            setPin(g, pin);
        else
            clearPin(g, pin);
        high = on ? high | b : high & ~b;
        low = on ? low & ~b : low | b;
    };
    while (w->running) {
        plat_heartbeat(w->keysBeat);
        drive(kPowerPin, true);
        if (w->clockIdle == 1)
            drive(kClockPin, true);
        drive(kUpdatePin, !w->serviceFlags.test(1));

        if (w->panelCmd == kIdle && --countdown <= 0) {
            // The rotation's next reading, only if still no other command waits:
            // one a menu or start-up asked for meanwhile is never overwritten.
            uint8_t idle = kIdle;
            if (w->panelCmd.compareExchange(idle, kRotation[rotation])) {
                countdown = 200;
                rotation = (rotation + 1) % 4;
            }
        }
        const uint8_t cmd = w->panelCmd;
        if (cmd != kIdle) {
            const uint8_t reply = exchange(g, cmd);
            high = low = 0; // the exchange drove the clock and data lines itself
            w->supplyAdc[cmd & 3] = reply;
            // Idle again, unless another command was asked for meanwhile: that
            // one goes out next instead of being lost.
            uint8_t sent = cmd;
            w->panelCmd.compareExchange(sent, kIdle);
        }

        // A connected operator's reset key acts here, as this unit's own does.
        if (w->alarmResetAsked.exchange(0))
            GPIO_Errori(w);
        // A browser's held key pulls its line low, as a finger does.
        const uint32_t web = static_cast<uint32_t>(w->webKeys.load()) << kFirstKeyPin;
        keysPass(w, keys, plat_gpio_read(g, kGpioLevelWord) & ~web);
        plat_sleep_us(kPassUs);
    }
    LogInfo("GPIO operations end\n");
}
