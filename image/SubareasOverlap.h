// Whether two views' pixels share memory, as different sub-areas of one
// host image can.
#pragma once

#include "ImageBlocks.h"

namespace zep {

// True when `a` and `b` are different views whose pixels share at least one
// element. The same data pointer is the in-place case and does not count.
// The views may differ in element type (a complex image's real parts seen
// as one view); their memory is then compared byte range against byte range.
template <class A, class B>
bool SubareasOverlap(const tarn::dm::image<A>& a, const tarn::dm::image<B>& b)
{
    return lumadex::kernels::Overlap(BlockOf(a), BlockOf(b));
}

}  // namespace zep
