#pragma once

#include <memory>
#include <vector>

namespace Tav {

// Discrete Fourier transform of n real samples (n a power of two, at least 4),
// computed as a complex transform of n / 2 points plus a split step. The
// tables of a length are computed once; Get hands out one shared instance per
// length, and Transform may run on several threads at once.
class CRealFft {
public:
    explicit CRealFft(int n);

    // The shared transform of length n; throws 0xCEF00006 for a length that is
    // no power of two or below 4.
    static std::shared_ptr<const CRealFft> Get(int n);

    int GetLength() const { return n; }

    // In place: data[0 .. n-1] hold the samples on entry, data must have room
    // for n + 2 values. On return data[2k], data[2k + 1] are the real and
    // imaginary part of bin k = 0 .. n/2, with
    //   re = sum x[j] cos(2 pi j k / n),  im = sum x[j] sin(2 pi j k / n),
    // and the imaginary parts of bins 0 and n/2 zero.
    void Transform(double* data) const;

private:
    // The complex transform of the interleaved `z`, into split real and
    // imaginary parts.
    void ComplexTransform(const double* z, double* re, double* im) const;

    int n;
    int half; // complex points
    bool oddStage; // log2(half) odd: one radix-2 stage before the radix-4 ones
    std::vector<int> reversed; // bit-reversed index of each point
    // Per radix-4 stage of quarter length L: the real parts of w^k, w^2k,
    // w^3k for k < L, then their imaginary parts, six runs of L values.
    std::vector<double> stageTwiddles;
    std::vector<double> splitTwiddles; // e^(-2 pi i k / n), k = 0 .. half/2
    // The radix-4 butterfly group for this processor.
    void (*radix4)(double* re, double* im, int L, const double* twiddles);
};

} // namespace Tav
