#include "lumadex/kernels/Shift.h"

// Every form must round alike: no fused multiply-add where one instruction
// set has it and another has not.
#pragma GCC optimize("fp-contract=off")

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Refusal.h"

#define ZEP_INLINE inline __attribute__((always_inline))
// The scalar forms stay scalar, so that switching the SIMD paths off really
// runs other code.
#define ZEP_SCALAR __attribute__((optimize("no-tree-vectorize")))

namespace lumadex::kernels {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// --- kernels over one contiguous run of pixels ------------------------------
//
// Each kernel has three forms, chosen per call by the dispatch policy
// (Pick): AVX-512, AVX2, and for the base instruction set (the SIMD switch
// off) a scalar form.

// Sign flips on the bit patterns: negation that is exact for every value,
// NaN payloads included. A pixel is one 64-bit word (complex float) or two.
using Word = std::uint64_t __attribute__((may_alias));
template <class R>
constexpr int kWords = sizeof(std::complex<R>) / sizeof(std::uint64_t);
template <class R>
constexpr std::uint64_t kSignBits = sizeof(R) == 4 ? 0x8000000080000000ull : 0x8000000000000000ull;

// dst = src with the sign bits `even` / `odd` flipped on even / odd pixels.
template <class R>
ZEP_INLINE void FlipBody(const std::complex<R>* src, std::complex<R>* dst, std::int64_t n, std::uint64_t even,
                         std::uint64_t odd)
{
    constexpr int w = kWords<R>;
    const Word* s = reinterpret_cast<const Word*>(src);
    Word* d = reinterpret_cast<Word*>(dst);
    const std::int64_t pairs = n / 2;
#pragma omp simd
    for (std::int64_t p = 0; p < pairs; ++p) {
        for (int i = 0; i < w; ++i) d[2 * w * p + i] = s[2 * w * p + i] ^ even;
        for (int i = 0; i < w; ++i) d[2 * w * p + w + i] = s[2 * w * p + w + i] ^ odd;
    }
    if (n % 2)
        for (int i = 0; i < w; ++i) d[w * (n - 1) + i] = s[w * (n - 1) + i] ^ even;
}

template <class R>
ZEP_SCALAR void FlipScalar(const std::complex<R>* src, std::complex<R>* dst, std::int64_t n, std::uint64_t even,
                           std::uint64_t odd)
{
    const Word* s = reinterpret_cast<const Word*>(src);
    Word* d = reinterpret_cast<Word*>(dst);
    for (std::int64_t j = 0; j < n; ++j)
        for (int i = 0; i < kWords<R>; ++i) d[kWords<R> * j + i] = s[kWords<R> * j + i] ^ (j % 2 ? odd : even);
}

// One pixel of a ramp row: factor = P * S^j in double (rounded to R), then
// dst = src * factor in R.
template <class R>
ZEP_INLINE void RampPixel(const R* s, R* d, std::int64_t j, const double* re, const double* im, double pr, double pi)
{
    const R fr = static_cast<R>(pr * re[j] - pi * im[j]);
    const R fi = static_cast<R>(pr * im[j] + pi * re[j]);
    const R sr = s[2 * j], si = s[2 * j + 1];
    d[2 * j] = sr * fr - si * fi;
    d[2 * j + 1] = sr * fi + si * fr;
}

template <class R>
ZEP_SCALAR void RampScalar(const std::complex<R>* src, std::complex<R>* dst, std::int64_t n, const double* re,
                           const double* im, double pr, double pi)
{
    for (std::int64_t j = 0; j < n; ++j)
        RampPixel(reinterpret_cast<const R*>(src), reinterpret_cast<R*>(dst), j, re, im, pr, pi);
}

// GCC 12's AVX-512 headers start some results from an undefined register.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Ramp rows written out for AVX2 and AVX-512: the compiler's own vectorising
// of interleaved complex pixels leaves most of the work scalar. Each step
// does what RampPixel does, operation for operation, so the bits agree: the
// factors in double (for both precisions), rounded to float for float
// pixels, then the complex product, whose odd (imaginary) lanes add si * fr
// and sr * fi in the other order, which changes nothing. RampVectors works
// the whole vectors of a row and returns the first pixel it left over.

// The factors P * S^j of one vector's pixels from j on, in double.
struct Factors4 {
    __m256d re, im;
};
struct Factors8 {
    __m512d re, im;
};
[[LUMADEX_TARGET_AVX2]] ZEP_INLINE Factors4 FactorsAt(const double* re, const double* im, __m256d pr, __m256d pi)
{
    const __m256d r = _mm256_loadu_pd(re), i = _mm256_loadu_pd(im);
    return {_mm256_sub_pd(_mm256_mul_pd(pr, r), _mm256_mul_pd(pi, i)),
            _mm256_add_pd(_mm256_mul_pd(pr, i), _mm256_mul_pd(pi, r))};
}
[[LUMADEX_TARGET_AVX512F]] ZEP_INLINE Factors8 FactorsAt(const double* re, const double* im, __m512d pr, __m512d pi)
{
    const __m512d r = _mm512_loadu_pd(re), i = _mm512_loadu_pd(im);
    return {_mm512_sub_pd(_mm512_mul_pd(pr, r), _mm512_mul_pd(pi, i)),
            _mm512_add_pd(_mm512_mul_pd(pr, i), _mm512_mul_pd(pi, r))};
}

// Two double pixels of v times their factors (each repeated over its pair of lanes).
[[LUMADEX_TARGET_AVX2]] ZEP_INLINE void MultiplyPairs(double* out, __m256d v, __m256d frPairs, __m256d fiPairs)
{
    const __m256d swapped = _mm256_permute_pd(v, 0x5);
    _mm256_storeu_pd(out, _mm256_addsub_pd(_mm256_mul_pd(v, frPairs), _mm256_mul_pd(swapped, fiPairs)));
}

// Four pixels a step.
template <class R>
[[LUMADEX_TARGET_AVX2]] ZEP_INLINE std::int64_t RampVectorsAvx2(const R* s, R* d, std::int64_t n, const double* re,
                                                                const double* im, double pr, double pi)
{
    const __m256d vpr = _mm256_set1_pd(pr), vpi = _mm256_set1_pd(pi);
    std::int64_t j = 0;
    for (; j + 4 <= n; j += 4) {
        const auto [fr, fi] = FactorsAt(re + j, im + j, vpr, vpi);
        if constexpr (sizeof(R) == 4) {
            const __m128 frFloat = _mm256_cvtpd_ps(fr), fiFloat = _mm256_cvtpd_ps(fi);
            const __m256 frPairs =
                _mm256_set_m128(_mm_unpackhi_ps(frFloat, frFloat), _mm_unpacklo_ps(frFloat, frFloat));
            const __m256 fiPairs =
                _mm256_set_m128(_mm_unpackhi_ps(fiFloat, fiFloat), _mm_unpacklo_ps(fiFloat, fiFloat));
            const __m256 v = _mm256_loadu_ps(s + 2 * j);
            const __m256 swapped = _mm256_permute_ps(v, 0xB1);
            _mm256_storeu_ps(d + 2 * j,
                             _mm256_addsub_ps(_mm256_mul_ps(v, frPairs), _mm256_mul_ps(swapped, fiPairs)));
        } else {
            const __m256d v0 = _mm256_loadu_pd(s + 2 * j), v1 = _mm256_loadu_pd(s + 2 * j + 4);
            MultiplyPairs(d + 2 * j, v0, _mm256_permute4x64_pd(fr, 0x50), _mm256_permute4x64_pd(fi, 0x50));
            MultiplyPairs(d + 2 * j + 4, v1, _mm256_permute4x64_pd(fr, 0xFA), _mm256_permute4x64_pd(fi, 0xFA));
        }
    }
    return j;
}

// Eight pixels a step; the factors' lanes are spread over the pixels' pairs
// of lanes by permutations.
template <class R>
[[LUMADEX_TARGET_AVX512F]] ZEP_INLINE std::int64_t RampVectorsAvx512(const R* s, R* d, std::int64_t n,
                                                                    const double* re, const double* im, double pr,
                                                                    double pi)
{
    const __m512d vpr = _mm512_set1_pd(pr), vpi = _mm512_set1_pd(pi);
    // Float: lanes of the factors' real parts (0 to 7), then imaginary (8 to 15).
    const __m512i rePairs = _mm512_set_epi32(7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i imPairs = _mm512_set_epi32(15, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8);
    // Double: lanes of fr (0 to 7) and fi (8 to 15) for the low and the high four pixels.
    const __m512i lowRe = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i lowIm = _mm512_set_epi64(11, 11, 10, 10, 9, 9, 8, 8);
    const __m512i highRe = _mm512_set_epi64(7, 7, 6, 6, 5, 5, 4, 4);
    const __m512i highIm = _mm512_set_epi64(15, 15, 14, 14, 13, 13, 12, 12);
    std::int64_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const auto [fr, fi] = FactorsAt(re + j, im + j, vpr, vpi);
        if constexpr (sizeof(R) == 4) {
            const __m256 frFloat = _mm512_cvtpd_ps(fr), fiFloat = _mm512_cvtpd_ps(fi);
            const __m512 both = _mm512_castpd_ps(
                _mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(frFloat)), _mm256_castps_pd(fiFloat), 1));
            const __m512 v = _mm512_loadu_ps(s + 2 * j);
            const __m512 a = _mm512_mul_ps(v, _mm512_permutexvar_ps(rePairs, both));
            const __m512 b = _mm512_mul_ps(_mm512_permute_ps(v, 0xB1), _mm512_permutexvar_ps(imPairs, both));
            _mm512_storeu_ps(d + 2 * j, _mm512_mask_add_ps(_mm512_sub_ps(a, b), 0xAAAA, a, b));
        } else {
            for (int half = 0; half < 2; ++half) {
                const __m512d v = _mm512_loadu_pd(s + 2 * j + 8 * half);
                const __m512d a = _mm512_mul_pd(v, _mm512_permutex2var_pd(fr, half ? highRe : lowRe, fi));
                const __m512d b =
                    _mm512_mul_pd(_mm512_permute_pd(v, 0x55), _mm512_permutex2var_pd(fr, half ? highIm : lowIm, fi));
                _mm512_storeu_pd(d + 2 * j + 8 * half, _mm512_mask_add_pd(_mm512_sub_pd(a, b), 0xAA, a, b));
            }
        }
    }
    return j;
}
#pragma GCC diagnostic pop

// The forms of the row kernels for one target (Suffix Avx512 or Avx2; the
// AVX-512 forms are built for the Foundation alone, see Dispatch.h):
// Flip is FlipBody compiled for it; Ramp works the whole vectors with the
// target's RampVectors and the last pixels with RampPixel.
#define ZEP_TARGET_FORMS(Suffix, TARGET)                                                                     \
    template <class R>                                                                                       \
    [[LUMADEX_TARGET_##TARGET]] void Flip##Suffix(const std::complex<R>* src, std::complex<R>* dst,          \
                                                  std::int64_t n, std::uint64_t even, std::uint64_t odd)     \
    {                                                                                                        \
        FlipBody<R>(src, dst, n, even, odd);                                                                 \
    }                                                                                                        \
    template <class R>                                                                                       \
    [[LUMADEX_TARGET_##TARGET]] void Ramp##Suffix(const std::complex<R>* src, std::complex<R>* dst,          \
                                                  std::int64_t n, const double* re, const double* im,        \
                                                  double pr, double pi)                                      \
    {                                                                                                        \
        const R* s = reinterpret_cast<const R*>(src);                                                        \
        R* d = reinterpret_cast<R*>(dst);                                                                    \
        for (std::int64_t j = RampVectors##Suffix(s, d, n, re, im, pr, pi); j < n; ++j)                      \
            RampPixel(s, d, j, re, im, pr, pi);                                                              \
    }
ZEP_TARGET_FORMS(Avx512, AVX512F)
ZEP_TARGET_FORMS(Avx2, AVX2)
#undef ZEP_TARGET_FORMS

template <class R>
auto PickFlip()
{
    return Pick(&FlipAvx512<R>, &FlipAvx2<R>, &FlipScalar<R>);
}

template <class R>
auto PickRamp()
{
    return Pick(&RampAvx512<R>, &RampAvx2<R>, &RampScalar<R>);
}

// --- axes ----------------------------------------------------------------

double Frac(double t) { return t - std::floor(t); }

// Shift per period; a zero shift gives no ramp whatever the period.
double Slope(const AxisShift& axis) { return axis.shift == 0 ? 0.0 : axis.shift / axis.period; }

// Index of the first negative frequency in the pure layout: ceil(N / 2).
std::int64_t FirstNegative(const AxisShift& axis) { return axis.period - axis.period / 2; }

std::int64_t Frequency(const AxisShift& axis, std::int64_t index)
{
    if (!axis.pure) return index - axis.centre;
    return index < FirstNegative(axis) ? index : index - axis.period;
}

// A half-period shift multiplies by (-1)^k exactly; on an even axis of even
// period, with an even centre, that is (-1)^index. Only for fSign = +-1:
// other signs scale the phase and need the ramp.
bool Alternates(const AxisShift& axis, double fSign)
{
    return axis.size > 1 && axis.shift != 0 && axis.period % 2 == 0 && axis.shift == axis.period / 2.0 &&
           axis.size % 2 == 0 && (axis.pure || axis.centre % 2 == 0) && (fSign == 1.0 || fSign == -1.0);
}

bool Trivial(const AxisShift& axis, double fSign)
{
    return axis.size == 1 || axis.shift == 0 || Alternates(axis, fSign);
}

template <class T>
T* At(const Block<T>& block, std::int64_t y, std::int64_t z, std::int64_t v)
{
    return block.data + y * block.stride[1] + z * block.stride[2] + v * block.stride[3];
}

// Calls row(y, z, v) for every row of the block, rows spread over threads
// when the block is large.
template <class T, class Row>
void ForEachRow(const Block<T>& block, Row&& row)
{
    const std::int64_t height = block.size[1], depth = block.size[2];
    const std::int64_t rows = height * depth * block.size[3];
#pragma omp parallel for schedule(static) if (rows * block.size[0] >= kShiftParallelPixels)
    for (std::int64_t r = 0; r < rows; ++r) row(r % height, (r / height) % depth, r / (height * depth));
}

// --- the three ways of working a block -------------------------------------

template <class R>
void ExactPath(const Block<const std::complex<R>>& in, const Block<std::complex<R>>& out, const bool (&alternates)[3])
{
    for (int a = 0; a < 3; ++a)
        if (alternates[a] && in.size[a] % 2 != 0) throw Refusal(Reason::OddDimensionSize);
    constexpr std::uint64_t sign = kSignBits<R>;
    const auto flip = PickFlip<R>();

    // A one-dimensional image is one run along its axis.
    int axis = -1, extended = 0;
    for (int d = 0; d < 4; ++d)
        if (in.size[d] > 1) axis = d, ++extended;
    if (extended == 1) {
        const std::int64_t n = in.size[axis], sp = in.stride[axis], dp = out.stride[axis];
        const std::uint64_t odd = axis < 3 && alternates[axis] ? sign : 0;
        if (sp == 1 && dp == 1) {
            // Chunks of even length, so that each starts on an even pixel.
            constexpr std::int64_t chunk = std::int64_t{1} << 14;
#pragma omp parallel for schedule(static) if (n >= kShiftParallelPixels)
            for (std::int64_t begin = 0; begin < n; begin += chunk)
                flip(in.data + begin, out.data + begin, std::min(chunk, n - begin), 0, odd);
        } else {
            // Not contiguous: pixel by pixel.
            for (std::int64_t j = 0; j < n; ++j)
                FlipScalar<R>(in.data + j * sp, out.data + j * dp, 1, j % 2 ? odd : 0, 0);
        }
        return;
    }

    const std::int64_t width = in.size[0];
    ForEachRow(in, [&](std::int64_t y, std::int64_t z, std::int64_t v) {
        const std::complex<R>* s = At(in, y, z, v);
        std::complex<R>* d = At(out, y, z, v);
        const bool negative = ((alternates[1] ? y : 0) + (alternates[2] ? z : 0)) % 2 != 0;
        const std::uint64_t even = negative ? sign : 0;
        const std::uint64_t odd = alternates[0] ? even ^ sign : even;
        if (even == 0 && odd == 0) {
            if (s != d) std::memcpy(static_cast<void*>(d), s, static_cast<std::size_t>(width) * sizeof(*d));
        } else {
            flip(s, d, width, even, odd);
        }
    });
}

template <class R>
void PlaneFactorPath(const Block<const std::complex<R>>& in, const Block<std::complex<R>>& out, const AxisShift& zAxis,
                     double fSign)
{
    const double s = kTwoPi * fSign, slope = Slope(zAxis);
    std::vector<std::complex<R>> factors(static_cast<std::size_t>(in.size[2]));
    for (int z = 0; z < in.size[2]; ++z) {
        const double phi = s * Frac(static_cast<double>(Frequency(zAxis, z)) * slope);
        const R angle = static_cast<R>(phi);  // single precision: the angle is rounded first
        factors[z] = {std::cos(angle), std::sin(angle)};
    }
    // The ramp kernel with a table of ones multiplies by the factor as it is.
    const std::vector<double> ones(static_cast<std::size_t>(in.size[0]), 1.0), zeros(ones.size(), 0.0);
    const auto ramp = PickRamp<R>();
    ForEachRow(in, [&](std::int64_t y, std::int64_t z, std::int64_t v) {
        ramp(At(in, y, z, v), At(out, y, z, v), in.size[0],
             ones.data(), zeros.data(), factors[z].real(), factors[z].imag());
    });
}

template <class R>
void RowPath(const Block<const std::complex<R>>& in, const Block<std::complex<R>>& out, const AxisShift (&axes)[3],
             double fSign)
{
    const double s = kTwoPi * fSign;
    const double slopeX = Slope(axes[0]), slopeY = Slope(axes[1]), slopeZ = Slope(axes[2]);
    const std::int64_t width = in.size[0];

    // Stretches of a row whose X frequencies run up by one: in the pure
    // layout [0, h) from 0 and [h, W) from h - N; centred, the whole row.
    struct Stretch {
        std::int64_t begin, end, k0;
    };
    Stretch stretches[2] = {{0, width, 0}, {0, 0, 0}};
    int count = 1;
    if (!axes[0].pure) {
        stretches[0].k0 = -std::int64_t{axes[0].centre};
    } else if (slopeX != 0 && FirstNegative(axes[0]) < width) {
        const std::int64_t h = FirstNegative(axes[0]);
        stretches[0].end = h;
        stretches[1] = {h, width, h - axes[0].period};
        count = 2;
    }
    std::int64_t longest = 0;
    for (int i = 0; i < count; ++i) longest = std::max(longest, stretches[i].end - stretches[i].begin);

    // Powers of the X step, by repeated multiplication.
    std::vector<double> table(2 * static_cast<std::size_t>(std::max<std::int64_t>(longest, 1)));
    double* re = table.data();
    double* im = re + table.size() / 2;
    const double step = s * Frac(slopeX);
    const double stepRe = std::cos(step), stepIm = std::sin(step);
    re[0] = 1.0, im[0] = 0.0;
    for (std::int64_t j = 1; j < longest; ++j) {
        re[j] = re[j - 1] * stepRe - im[j - 1] * stepIm;
        im[j] = re[j - 1] * stepIm + im[j - 1] * stepRe;
    }

    const auto ramp = PickRamp<R>();
    ForEachRow(in, [&](std::int64_t y, std::int64_t z, std::int64_t v) {
        const std::complex<R>* src = At(in, y, z, v);
        std::complex<R>* dst = At(out, y, z, v);
        const double rowTurns = static_cast<double>(Frequency(axes[1], y)) * slopeY +
                                static_cast<double>(Frequency(axes[2], z)) * slopeZ;
        for (int i = 0; i < count; ++i) {
            const Stretch& stretch = stretches[i];
            const double phi = s * Frac(rowTurns + static_cast<double>(stretch.k0) * slopeX);
            ramp(src + stretch.begin, dst + stretch.begin, stretch.end - stretch.begin, re, im, std::cos(phi),
                 std::sin(phi));
        }
    });
}

}  // namespace

void CheckPeriods(const AxisShift (&axes)[3])
{
    for (const AxisShift& axis : axes)
        if (axis.shift != 0 && axis.period < 1) throw Refusal(Reason::PeriodNotPositive);
}

template <class R>
void ShiftBlock(const Block<const std::complex<R>>& in, const Block<std::complex<R>>& out, const AxisShift (&axes)[3],
                double fSign, Evaluation evaluation)
{
    CheckPeriods(axes);
    for (int d = 0; d < 4; ++d)
        if (in.size[d] < 1) return;  // nothing to shift

    bool exact = true;
    bool alternates[3];
    for (int a = 0; a < 3; ++a) {
        exact = exact && Trivial(axes[a], fSign);
        alternates[a] = Alternates(axes[a], fSign);
    }
    if (exact)
        ExactPath(in, out, alternates);
    else if (evaluation == Evaluation::PlaneFactor)
        PlaneFactorPath(in, out, axes[2], fSign);
    else
        RowPath(in, out, axes, fSign);
}

template void ShiftBlock(const Block<const std::complex<float>>&, const Block<std::complex<float>>&,
                         const AxisShift (&)[3], double, Evaluation);
template void ShiftBlock(const Block<const std::complex<double>>&, const Block<std::complex<double>>&,
                         const AxisShift (&)[3], double, Evaluation);

}  // namespace lumadex::kernels
