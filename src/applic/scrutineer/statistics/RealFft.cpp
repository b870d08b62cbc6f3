#include "RealFft.h"

#include "Common/Exception.h"

#include <cmath>
#include <map>
#include <mutex>
#include <numbers>

namespace Tav {

namespace {

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// One radix-4 butterfly group: the four quarter-transforms of length L at
// re/im + 0, L, 2L, 3L (in bit-reversed order A, B, C, D: samples 4m, 4m+2,
// 4m+1, 4m+3) become one transform of length 4L. A separate function so the
// pointers are known not to alias and the loop is vectorised.
inline __attribute__((always_inline)) void Radix4Body(double* __restrict ar, double* __restrict ai, int L, const double* __restrict tw)
{
    double* __restrict br = ar + L;
    double* __restrict cr = ar + 2 * L;
    double* __restrict dr = ar + 3 * L;
    double* __restrict bi = ai + L;
    double* __restrict ci = ai + 2 * L;
    double* __restrict di = ai + 3 * L;
    const double* w1r = tw;
    const double* w2r = tw + L;
    const double* w3r = tw + 2 * L;
    const double* w1i = tw + 3 * L;
    const double* w2i = tw + 4 * L;
    const double* w3i = tw + 5 * L;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
    for (int k = 0; k < L; ++k) {
        // b' = w^2k B, c' = w^k C, d' = w^3k D
        const double bR = br[k] * w2r[k] - bi[k] * w2i[k], bI = br[k] * w2i[k] + bi[k] * w2r[k];
        const double cR = cr[k] * w1r[k] - ci[k] * w1i[k], cI = cr[k] * w1i[k] + ci[k] * w1r[k];
        const double dR = dr[k] * w3r[k] - di[k] * w3i[k], dI = dr[k] * w3i[k] + di[k] * w3r[k];
        const double s0r = ar[k] + bR, s0i = ai[k] + bI;
        const double s1r = ar[k] - bR, s1i = ai[k] - bI;
        const double t0r = cR + dR, t0i = cI + dI;
        const double t1r = cR - dR, t1i = cI - dI;
        ar[k] = s0r + t0r;
        ai[k] = s0i + t0i;
        cr[k] = s0r - t0r;
        ci[k] = s0i - t0i;
        // (A - b') -/+ i (c' - d')
        br[k] = s1r + t1i;
        bi[k] = s1i - t1r;
        dr[k] = s1r - t1i;
        di[k] = s1i + t1r;
    }
}

// The same compiled for processors with AVX2 and FMA, and for any x86-64.
// Chosen per transform object rather than by an ifunc, which would run
// before sanitizer run-times are ready.
__attribute__((target("avx2,fma"))) void Radix4Avx2(double* ar, double* ai, int L, const double* tw)
{
    Radix4Body(ar, ai, L, tw);
}

void Radix4Generic(double* ar, double* ai, int L, const double* tw)
{
    Radix4Body(ar, ai, L, tw);
}

bool HasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace

CRealFft::CRealFft(int length) : n(length), half(length / 2), radix4(HasAvx2() ? &Radix4Avx2 : &Radix4Generic)
{
    if (length < 4 || !IsPowerOfTwo(length))
        throw CCommonException(0xCEF00006, __LINE__, "RealFft.cpp");

    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    reversed.resize(size_t(half));
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed[size_t(i)] = r;
    }

    oddStage = (bits % 2) == 1;
    const double pi = std::numbers::pi;
    for (int L = oddStage ? 2 : 1; 4 * L <= half; L *= 4) {
        const size_t at = stageTwiddles.size();
        stageTwiddles.resize(at + 6 * size_t(L));
        for (int m = 1; m <= 3; ++m) {
            for (int k = 0; k < L; ++k) {
                const double angle = -2.0 * pi * m * k / (4.0 * L);
                stageTwiddles[at + size_t(m - 1) * L + k] = std::cos(angle);
                stageTwiddles[at + size_t(m + 2) * L + k] = std::sin(angle);
            }
        }
    }
    for (int k = 0; k <= half / 2; ++k) {
        const double angle = -2.0 * pi * k / n;
        splitTwiddles.push_back(std::cos(angle));
        splitTwiddles.push_back(std::sin(angle));
    }
}

std::shared_ptr<const CRealFft> CRealFft::Get(int length)
{
    static std::mutex mutex;
    static std::map<int, std::shared_ptr<const CRealFft>> cache;
    std::lock_guard<std::mutex> guard(mutex);
    auto& entry = cache[length];
    if (!entry) {
        try {
            entry = std::make_shared<const CRealFft>(length);
        } catch (...) {
            cache.erase(length);
            throw;
        }
    }
    return entry;
}

// Forward transform (e^(-2 pi i jk / half)) of `half` interleaved complex
// values into split parts: decimation-in-time stages over the bit-reversed
// input, radix 4 where possible. The split layout lets the butterflies of a
// stage run as vector operations.
void CRealFft::ComplexTransform(const double* z, double* __restrict re, double* __restrict im) const
{
    // The first stage reads its inputs straight from their bit-reversed places.
    const int* rev = reversed.data();
    int L = 1;
    if (oddStage) {
        for (int i = 0; i < half; i += 2) {
            const double* p = z + 2 * rev[i];
            const double* q = z + 2 * rev[i + 1];
            re[i] = p[0] + q[0];
            im[i] = p[1] + q[1];
            re[i + 1] = p[0] - q[0];
            im[i + 1] = p[1] - q[1];
        }
        L = 2;
    } else {
        // Quarter length 1: all twiddles are 1.
        for (int i = 0; i < half; i += 4) {
            const double* p0 = z + 2 * rev[i];
            const double* p1 = z + 2 * rev[i + 1];
            const double* p2 = z + 2 * rev[i + 2];
            const double* p3 = z + 2 * rev[i + 3];
            const double s0r = p0[0] + p1[0], s0i = p0[1] + p1[1];
            const double s1r = p0[0] - p1[0], s1i = p0[1] - p1[1];
            const double t0r = p2[0] + p3[0], t0i = p2[1] + p3[1];
            const double t1r = p2[0] - p3[0], t1i = p2[1] - p3[1];
            re[i] = s0r + t0r;
            im[i] = s0i + t0i;
            re[i + 2] = s0r - t0r;
            im[i + 2] = s0i - t0i;
            re[i + 1] = s1r + t1i;
            im[i + 1] = s1i - t1r;
            re[i + 3] = s1r - t1i;
            im[i + 3] = s1i + t1r;
        }
        L = 4;
    }

    const double* tw = stageTwiddles.data();
    if (!oddStage && half >= 4)
        tw += 6; // the quarter-length-1 stage above
    for (; 4 * L <= half; L *= 4) {
        for (int base = 0; base < half; base += 4 * L)
            radix4(re + base, im + base, L, tw);
        tw += 6 * L;
    }
}

void CRealFft::Transform(double* data) const
{
    // The even and odd samples as one complex sequence of half the length.
    thread_local std::vector<double> scratch;
    scratch.resize(2 * size_t(half));
    double* re = scratch.data();
    double* im = re + half;
    ComplexTransform(data, re, im);

    data[0] = re[0] + im[0];
    data[1] = 0.0;
    data[n] = re[0] - im[0];
    data[n + 1] = 0.0;

    // X[k] = E[k] + w^k O[k] with E, O the transforms of the even and odd
    // samples, taken from Z[k] and Z[half - k], and X[half - k] =
    // conj(E[k] - w^k O[k]). The imaginary part is returned with the
    // opposite sign.
    for (int k = 1; k <= half / 2; ++k) {
        const int m = half - k;
        const double zkr = re[k], zki = im[k];
        const double zmr = re[m], zmi = im[m];
        const double er = 0.5 * (zkr + zmr), ei = 0.5 * (zki - zmi);
        const double orr = 0.5 * (zki + zmi), oi = -0.5 * (zkr - zmr);
        const double wr = splitTwiddles[2 * k], wi = splitTwiddles[2 * k + 1];
        const double tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
        data[2 * k] = er + tr;
        data[2 * k + 1] = -(ei + ti);
        if (m != k) {
            data[2 * m] = er - tr;
            data[2 * m + 1] = ei - ti;
        }
    }
}

} // namespace Tav
