// What the warp kernels share: the interpolation forms with their precision
// rules, sample positions along an axis, a snapshot of a source that the
// destination overlaps, and the parallel row loop. Arithmetic<T> holds the
// precision rules by pixel type listed in lumadex/kernels/Warp.h.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

#include <omp.h>

#include "lumadex/kernels/Block.h"
#include "lumadex/kernels/Dispatch.h"

namespace lumadex::kernels::warp {

template <class T>
struct Arithmetic {  // float and double pixels
    using Position = T;
    using Weight = double;
    using Value = double;
    using Difference = T;
};
template <class R>
struct Arithmetic<std::complex<R>> {
    using Position = R;
    using Weight = R;
    using Value = std::complex<R>;
    using Difference = std::complex<R>;
};

template <class T>
using Position = typename Arithmetic<T>::Position;

// (1 - f)*g0 + f*g1
// The forms and the row loops are always inlined, so that each is compiled
// for the instruction set of the row function that calls it (see
// ForEachRowBlock).
#define LUMADEX_WARP_INLINE [[gnu::always_inline]] inline

template <class T>
LUMADEX_WARP_INLINE T Linear(T g0, T g1, Position<T> f)
{
    using Weight = typename Arithmetic<T>::Weight;
    using Value = typename Arithmetic<T>::Value;
    const Weight w = f;
    return static_cast<T>(Value(g0) * (Weight(1) - w) + Value(g1) * w);
}

// g00 + fx*a + fy*b + fx*fy*c with a = g10 - g00, b = g01 - g00,
// c = g11 - (b + a + g00); a, b and c in the pixel's own precision.
template <class T>
LUMADEX_WARP_INLINE typename Arithmetic<T>::Value Bilinear(T g00, T g10, T g01, T g11, Position<T> fx, Position<T> fy)
{
    using Weight = typename Arithmetic<T>::Weight;
    using Value = typename Arithmetic<T>::Value;
    using Difference = typename Arithmetic<T>::Difference;
    const Difference a = Difference(g10) - Difference(g00);
    const Difference b = Difference(g01) - Difference(g00);
    const Difference c = Difference(g11) - ((b + a) + Difference(g00));
    const Weight wx = fx, wy = fy;
    return Value(g00) + wx * Value(a) + wy * Value(b) + (wx * wy) * Value(c);
}

// P1*fz + P0*(1 - fz), of two bilinear values.
template <class T>
LUMADEX_WARP_INLINE T Trilinear(typename Arithmetic<T>::Value p0, typename Arithmetic<T>::Value p1, Position<T> fz)
{
    using Weight = typename Arithmetic<T>::Weight;
    const Weight w = fz;
    return static_cast<T>(p1 * w + p0 * (Weight(1) - w));
}

// Where each destination index along one axis samples the source: the two
// clamped neighbours (as element offsets) and the fraction between them.
// Position s = d / c - offset in double, then rounded to P; an index before
// the first pixel or past the last repeats the edge pixel.
template <class P>
struct AxisSamples {
    std::vector<std::int64_t> first, second;
    std::vector<P> fraction;
};

template <class P>
AxisSamples<P> SampleAxis(std::int64_t count, double coef, float offset, std::int64_t sourceSize, std::int64_t pitch)
{
    AxisSamples<P> samples;
    samples.first.resize(static_cast<std::size_t>(count));
    samples.second.resize(static_cast<std::size_t>(count));
    samples.fraction.resize(static_cast<std::size_t>(count));
    const std::int64_t last = sourceSize - 1;
    for (std::int64_t d = 0; d < count; ++d) {
        const P s = static_cast<P>(static_cast<double>(d) / coef - static_cast<double>(offset));
        const P floor = std::floor(s);
        P fraction = s - floor;
        // The floor is bounded before it becomes an integer: positions far
        // outside (even infinite ones) clamp like any other outside position.
        std::int64_t i;
        if (!(floor >= P(-1)))
            i = -1;
        else if (floor >= static_cast<P>(sourceSize))
            i = sourceSize;
        else
            i = static_cast<std::int64_t>(floor);
        if (fraction != fraction) fraction = 0;  // an infinite position: both neighbours are the edge pixel
        samples.first[d] = std::clamp<std::int64_t>(i, 0, last) * pitch;
        samples.second[d] = std::max<std::int64_t>(std::min(i + 1, last), 0) * pitch;
        samples.fraction[d] = fraction;
    }
    return samples;
}

// The source as the kernels read it: the block's own pixels, or, when the
// destination's pixels share memory with them (a warp into its own source),
// a dense copy of the first `planes` planes, so that no pixel is read after
// it was written. The kernels read sizes and strides along x, y and z; the
// x stride is 1, so rows are contiguous.
template <class T>
class SourcePixels {
public:
    SourcePixels(const Block<const T>& source, const Block<T>& destination, std::int64_t planes) : block_(source)
    {
        if (source.data != destination.data && !Overlap(source, destination)) return;
        const std::int64_t width = source.size[0], height = source.size[1];
        planes = std::min(planes, source.size[2]);
        copy_.resize(static_cast<std::size_t>(width * height * planes));
        for (std::int64_t z = 0; z < planes; ++z)
            for (std::int64_t y = 0; y < height; ++y)
                std::memcpy(&copy_[static_cast<std::size_t>((z * height + y) * width)],
                            source.data + z * source.stride[2] + y * source.stride[1], sizeof(T) * width);
        block_ = {copy_.data(), {width, height, planes, 1}, {1, width, width * height, width * height * planes}};
    }

    const Block<const T>& block() const { return block_; }

private:
    std::vector<T> copy_;
    Block<const T> block_;
};

// Runs rows(begin, end) over blocks of [0, rows): one block per thread of
// the plug-in's threads (a static schedule) when there is enough work to pay
// for them, else the whole range on the calling thread. Every row writes its
// own pixels only, so the result does not depend on the thread count.
// `rows` is called as rows(begin, end, avx2): the row functions come in a
// baseline and an AVX2 build (same arithmetic, no fused multiply-add, so the
// same results), and AVX2 is taken whenever the dispatch policy selects more
// than the base instruction set.
template <class Rows>
void ForEachRowBlock(std::int64_t rows, std::int64_t pixelsPerRow, const Rows& run)
{
    const bool parallel = rows > 1 && rows * pixelsPerRow >= lumadex::kernels::kWarpParallelPixels;
    const bool avx2 = lumadex::kernels::SelectedIsa() != lumadex::kernels::Isa::Base;
#pragma omp parallel if (parallel)
    {
        const std::int64_t threads = omp_get_num_threads(), thread = omp_get_thread_num();
        run(rows * thread / threads, rows * (thread + 1) / threads, avx2);
    }
}

}  // namespace lumadex::kernels::warp
