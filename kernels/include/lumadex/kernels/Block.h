// A strided block of elements: the one geometry the kernels take.
//
// A block is a pointer, up to four sizes (x first; an unused dimension has
// size 1) and the distance between neighbours along each dimension, in
// elements. Its rows are numbered in scan order (y fastest, then z, then the
// fourth dimension); row r holds size[0] elements and starts RowOffset(r)
// elements after `data`. Every element has a rank, its index in that scan
// order: r * size[0] + x.
#pragma once

#include <cstdint>
#include <type_traits>

namespace lumadex::kernels {

template <class T>
struct Block {
    T* data = nullptr;
    std::int64_t size[4] = {1, 1, 1, 1};
    std::int64_t stride[4] = {1, 0, 0, 0};  // in elements

    std::int64_t rows() const { return size[1] * size[2] * size[3]; }
    std::int64_t count() const { return size[0] * rows(); }

    // Elements from `data` to the first element of row r.
    std::int64_t RowOffset(std::int64_t r) const
    {
        const std::int64_t y = r % size[1];
        r /= size[1];
        return (r / size[2]) * stride[3] + (r % size[2]) * stride[2] + y * stride[1];
    }
    T* Row(std::int64_t r) const { return data + RowOffset(r); }

    // True when the elements follow one another in scan order without gaps.
    bool dense() const
    {
        return (size[0] == 1 || stride[0] == 1) && (size[1] == 1 || stride[1] == size[0]) &&
               (size[2] == 1 || stride[2] == size[0] * size[1]) &&
               (size[3] == 1 || stride[3] == size[0] * size[1] * size[2]);
    }

    // The same elements as one row, for a dense block.
    Block Flattened() const
    {
        const std::int64_t n = count();
        return Block{data, {n, 1, 1, 1}, {1, n, n, n}};
    }

    operator Block<const T>() const
        requires(!std::is_const_v<T>)
    {
        return Block<const T>{data, {size[0], size[1], size[2], size[3]},
                              {stride[0], stride[1], stride[2], stride[3]}};
    }
};

namespace detail {

// Where a block's elements lie, in bytes: the leading `dims` dimensions are
// those with a non-zero stride.
struct ByteBox {
    std::intptr_t start = 0;
    int dims = 0;
    std::int64_t size[4] = {1, 1, 1, 1};
    std::int64_t stride[4] = {0, 0, 0, 0};
    std::int64_t elementBytes = 0;
};

bool ByteBoxesOverlap(const ByteBox& a, const ByteBox& b);

template <class T>
ByteBox ByteBoxOf(const Block<T>& block)
{
    ByteBox box;
    box.start = reinterpret_cast<std::intptr_t>(block.data);
    box.elementBytes = sizeof(T);
    for (int d = 0; d < 4 && block.stride[d] != 0; ++d) {
        box.size[d] = block.size[d];
        box.stride[d] = block.stride[d] * std::int64_t{sizeof(T)};
        box.dims = d + 1;
    }
    return box;
}

}  // namespace detail

// True when `a` and `b` are different blocks whose elements share at least
// one byte. The same data pointer is the in-place case and does not count.
// The blocks may differ in element type (a complex image's real parts seen
// as one block); their memory is then compared byte range against byte
// range. Blocks that share memory with strides of another layout count as
// overlapping.
template <class A, class B>
bool Overlap(const Block<A>& a, const Block<B>& b)
{
    if (static_cast<const void*>(a.data) == static_cast<const void*>(b.data)) return false;
    return detail::ByteBoxesOverlap(detail::ByteBoxOf(a), detail::ByteBoxOf(b));
}

// True when a pass over `n` elements is long enough to pay for forking
// threads: at least `threshold` (one of the thresholds in Dispatch.h).
inline bool WorthThreads(std::int64_t n, std::int64_t threshold) { return n >= threshold; }

}  // namespace lumadex::kernels
