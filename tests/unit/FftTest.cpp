// The receiver's spectrum against NumPy, and its level coding at the edges.
#include "TestRoot.h"

#include "trx/Fft.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

namespace {

// Tones at chosen bins of the 4096-point grid over noise, as float I/Q.
std::vector<float> toneBlock(unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1e-4);
    std::vector<float> s(kFftFloats);
    const struct {
        double bin, amplitude;
    } tones[] = {{101.0, 0.5}, {-733.25, 0.05}, {1500.5, 0.002}};
    for (int n = 0; n < kFftFloats / 2; n++) {
        double i = noise(rng), q = noise(rng);
        for (const auto& t : tones) {
            const double ph = 2.0 * M_PI * t.bin * n / 4096.0;
            i += t.amplitude * std::cos(ph);
            q += t.amplitude * std::sin(ph);
        }
        s[2 * n] = static_cast<float>(i);
        s[2 * n + 1] = static_cast<float>(q);
    }
    return s;
}

// One sample in the middle of the window, the rest silent: every bin has the
// same magnitude, `magnitude`.
std::vector<float> impulse(int points, double magnitude) {
    std::vector<float> s(kFftFloats, 0.0f);
    const int m = points / 2;
    const double x = 2.0 * M_PI * m / (points - 1);
    const double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    s[2 * m] = static_cast<float>(magnitude * (points / 2) / w);
    return s;
}

struct Reference {
    std::vector<int> bytes;
    std::vector<bool> tie;
};

Reference numpy(const std::vector<float>& s, int points) {
    TempDir dir;
    const std::string in = dir.path + "/samples.f32", out = dir.path + "/ref.txt";
    {
        std::ofstream f(in, std::ios::binary);
        f.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size() * sizeof(float)));
    }
    const std::string cmd = std::string("/usr/bin/python3 ") + PANEL_TEST_SUPPORT_DIR + "/fft_reference.py " + in + " " +
                            std::to_string(points) + " " + out;
    Reference r;
    if (std::system(cmd.c_str()) != 0)
        return r;
    std::ifstream f(out);
    int b, t;
    while (f >> b >> t) {
        r.bytes.push_back(b);
        r.tie.push_back(t != 0);
    }
    return r;
}

// Compares every byte; a byte may differ only at a truncation tie.
void expectLikeNumpy(const std::vector<float>& s, char enable1600) {
    const int points = enable1600 == '0' ? 2048 : 4096;
    uint8_t out[kFftOutMax];
    const size_t n = FftSpectrum(s.data(), kFftFloats, enable1600, out);
    ASSERT_EQ(n, points == 4096 ? kFftOutMax : kFftOutSmall);
    const Reference ref = numpy(s, points);
    ASSERT_EQ(ref.bytes.size(), n) << "/usr/bin/python3 with NumPy (python3-numpy) gave no reference";
    int ties = 0, tiesDiffering = 0, differing = 0;
    for (size_t k = 0; k < n; k++) {
        ties += ref.tie[k];
        if (out[k] == ref.bytes[k])
            continue;
        if (ref.tie[k])
            tiesDiffering++;
        else if (++differing <= 5)
            ADD_FAILURE() << points << " points, byte " << k << ": " << int(out[k]) << ", NumPy " << ref.bytes[k];
    }
    EXPECT_EQ(differing, 0);
    std::printf("%d points: %zu bytes equal to NumPy's; %d truncation ties, %d of them differing\n", points,
                n - differing - tiesDiffering, ties, tiesDiffering);
}

TEST(Fft, BytesEqualNumpysForBothSizesAndAfterEachSwitch) {
    // 4096, then 2048 (window and twiddles recomputed), then 4096 again.
    const std::vector<float> a = toneBlock(1), b = toneBlock(2);
    expectLikeNumpy(a, '1');
    expectLikeNumpy(b, '0');
    expectLikeNumpy(a, '1');
    // Any byte other than '0' is the 4096-point mode.
    expectLikeNumpy(b, 'x');
}

TEST(Fft, LevelCodingAtItsEdges) {
    uint8_t out[kFftOutMax];
    // Silence is clamped to -192 dB: byte 0.
    const std::vector<float> silent(kFftFloats, 0.0f);
    ASSERT_EQ(FftSpectrum(silent.data(), kFftFloats, '1', out), kFftOutMax);
    for (size_t k = 0; k < kFftOutMax; k++)
        ASSERT_EQ(out[k], 0) << k;
    // (Levels in between, truncated toward zero, in both sizes: BytesEqualNumpys...)
    // +60 dB is clamped to +50: byte 242.
    FftSpectrum(impulse(4096, 1000.0).data(), kFftFloats, '1', out);
    EXPECT_EQ(out[100], 242);
    // A block that is not whole is no spectrum.
    EXPECT_EQ(FftSpectrum(silent.data(), kFftFloats - 2, '1', out), 0u);
}

} // namespace
