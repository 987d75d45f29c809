// Complex lines of length 3^k, transformed by a kernel of our own.
//
// FFTW's plans of pure powers of three are slow here, in float above all:
// a 729-point float line takes 2.4 us on FFTW_ESTIMATE's plan and on a
// measured one alike (FFTW finds nothing better), against 0.8 for 1024
// points and 1.8 for 1000, so that a 729 x 1000 image took longer than
// scipy.fft's (pocketfft's) transform of it; a double line takes 1.9 us.
// This kernel takes 0.95 us a float line and 2.0 a double one, reading the
// lines from the image and writing them back included (neighbouring
// columns; rows, which it reads across, 1.5 and 2.1).
//
// It transforms `lanes` lines at once, their values held as arrays of real
// and of imaginary parts with the lines innermost ([point][line]), so that
// every butterfly is one vector instruction over the lines, with no
// shuffling; a block of neighbouring columns of an image comes in that
// order by itself, row by row. The transform is Stockham's (no bit
// reversal: each stage writes its output in order into the other array),
// by stages of radix 9 and a last one of radix 3 where the power is odd.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace lumadex::dfti {

template <typename R>
class PowerOfThreeLines {
public:
    // A vector's worth: 16 floats, 8 doubles.
    static constexpr int64_t lanes = 64 / sizeof(R);

    // Whether lines of length n run here: n = 3^k, n >= 27.
    static bool suits(int64_t n);

    // Lines of length n, exponent sign -1 (forward) or +1.
    PowerOfThreeLines(int64_t n, int sign);

    // Values of each of the two work arrays transform needs.
    int64_t work_values() const { return 2 * n_ * lanes; }

    // Transforms `count` (at most `lanes`) lines: line c's point i at
    // in[in_at[c] + i * in_stride], its transform, times `scale`, to
    // out[out_at[c] + i * out_stride] (which may be in). x and y: work
    // arrays of work_values() values each, best 64-byte aligned (a vector
    // load across cache lines costs the stages a third of their speed).
    void transform(const std::complex<R>* in, const int64_t* in_at, int64_t in_stride, std::complex<R>* out,
                   const int64_t* out_at, int64_t out_stride, int64_t count, R scale, R* x, R* y) const;

private:
    struct Stage {
        int radix;            // 9 or 3
        int64_t length;       // of the sub-transforms the stage splits
        int64_t stride;       // their points' distance, in lanes' worth
        int64_t twiddles_at;  // its factors' place in twiddles_
    };
    int64_t n_;
    int sign_;
    std::vector<Stage> stages_;
    // Per stage, per p < length / radix, per j = 1 .. radix - 1: the real and
    // imaginary parts of w^(p j), w = exp(sign 2 pi i / length).
    std::vector<R> twiddles_;
};

}  // namespace lumadex::dfti
