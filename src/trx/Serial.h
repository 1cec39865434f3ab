// The maker's transceiver serial link: its parameter record and thread.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

// The decoded parameter block of the transceiver: 52 signed 32-bit fields.
struct TrxParameters {
    int32_t flag0b6;
    int32_t activeIsB;
    int32_t reportIsB;
    int32_t activeFreq;
    int32_t rxFreq;
    int32_t freqA;
    int32_t freqB;
    int32_t freqMem;
    int32_t prevFreq;
    int32_t lastFreq;
    int32_t flag9b6, flag9b5, flag9b4;
    int32_t activeMode;
    int32_t rxMode;
    int32_t modeA, modeB;
    int32_t volumeSel;
    int32_t sign10b3, sign10b2, sign10b1;
    int32_t unused21;
    int32_t sign10b0;
    int32_t squelch;
    int32_t selHigh;
    int32_t level13;
    int32_t level12lo;
    int32_t level12hi;
    int32_t combinedSel;
    int32_t nr;
    int32_t nb;
    int32_t flag13b5, flag13b4;
    int32_t sel16;
    int32_t sel17;
    int32_t sel18;
    int32_t sel19hi;
    int32_t sel19lo;
    int32_t att;
    int32_t lp;
    int32_t an;
    int32_t flag20b0;
    int32_t volume;
    int32_t volumeAux;
    int32_t volumeSide;
    int32_t pitchHz;
    int32_t level21;
    int32_t offsetHz;
    int32_t flag11b5, flag11b4;
    int32_t memMode;
    int32_t sel0;
};
static_assert(sizeof(TrxParameters) == 208, "the parameter record is 208 bytes");

// Copies the record under serMut.
void getParameters(TrxParameters* dst, Works* works);

// The link thread.
void Serial(Works* works);
// Reads frames from `fd` (also serFD) until the link is switched off (0) or the
// port hangs up (-1).
int SerialLoop(Works* works, int fd);

// Writes every byte while the link is wanted; -1 when it gave up.
int writeSerialPort(int fd, const uint8_t* bytes, size_t count, Works* works);
// Reads exactly `count` bytes from serFD; -1 when the link was switched off or
// the program ends first (a silent line raises the link alarm meanwhile).
int readSerialPort(Works* works, uint8_t* buffer, size_t count);
// Reads a frame's subtype and its four length digits; the payload length.
int decodeCmdParameters(Works* works, uint8_t* subtype, int* length);
// Decodes a parameter payload of n bytes into the record (under serMut).
void storeParameters(Works* works, int n, const uint8_t* payload);
// Puts bins 85..938 of a received trace (as many as `length` holds) into the
// plot's trace as dB.
void storeFFT(Works* works, int length, const uint8_t* trace);
// First payload byte of the shown trace for the transceiver's mode and offsets.
int SpectrumStart(int activeMode, int pitchHz, int offsetHz);
// The 1024-byte trace from `start` on, wrapping to the payload's start.
void BuildTrace(const uint8_t* payload, int start, uint8_t* trace);
