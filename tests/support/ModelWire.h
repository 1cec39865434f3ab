// What the device models were sent, and waits for a command with a deadline.
#pragma once

#include "TestRoot.h"

#include "devsim/AmpModel.h"
#include "devsim/GpioConverter.h"

// The amplifier's commands in the order they came.
inline std::vector<std::string> AmpWire(AmpModel* m) {
    std::vector<std::string> out;
    for (const AmpReceived& r : AmpModelReceived(m))
        out.push_back(r.text);
    return out;
}

// Whether a command beginning with `prefix` (the whole command when it ends in
// ';') reaches the amplifier within `timeoutMs` (0: has reached it).
inline bool AmpGot(AmpModel* m, const std::string& prefix, int timeoutMs) {
    return WaitFor(
        [&] {
            for (const AmpReceived& r : AmpModelReceived(m))
                if (r.text.compare(0, prefix.size(), prefix) == 0) return true;
            return false;
        },
        timeoutMs);
}

// Whether the converter takes the command byte `cmd` within `timeoutMs`.
inline bool ConverterGot(GpioConverter* c, uint8_t cmd, int timeoutMs) {
    return WaitFor(
        [&] {
            for (const GpioConverterCommand& got : GpioConverterCommands(c))
                if (got.byte == cmd) return true;
            return false;
        },
        timeoutMs);
}
