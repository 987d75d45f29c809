// The 2x reduction: a new image of half the size in every dimension, each
// pixel the average of a 2, 2x2 or 2x2x2 block of the source.
//
// The pixels of a block are added one at a time, left to right, in the order
// x fastest, then y, then z: ((a + b) + c) + d for a 2x2 block. Real and
// complex images add (each part) in their own precision, so Real 4 blocks
// are summed in float; integer images in 64-bit integers, so that no block
// sum overflows. Integer averages are rounded to the nearest integer, ties
// to even, exactly and whatever the floating-point rounding mode.
#pragma GCC optimize("fp-contract=off")

#include <complex>
#include <cstdint>
#include <type_traits>

#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Statistics.h"

namespace lumadex::kernels {
namespace {

// Rounds s / 2^shift to the nearest integer, ties to even.
inline std::int64_t DivideRoundingToEven(std::int64_t s, int shift)
{
    std::int64_t q = s >> shift;  // floor
    const std::int64_t remainder = s - (q << shift), half = std::int64_t{1} << (shift - 1);
    if (remainder > half || (remainder == half && (q & 1))) ++q;
    return q;
}

// One output row: out[x] (each of its C components) averages the pixels 2x
// and 2x + 1 of each of the R input rows.
template <class S, int C, int R>
[[gnu::always_inline]] inline void ReduceRowBody(const S* const* rows, S* out, std::int64_t n)
{
    using Sum = std::conditional_t<std::is_floating_point_v<S>, S, std::int64_t>;
    const S* in[R];
    for (int r = 0; r < R; ++r) in[r] = rows[r];
    for (std::int64_t x = 0; x < n; ++x)
        for (int c = 0; c < C; ++c) {
            // Starting from the first pixel, not from 0, keeps a block of -0 at -0.
            Sum s = static_cast<Sum>(in[0][2 * C * x + c]);
            s += static_cast<Sum>(in[0][2 * C * x + C + c]);
            for (int r = 1; r < R; ++r) {
                s += static_cast<Sum>(in[r][2 * C * x + c]);
                s += static_cast<Sum>(in[r][2 * C * x + C + c]);
            }
            if constexpr (std::is_floating_point_v<S>)
                out[C * x + c] = s * static_cast<S>(0.5 / R);  // 1/2^n, multiplied in S as well
            else
                out[C * x + c] = static_cast<S>(DivideRoundingToEven(s, R == 1 ? 1 : R == 2 ? 2 : 3));
        }
}

template <class S, int C, int R>
[[LUMADEX_TARGET_AVX512]] void ReduceRowAvx512(const S* const* rows, S* out, std::int64_t n)
{
    ReduceRowBody<S, C, R>(rows, out, n);
}
template <class S, int C, int R>
[[LUMADEX_TARGET_AVX2]] void ReduceRowAvx2(const S* const* rows, S* out, std::int64_t n)
{
    ReduceRowBody<S, C, R>(rows, out, n);
}
template <class S, int C, int R>
void ReduceRowBase(const S* const* rows, S* out, std::int64_t n)
{
    ReduceRowBody<S, C, R>(rows, out, n);
}

template <class S>
using ReduceRow = void (*)(const S* const*, S*, std::int64_t);

// Real images have vectorised variants; complex and integer ones the base.
template <class S, int C, int R>
ReduceRow<S> PickReduceRow()
{
    if constexpr (std::is_floating_point_v<S> && C == 1)
        return Pick(&ReduceRowAvx512<S, C, R>, &ReduceRowAvx2<S, C, R>, &ReduceRowBase<S, C, R>);
    else
        return &ReduceRowBase<S, C, R>;
}

template <class T>
struct Components {
    using Scalar = T;
    static constexpr int kCount = 1;
};
template <class T>
struct Components<std::complex<T>> {
    using Scalar = T;
    static constexpr int kCount = 2;
};

struct Nothing {};

template <class T, int R>
void ReduceInto(const Block<const T>& in, const Block<T>& out)
{
    using S = typename Components<T>::Scalar;
    constexpr int C = Components<T>::kCount;
    const ReduceRow<S> row = PickReduceRow<S, C, R>();
    ForEachChunk(out, Nothing{}, [&](const Chunk& chunk, Nothing&) {
        for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
            const std::int64_t y = r % out.size[1], z = r / out.size[1];
            const T* first = in.data + 2 * z * in.stride[2] + 2 * y * in.stride[1] + 2 * chunk.x0;
            // The rows of the blocks: (y), (y, y + 1) or (y, y + 1) in z and z + 1.
            const S* rows[4];
            for (int k = 0; k < R; ++k)
                rows[k] = reinterpret_cast<const S*>(first + (k & 1) * in.stride[1] + (k >> 1) * in.stride[2]);
            row(rows, reinterpret_cast<S*>(out.Row(r) + chunk.x0), chunk.x1 - chunk.x0);
        }
    });
}

}  // namespace

template <class T>
void Reduce2x(const Block<const T>& in, const Block<T>& out, int dims)
{
    if (dims == 1) ReduceInto<T, 1>(in, out);
    else if (dims == 2) ReduceInto<T, 2>(in, out);
    else ReduceInto<T, 4>(in, out);
}

template void Reduce2x(const Block<const std::int8_t>&, const Block<std::int8_t>&, int);
template void Reduce2x(const Block<const std::uint8_t>&, const Block<std::uint8_t>&, int);
template void Reduce2x(const Block<const std::int16_t>&, const Block<std::int16_t>&, int);
template void Reduce2x(const Block<const std::uint16_t>&, const Block<std::uint16_t>&, int);
template void Reduce2x(const Block<const std::int32_t>&, const Block<std::int32_t>&, int);
template void Reduce2x(const Block<const std::uint32_t>&, const Block<std::uint32_t>&, int);
template void Reduce2x(const Block<const float>&, const Block<float>&, int);
template void Reduce2x(const Block<const double>&, const Block<double>&, int);
template void Reduce2x(const Block<const std::complex<float>>&, const Block<std::complex<float>>&, int);
template void Reduce2x(const Block<const std::complex<double>>&, const Block<std::complex<double>>&, int);

}  // namespace lumadex::kernels
