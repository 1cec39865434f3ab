// Packing and unpacking the tuner word.
#include "tuner/TuneWord.h"

#include "core/Works.h"
#include "platform/Log.h"
#include "core/KeyLabels.h"

#include <cstdio>

SharedText<4> ModeTuneDebug;

namespace {
// Bit of the word for element bit 0..8 of each bank.
constexpr uint32_t kCBit[9] = {0x8000, 0x4, 0x10, 0x40, 0x4000, 0x1000, 0x400, 0x100, 0x100000};
constexpr uint32_t kLBit[9] = {0x2, 0x8, 0x20, 0x80, 0x2000, 0x800, 0x200, 0x80000, 0x200000};

uint32_t pack(const uint32_t (&bits)[9], uint32_t value) {
    uint32_t word = 0;
    for (int i = 0; i < 9; i++)
        if (value & (1u << i))
            word |= bits[i];
    return word;
}

uint32_t unpack(const uint32_t (&bits)[9], uint32_t word) {
    uint32_t value = 0;
    for (int i = 0; i < 9; i++)
        if (word & bits[i])
            value |= 1u << i;
    return value;
}
} // namespace

void SetC(Works* w, uint32_t c) { w->tunerWord = (w->tunerWord & ~kCBits) | pack(kCBit, c); }

void SetI(Works* w, uint32_t l) { w->tunerWord = (w->tunerWord & ~kLBits) | pack(kLBit, l); }

void SetMode(Works* w, int mode) {
    w->tuner.tuneMode = static_cast<uint16_t>(mode);
    if (mode < 0 || mode > 3)
        return;
    uint32_t word = w->tunerWord & ~kModeMask;
    const char* label = "ByP";
    const char* debug = "BP";
    if (mode == kTuneCL) {
        word |= kModeCL;
        w->tunerBypass = 0;
        label = "CL";
        debug = "CL";
    } else if (mode == kTuneLC) {
        word |= kModeLC;
        w->tunerBypass = 0;
        label = " LC";
        debug = "LC";
    } else {
        word |= kModeBypass;
        w->tunerBypass = 1;
    }
    w->tunerWord = word;
    if (w->pages.keyPage == kPageManualTune)
        KeyLabels[4].line2[0].set(label);
    if (w->settings.debugEnabled)
        ModeTuneDebug.set(debug);
}

uint32_t DecodeCapacitaFromTuneval(uint32_t word) { return unpack(kCBit, word); }

uint32_t DecodeInduttanzaFromTuneval(uint32_t word) { return unpack(kLBit, word); }

int DecodeModoFromTuneval(uint32_t word) {
    switch (word & kModeMask) {
    case 0:
        return kTuneNone;
    case kModeCL:
        return kTuneCL;
    case kModeLC:
        return kTuneLC;
    case kModeBypass:
        return kTuneBypass;
    default:
        LogStdout("DecodeModoFromTuneval -> tune: 0x%x \n", word & kModeMask);
        return kTuneNone;
    }
}

void ReadTnePar(Works* w) {
    const uint32_t word = w->tunerWord;
    w->tuner.tuneC = DecodeCapacitaFromTuneval(word);
    w->tuner.tuneL = DecodeInduttanzaFromTuneval(word);
    const int mode = DecodeModoFromTuneval(word);
    w->tuner.tuneMode = static_cast<uint16_t>(mode);
    if (mode == kTuneNone)
        SetMode(w, kTuneBypass);
}
