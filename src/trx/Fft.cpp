// The USB receiver's spectrum: see Fft.h.
#include "trx/Fft.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "wire/Messages.h"
#include "trx/TavRead.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
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
    int* swaps = nullptr; // pairs (i, r) with r the bit reversal of i > i
    int swapCount = 0;
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
                  allocate(&s.swaps, "error allocating fftout buffer");
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
    s.swapCount = 0;
    for (int i = 0; i < n; i++) {
        int r = 0;
        for (int b = 0; b < bits; b++)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        if (r > i) { // fewer than n / 2 pairs
            s.swaps[2 * s.swapCount] = i;
            s.swaps[2 * s.swapCount + 1] = r;
            s.swapCount++;
        }
    }
}

// One stage of span h >= 4: for each group, the butterflies of j and j + h.
void stage(double* __restrict__ re, double* __restrict__ im, int n, int h, const double* __restrict__ co,
           const double* __restrict__ si) {
    for (int base = 0; base < n; base += 2 * h) {
        double* __restrict__ ar = re + base;
        double* __restrict__ ai = im + base;
        double* __restrict__ br = re + base + h;
        double* __restrict__ bi = im + base + h;
        for (int j = 0; j < h; j++) {
            const double dr = ar[j] - br[j], di = ai[j] - bi[j];
            ar[j] += br[j];
            ai[j] += bi[j];
            br[j] = dr * co[j] - di * si[j];
            bi[j] = dr * si[j] + di * co[j];
        }
    }
}

// One butterfly: a + b stays, (a - b) times the twiddle goes to b.
inline void butterfly(double& ar, double& ai, double& br, double& bi, double c, double sn) {
    const double dr = ar - br, di = ai - bi;
    ar += br;
    ai += bi;
    br = dr * c - di * sn;
    bi = dr * sn + di * c;
}

// Two doubles at a time (SSE2 on the desktop, NEON on the board).
typedef double Pair __attribute__((vector_size(16)));

inline Pair load(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }

// Two stages at once, spans h and h / 2 (h >= 8): each element is loaded and
// stored once for both, with the same butterflies, in the same order, as stage
// by stage; two neighbouring butterflies at a time.
void twoStages(double* re, double* im, int n, int h, const double* coA, const double* siA, const double* coB,
               const double* siB) {
    const int q = h / 2;
    for (int base = 0; base < n; base += 2 * h) {
        double* r0 = re + base;
        double* i0 = im + base;
        double* r1 = r0 + q;
        double* i1 = i0 + q;
        double* r2 = r0 + h;
        double* i2 = i0 + h;
        double* r3 = r2 + q;
        double* i3 = i2 + q;
        for (int j = 0; j < q; j += 2) {
            const Pair a0r = load(r0 + j), a0i = load(i0 + j), a1r = load(r1 + j), a1i = load(i1 + j);
            const Pair a2r = load(r2 + j), a2i = load(i2 + j), a3r = load(r3 + j), a3i = load(i3 + j);
            const Pair cA = load(coA + j), sA = load(siA + j), cA2 = load(coA + j + q), sA2 = load(siA + j + q);
            const Pair cB = load(coB + j), sB = load(siB + j);
            // Span h: (0, 2) and (1, 3).
            const Pair d02r = a0r - a2r, d02i = a0i - a2i, d13r = a1r - a3r, d13i = a1i - a3i;
            const Pair s0r = a0r + a2r, s0i = a0i + a2i, s1r = a1r + a3r, s1i = a1i + a3i;
            const Pair t2r = d02r * cA - d02i * sA, t2i = d02r * sA + d02i * cA;
            const Pair t3r = d13r * cA2 - d13i * sA2, t3i = d13r * sA2 + d13i * cA2;
            // Span h / 2: (0, 1) and (2, 3).
            const Pair d01r = s0r - s1r, d01i = s0i - s1i, d23r = t2r - t3r, d23i = t2i - t3i;
            store(r0 + j, s0r + s1r);
            store(i0 + j, s0i + s1i);
            store(r1 + j, d01r * cB - d01i * sB);
            store(i1 + j, d01r * sB + d01i * cB);
            store(r2 + j, t2r + t3r);
            store(i2 + j, t2i + t3i);
            store(r3 + j, d23r * cB - d23i * sB);
            store(i3 + j, d23r * sB + d23i * cB);
        }
    }
}

// Radix-2 decimation in frequency, in place, then the bit-reversal reorder.
// The last two stages (spans 2 and 1) are written out: their groups are too
// short for a loop.
void transform(FftState& s, double* re, double* im) {
    const int n = s.n;
    int h = n / 2;
    for (; h >= 8; h /= 4)
        twoStages(re, im, n, h, s.stageCo + h, s.stageSi + h, s.stageCo + h / 2, s.stageSi + h / 2);
    if (h == 4)
        stage(re, im, n, h, s.stageCo + h, s.stageSi + h);
    const Pair c2 = load(s.stageCo + 2), s2 = load(s.stageSi + 2);
    const double c1 = s.stageCo[1], s1 = s.stageSi[1];
    for (int base = 0; base < n; base += 4) {
        double* r = re + base;
        double* i = im + base;
        // Span 2: (0, 2) and (1, 3) side by side.
        const Pair ar = load(r), ai = load(i), br = load(r + 2), bi = load(i + 2);
        const Pair dr = ar - br, di = ai - bi;
        store(r, ar + br);
        store(i, ai + bi);
        store(r + 2, dr * c2 - di * s2);
        store(i + 2, dr * s2 + di * c2);
        // Span 1: (0, 1) and (2, 3).
        butterfly(r[0], i[0], r[1], i[1], c1, s1);
        butterfly(r[2], i[2], r[3], i[3], c1, s1);
    }
    for (int k = 0; k < s.swapCount; k++) {
        const int i = s.swaps[2 * k], r = s.swaps[2 * k + 1];
        const double tr = re[i], ti = im[i];
        re[i] = re[r];
        im[i] = im[r];
        re[r] = tr;
        im[r] = ti;
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
