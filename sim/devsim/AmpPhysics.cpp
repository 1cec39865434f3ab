// Antennas, tuner network, amplifier stage and converters of the amplifier model.
#include "devsim/AmpPhysics.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kZ0 = 50.0;

// The thermistor's resistance table, 5 degree steps from -40 C.
constexpr double kNtcFirstC = -40;
constexpr double kNtcStepC = 5;
constexpr double kNtcKohm[] = {347.808, 248.591, 179.973, 131.832, 97.679, 73.119, 55.301,
                               42.257,  32.582,  25.324,  19.847,  15.679, 12.478, 10.000,
                               8.068,   6.552,   5.353,   4.399,   3.635,  3.020,  2.521,
                               2.115,   1.783,   1.510,   1.284,   1.096,  0.939,  0.808,
                               0.698,   0.605,   0.527,   0.460,   0.403,  0.354};
constexpr int kNtcPoints = sizeof kNtcKohm / sizeof kNtcKohm[0];

int clampCount(double v) {
    if (!(v > 0))
        return 0;
    return static_cast<int>(std::lround(std::min(v, 4095.0)));
}

} // namespace

AmpAntenna AmpAntennaFixed(double r, double x) {
    AmpAntenna a;
    a.kind = AmpAntenna::Kind::Fixed;
    a.r = r;
    a.x = x;
    return a;
}

AmpAntenna AmpAntennaLine(double f0Hz, double zc, double rRes) {
    AmpAntenna a;
    a.kind = AmpAntenna::Kind::Line;
    a.f0Hz = f0Hz;
    a.zc = zc;
    a.rRes = rRes;
    return a;
}

AmpAntenna AmpDefaultAntenna(int index) {
    AmpAntenna a;
    switch (index) {
    case 1:
        // A multiband wire through a balun: 40..100 ohm resistive, capacitive on
        // every band, varying smoothly with frequency.
        a.custom = [](double hz) {
            const double u = std::log2(std::max(hz, 1e5) / 1.8e6);
            return AmpZ(70 + 30 * std::sin(2.1 * u), -(180 + 140 * std::cos(1.7 * u)));
        };
        return a;
    case 2:
        // A long wire through a 4:1 transformer: high resistance, mildly capacitive.
        a.custom = [](double hz) {
            const double u = std::log2(std::max(hz, 1e5) / 1.8e6);
            return AmpZ(230 + 120 * std::sin(1.3 * u + 0.5), -(95 + 45 * std::sin(2.3 * u)));
        };
        return a;
    default:
        return AmpAntennaFixed(50, 0);
    }
}

AmpZ AmpAntennaImpedance(const AmpAntenna& a, double hz) {
    if (a.custom)
        return a.custom(hz);
    if (a.kind == AmpAntenna::Kind::Fixed)
        return {a.r, a.x};
    // Below a kilohertz the line model is meaningless (and coth diverges at 0).
    double ratio = std::max(hz, 1e3) / a.f0Hz;
    double loss = std::atanh(std::clamp(a.rRes / a.zc, 1e-6, 0.99)) * ratio * ratio;
    AmpZ g(loss, kPi / 2 * ratio);
    return a.zc * std::cosh(g) / std::sinh(g);
}

AmpTunerSetting AmpTunerDecode(uint32_t word) {
    AmpTunerSetting s;
    for (int i = 0; i < 9; i++) {
        if (word & kAmpTunerCBits[i])
            s.c |= 1 << i;
        if (word & kAmpTunerLBits[i])
            s.l |= 1 << i;
    }
    bool lc = word & kAmpTunerLC, cl = word & kAmpTunerCL;
    if (!(word & kAmpTunerBypass) && lc != cl)
        s.mode = lc ? AmpTunerMode::LC : AmpTunerMode::CL;
    return s;
}

uint32_t AmpTunerEncode(int l, int c, AmpTunerMode mode) {
    uint32_t w = mode == AmpTunerMode::LC   ? kAmpTunerLC
                 : mode == AmpTunerMode::CL ? kAmpTunerCL
                                            : kAmpTunerBypass;
    for (int i = 0; i < 9; i++) {
        if (c & (1 << i))
            w |= kAmpTunerCBits[i];
        if (l & (1 << i))
            w |= kAmpTunerLBits[i];
    }
    return w;
}

AmpZ AmpTunerInputImpedance(const AmpTunerParts& parts, uint32_t word, AmpZ load, double hz) {
    AmpTunerSetting s = AmpTunerDecode(word);
    if (s.mode == AmpTunerMode::Direct)
        return load;
    double w = 2 * kPi * hz;
    double xl = w * s.l * parts.lStepH;
    AmpZ zl(parts.inductorQ > 0 ? xl / parts.inductorQ : 0, xl);
    AmpZ yc(0, w * s.c * parts.cStepF);
    if (s.mode == AmpTunerMode::CL)
        return 1.0 / (yc + 1.0 / (zl + load));
    return zl + 1.0 / (yc + 1.0 / load);
}

double AmpGamma2(AmpZ z) {
    AmpZ g = (z - kZ0) / (z + kZ0);
    return std::min(std::norm(g), 1.0);
}

double AmpSwrOf(AmpZ z) {
    double g = std::sqrt(AmpGamma2(z));
    if (g >= 0.998)
        return 999;
    return std::min((1 + g) / (1 - g), 999.0);
}

double AmpSwrAt(const AmpTunerParts& parts, const AmpAntenna& ant, uint32_t word, double hz) {
    return AmpSwrOf(AmpTunerInputImpedance(parts, word, AmpAntennaImpedance(ant, hz), hz));
}

double AmpOutputWatts(double inW, double gainDb, double satW) {
    if (inW <= 0)
        return 0;
    double ss = inW * std::pow(10.0, gainDb / 10);
    if (satW <= 0)
        return ss;
    return ss / std::cbrt(1 + std::pow(ss / satW, 3));
}

int AmpPowerCount(double watts, double k) {
    if (k <= 0)
        return 0;
    return clampCount(std::sqrt(std::max(watts, 0.0) / k));
}

int AmpReflCount(double reflW, double fwdW, double kRefl, double kDir) {
    if (kRefl <= 0)
        return 0;
    double v = (reflW - kDir * fwdW) / kRefl;
    return clampCount(std::sqrt(std::max(v, 0.0)));
}

int AmpCurrentCount(double amps) { return clampCount(amps / 14.05 * 4096); }

double AmpThermistorKohm(double celsius) {
    double pos = (celsius - kNtcFirstC) / kNtcStepC;
    if (!(pos > 0))
        return kNtcKohm[0];
    if (pos >= kNtcPoints - 1)
        return kNtcKohm[kNtcPoints - 1];
    int i = static_cast<int>(pos);
    double f = pos - i;
    return kNtcKohm[i] + (kNtcKohm[i + 1] - kNtcKohm[i]) * f;
}

int AmpThermistorCount(double celsius) {
    double r = AmpThermistorKohm(celsius);
    return clampCount(4095 * r / (10 + r));
}
