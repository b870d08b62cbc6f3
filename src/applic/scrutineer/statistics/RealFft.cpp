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

} // namespace

CRealFft::CRealFft(int length) : n(length), half(length / 2)
{
    if (length < 4 || !IsPowerOfTwo(length))
        throw CCommonException(0xCEF00006, __LINE__, "RealFft.cpp");

    int bits = 0;
    while ((1 << bits) < half)
        ++bits;
    for (int i = 0; i < half; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        if (i < r)
            swaps.emplace_back(i, r);
    }

    oddStage = (bits % 2) == 1;
    const double pi = std::numbers::pi;
    for (int L = oddStage ? 2 : 1; 4 * L <= half; L *= 4) {
        for (int k = 0; k < L; ++k) {
            for (int m = 1; m <= 3; ++m) {
                const double angle = -2.0 * pi * m * k / (4.0 * L);
                stageTwiddles.push_back(std::cos(angle));
                stageTwiddles.push_back(std::sin(angle));
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
// values: bit reversal, then decimation-in-time stages, radix 4 where possible.
void CRealFft::ComplexTransform(double* z) const
{
    for (const auto& [a, b] : swaps) {
        std::swap(z[2 * a], z[2 * b]);
        std::swap(z[2 * a + 1], z[2 * b + 1]);
    }

    int L = 1;
    if (oddStage) {
        for (int i = 0; i < half; i += 2) {
            double* p = z + 2 * i;
            const double re = p[2], im = p[3];
            p[2] = p[0] - re;
            p[3] = p[1] - im;
            p[0] += re;
            p[1] += im;
        }
        L = 2;
    }

    const double* tw = stageTwiddles.data();
    for (; 4 * L <= half; L *= 4) {
        const int span = 4 * L;
        for (int base = 0; base < half; base += span) {
            double* a = z + 2 * base;
            double* b = a + 2 * L;
            double* c = b + 2 * L;
            double* d = c + 2 * L;
            for (int k = 0; k < L; ++k) {
                const double* w = tw + 6 * k;
                const double ar = a[2 * k], ai = a[2 * k + 1];
                // b' = w^2k B, c' = w^k C, d' = w^3k D
                const double br0 = b[2 * k], bi0 = b[2 * k + 1];
                const double cr0 = c[2 * k], ci0 = c[2 * k + 1];
                const double dr0 = d[2 * k], di0 = d[2 * k + 1];
                const double br = br0 * w[2] - bi0 * w[3], bi = br0 * w[3] + bi0 * w[2];
                const double cr = cr0 * w[0] - ci0 * w[1], ci = cr0 * w[1] + ci0 * w[0];
                const double dr = dr0 * w[4] - di0 * w[5], di = dr0 * w[5] + di0 * w[4];
                const double s0r = ar + br, s0i = ai + bi;
                const double s1r = ar - br, s1i = ai - bi;
                const double t0r = cr + dr, t0i = ci + di;
                const double t1r = cr - dr, t1i = ci - di;
                a[2 * k] = s0r + t0r;
                a[2 * k + 1] = s0i + t0i;
                c[2 * k] = s0r - t0r;
                c[2 * k + 1] = s0i - t0i;
                // (A - b') -/+ i (c' - d')
                b[2 * k] = s1r + t1i;
                b[2 * k + 1] = s1i - t1r;
                d[2 * k] = s1r - t1i;
                d[2 * k + 1] = s1i + t1r;
            }
        }
        tw += 6 * L;
    }
}

void CRealFft::Transform(double* data) const
{
    // The even and odd samples as one complex sequence of half the length.
    ComplexTransform(data);

    const double z0r = data[0], z0i = data[1];
    data[0] = z0r + z0i;
    data[1] = 0.0;
    data[n] = z0r - z0i;
    data[n + 1] = 0.0;

    // X[k] = E[k] + w^k O[k] with E, O the transforms of the even and odd
    // samples, taken from Z[k] and Z[half - k]; the imaginary part is
    // returned with the opposite sign.
    for (int k = 1; k <= half / 2; ++k) {
        const int m = half - k;
        const double zkr = data[2 * k], zki = data[2 * k + 1];
        const double zmr = data[2 * m], zmi = data[2 * m + 1];
        const double er = 0.5 * (zkr + zmr), ei = 0.5 * (zki - zmi);
        const double orr = 0.5 * (zki + zmi), oi = -0.5 * (zkr - zmr);
        const double wr = splitTwiddles[2 * k], wi = splitTwiddles[2 * k + 1];
        const double tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
        // and X[half - k] = conj(E[k] - w^k O[k]).
        data[2 * k] = er + tr;
        data[2 * k + 1] = -(ei + ti);
        if (m != k) {
            data[2 * m] = er - tr;
            data[2 * m + 1] = ei - ti;
        }
    }
}

} // namespace Tav
