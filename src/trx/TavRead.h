// The USB panadapter receiver thread: finds the receiver, reads its offsets,
// streams its I/Q blocks and turns every divide-th one into a spectrum for the
// remote peer.
#pragma once

#include <cstdint>

struct Works;

void TAVRead(Works* works);
// The receiver's failure: error 5, EnableFFT '0', a remote restart asked for.
// The thread closes the device on its way out.
void ExitTavread(Works* works);
// The spectrum's down-counter, one full block at a time: true when this block
// is the divide-th. A `divide` changed since the counter was loaded reloads it
// at once, so a new value takes effect at the next block; one outside
// kDivideMin..kDivideMax counts as the nearest bound.
struct DivideCounter {
    unsigned left = 1;
    int loadedFrom = 0;
};
bool SpectrumBlockDue(DivideCounter* counter, int divide);
// The block's signed 32-bit little-endian samples (the first `length` bytes,
// at most `count` values) as floats times `scale`; the number of values.
int ScaleBlock(const uint8_t* bytes, int length, float scale, float* out, int count);
