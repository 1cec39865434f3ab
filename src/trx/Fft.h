// The USB receiver's spectrum: a windowed FFT of one block of I/Q samples,
// coded one byte per bin (level in dB + 192) and decimated around the middle.
#pragma once

#include <cstddef>
#include <cstdint>

struct Works;

constexpr int kFftFloats = 8192;      // one full block: 4096 I/Q pairs
constexpr size_t kFftOutMax = 1706;   // bytes of the 4096-point spectrum
constexpr size_t kFftOutSmall = 854;  // bytes of the 2048-point spectrum

// The spectrum of `count` floats (kFftFloats, I/Q interleaved) into `out`
// (kFftOutMax bytes of room): 2048 points and 854 bytes when `enable1600` is
// '0', else 4096 points and 1706 bytes. The window and twiddles are computed
// again only when `enable1600` differs from the last call's. Returns the byte
// count; 0 when the work buffers could not be had or `count` is not a block.
size_t FftSpectrum(const float* samples, int count, char enable1600, uint8_t* out);

// The spectrum of one block, sent as "SP" while a peer is connected. A failure
// to get the work buffers logs which and ends the receiver (ExitTavread).
void fftCalc(const float* samples, int count, Works* works);

// The transform stage alone (butterflies and bit reversal, in place) over the
// twiddles of the current size; for the benchmark. `n` must be that size.
void FftTransform(double* re, double* im, int n);
