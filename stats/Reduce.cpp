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

#include "ImageBlocks.h"
#include "ScriptFrame.h"
#include "Statistics.h"
#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"

namespace zep::stats {
namespace {

using Gatan::DM::Image;
using lumadex::kernels::Block;
using lumadex::kernels::Chunk;
using lumadex::kernels::ForEachChunk;
using lumadex::kernels::Pick;

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
void ReduceInto(const tarn::dm::image<T>& source, tarn::dm::image<T>& result)
{
    using S = typename Components<T>::Scalar;
    constexpr int C = Components<T>::kCount;
    const ReduceRow<S> row = PickReduceRow<S, C, R>();
    const Block<const T> in = BlockOf(source);
    const Block<T> out = BlockOf(result);
    ForEachChunk(out, Nothing{}, [&](const Chunk& chunk, Nothing&) {
        for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
            const std::int64_t y = r % out.size[1], z = r / out.size[1];
            const T* first = source.data() + 2 * z * in.stride[2] + 2 * y * in.stride[1] + 2 * chunk.x0;
            // The rows of the blocks: (y), (y, y + 1) or (y, y + 1) in z and z + 1.
            const S* rows[4];
            for (int k = 0; k < R; ++k)
                rows[k] = reinterpret_cast<const S*>(first + (k & 1) * in.stride[1] + (k >> 1) * in.stride[2]);
            row(rows, reinterpret_cast<S*>(result.data() + out.RowOffset(r) + chunk.x0), chunk.x1 - chunk.x0);
        }
    });
}

template <class T>
void Fill(const Image& source, const Image& result, std::uint32_t dims)
{
    // The source where it lies (a sub-area with its parent's pitches); the
    // new result is dense.
    const tarn::dm::image<T> src(source, tarn::dm::kLockInPlace);
    tarn::dm::image<T> dst(result, tarn::dm::kLockDense);
    if (dims == 1) ReduceInto<T, 1>(src, dst);
    else if (dims == 2) ReduceInto<T, 2>(src, dst);
    else ReduceInto<T, 4>(src, dst);
}

// Origin halved, scale doubled, units kept; empty units take the units last
// copied for a lower dimension.
void CopyCalibration(const Image& source, const Image& result, std::uint32_t dims)
{
    std::string units;
    for (std::uint32_t d = 0; d < dims; ++d) {
        Gatan::DM::DimensionCalibration calibration =
            Gatan::DM::ImageGetDimensionCalibration(source, static_cast<std::int32_t>(d));
        calibration.origin *= 0.5f;
        calibration.scale *= 2.0f;
        if (calibration.units.empty())
            calibration.units = units;
        else
            units = calibration.units;
        Gatan::DM::ImageSetDimensionCalibration(result, static_cast<std::int32_t>(d), calibration);
    }
}

}  // namespace

dm_object* ReduceDM(dm_object* imgSrc)
{
    // Not timed and not counted; refusals return null without a message.
    return ScriptCall(nullptr, [&]() -> Image {
        const Image source = Image::Borrow(imgSrc);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(source);
        const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(source);
        if (dims < 1 || dims > 3) return {};
        std::uint32_t halves[3];
        for (std::uint32_t d = 0; d < dims; ++d) {
            halves[d] = Gatan::DM::ImageGetDimensionSize(source, d) / 2;
            if (halves[d] == 0) return {};  // a dimension of one pixel has no block to average
        }

        using namespace tarn::dm;
        void (*fill)(const Image&, const Image&, std::uint32_t) = nullptr;
        switch (type) {
        case kInt8: fill = &Fill<std::int8_t>; break;
        case kUInt8: fill = &Fill<std::uint8_t>; break;
        case kInt16: fill = &Fill<std::int16_t>; break;
        case kUInt16: fill = &Fill<std::uint16_t>; break;
        case kInt32: fill = &Fill<std::int32_t>; break;
        case kUInt32: fill = &Fill<std::uint32_t>; break;
        case kReal4: fill = &Fill<float>; break;
        case kReal8: fill = &Fill<double>; break;
        case kComplex8: fill = &Fill<std::complex<float>>; break;
        case kComplex16: fill = &Fill<std::complex<double>>; break;
        default: return {};
        }
        Image result = Gatan::DM::NewImage("", type, dims, halves);
        fill(source, result, dims);
        CopyCalibration(source, result, dims);
        Gatan::DM::ImageDataChanged(result);
        return result;
    });
}

}  // namespace zep::stats
