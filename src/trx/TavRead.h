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
// The block's signed 32-bit little-endian samples (the first `length` bytes,
// at most `count` values) as floats times `scale`; the number of values.
int ScaleBlock(const uint8_t* bytes, int length, float scale, float* out, int count);
