#include "power_of_three_lines.hpp"

#include <cmath>
#include <utility>

namespace lumadex::dfti {
namespace {

constexpr int64_t L = PowerOfThreeLines::lanes;

// Each stage is compiled for AVX-512 and AVX2 too, the processor's best
// chosen as the library loads: a stage's inner loop runs over `lanes`
// floats and more, one or two vectors at a time.
#define LUMADEX_STAGE_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

struct Cx {
    float re, im;
};

inline Cx times(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

// The 3-point transform of (a, b, c) with exp(sign 2 pi i / 3) =
// -1/2 + i s3, s3 = sign sqrt(3) / 2:
//   t0 = a + b + c,  t1,2 = a - (b + c) / 2 +- i s3 (b - c).
inline void dft3(Cx a, Cx b, Cx c, float s3, Cx& t0, Cx& t1, Cx& t2) {
    const float sr = b.re + c.re, si = b.im + c.im;
    const float dr = b.re - c.re, di = b.im - c.im;
    t0 = {a.re + sr, a.im + si};
    const float ur = a.re - 0.5f * sr, ui = a.im - 0.5f * si;
    t1 = {ur - s3 * di, ui + s3 * dr};
    t2 = {ur + s3 * di, ui - s3 * dr};
}

// The stages read x (real parts, then imaginary parts, n * L floats each)
// and write y. A stage of radix r splits sub-transforms of `length` (m =
// length / r, s = the points' stride in lanes):
//   y[(r p + j) s + q] = w^(p j) sum_k x[(p + k m) s + q] exp(sign 2 pi i j k / r),
// w = exp(sign 2 pi i / length), p < m, q < s.

LUMADEX_STAGE_CLONES void radix3_stage(const float* __restrict xr, const float* __restrict xi, float* __restrict yr,
                                       float* __restrict yi, int64_t length, int64_t s, const float* tw, float s3) {
    const int64_t m = length / 3, run = s * L;
    for (int64_t p = 0; p < m; ++p) {
        const Cx w1 = {tw[4 * p], tw[4 * p + 1]}, w2 = {tw[4 * p + 2], tw[4 * p + 3]};
        const int64_t from = p * run, to = 3 * p * run;
#pragma GCC ivdep  // (as below)
        for (int64_t q = 0; q < run; ++q) {
            Cx t0, t1, t2;
            dft3({xr[from + q], xi[from + q]}, {xr[from + m * run + q], xi[from + m * run + q]},
                 {xr[from + 2 * m * run + q], xi[from + 2 * m * run + q]}, s3, t0, t1, t2);
            t1 = times(t1, w1);
            t2 = times(t2, w2);
            yr[to + q] = t0.re, yi[to + q] = t0.im;
            yr[to + run + q] = t1.re, yi[to + run + q] = t1.im;
            yr[to + 2 * run + q] = t2.re, yi[to + 2 * run + q] = t2.im;
        }
    }
}

// The 9-point transform as 3 x 3: with j = j1 + 3 j2 and k = k1 + 3 k2,
//   X[k1 + 3 k2] = sum_j1 e3^(j1 k2) [e9^(j1 k1) sum_j2 a[j1 + 3 j2] e3^(j2 k1)],
// e9 = exp(sign 2 pi i / 9), e3 = e9^3: three 3-point transforms down the
// columns, the factors e9^(j1 k1), three across. `e9` holds e9^1, e9^2 and e9^4.
LUMADEX_STAGE_CLONES void radix9_stage(const float* __restrict xr, const float* __restrict xi, float* __restrict yr,
                                       float* __restrict yi, int64_t length, int64_t s, const float* tw,
                                       const Cx* e9, float s3) {
    const int64_t m = length / 9, run = s * L, step = m * run;
    const Cx e1 = e9[0], e2 = e9[1], e4 = e9[2];
    for (int64_t p = 0; p < m; ++p) {
        const float* t = tw + 16 * p;  // w^(p j), j = 1 .. 8
        const Cx w1 = {t[0], t[1]}, w2 = {t[2], t[3]}, w3 = {t[4], t[5]}, w4 = {t[6], t[7]}, w5 = {t[8], t[9]},
                 w6 = {t[10], t[11]}, w7 = {t[12], t[13]}, w8 = {t[14], t[15]};
        const int64_t from = p * run, to = 9 * p * run;
        // The nine outputs of an iteration are run apart (at least `lanes`):
        // no iteration writes what another one reads or writes.
#pragma GCC ivdep
        for (int64_t q = 0; q < run; ++q) {
            const int64_t i = from + q;
#define LUMADEX_AT(k) Cx { xr[i + (k) * step], xi[i + (k) * step] }
            Cx b00, b01, b02, b10, b11, b12, b20, b21, b22;  // b[j1][k1]
            dft3(LUMADEX_AT(0), LUMADEX_AT(3), LUMADEX_AT(6), s3, b00, b01, b02);
            dft3(LUMADEX_AT(1), LUMADEX_AT(4), LUMADEX_AT(7), s3, b10, b11, b12);
            dft3(LUMADEX_AT(2), LUMADEX_AT(5), LUMADEX_AT(8), s3, b20, b21, b22);
#undef LUMADEX_AT
            b11 = times(b11, e1);
            b12 = times(b12, e2);
            b21 = times(b21, e2);
            b22 = times(b22, e4);
            Cx x0, x1, x2, x3, x4, x5, x6, x7, x8;
            dft3(b00, b10, b20, s3, x0, x3, x6);
            dft3(b01, b11, b21, s3, x1, x4, x7);
            dft3(b02, b12, b22, s3, x2, x5, x8);
            x1 = times(x1, w1), x2 = times(x2, w2), x3 = times(x3, w3), x4 = times(x4, w4);
            x5 = times(x5, w5), x6 = times(x6, w6), x7 = times(x7, w7), x8 = times(x8, w8);
            const int64_t o = to + q;
            yr[o] = x0.re, yi[o] = x0.im;
            yr[o + run] = x1.re, yi[o + run] = x1.im;
            yr[o + 2 * run] = x2.re, yi[o + 2 * run] = x2.im;
            yr[o + 3 * run] = x3.re, yi[o + 3 * run] = x3.im;
            yr[o + 4 * run] = x4.re, yi[o + 4 * run] = x4.im;
            yr[o + 5 * run] = x5.re, yi[o + 5 * run] = x5.im;
            yr[o + 6 * run] = x6.re, yi[o + 6 * run] = x6.im;
            yr[o + 7 * run] = x7.re, yi[o + 7 * run] = x7.im;
            yr[o + 8 * run] = x8.re, yi[o + 8 * run] = x8.im;
        }
    }
}

}  // namespace

bool PowerOfThreeLines::suits(int64_t n) {
    if (n < 27) return false;
    while (n % 3 == 0) n /= 3;
    return n == 1;
}

PowerOfThreeLines::PowerOfThreeLines(int64_t n, int sign) : n_(n), sign_(sign) {
    for (int64_t length = n, s = 1; length > 1; s *= stages_.back().radix, length /= stages_.back().radix) {
        const int radix = length % 9 == 0 ? 9 : 3;
        stages_.push_back({radix, length, s, static_cast<int64_t>(twiddles_.size())});
        const double turn = sign * 2 * M_PI / static_cast<double>(length);
        for (int64_t p = 0; p < length / radix; ++p)
            for (int j = 1; j < radix; ++j) {
                twiddles_.push_back(static_cast<float>(std::cos(turn * static_cast<double>(p * j))));
                twiddles_.push_back(static_cast<float>(std::sin(turn * static_cast<double>(p * j))));
            }
    }
}

void PowerOfThreeLines::transform_columns(const std::complex<float>* in, int64_t in_stride, std::complex<float>* out,
                                          int64_t out_stride, int64_t count, float scale, float* x, float* y) const {
    // In: point i of column c to x[i L + c], its imaginary part n L further.
    const int64_t n = n_;
    for (int64_t i = 0; i < n; ++i) {
        const float* row = reinterpret_cast<const float*>(in + i * in_stride);
        float* re = x + i * L;
        float* im = re + n * L;
        int64_t c = 0;
        for (; c < count; ++c) re[c] = row[2 * c], im[c] = row[2 * c + 1];
        for (; c < L; ++c) re[c] = im[c] = 0;
    }

    const float s3 = static_cast<float>(sign_ * std::sqrt(3.0) / 2);
    const double ninth = sign_ * 2 * M_PI / 9;
    const Cx e9[3] = {{static_cast<float>(std::cos(ninth)), static_cast<float>(std::sin(ninth))},
                      {static_cast<float>(std::cos(2 * ninth)), static_cast<float>(std::sin(2 * ninth))},
                      {static_cast<float>(std::cos(4 * ninth)), static_cast<float>(std::sin(4 * ninth))}};
    for (const Stage& stage : stages_) {
        const float* tw = twiddles_.data() + stage.twiddles_at;
        if (stage.radix == 9) radix9_stage(x, x + n * L, y, y + n * L, stage.length, stage.stride, tw, e9, s3);
        else radix3_stage(x, x + n * L, y, y + n * L, stage.length, stage.stride, tw, s3);
        std::swap(x, y);
    }

    // Out: the result is in x now.
    for (int64_t i = 0; i < n; ++i) {
        float* row = reinterpret_cast<float*>(out + i * out_stride);
        const float* re = x + i * L;
        const float* im = re + n * L;
        for (int64_t c = 0; c < count; ++c) row[2 * c] = re[c] * scale, row[2 * c + 1] = im[c] * scale;
    }
}

}  // namespace lumadex::dfti
