// Decoding the amplifier's replies, and the status record sent to a remote unit.
#pragma once

struct Works;

// Decodes one reply (without its ';', NUL-terminated; `length` counts the NUL)
// and sets the link's next state.
void DecodeCatCmd(Works* works, const char* reply, int length);
// Value of a hex digit, or -1.
int charToInt(char c);
// SWR from forward and reflected watts: 0 without power, else 1..100.
float SwrFromPowers(float pFwd, float pRefl);

constexpr int kStatusRecordSize = 53; // 52 characters and the NUL
constexpr int kStatusRecordSent = 44; // the part streamed to a remote unit
// Fills the status record of the current state.
void CreaBufferDiStato(Works* works, char* buffer);
