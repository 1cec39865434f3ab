// The USB receiver's spectrum path: the 4096-point transform against FFTW
// (estimate plan, double precision, in place) in the same run, then the whole
// path of one block (scaling, window, transform, level coding, decimation) and
// what it costs per second of samples at the receiver model's rate.
// Usage: bench_fft [REPEATS]
#include "devsim/UsbRxModel.h"
#include "trx/Fft.h"
#include "trx/TavRead.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fftw3.h>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kPoints = 4096;

// Best of `repeats` runs of `iterations` calls: microseconds per call.
double microseconds(const std::function<void()>& f, int iterations, int repeats) {
    double best = 1e300;
    for (int r = 0; r < repeats; r++) {
        const auto a = std::chrono::steady_clock::now();
        for (int i = 0; i < iterations; i++)
            f();
        const auto b = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::micro>(b - a).count() / iterations);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int iterations = 2000;

    // One block as the receiver sends it: I/Q int32 of tones over noise.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1e-4);
    std::vector<uint8_t> block(kFftFloats * 4);
    for (int n = 0; n < kPoints; n++) {
        const double ph = 2.0 * M_PI * 101.0 * n / kPoints;
        const int32_t i = static_cast<int32_t>((0.5 * std::cos(ph) + noise(rng)) * 2147483647.0);
        const int32_t q = static_cast<int32_t>((0.5 * std::sin(ph) + noise(rng)) * 2147483647.0);
        std::memcpy(&block[8 * n], &i, 4);
        std::memcpy(&block[8 * n + 4], &q, 4);
    }
    std::vector<float> samples(kFftFloats);
    ScaleBlock(block.data(), static_cast<int>(block.size()), 1.0f / 2147483648.0f, samples.data(), kFftFloats);
    uint8_t out[kFftOutMax];
    FftSpectrum(samples.data(), kFftFloats, '1', out); // window and twiddles for 4096 points

    // The same complex input for both transforms, copied in before each run
    // (both work in place); the copy is timed alone and taken off.
    std::vector<double> re(kPoints), im(kPoints), workRe(kPoints), workIm(kPoints);
    for (int n = 0; n < kPoints; n++) {
        re[n] = samples[2 * n];
        im[n] = samples[2 * n + 1];
    }
    fftw_complex* data = fftw_alloc_complex(kPoints);
    std::vector<fftw_complex> input(kPoints);
    for (int n = 0; n < kPoints; n++) {
        input[n][0] = re[n];
        input[n][1] = im[n];
    }
    fftw_plan plan = fftw_plan_dft_1d(kPoints, data, data, FFTW_FORWARD, FFTW_ESTIMATE);

    const double copyOurs = microseconds(
        [&] {
            std::memcpy(workRe.data(), re.data(), kPoints * sizeof(double));
            std::memcpy(workIm.data(), im.data(), kPoints * sizeof(double));
        },
        iterations, repeats);
    const double ours = microseconds(
                            [&] {
                                std::memcpy(workRe.data(), re.data(), kPoints * sizeof(double));
                                std::memcpy(workIm.data(), im.data(), kPoints * sizeof(double));
                                FftTransform(workRe.data(), workIm.data(), kPoints);
                            },
                            iterations, repeats) -
                        copyOurs;
    const double copyFftw = microseconds(
        [&] { std::memcpy(data, input.data(), kPoints * sizeof(fftw_complex)); }, iterations, repeats);
    const double fftw = microseconds(
                            [&] {
                                std::memcpy(data, input.data(), kPoints * sizeof(fftw_complex));
                                fftw_execute(plan);
                            },
                            iterations, repeats) -
                        copyFftw;

    // The results agree (the transform is the same mathematics).
    std::memcpy(workRe.data(), re.data(), kPoints * sizeof(double));
    std::memcpy(workIm.data(), im.data(), kPoints * sizeof(double));
    FftTransform(workRe.data(), workIm.data(), kPoints);
    std::memcpy(data, input.data(), kPoints * sizeof(fftw_complex));
    fftw_execute(plan);
    double worst = 0, largest = 0;
    for (int n = 0; n < kPoints; n++) {
        worst = std::max(worst, std::hypot(workRe[n] - data[n][0], workIm[n] - data[n][1]));
        largest = std::max(largest, std::hypot(data[n][0], data[n][1]));
    }

    // The whole path of one block.
    const double scale = microseconds(
        [&] {
            ScaleBlock(block.data(), static_cast<int>(block.size()), 1.0f / 2147483648.0f, samples.data(),
                       kFftFloats);
        },
        iterations, repeats);
    const double spectrum4096 =
        microseconds([&] { FftSpectrum(samples.data(), kFftFloats, '1', out); }, iterations, repeats);
    FftSpectrum(samples.data(), kFftFloats, '0', out);
    const double spectrum2048 =
        microseconds([&] { FftSpectrum(samples.data(), kFftFloats, '0', out); }, iterations, repeats);

    const double rate = UsbRxModelConfig{}.sampleRate;
    const double blocksPerSecond = rate / kPoints;
    std::printf("transform agrees with FFTW to %.2e of the largest bin\n", worst / largest);
    std::printf("scaling one block (8192 values): %.2f us\n", scale);
    std::printf("spectrum of one block (window, transform, levels, decimation): 4096 points %.2f us, "
                "2048 points %.2f us\n",
                spectrum4096, spectrum2048);
    std::printf("at %.0f samples/s (%.2f blocks/s), divide 1: %.0f us per second of samples with 4096 "
                "points (%.2f%% of a core), %.0f us with 2048; scaling alone %.0f us\n",
                rate, blocksPerSecond, blocksPerSecond * (scale + spectrum4096),
                blocksPerSecond * (scale + spectrum4096) / 1e4, blocksPerSecond * (scale + spectrum2048),
                blocksPerSecond * scale);
    std::printf("fft 4096: %.2f us, fftw %.2f us, ratio %.2f\n", ours, fftw, ours / fftw);
    fftw_destroy_plan(plan);
    fftw_free(data);
    return 0;
}
