// The physics behind the amplifier model: antennas, the L-network tuner, the
// amplifier stage and the converters the panel reads. Pure functions, so the
// tests can search tuner settings without going through the serial line.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>

using AmpZ = std::complex<double>;

// A load on one antenna output.
//  Fixed: r + jx at every frequency.
//  Line:  an open-ended lossy line, zc * coth(a*(f/f0)^2 + j*pi/2*f/f0), with `a` chosen
//         so that the impedance at the first resonance f0 is rRes. It gives the usual
//         picture of a wire antenna: resistive near f0, capacitive (low R) below it,
//         inductive above it and high impedance near 2*f0, smooth everywhere.
//  A custom function, when set, replaces both.
struct AmpAntenna {
    enum class Kind { Fixed, Line };
    Kind kind = Kind::Fixed;
    double r = 50, x = 0;
    double f0Hz = 14.2e6, zc = 600, rRes = 65;
    std::function<AmpZ(double hz)> custom;
};

AmpAntenna AmpAntennaFixed(double r, double x);
AmpAntenna AmpAntennaLine(double f0Hz, double zc, double rRes);
// Output 1: a multiband wire through a balun (40..100 ohm, capacitive on every
// band); 2: a long wire through a 4:1 transformer (100..350 ohm, mildly
// capacitive); 3: a 50 ohm dummy load. The tuner's search matches output 1 on
// every band and output 2 from 40 m to 10 m. AmpAntennaLine gives a plain wire.
AmpAntenna AmpDefaultAntenna(int index);
AmpZ AmpAntennaImpedance(const AmpAntenna& a, double hz);

// The tuner banks: C = c * cStep, L = l * lStep for c, l in 0..511. The inductors have a
// finite Q (series loss wL/Q), the capacitors are ideal.
struct AmpTunerParts {
    double cStepF = 3e-12; // 0..1.53 nF: fine enough for high-Z loads on 10 m, enough for 80 m
    double lStepH = 0.05e-6;
    double inductorQ = 200;
};

// Bits of the tuner word, element 0 (least weight) first.
inline constexpr uint32_t kAmpTunerCBits[9] = {0x8000, 0x4,    0x10,   0x40,    0x4000,
                                               0x1000, 0x400,  0x100,  0x100000};
inline constexpr uint32_t kAmpTunerLBits[9] = {0x2,   0x8,   0x20,    0x80,    0x2000,
                                               0x800, 0x200, 0x80000, 0x200000};
inline constexpr uint32_t kAmpTunerBypass = 0x10000;
inline constexpr uint32_t kAmpTunerLC = 0x40000;
inline constexpr uint32_t kAmpTunerCL = 0x800000;

// Direct: antenna straight on the amplifier (bypass bit, no mode bit, or both mode bits).
// CL: shunt C on the amplifier side, then series L to the antenna (for loads under 50 ohm).
// LC: series L from the amplifier, then shunt C across the antenna (loads over 50 ohm).
enum class AmpTunerMode { Direct, LC, CL };
struct AmpTunerSetting {
    int l = 0, c = 0;
    AmpTunerMode mode = AmpTunerMode::Direct;
};
AmpTunerSetting AmpTunerDecode(uint32_t word);
uint32_t AmpTunerEncode(int l, int c, AmpTunerMode mode);

// Impedance the amplifier sees through the tuner.
AmpZ AmpTunerInputImpedance(const AmpTunerParts& parts, uint32_t word, AmpZ load, double hz);
double AmpGamma2(AmpZ z); // |reflection coefficient|^2 against 50 ohm
double AmpSwrOf(AmpZ z);  // capped at 999
double AmpSwrAt(const AmpTunerParts& parts, const AmpAntenna& ant, uint32_t word, double hz);

// Output of the stage for `inW` at its input: small-signal gain with a soft (Rapp, p=3)
// saturation toward satW.
double AmpOutputWatts(double inW, double gainDb, double satW);

// Converter counts (rounded, clamped to 0..4095 like the real converter).
int AmpPowerCount(double watts, double k);
// The panel reads back kRefl*count^2 + kDir*pFwd.
int AmpReflCount(double reflW, double fwdW, double kRefl, double kDir);
int AmpCurrentCount(double amps); // full scale 14.05 A

// The 10k NTC on a 10k divider: resistance (kohm, table interpolation) and ADC count.
double AmpThermistorKohm(double celsius);
int AmpThermistorCount(double celsius);
