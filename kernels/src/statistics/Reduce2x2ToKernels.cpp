// The 2x2 reduction into real pixels of another type (lumadex/kernels/
// Statistics.h): integer images binned to float without rounding to an
// integer first, and real images binned in double.
#pragma GCC optimize("fp-contract=off")

#include <cstdint>
#include <type_traits>

#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Statistics.h"

namespace lumadex::kernels {
namespace {

// Block sums are exact: four 8- or 16-bit pixels fit 32 bits, four 32-bit
// pixels 64 bits.
template <class T>
using BlockSum = std::conditional_t<std::is_floating_point_v<T>, double,
                                    std::conditional_t<(sizeof(T) <= 2), std::int32_t, std::int64_t>>;

template <class T, class R>
[[gnu::always_inline]] inline void RowBody(const T* __restrict row0, const T* __restrict row1, R* __restrict out,
                                           std::int64_t n)
{
    using Sum = BlockSum<T>;
    for (std::int64_t x = 0; x < n; ++x) {
        Sum s = static_cast<Sum>(row0[2 * x]);
        s += static_cast<Sum>(row0[2 * x + 1]);
        s += static_cast<Sum>(row1[2 * x]);
        s += static_cast<Sum>(row1[2 * x + 1]);
        out[x] = static_cast<R>(static_cast<double>(s) * 0.25);
    }
}

template <class T, class R>
[[LUMADEX_TARGET_AVX512]] void RowAvx512(const T* row0, const T* row1, R* out, std::int64_t n)
{
    RowBody(row0, row1, out, n);
}
template <class T, class R>
[[LUMADEX_TARGET_AVX2]] void RowAvx2(const T* row0, const T* row1, R* out, std::int64_t n)
{
    RowBody(row0, row1, out, n);
}
template <class T, class R>
void RowBase(const T* row0, const T* row1, R* out, std::int64_t n)
{
    RowBody(row0, row1, out, n);
}

struct Nothing {};

}  // namespace

template <class T, class R>
void Reduce2x2To(const Block<const T>& in, const Block<R>& out)
{
    using Row = void (*)(const T*, const T*, R*, std::int64_t);
    const Row row = Pick<Row>(&RowAvx512<T, R>, &RowAvx2<T, R>, &RowBase<T, R>);
    ForEachChunk(out, Nothing{}, [&](const Chunk& chunk, Nothing&) {
        for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
            const std::int64_t y = r % out.size[1], plane = r / out.size[1];
            const std::int64_t z = plane % out.size[2], w = plane / out.size[2];
            const T* first = in.data + w * in.stride[3] + z * in.stride[2] + 2 * y * in.stride[1] + 2 * chunk.x0;
            row(first, first + in.stride[1], out.Row(r) + chunk.x0, chunk.x1 - chunk.x0);
        }
    });
}

#define LUMADEX_REDUCE_TO(T)                                                      \
    template void Reduce2x2To(const Block<const T>&, const Block<float>&);        \
    template void Reduce2x2To(const Block<const T>&, const Block<double>&);
LUMADEX_REDUCE_TO(std::int8_t)
LUMADEX_REDUCE_TO(std::uint8_t)
LUMADEX_REDUCE_TO(std::int16_t)
LUMADEX_REDUCE_TO(std::uint16_t)
LUMADEX_REDUCE_TO(std::int32_t)
LUMADEX_REDUCE_TO(std::uint32_t)
LUMADEX_REDUCE_TO(float)
LUMADEX_REDUCE_TO(double)
#undef LUMADEX_REDUCE_TO

}  // namespace lumadex::kernels
