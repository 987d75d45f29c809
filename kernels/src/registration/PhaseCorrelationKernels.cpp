// Phase correlation on half spectra (the formulas are in Registration.h).
//
// The weights depend on the frequency only, so a registration computes them
// once and every frame's cross power spectrum is a product and a
// normalisation per element; the modulus is taken in double, where the
// squares of large single-precision spectra would overflow. Square roots
// need not set errno (the build compiles this file with -fno-math-errno) and
// divisions need not keep their trap order, so that the loops vectorise.
#pragma GCC optimize("no-trapping-math")

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <type_traits>
#include <vector>

#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Registration.h"
#include "lumadex/kernels/Shift.h"

namespace lumadex::kernels {
namespace {

// The frequency of index i along an axis of a real image of n pixels, in
// cycles per pixel: the upper half of a pure axis holds the negative ones.
double CyclesPerPixel(std::int64_t i, std::int64_t n)
{
    const std::int64_t k = i < n - n / 2 ? i : i - n;
    return static_cast<double>(k) / static_cast<double>(n);
}

// Calls row(y, z) for every row of a block of `width` x `height` x `depth`,
// rows spread over the threads when there are enough elements.
template <class Row>
void ForEachRow(std::int64_t width, std::int64_t height, std::int64_t depth, const Row& row)
{
    const std::int64_t rows = height * depth;
#pragma omp parallel for schedule(static) if (WorthThreads(rows * width, kCorrelationParallelElements))
    for (std::int64_t r = 0; r < rows; ++r) row(r % height, r / height);
}

template <class T>
T* RowOf(const Block<T>& block, std::int64_t y, std::int64_t z)
{
    return block.data + y * block.stride[1] + z * block.stride[2];
}

// max(m, the row's values), NaN values passed over.
template <class T>
T RowMax(const T* row, std::int64_t width, T m)
{
    std::int64_t x = 0;
    if constexpr (std::is_same_v<T, float>) {
        // maxps(a, b) is a > b ? a : b, as below, four lanes at a time, in
        // four chains so that the loop is not held to one chain's latency.
        __m128 lanes[4] = {_mm_set1_ps(m), _mm_set1_ps(m), _mm_set1_ps(m), _mm_set1_ps(m)};
        for (; x + 16 <= width; x += 16)
            for (int k = 0; k < 4; ++k) lanes[k] = _mm_max_ps(_mm_loadu_ps(row + x + 4 * k), lanes[k]);
        alignas(16) float values[16];
        for (int k = 0; k < 4; ++k) _mm_store_ps(values + 4 * k, lanes[k]);
        for (const float v : values) m = v > m ? v : m;
    }
    for (; x < width; ++x) m = row[x] > m ? row[x] : m;
    return m;
}

// The vertex of the parabola through (-1, left), (0, centre), (1, right),
// within half a pixel; 0 where the three do not bend down.
double Vertex(double left, double centre, double right)
{
    const double curvature = left - 2.0 * centre + right;
    if (!(curvature < 0)) return 0.0;
    return std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
}

}  // namespace

void CorrelationWeights(const std::int64_t (&size)[4], double radius, const Block<float>& weights)
{
    const std::int64_t width = size[0] / 2 + 1, height = size[1], depth = size[2];
    const double inverseRadius2 = radius > 0 ? 1.0 / (radius * radius) : 0.0;
    ForEachRow(width, height, depth, [&](std::int64_t y, std::int64_t z) {
        const double sy = CyclesPerPixel(y, size[1]), sz = CyclesPerPixel(z, size[2]);
        float* row = RowOf(weights, y, z);
        for (std::int64_t x = 0; x < width; ++x) {
            const double sx = static_cast<double>(x) / static_cast<double>(size[0]);
            const double q = (sx * sx + sy * sy + sz * sz) * inverseRadius2;
            row[x] = static_cast<float>(std::exp(-q * q));
        }
    });
    weights.data[0] = 0.0f;  // the zero frequency (the images' means) carries no displacement
}

namespace {

template <Normalization kNormalization, class T>
[[gnu::always_inline]] inline void CrossPowerBody(const T* __restrict t, const T* __restrict r,
                                                  const float* __restrict w, T* __restrict out, std::int64_t width)
{
    for (std::int64_t x = 0; x < width; ++x) {
        const double tr = t[2 * x], ti = t[2 * x + 1], rr = r[2 * x], ri = r[2 * x + 1];
        const double pr = tr * rr + ti * ri, pi = ti * rr - tr * ri;  // t conj(r)
        const double a2 = pr * pr + pi * pi;
        double factor = w[x];
        if constexpr (kNormalization == Normalization::Half) factor = a2 > 0 ? factor / std::sqrt(std::sqrt(a2)) : 0.0;
        if constexpr (kNormalization == Normalization::Phase) factor = a2 > 0 ? factor / std::sqrt(a2) : 0.0;
        out[2 * x] = static_cast<T>(pr * factor);
        out[2 * x + 1] = static_cast<T>(pi * factor);
    }
}

template <Normalization kNormalization, class T>
[[LUMADEX_TARGET_AVX512]] void CrossPowerAvx512(const T* t, const T* r, const float* w, T* out, std::int64_t width)
{
    CrossPowerBody<kNormalization>(t, r, w, out, width);
}

// Single-precision spectra with the half normalisation, the registration's
// usual case, four elements at a time in double lanes (real and imaginary
// parts side by side). The factor |p|^(-1/2) comes from two reciprocal square
// root estimates, each refined by a Newton step (relative error about 1e-8,
// below the single-precision result's rounding), instead of two square roots
// and a division, which held the loop to a third of its speed.
template <>
[[LUMADEX_TARGET_AVX512]] void CrossPowerAvx512<Normalization::Half, float>(const float* t, const float* r,
                                                                          const float* w, float* out,
                                                                          std::int64_t width)
{
    const __m512d half = _mm512_set1_pd(0.5), threeHalves = _mm512_set1_pd(1.5);
    const __m512d alternate = _mm512_set_pd(-1, 1, -1, 1, -1, 1, -1, 1);  // (+ re, - im) per element
    const auto refined = [&](__m512d a) {  // a^(-1/2), one Newton step from the estimate
        const __m512d y = _mm512_rsqrt14_pd(a);
        return _mm512_mul_pd(y, _mm512_fnmadd_pd(_mm512_mul_pd(half, a), _mm512_mul_pd(y, y), threeHalves));
    };
    std::int64_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m512d tv = _mm512_cvtps_pd(_mm256_loadu_ps(t + 2 * x));
        const __m512d rv = _mm512_cvtps_pd(_mm256_loadu_ps(r + 2 * x));
        // p = t conj(r): (tr rr + ti ri, ti rr - tr ri).
        const __m512d swapped = _mm512_permute_pd(tv, 0x55);
        const __m512d p = _mm512_fmadd_pd(_mm512_mul_pd(swapped, _mm512_permute_pd(rv, 0xFF)), alternate,
                                          _mm512_mul_pd(tv, _mm512_movedup_pd(rv)));
        const __m512d squares = _mm512_mul_pd(p, p);
        const __m512d a2 = _mm512_add_pd(squares, _mm512_permute_pd(squares, 0x55));
        const __m512d fourthRoot = refined(_mm512_mul_pd(a2, refined(a2)));  // (a2 a2^(-1/2))^(-1/2)
        const __m128 w4 = _mm_loadu_ps(w + x);
        const __m512d weights = _mm512_cvtps_pd(
            _mm256_set_m128(_mm_unpackhi_ps(w4, w4), _mm_unpacklo_ps(w4, w4)));
        const __mmask8 positive = _mm512_cmp_pd_mask(a2, _mm512_setzero_pd(), _CMP_GT_OQ);
        const __m512d factor = _mm512_maskz_mul_pd(positive, weights, fourthRoot);
        _mm256_storeu_ps(out + 2 * x, _mm512_cvtpd_ps(_mm512_mul_pd(p, factor)));
    }
    CrossPowerBody<Normalization::Half>(t + 2 * x, r + 2 * x, w + x, out + 2 * x, width - x);
}
template <Normalization kNormalization, class T>
[[LUMADEX_TARGET_AVX2]] void CrossPowerAvx2(const T* t, const T* r, const float* w, T* out, std::int64_t width)
{
    CrossPowerBody<kNormalization>(t, r, w, out, width);
}
template <Normalization kNormalization, class T>
void CrossPowerBase(const T* t, const T* r, const float* w, T* out, std::int64_t width)
{
    CrossPowerBody<kNormalization>(t, r, w, out, width);
}

template <class T>
using CrossPowerRow = void (*)(const T*, const T*, const float*, T*, std::int64_t);

template <Normalization kNormalization, class T>
CrossPowerRow<T> PickCrossPower()
{
    return Pick<CrossPowerRow<T>>(&CrossPowerAvx512<kNormalization, T>, &CrossPowerAvx2<kNormalization, T>,
                                  &CrossPowerBase<kNormalization, T>);
}

}  // namespace

template <class T>
void MaskedCrossPower(const Block<const std::complex<T>>& target, const Block<const std::complex<T>>& reference,
                      const Block<const float>& weights, Normalization normalization,
                      const Block<std::complex<T>>& cross)
{
    CrossPowerRow<T> row = PickCrossPower<Normalization::Plain, T>();
    if (normalization == Normalization::Half) row = PickCrossPower<Normalization::Half, T>();
    if (normalization == Normalization::Phase) row = PickCrossPower<Normalization::Phase, T>();
    ForEachRow(target.size[0], target.size[1], target.size[2], [&](std::int64_t y, std::int64_t z) {
        row(reinterpret_cast<const T*>(RowOf(target, y, z)), reinterpret_cast<const T*>(RowOf(reference, y, z)),
            RowOf(weights, y, z), reinterpret_cast<T*>(RowOf(cross, y, z)), target.size[0]);
    });
}

template <class T>
std::array<double, 3> CorrelationPeak(const Block<const T>& correlation)
{
    const std::int64_t width = correlation.size[0], height = correlation.size[1], depth = correlation.size[2];
    const std::int64_t rows = height * depth;
    const bool threaded = WorthThreads(rows * width, kCorrelationParallelElements);
    // The largest value (NaN never wins), then the first position holding it.
    // Each row's largest is kept, so that the search for the first position
    // reads only the first row holding it.
    std::vector<T> rowLargest(static_cast<std::size_t>(rows));
#pragma omp parallel for schedule(static) if (threaded)
    for (std::int64_t r = 0; r < rows; ++r)
        rowLargest[static_cast<std::size_t>(r)] =
            RowMax(RowOf(correlation, r % height, r / height), width, -std::numeric_limits<T>::infinity());
    T largest = -std::numeric_limits<T>::infinity();
    for (const T m : rowLargest) largest = m > largest ? m : largest;
    std::int64_t rank = -1;
    for (std::int64_t r = 0; r < rows && rank < 0; ++r) {
        if (rowLargest[static_cast<std::size_t>(r)] != largest) continue;
        const T* row = RowOf(correlation, r % height, r / height);
        for (std::int64_t x = 0; x < width; ++x)
            if (row[x] == largest) {
                rank = r * width + x;
                break;
            }
    }
    std::array<double, 3> displacement{0, 0, 0};
    if (rank < 0) return displacement;  // NaN everywhere: no peak to find

    const std::int64_t n[3] = {width, height, depth};
    const std::int64_t at[3] = {rank % width, (rank / width) % height, rank / (width * height)};
    auto value = [&](int axis, std::int64_t step) {
        std::int64_t p[3] = {at[0], at[1], at[2]};
        p[axis] = (p[axis] + step + n[axis]) % n[axis];
        return static_cast<double>(correlation.data[p[0] * correlation.stride[0] + p[1] * correlation.stride[1] +
                                                    p[2] * correlation.stride[2]]);
    };
    for (int axis = 0; axis < 3; ++axis) {
        if (n[axis] == 1) continue;
        const std::int64_t whole = at[axis] < n[axis] - n[axis] / 2 ? at[axis] : at[axis] - n[axis];
        displacement[axis] = static_cast<double>(whole) + Vertex(value(axis, -1), value(axis, 0), value(axis, 1));
    }
    return displacement;
}

template <class T>
void ShiftHalfSpectrum(const Block<std::complex<T>>& spectrum, const std::int64_t (&size)[4],
                       const double (&shift)[3])
{
    AxisShift axes[3];
    for (int d = 0; d < 3; ++d)
        axes[d] = AxisShift{static_cast<int>(spectrum.size[d]), static_cast<int>(size[d]), 0, -shift[d], true};
    ShiftBlock<T>(spectrum, spectrum, axes, 1.0, Evaluation::Rows);
    // The ramp gave the Nyquist index (frequency -N/2) the factor
    // exp(i pi shift); the mean of both directions is cos(pi shift).
    for (int d = 0; d < 3; ++d) {
        if (size[d] % 2 != 0 || size[d] < 2 || shift[d] == 0) continue;
        const double turn = std::numbers::pi * shift[d];
        const std::complex<T> fix(static_cast<T>(std::cos(turn) * std::cos(turn)),
                                  static_cast<T>(-std::cos(turn) * std::sin(turn)));
        Block<std::complex<T>> plane = spectrum;
        plane.data += (size[d] / 2) * spectrum.stride[d];
        plane.size[d] = 1;
        for (std::int64_t r = 0; r < plane.rows(); ++r) {
            std::complex<T>* row = plane.Row(r);
            for (std::int64_t x = 0; x < plane.size[0]; ++x) row[x * plane.stride[0]] *= fix;
        }
    }
}

void AddSpectrum(const Block<const std::complex<float>>& spectrum, const Block<std::complex<double>>& sum)
{
    ForEachRow(spectrum.size[0], spectrum.size[1], spectrum.size[2], [&](std::int64_t y, std::int64_t z) {
        const float* from = reinterpret_cast<const float*>(RowOf(spectrum, y, z));
        double* to = reinterpret_cast<double*>(RowOf(sum, y, z));
        for (std::int64_t i = 0; i < 2 * spectrum.size[0]; ++i) to[i] += static_cast<double>(from[i]);
    });
}

template void ShiftHalfSpectrum(const Block<std::complex<float>>&, const std::int64_t (&)[4], const double (&)[3]);
template void ShiftHalfSpectrum(const Block<std::complex<double>>&, const std::int64_t (&)[4], const double (&)[3]);
template void MaskedCrossPower(const Block<const std::complex<float>>&, const Block<const std::complex<float>>&,
                               const Block<const float>&, Normalization, const Block<std::complex<float>>&);
template void MaskedCrossPower(const Block<const std::complex<double>>&, const Block<const std::complex<double>>&,
                               const Block<const float>&, Normalization, const Block<std::complex<double>>&);
template std::array<double, 3> CorrelationPeak(const Block<const float>&);
template std::array<double, 3> CorrelationPeak(const Block<const double>&);

}  // namespace lumadex::kernels
