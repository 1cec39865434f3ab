// The tuner word: nine capacitor bits, nine inductor bits and three network-mode
// bits of the L network, as the amplifier takes them in "MT1%08X;".
#pragma once

#include "core/Shared.h"

#include <cstdint>

struct Works;

constexpr uint32_t kModeBypass = 0x10000;
constexpr uint32_t kModeLC = 0x40000;
constexpr uint32_t kModeCL = 0x800000;
constexpr uint32_t kModeMask = 0x850000;
constexpr uint32_t kCBits = 0x50D554; // C bits and 0x400000 cleared by SetC
constexpr uint32_t kLBits = 0x2A2AAA; // L bits and 0x20000 cleared by SetI

// Mode numbers: 0 none, 1 CL, 2 LC, 3 bypass.
enum TuneMode { kTuneNone = 0, kTuneCL = 1, kTuneLC = 2, kTuneBypass = 3 };

// "BP", "CL" or "LC" of the last SetMode, kept while debugging is on.
extern SharedText<4> ModeTuneDebug;

void SetC(Works* works, uint32_t c);
void SetI(Works* works, uint32_t l);
void SetMode(Works* works, int mode);
uint32_t DecodeCapacitaFromTuneval(uint32_t word);
uint32_t DecodeInduttanzaFromTuneval(uint32_t word);
int DecodeModoFromTuneval(uint32_t word);
// tuneC, tuneL and tuneMode from the tuner word (no mode becomes bypass).
void ReadTnePar(Works* works);
