// The panel keys and the converter on the GPIO lines.
//
// Every 2 ms the thread drives the outputs, runs a pending converter exchange,
// debounces the six keys (one key at a time) and times presses: a short press
// acts on release, a long press acts once when it has been held long enough,
// and repeats, faster and faster, while its action asks for it.
#include "ui/GPIO.h"

#include "amp/Alarms.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/GpioLines.h"
#include "platform/Log.h"
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

// One exchange: eight command bits out, twelve clocked in; the last eight remain.
uint8_t exchange(GpioLines* g, uint8_t cmd) {
    for (int i = 7; i >= 0; i--) {
        plat_gpio_set(g, kClockPin);
        plat_sleep_us(200);
        if (cmd & (1u << i))
            plat_gpio_set(g, kDataPin);
        else
            plat_gpio_clear(g, kDataPin);
        plat_sleep_us(200);
        plat_gpio_clear(g, kClockPin);
        plat_sleep_us(200);
    }
    plat_gpio_make_input(g, kDataPin);
    plat_gpio_set(g, kClockPin);
    plat_sleep_us(600);
    uint8_t reply = 0;
    for (int i = 0; i < 12; i++) {
        plat_gpio_clear(g, kClockPin);
        plat_sleep_us(200);
        reply = static_cast<uint8_t>((reply << 1) | ((plat_gpio_levels(g) >> kDataPin) & 1));
        plat_gpio_set(g, kClockPin);
        plat_sleep_us(200);
    }
    plat_gpio_make_output(g, kDataPin);
    plat_gpio_set(g, kDataPin);
    plat_gpio_set(g, kClockPin);
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

double threshold(Works* w, int repeats) {
    if (repeats == 0)
        return w->settings.TIME_LONG_PRESS;
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
                const double limit = threshold(w, k.repeats);
                if (held >= limit - 0.15)
                    w->pages.keyNotice.set(1); // "Entering second function..."
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
    char chip[kSettingTextMax];
    SettingText(w, "GpioChip", chip, sizeof chip);
    GpioLinesPlan plan;
    plan.outputs = bit(kDataPin) | bit(kClockPin) | bit(kUpdatePin) | bit(kPowerPin);
    plan.high = bit(kUpdatePin);
    for (int i = 0; i < 6; i++)
        plan.inputs |= bit(kFirstKeyPin + i);
    plan.pullUps = plan.inputs;
    GpioLines lines;
    std::string error;
    const int status = plat_gpio_lines_open(&lines, chip, plan, &error);
    if (status != 0) {
        if (status == 255)
            LogErr("mmap error %d\n", -1);
        else
            LogErr("GPIO: %s", error.c_str());
        std::fflush(stderr);
        _exit(status);
    }
    LogInfo("GPIO block: %s", lines.how.c_str());
    GpioLines* g = &lines;
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
            plat_gpio_set(g, pin);
        else
            plat_gpio_clear(g, pin);
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
        // And what a logger or the operator's unit asked of the amplifier.
        for (AmpRequest r; TakeAmpRequest(w, &r);)
            ApplyAmpRequest(w, r);
        // A browser's held key pulls its line low, as a finger does.
        const uint32_t web = static_cast<uint32_t>(w->webKeys.load()) << kFirstKeyPin;
        keysPass(w, keys, plat_gpio_levels(g) & ~web);
        plat_sleep_us(kPassUs);
    }
    plat_gpio_lines_close(g);
    LogInfo("GPIO operations end\n");
}
