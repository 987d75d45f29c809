#include "lumadex/kernels/Block.h"

namespace lumadex::kernels::detail {
namespace {

std::intptr_t SpanEnd(const ByteBox& box)
{
    std::intptr_t end = box.start + box.elementBytes;
    for (int d = 0; d < box.dims; ++d) end += (box.size[d] - 1) * box.stride[d];
    return end;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Sub-areas of one image share its strides, which nest: the stride along d+1
// is the parent's size along d times the stride along d. The byte offset from
// a to b then splits into whole steps o_d along each dimension with
// |o_d| < parent size along d; at most two step counts fit each dimension, so
// the search below tries them all and asks whether the boxes [0, size_a) and
// [o, o + size_b) meet in every dimension.
bool OffsetMeets(const ByteBox& a, const ByteBox& b, int d, std::int64_t remainder)
{
    if (d < 0) return remainder == 0;
    const std::int64_t stride = a.stride[d];
    const std::int64_t first = FloorDiv(remainder, stride);
    for (std::int64_t steps = first; steps <= first + 1; ++steps) {
        if (d + 1 < a.dims && (steps >= a.stride[d + 1] / stride || -steps >= a.stride[d + 1] / stride)) continue;
        const bool meets = steps < a.size[d] && steps + b.size[d] > 0;
        if (meets && OffsetMeets(a, b, d - 1, remainder - steps * stride)) return true;
    }
    return false;
}

}  // namespace

bool ByteBoxesOverlap(const ByteBox& a, const ByteBox& b)
{
    if (SpanEnd(a) <= b.start || SpanEnd(b) <= a.start) return false;
    bool sameStrides = a.dims == b.dims && a.elementBytes == b.elementBytes && a.dims > 0;
    for (int d = 0; sameStrides && d < a.dims; ++d) {
        sameStrides = a.stride[d] > 0 && a.stride[d] == b.stride[d] && (d == 0 || a.stride[d] >= a.stride[d - 1]);
    }
    // Interleaved memory laid out some other way: refuse rather than guess.
    if (!sameStrides) return true;
    return OffsetMeets(a, b, a.dims - 1, b.start - a.start);
}

}  // namespace lumadex::kernels::detail
