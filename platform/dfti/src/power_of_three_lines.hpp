// Complex float lines of length 3^k, transformed by a kernel of our own.
//
// FFTW's float plans of pure powers of three run at a third of their
// usual speed here: a 729-point line takes 2.4 us on FFTW_ESTIMATE's plan
// and on a measured one alike (FFTW finds nothing better), against 0.8 for
// 1024 points and 1.8 for 1000, so that a 729 x 1000 image took longer
// than scipy.fft's (pocketfft's) transform of it. Its double plans are fine
// (1.9 us), and so are lengths with other factors beside the threes.
//
// The kernel transforms `lanes` lines at once, their values held as arrays
// of real and of imaginary parts with the lines innermost ([point][line]),
// so that every butterfly is one vector instruction over the lines, with
// no shuffling. A block of neighbouring columns of an image comes in that
// order by itself: row after row, `lanes` values side by side. The
// transform is Stockham's (no bit reversal: each stage writes its output in
// order into the other array), by stages of radix 9 and a last one of
// radix 3 where the power is odd.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace lumadex::dfti {

class PowerOfThreeLines {
public:
    static constexpr int64_t lanes = 16;

    // Whether float lines of length n run here: n = 3^k, n >= 27.
    static bool suits(int64_t n);

    // Lines of length n, exponent sign -1 (forward) or +1.
    PowerOfThreeLines(int64_t n, int sign);

    // Floats of each of the two work arrays transform_columns needs.
    int64_t work_floats() const { return 2 * n_ * lanes; }

    // Transforms `count` (at most `lanes`) neighbouring columns: column c's
    // point i at in[c + i * in_stride], its transform, times `scale`, to
    // out[c + i * out_stride] (which may be in). x and y: work arrays of
    // work_floats() floats, 64-byte aligned.
    void transform_columns(const std::complex<float>* in, int64_t in_stride, std::complex<float>* out,
                           int64_t out_stride, int64_t count, float scale, float* x, float* y) const;

private:
    struct Stage {
        int radix;            // 9 or 3
        int64_t length;       // of the sub-transforms the stage splits
        int64_t stride;       // lanes of one point of the stage's sub-transforms
        int64_t twiddles_at;  // its factors' place in twiddles_
    };
    int64_t n_;
    int sign_;
    std::vector<Stage> stages_;
    // Per stage, per p < length / radix, per j = 1 .. radix - 1: the real and
    // imaginary parts of w^(p j), w = exp(sign 2 pi i / length).
    std::vector<float> twiddles_;
};

}  // namespace lumadex::dfti
