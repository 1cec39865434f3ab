// The USB panadapter receiver thread: finds the receiver, reads its offsets,
// streams its I/Q blocks and turns every divide-th one into a spectrum for the
// remote peer.
#pragma once

struct Works;

void TAVRead(Works* works);
// The receiver's failure: error 5, EnableFFT '0', a remote restart asked for.
// The thread closes the device on its way out.
void ExitTavread(Works* works);
