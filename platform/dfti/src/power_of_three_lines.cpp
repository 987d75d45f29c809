#include "power_of_three_lines.hpp"

#include <cmath>
#include <utility>

namespace lumadex::dfti {
namespace {


// Each stage is compiled for AVX-512 and AVX2 too, the processor's best
// chosen as the library loads: a stage's inner loop runs over `lanes`
// values and more, one or two vectors at a time.
#define LUMADEX_STAGE_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

template <typename R>
struct Cx {
    R re, im;
};

template <typename R>
inline Cx<R> times(Cx<R> a, Cx<R> b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// The 3-point transform of (a, b, c) with exp(sign 2 pi i / 3) =
// -1/2 + i s3, s3 = sign sqrt(3) / 2:
//   t0 = a + b + c,  t1,2 = a - (b + c) / 2 +- i s3 (b - c).
template <typename R>
inline void dft3(Cx<R> a, Cx<R> b, Cx<R> c, R s3, Cx<R>& t0, Cx<R>& t1, Cx<R>& t2) {
    const R sr = b.re + c.re, si = b.im + c.im;
    const R dr = b.re - c.re, di = b.im - c.im;
    t0 = {a.re + sr, a.im + si};
    const R ur = a.re - R(0.5) * sr, ui = a.im - R(0.5) * si;
    t1 = {ur - s3 * di, ui + s3 * dr};
    t2 = {ur + s3 * di, ui - s3 * dr};
}

// The stages read x (real parts, then imaginary parts, n * L floats each)
// and write y. A stage of radix r splits sub-transforms of `length` (m =
// length / r, s = the points' stride in lanes):
//   y[(r p + j) s + q] = w^(p j) sum_k x[(p + k m) s + q] exp(sign 2 pi i j k / r),
// w = exp(sign 2 pi i / length), p < m, q < s.

template <typename R>
LUMADEX_STAGE_CLONES void radix3_stage(const R* __restrict xr, const R* __restrict xi, R* __restrict yr,
                                       R* __restrict yi, int64_t length, int64_t s, const R* tw, R s3) {
    const int64_t m = length / 3, run = s * PowerOfThreeLines<R>::lanes;
    for (int64_t p = 0; p < m; ++p) {
        const Cx<R> w1 = {tw[4 * p], tw[4 * p + 1]}, w2 = {tw[4 * p + 2], tw[4 * p + 3]};
        const int64_t from = p * run, to = 3 * p * run;
#pragma GCC ivdep  // (as below)
        for (int64_t q = 0; q < run; ++q) {
            Cx<R> t0, t1, t2;
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
template <typename R>
LUMADEX_STAGE_CLONES void radix9_stage(const R* __restrict xr, const R* __restrict xi, R* __restrict yr,
                                       R* __restrict yi, int64_t length, int64_t s, const R* tw, const Cx<R>* e9,
                                       R s3) {
    const int64_t m = length / 9, run = s * PowerOfThreeLines<R>::lanes, step = m * run;
    const Cx<R> e1 = e9[0], e2 = e9[1], e4 = e9[2];
    for (int64_t p = 0; p < m; ++p) {
        const R* t = tw + 16 * p;  // w^(p j), j = 1 .. 8
        const Cx<R> w1 = {t[0], t[1]}, w2 = {t[2], t[3]}, w3 = {t[4], t[5]}, w4 = {t[6], t[7]}, w5 = {t[8], t[9]},
                 w6 = {t[10], t[11]}, w7 = {t[12], t[13]}, w8 = {t[14], t[15]};
        const int64_t from = p * run, to = 9 * p * run;
        // The nine outputs of an iteration are run apart (at least `lanes`):
        // no iteration writes what another one reads or writes.
#pragma GCC ivdep
        for (int64_t q = 0; q < run; ++q) {
            const int64_t i = from + q;
#define LUMADEX_AT(k) Cx<R>{xr[i + (k) * step], xi[i + (k) * step]}
            Cx<R> b00, b01, b02, b10, b11, b12, b20, b21, b22;  // b[j1][k1]
            dft3(LUMADEX_AT(0), LUMADEX_AT(3), LUMADEX_AT(6), s3, b00, b01, b02);
            dft3(LUMADEX_AT(1), LUMADEX_AT(4), LUMADEX_AT(7), s3, b10, b11, b12);
            dft3(LUMADEX_AT(2), LUMADEX_AT(5), LUMADEX_AT(8), s3, b20, b21, b22);
#undef LUMADEX_AT
            b11 = times(b11, e1);
            b12 = times(b12, e2);
            b21 = times(b21, e2);
            b22 = times(b22, e4);
            Cx<R> x0, x1, x2, x3, x4, x5, x6, x7, x8;
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

// Line c's point i at x[i L + c] and its imaginary part n L further, for
// `count` lines (the other lanes zero): a block of neighbouring columns is
// read row by row, in runs.
template <typename R>
void read_lines(const std::complex<R>* in, const int64_t* at, int64_t stride, int64_t count, int64_t n, R* x) {
    constexpr int64_t L = PowerOfThreeLines<R>::lanes;
    const bool side_by_side = at[count - 1] == at[0] + count - 1;
    for (int64_t i = 0; i < n; ++i) {
        R* re = x + i * L;
        R* im = re + n * L;
        int64_t c = 0;
        if (side_by_side) {
            const R* row = reinterpret_cast<const R*>(in + at[0] + i * stride);
            for (; c < count; ++c) re[c] = row[2 * c], im[c] = row[2 * c + 1];
        } else {
            for (; c < count; ++c) {
                const std::complex<R> v = in[at[c] + i * stride];
                re[c] = v.real(), im[c] = v.imag();
            }
        }
        for (; c < L; ++c) re[c] = im[c] = 0;
    }
}

// The way back, times `scale`.
template <typename R>
void write_lines(const R* x, int64_t n, std::complex<R>* out, const int64_t* at, int64_t stride, int64_t count,
                 R scale) {
    constexpr int64_t L = PowerOfThreeLines<R>::lanes;
    const bool side_by_side = at[count - 1] == at[0] + count - 1;
    for (int64_t i = 0; i < n; ++i) {
        const R* re = x + i * L;
        const R* im = re + n * L;
        if (side_by_side) {
            R* row = reinterpret_cast<R*>(out + at[0] + i * stride);
            for (int64_t c = 0; c < count; ++c) row[2 * c] = re[c] * scale, row[2 * c + 1] = im[c] * scale;
        } else {
            for (int64_t c = 0; c < count; ++c) out[at[c] + i * stride] = {re[c] * scale, im[c] * scale};
        }
    }
}

}  // namespace

template <typename R>
bool PowerOfThreeLines<R>::suits(int64_t n) {
    if (n < 27) return false;
    while (n % 3 == 0) n /= 3;
    return n == 1;
}

template <typename R>
PowerOfThreeLines<R>::PowerOfThreeLines(int64_t n, int sign) : n_(n), sign_(sign) {
    for (int64_t length = n, s = 1; length > 1; s *= stages_.back().radix, length /= stages_.back().radix) {
        const int radix = length % 9 == 0 ? 9 : 3;
        stages_.push_back({radix, length, s, static_cast<int64_t>(twiddles_.size())});
        const double turn = sign * 2 * M_PI / static_cast<double>(length);
        for (int64_t p = 0; p < length / radix; ++p)
            for (int j = 1; j < radix; ++j) {
                twiddles_.push_back(static_cast<R>(std::cos(turn * static_cast<double>(p * j))));
                twiddles_.push_back(static_cast<R>(std::sin(turn * static_cast<double>(p * j))));
            }
    }
}

template <typename R>
void PowerOfThreeLines<R>::transform(const std::complex<R>* in, const int64_t* in_at, int64_t in_stride,
                                     std::complex<R>* out, const int64_t* out_at, int64_t out_stride, int64_t count,
                                     R scale, R* x, R* y) const {
    const int64_t n = n_;
    read_lines(in, in_at, in_stride, count, n, x);
    const auto s3 = static_cast<R>(sign_ * std::sqrt(3.0) / 2);
    const double ninth = sign_ * 2 * M_PI / 9;
    auto e = [&](int k) { return Cx<R>{static_cast<R>(std::cos(k * ninth)), static_cast<R>(std::sin(k * ninth))}; };
    const Cx<R> e9[3] = {e(1), e(2), e(4)};
    for (const Stage& stage : stages_) {
        const R* tw = twiddles_.data() + stage.twiddles_at;
        if (stage.radix == 9) radix9_stage(x, x + n * lanes, y, y + n * lanes, stage.length, stage.stride, tw, e9, s3);
        else radix3_stage(x, x + n * lanes, y, y + n * lanes, stage.length, stage.stride, tw, s3);
        std::swap(x, y);
    }
    write_lines(x, n, out, out_at, out_stride, count, scale);  // the result is in x now
}

template class PowerOfThreeLines<float>;
template class PowerOfThreeLines<double>;

}  // namespace lumadex::dfti
