// Typed views as the kernels' strided blocks.
#pragma once

#include <cstdint>

#include "ImageUtility.h"
#include "lumadex/kernels/Block.h"

namespace zep {

// The view's pixels as a block: its sizes, and its strides in elements along
// the dimensions the lock reports (0 along the others, whose size is 1).
template <class T>
lumadex::kernels::Block<T> BlockOf(const tarn::dm::image<T>& view)
{
    lumadex::kernels::Block<T> block;
    block.data = view.data();
    for (int d = 0; d < 4; ++d) {
        block.size[d] = view.size(d);
        block.stride[d] = view.stride(d) / std::int64_t{sizeof(T)};
    }
    return block;
}

}  // namespace zep
