// The cross-correlation mask: the cross-power spectrum of two centred
// spectra, normalised, phase-shifted so that zero displacement lands at the
// centre of the correlation image, damped by a radial mask of order four,
// with the zero-frequency term removed.
//
// Per pixel, with k the frequency offset from the centre:
//   P = T conj(R);  a = |P|;  Q = P exp(i (kx tX + ky tY + kz tZ)),  t = 2 pi (N/2) / N per axis
//   w = exp(-(r2 / fRad^2)^2),  r2 = sx^2 + sy^2 + sz^2,  s = k fScale   (w = 1 when fRad is 0)
//   D = 0 where a is 0, else Q w n(a), with n = 1, 1/sqrt(a) or 1/a for modes 1, 2 and 3.
// The phase factors are exact per axis (the angle 2 pi m / N with
// m = k (N/2) mod N, so that even sizes give exactly +1 and -1) and are
// multiplied per pixel. The modulus a is taken in double also for Complex 8,
// where the squares of large spectra would overflow single precision.
// Divisions need not keep their trap order (and square roots need not set
// errno: the build compiles this file with -fno-math-errno), so that the
// loops over them vectorise.
#pragma GCC optimize("fp-contract=off", "no-trapping-math")

#include <array>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/CrossCorrelationMask.h"
#include "lumadex/kernels/Dispatch.h"

namespace lumadex::kernels {
namespace {

// e^x for x <= 0, to about one unit in the last place; 0 below the normal
// range, NaN for NaN. Written without calls or branches so that loops over
// it vectorise on every instruction set.
template <class S>
[[gnu::always_inline]] inline S ExpNonPositive(S x)
{
    if constexpr (std::is_same_v<S, float>) {
        constexpr float kMagic = 12582912.0f;  // 1.5 * 2^23: adding it rounds to an integer
        const float clamped = x < -87.0f ? -87.0f : x;
        const float t = clamped * std::numbers::log2e_v<float> + kMagic;
        const float n = t - kMagic;
        const float r = (clamped - n * 0.693359375f) - n * -2.12194440e-4f;
        float p = 1.9875691500e-4f;
        p = p * r + 1.3981999507e-3f;
        p = p * r + 8.3334519073e-3f;
        p = p * r + 4.1665795894e-2f;
        p = p * r + 1.6666665459e-1f;
        p = p * r + 5.0000001201e-1f;
        p = p * (r * r) + r + 1.0f;
        const std::int32_t k = std::bit_cast<std::int32_t>(t) - std::bit_cast<std::int32_t>(kMagic);
        const float scaled = p * std::bit_cast<float>((k + 127) << 23);
        return x < -87.0f ? 0.0f : (x == x ? scaled : x);
    } else {
        constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
        // 1/k! for k = 0..13: the Taylor series is exact to rounding for |r| <= ln 2 / 2.
        constexpr std::array<double, 14> kInverseFactorials = [] {
            std::array<double, 14> c{};
            double factorial = 1;
            for (int k = 0; k < 14; ++k) factorial *= k > 0 ? k : 1, c[k] = 1.0 / factorial;
            return c;
        }();
        const double clamped = x < -708.0 ? -708.0 : x;
        const double t = clamped * std::numbers::log2e + kMagic;
        const double n = t - kMagic;
        const double r = (clamped - n * 6.93147180369123816490e-01) - n * 1.90821492927058770002e-10;
        double p = kInverseFactorials[13];
        for (int k = 12; k >= 0; --k) p = p * r + kInverseFactorials[k];
        const std::int64_t k = std::bit_cast<std::int64_t>(t) - std::bit_cast<std::int64_t>(kMagic);
        const double scaled = p * std::bit_cast<double>((k + 1023) << 52);
        return x < -708.0 ? 0.0 : (x == x ? scaled : x);
    }
}

// Everything one row of pixels needs; S is float or double, complex pixels
// are pairs (real, imaginary).
template <class S>
struct MaskRow {
    const S* target;
    const S* reference;
    S* destination;
    std::int64_t count;
    const double* phaseX;  // (cos, sin) per pixel
    double phaseRe, phaseIm;  // the row's phase factor, for ky and kz
    const S* sx2;           // sx^2 per pixel
    S sy2, sz2;
    S exponentFactor;       // -1 / fRad^4
    bool masked;
};

constexpr int kBlock = 256;
constexpr int kSumLanes = 8;

// Computes one row into `destination` and returns the sum of the moduli of
// what it stored. The block buffer lets the destination be the target or
// the reference itself.
template <class S, int Mode>
[[gnu::always_inline]] inline double MaskRowBody(const MaskRow<S>& row)
{
    // Each pass over a block has one shape of arithmetic, which the
    // vectoriser handles; the block buffers stay in the first-level cache.
    alignas(64) S pr[kBlock], pi[kBlock], w[kBlock], out[2 * kBlock];
    alignas(64) double a[kBlock], modulus[kBlock];
    double lanes[kSumLanes] = {};
    for (std::int64_t start = 0; start < row.count; start += kBlock) {
        const int n = static_cast<int>(std::min<std::int64_t>(kBlock, row.count - start));
        const S* t = row.target + 2 * start;
        const S* r = row.reference + 2 * start;
        const double* phase = row.phaseX + 2 * start;
        const S* sx2 = row.sx2 + start;
        for (int i = 0; i < n; ++i) {  // P = T conj(R)
            const S tr = t[2 * i], ti = t[2 * i + 1], rr = r[2 * i], ri = r[2 * i + 1];
            pr[i] = tr * rr + ti * ri;
            pi[i] = ti * rr - tr * ri;
        }
        for (int i = 0; i < n; ++i) a[i] = std::sqrt(static_cast<double>(pr[i]) * pr[i] + static_cast<double>(pi[i]) * pi[i]);
        if (row.masked) {
            for (int i = 0; i < n; ++i) {
                const S r2 = (sx2[i] + row.sy2) + row.sz2;
                w[i] = ExpNonPositive<S>(r2 * r2 * row.exponentFactor);
            }
        } else {
            for (int i = 0; i < n; ++i) w[i] = 1;
        }
        // Q = P C, C the phase factor, into pr and pi: separate arrays, not
        // (real, imaginary) pairs, because GCC 12 turns complex products
        // stored as pairs into fused multiply-adds (vfmaddsub) on AVX-512
        // despite fp-contract=off, and the vectorised rows would then differ
        // from the base rows in the last bit.
        for (int i = 0; i < n; ++i) {
            const S cr = static_cast<S>(phase[2 * i] * row.phaseRe - phase[2 * i + 1] * row.phaseIm);
            const S ci = static_cast<S>(phase[2 * i] * row.phaseIm + phase[2 * i + 1] * row.phaseRe);
            const S p_r = pr[i], p_i = pi[i];
            pr[i] = p_r * cr - p_i * ci;
            pi[i] = p_r * ci + p_i * cr;
        }
        for (int i = 0; i < n; ++i) {
            double norm = 1;
            if constexpr (Mode == 2) norm = 1 / std::sqrt(a[i]);
            if constexpr (Mode == 3) norm = 1 / a[i];
            const S g = a[i] == 0 ? S(0) : static_cast<S>(w[i] * norm);
            const S dr = pr[i] * g, di = pi[i] * g;
            out[2 * i] = dr, out[2 * i + 1] = di;
            modulus[i] = std::sqrt(static_cast<double>(dr) * dr + static_cast<double>(di) * di);
        }
        int i = 0;
        for (; i + kSumLanes <= n; i += kSumLanes)
            for (int j = 0; j < kSumLanes; ++j) lanes[j] += modulus[i + j];
        for (int j = 0; i < n; ++i, ++j) lanes[j] += modulus[i];
        S* d = row.destination + 2 * start;
        for (int k = 0; k < 2 * n; ++k) d[k] = out[k];
    }
    double sum = 0;
    for (double lane : lanes) sum += lane;
    return sum;
}

template <class S, int Mode>
[[LUMADEX_TARGET_AVX512]] double MaskRowAvx512(const MaskRow<S>& row)
{
    return MaskRowBody<S, Mode>(row);
}
template <class S, int Mode>
[[LUMADEX_TARGET_AVX2]] double MaskRowAvx2(const MaskRow<S>& row)
{
    return MaskRowBody<S, Mode>(row);
}
template <class S, int Mode>
double MaskRowBase(const MaskRow<S>& row)
{
    return MaskRowBody<S, Mode>(row);
}

template <class S>
using MaskRowKernel = double (*)(const MaskRow<S>&);

template <class S>
MaskRowKernel<S> PickMaskRow(std::int32_t mode)
{
    if (mode == 1) return Pick(&MaskRowAvx512<S, 1>, &MaskRowAvx2<S, 1>, &MaskRowBase<S, 1>);
    if (mode == 2) return Pick(&MaskRowAvx512<S, 2>, &MaskRowAvx2<S, 2>, &MaskRowBase<S, 2>);
    return Pick(&MaskRowAvx512<S, 3>, &MaskRowAvx2<S, 3>, &MaskRowBase<S, 3>);
}

// exp(i k 2 pi (N/2) / N) for the offsets k = i - centre, i in [0, N), as
// (cos, sin) pairs; the angle is reduced exactly first.
std::vector<double> PhaseTable(std::int64_t size, std::int64_t centre)
{
    std::vector<double> table(static_cast<std::size_t>(2 * size));
    for (std::int64_t i = 0; i < size; ++i) {
        const std::int64_t m = (((i - centre) * (size / 2)) % size + size) % size;
        double c, s;
        if (m == 0) c = 1, s = 0;
        else if (2 * m == size) c = -1, s = 0;
        else if (4 * m == size) c = 0, s = 1;
        else if (4 * m == 3 * size) c = 0, s = -1;
        else {
            const double angle = 2 * std::numbers::pi * static_cast<double>(m) / static_cast<double>(size);
            c = std::cos(angle), s = std::sin(angle);
        }
        table[2 * i] = c, table[2 * i + 1] = s;
    }
    return table;
}

struct Nothing {};

}  // namespace

template <class S>
double CrossCorrelationMask(const Block<const std::complex<S>>& gt, const Block<const std::complex<S>>& gr,
                            const MaskParameters& p, const Block<std::complex<S>>& gd)
{
    const std::vector<double> phaseX = PhaseTable(gd.size[0], p.centre[0]);
    const std::vector<double> phaseY = PhaseTable(gd.size[1], p.centre[1]);
    const std::vector<double> phaseZ = PhaseTable(gd.size[2], p.centre[2]);
    std::vector<S> sx2(static_cast<std::size_t>(gd.size[0]));
    for (std::int64_t x = 0; x < gd.size[0]; ++x) {
        const S sx = static_cast<S>(x - p.centre[0]) * static_cast<S>(p.scale[0]);
        sx2[x] = sx * sx;
    }
    const S radius2 = static_cast<S>(p.radius) * static_cast<S>(p.radius);
    const MaskRowKernel<S> kernel = PickMaskRow<S>(p.mode);

    std::vector<double> rowSums(static_cast<std::size_t>(gd.rows()));
    ForEachChunk(gd, Nothing{}, [&](const Chunk& chunk, Nothing&) {
        for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
            const std::int64_t y = r % gd.size[1], z = r / gd.size[1];
            const std::complex<double> rowPhase =
                std::complex<double>(phaseY[2 * y], phaseY[2 * y + 1]) * std::complex<double>(phaseZ[2 * z], phaseZ[2 * z + 1]);
            const S sy = static_cast<S>(y - p.centre[1]) * static_cast<S>(p.scale[1]);
            const S sz = static_cast<S>(z - p.centre[2]) * static_cast<S>(p.scale[2]);
            const MaskRow<S> row{reinterpret_cast<const S*>(gt.Row(r)),
                                 reinterpret_cast<const S*>(gr.Row(r)),
                                 reinterpret_cast<S*>(gd.Row(r)),
                                 gd.size[0],
                                 phaseX.data(),
                                 rowPhase.real(),
                                 rowPhase.imag(),
                                 sx2.data(),
                                 sy * sy,
                                 sz * sz,
                                 -1 / (radius2 * radius2),
                                 p.radius != 0};
            rowSums[static_cast<std::size_t>(r)] = kernel(row);
        }
    });
    double sum = 0;
    for (double s : rowSums) sum += s;

    std::complex<S>& centre = gd.Row(p.centre[2] * gd.size[1] + p.centre[1])[p.centre[0]];
    const double mean = (sum - std::abs(std::complex<double>(centre))) / static_cast<double>(gd.count());
    centre = 0;
    return mean;
}

template double CrossCorrelationMask(const Block<const std::complex<float>>&, const Block<const std::complex<float>>&,
                                     const MaskParameters&, const Block<std::complex<float>>&);
template double CrossCorrelationMask(const Block<const std::complex<double>>&, const Block<const std::complex<double>>&,
                                     const MaskParameters&, const Block<std::complex<double>>&);

}  // namespace lumadex::kernels
