// Whether two views' pixels share memory, as different sub-areas of one
// host image can.
#pragma once

#include <cstdint>

#include "ImageUtility.h"

namespace zep {

namespace detail {

// Where a view's pixels lie: sizes and byte strides along the dimensions the
// lock reports, element size included.
struct PixelBox {
    std::intptr_t start = 0;
    int dims = 0;
    std::int64_t size[4] = {1, 1, 1, 1};
    std::int64_t stride[4] = {0, 0, 0, 0};
    std::int64_t elementBytes = 0;
};

bool PixelBoxesOverlap(const PixelBox& a, const PixelBox& b);

template <class T>
PixelBox BoxOf(const tarn::dm::image<T>& view)
{
    PixelBox box;
    box.start = reinterpret_cast<std::intptr_t>(view.data());
    box.elementBytes = sizeof(T);
    for (int d = 0; d < 4 && view.stride(d) != 0; ++d) {
        box.size[d] = view.size(d);
        box.stride[d] = view.stride(d);
        box.dims = d + 1;
    }
    return box;
}

}  // namespace detail

// True when `a` and `b` are different views whose pixels share at least one
// element. The same data pointer is the in-place case and does not count.
// The views may differ in element type (a complex image's real parts seen
// as one view); their memory is then compared byte range against byte range.
template <class A, class B>
bool SubareasOverlap(const tarn::dm::image<A>& a, const tarn::dm::image<B>& b)
{
    if (static_cast<const void*>(a.data()) == static_cast<const void*>(b.data())) return false;
    return detail::PixelBoxesOverlap(detail::BoxOf(a), detail::BoxOf(b));
}

}  // namespace zep
