// Views as the Fourier kernels' blocks.
#pragma once

#include <complex>
#include <cstdint>

#include "ImageBlocks.h"

namespace zep {

// The view's pixels as a block whose strides are the view's pitches (1
// along x): a dimension the image lacks keeps its dense pitch, as the
// descriptors are given it.
template <class E>
lumadex::kernels::Block<E> TransformBlockOf(const tarn::dm::image<E>& view)
{
    lumadex::kernels::Block<E> block = BlockOf(view);
    block.stride[0] = 1;
    for (int d = 1; d < 4; ++d) block.stride[d] = view.pitch(d);
    return block;
}

// A real view as a block of reals, or a complex view's real parts (strides
// counted in reals).
template <class T, class E>
lumadex::kernels::Block<T> RealsOf(const tarn::dm::image<E>& view)
{
    constexpr std::int64_t ratio = sizeof(E) / sizeof(T);
    const lumadex::kernels::Block<E> pixels = TransformBlockOf(view);
    lumadex::kernels::Block<T> reals{reinterpret_cast<T*>(pixels.data)};
    for (int d = 0; d < 4; ++d) {
        reals.size[d] = pixels.size[d];
        reals.stride[d] = pixels.stride[d] * ratio;
    }
    return reals;
}

}  // namespace zep
