// The USB receiver's spectrum: see Fft.h.
#include "trx/Fft.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "remote/Messages.h"
#include "trx/TavRead.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr int kPoints = kFftFloats / 2; // the largest transform

// Work buffers, allocated once for kPoints and kept for the life of the
// process; window and twiddles belong to the size last used.
struct FftState {
    std::mutex mu; // one receiver thread at a time; the benchmark and tests too
    bool allocated = false;
    double* fftr = nullptr;
    double* ffti = nullptr;
    double* co = nullptr;
    double* si = nullptr;
    double* coeff = nullptr;
    uint8_t* fftout = nullptr;
    uint8_t* fftoutdec = nullptr;
    // The twiddles laid out stage by stage (stage of span h at [h, 2h)), so the
    // butterflies read them in order; the same values as co and si.
    double* stageCo = nullptr;
    double* stageSi = nullptr;
    int* reversed = nullptr; // bit-reversed index
    int n = 0;
    char last1600 = 2; // neither '0' nor '1': the first call computes
};

FftState g_fft;

template <typename T> bool allocate(T** p, const char* what) {
    *p = new (std::nothrow) T[kPoints];
    if (!*p)
        LogErr("%s", what);
    return *p != nullptr;
}

bool allocateOnce(FftState& s) {
    if (s.allocated)
        return true;
    s.allocated = allocate(&s.fftr, "error allocating fftr buffer") &&
                  allocate(&s.ffti, "error allocating ffti buffer") &&
                  allocate(&s.fftout, "error allocating fftout buffer") &&
                  allocate(&s.fftoutdec, "error allocating fftoutdec buffer") &&
                  allocate(&s.co, "error allocating co buffer") && allocate(&s.si, "error allocating si buffer") &&
                  allocate(&s.coeff, "error allocating coeff buffer") &&
                  allocate(&s.stageCo, "error allocating co buffer") &&
                  allocate(&s.stageSi, "error allocating si buffer") &&
                  allocate(&s.reversed, "error allocating fftout buffer");
    return s.allocated;
}

// Window, twiddles and the bit reversal for n points.
void prepare(FftState& s, int n) {
    s.n = n;
    // 4-term Blackman-Harris; the first coefficient stays 0.
    s.coeff[0] = 0.0;
    for (int i = 1; i < n; i++) {
        const double x = 2.0 * M_PI * i / (n - 1);
        s.coeff[i] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    }
    // Twiddles by rotating the previous pair.
    const double c = std::cos(M_PI / (n / 2)), sn = -std::sin(M_PI / (n / 2));
    s.co[0] = 1.0;
    s.si[0] = 0.0;
    for (int k = 1; k < n / 2; k++) {
        s.co[k] = s.co[k - 1] * c - s.si[k - 1] * sn;
        s.si[k] = s.co[k - 1] * sn + s.si[k - 1] * c;
    }
    for (int h = n / 2, t = 1; h >= 1; h /= 2, t *= 2) {
        for (int j = 0; j < h; j++) {
            s.stageCo[h + j] = s.co[j * t];
            s.stageSi[h + j] = s.si[j * t];
        }
    }
    int bits = 0;
    while ((1 << bits) < n)
        bits++;
    for (int i = 0; i < n; i++) {
        int r = 0;
        for (int b = 0; b < bits; b++)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        s.reversed[i] = r;
    }
}

// Radix-2 decimation in frequency, in place, then the bit-reversal reorder.
void transform(FftState& s, double* re, double* im) {
    const int n = s.n;
    for (int h = n / 2; h >= 1; h /= 2) {
        const double* co = s.stageCo + h;
        const double* si = s.stageSi + h;
        for (int base = 0; base < n; base += 2 * h) {
            double* ar = re + base;
            double* ai = im + base;
            double* br = re + base + h;
            double* bi = im + base + h;
            for (int j = 0; j < h; j++) {
                const double dr = ar[j] - br[j], di = ai[j] - bi[j];
                ar[j] += br[j];
                ai[j] += bi[j];
                br[j] = dr * co[j] - di * si[j];
                bi[j] = dr * si[j] + di * co[j];
            }
        }
    }
    for (int i = 0; i < n; i++) {
        const int r = s.reversed[i];
        if (r > i) {
            const double tr = re[i], ti = im[i];
            re[i] = re[r];
            im[i] = im[r];
            re[r] = tr;
            im[r] = ti;
        }
    }
}

// Byte of one bin: the level truncated toward zero, clamped, plus 192.
uint8_t levelByte(double re, double im, double half) {
    re /= half;
    im /= half;
    double level = 20.0 * std::log10(std::sqrt(re * re + im * im));
    if (!(level > -192.0)) // also a silent bin's minus infinity
        level = -192.0;
    if (level > 50.0)
        level = 50.0;
    return static_cast<uint8_t>(static_cast<int>(std::trunc(level)) - 64);
}

} // namespace

size_t FftSpectrum(const float* samples, int count, char enable1600, uint8_t* out) {
    if (count != kFftFloats)
        return 0;
    FftState& s = g_fft;
    std::lock_guard<std::mutex> lock(s.mu);
    if (!allocateOnce(s))
        return 0;
    const int n = enable1600 == '0' ? kPoints / 2 : kPoints;
    if (enable1600 != s.last1600 || n != s.n) {
        s.last1600 = enable1600;
        prepare(s, n);
    }
    for (int i = 0; i < n; i++) {
        s.fftr[i] = static_cast<double>(samples[2 * i]) * s.coeff[i];
        s.ffti[i] = static_cast<double>(samples[2 * i + 1]) * s.coeff[i];
    }
    transform(s, s.fftr, s.ffti);
    // Zero frequency in the middle, then every other bin of the centre part;
    // only the bins that reach the output are coded.
    const size_t outCount = n == kPoints ? kFftOutMax : kFftOutSmall;
    const int first = n == kPoints ? 341 : 170;
    const double half = n / 2;
    for (size_t k = 0; k < outCount; k++) {
        const int shifted = first + 2 * static_cast<int>(k);
        const int bin = shifted >= n / 2 ? shifted - n / 2 : shifted + n / 2;
        s.fftout[shifted] = levelByte(s.fftr[bin], s.ffti[bin], half);
        s.fftoutdec[k] = s.fftout[shifted];
        out[k] = s.fftoutdec[k];
    }
    return outCount;
}

void fftCalc(const float* samples, int count, Works* w) {
    uint8_t out[kFftOutMax];
    const size_t n = FftSpectrum(samples, count, w->setup->Enable1600, out);
    if (n == 0) {
        ExitTavread(w);
        return;
    }
    if (w->remoteConnected)
        sendWebSockSerSpectrFrame(w, out, n);
}

void FftTransform(double* re, double* im, int n) {
    FftState& s = g_fft;
    std::lock_guard<std::mutex> lock(s.mu);
    if (n == s.n && s.allocated)
        transform(s, re, im);
}
