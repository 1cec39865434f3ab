// The amplifier's measurements, as one value.
//
// The link thread reads them all from one status reply and publishes them
// together; the screens, the remote status record, the console's JSON, the
// temperature log and the tuner take a copy. A copy is always of one reply: the
// SWR a page draws belongs to the forward power it draws beside it.
#pragma once

#include <cstdint>
#include <mutex>

struct Works;

struct AmpReadings {
    uint8_t ampStatus1 = 0, ampStatus2 = 0, ampFault = 0; // status bytes and fault byte as sent
    uint16_t rawIn = 0, rawFwd = 0, rawRefl = 0;          // power readings as sent
    float pwrIn = 0, pwrFwd = 0, pwrRefl = 0, pwrFwdPeak = 0; // watts
    float swr = 0;                                        // 0 without power, else 1..100
    float currentRaw = 0;                                 // drain current reading, 0..4095
    float temp1 = 0, temp2 = 0;                           // heat sinks, degrees C, smoothed
    int64_t readMs = -1; // program ms of the reply; -1: nothing read yet

    // What the amplifier's status bits say.
    bool transmitting() const { return ampStatus2 & 1; }
    bool highSwrTripped() const { return ampStatus2 & 2; }
    bool protectionLatched() const { return ampStatus2 & 4; }
    bool bypassed() const { return ampStatus2 & 8; }
    bool coaxRxTx() const { return ampStatus1 & 1; } // receiver and transmitter on one coax
    int pads() const { return (ampStatus1 >> 2) & 3; } // bit 1 the 3 dB pad, bit 0 the 2 dB pad
    float amps() const { return currentRaw / 4096.0f * 14.05f; }
    float hotter() const { return temp1 > temp2 ? temp1 : temp2; }
    bool operator==(const AmpReadings&) const = default;
    // The same values, whenever they were read.
    bool sameValues(const AmpReadings& o) const;
};

// Where the link keeps the last readings: one lock over a small copy.
struct AmpReadingsBox {
    std::mutex mu;
    AmpReadings r; // guarded by mu
};

// A copy of the last readings.
AmpReadings AmpReadingsNow(Works* works);
// Replaces the readings (the link thread, and a test standing in for it). New
// values count as a change (core/Changes.h); the same values read again do not.
void PublishAmpReadings(Works* works, const AmpReadings& r);
