// The converter on the panel's two-wire clocked exchange, and the "hardware" behind
// the panel's GPIO output lines under a root folder.
//
// The panel writes registers through plat_gpio_write, which logs every write in the
// shared block; this model takes the log in, in order, keeps the level word
// (word 13) the way the pins would show it, and acknowledges, so the panel's next
// plat_gpio_read sees the line settled. Keys (GPIO 22..27) belong to GpioKeys: their
// level bits are never touched here.
//
// Lines: GPIO 4 data (panel output, input while it reads the reply), GPIO 6 clock,
// GPIO 13 and 16 plain outputs. A command byte goes out most significant bit first,
// sampled on each falling clock edge while GPIO 4 is an output. Then, with GPIO 4
// an input, the converter puts reply bit k (of 12, most significant first) on the
// data line at the k-th falling clock edge: 4 leading bits (the slot, 0..3) and the
// 8-bit reply chosen by the command's two low bits. The line idles high.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct GpioConverterConfig {
    // Reply per slot: board version, 12 V, 15 V and amplifier supply readings. The
    // panel takes V = adc * 3.3 * k / 255 / 18 (k = 118 for 60 W, 348 for 120 W);
    // these read 11.96, 15.02 and 13.83 V on a 60 W model.
    std::array<uint8_t, 4> replies = {0x23, 141, 177, 163};
    bool silent = false;
    // A command byte left unfinished for this long is thrown away, so one aborted
    // exchange does not shift every later one; 0 keeps partial bytes for ever.
    int frameTimeoutMs = 200;
};

struct GpioConverter;

// Maps the block at `memPath` (DIR/dev/mem), starts taking in writes from the
// current sequence on and marks the wire attached; nullptr on failure.
GpioConverter* GpioConverterStart(const std::string& memPath, const GpioConverterConfig& cfg = {});
// Ends the thread, marks the wire detached and unmaps; nullptr is ignored.
void GpioConverterStop(GpioConverter* m);

void GpioConverterSetReply(GpioConverter* m, int slot, uint8_t byte); // slot 0..3
// Silent: the converter never drives the data line, so replies read 0xFF.
// Commands are still recorded: they are what the panel put on the wire.
void GpioConverterSetSilent(GpioConverter* m, bool silent);
// Stops taking in writes (a stalled converter process) until released; the panel's
// reads then time out, and more than 248 writes meanwhile overrun the log.
void GpioConverterHold(GpioConverter* m, bool hold);

// Command bytes as clocked in, newest 10000 kept.
struct GpioConverterCommand {
    int64_t ms; // plat_mono_ms when the eighth bit was taken in
    uint8_t byte;
};
std::vector<GpioConverterCommand> GpioConverterCommands(GpioConverter* m);
void GpioConverterClearCommands(GpioConverter* m);

// Level of GPIO `pin` (0..29) as the model keeps it: an output shows its last
// set/clear, GPIO 4 as an input shows what the converter drives. Key pins read the
// level word.
bool GpioConverterOutput(GpioConverter* m, int pin);
// Whether the panel has configured `pin` (0..29) as an output.
bool GpioConverterIsOutput(GpioConverter* m, int pin);
// Writes taken in, and how many times the log was overrun (writes skipped).
uint32_t GpioConverterWritesTaken(GpioConverter* m);
int GpioConverterOverruns(GpioConverter* m);

// The ADC reading the panel turns into `volts`.
uint8_t GpioConverterAdc(double volts, bool model120W = false);
