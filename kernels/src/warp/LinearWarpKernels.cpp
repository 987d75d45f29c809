// The linear warps' rows: gathers along x, blends of whole lines along y
// and z, and the row loop over the destination.
#include <complex>

#include "WarpSampling.h"
#include "lumadex/kernels/Warp.h"

namespace lumadex::kernels {
namespace {

using namespace warp;

enum Axes : unsigned {
    kX = kWarpX,
    kY = kWarpY,
    kZ = kWarpZ,
    kXY = kX | kY,
    kXZ = kX | kZ,
    kYZ = kY | kZ,
    kXYZ = 7
};

// One destination row's source lines along y or z: the two neighbours'
// offsets and the fraction between them (equal offsets on an axis that is
// not interpolated).
template <class P>
struct LineSample {
    std::int64_t first, second;
    P fraction;
};

// --- rows ------------------------------------------------------------------------
// `xs` samples along x (gathered); otherwise x is not warped and the lines
// are read pixel for pixel.

template <class T, class P>
LUMADEX_WARP_INLINE void GatherLinear(const T* row, const AxisSamples<P>& xs, T* out, std::int64_t n)
{
    const std::int64_t* i0 = xs.first.data();
    const std::int64_t* i1 = xs.second.data();
    const P* f = xs.fraction.data();
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x) out[x] = Linear(row[i0[x]], row[i1[x]], f[x]);
}

template <class T, class P>
LUMADEX_WARP_INLINE void BlendLinear(const T* line0, const T* line1, P f, T* out, std::int64_t n)
{
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x) out[x] = Linear(line0[x], line1[x], f);
}

template <class T, class P>
LUMADEX_WARP_INLINE void GatherBilinear(const T* row0, const T* row1, P fy, const AxisSamples<P>& xs, T* out,
                                        std::int64_t n)
{
    const std::int64_t* i0 = xs.first.data();
    const std::int64_t* i1 = xs.second.data();
    const P* f = xs.fraction.data();
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x)
        out[x] = static_cast<T>(Bilinear(row0[i0[x]], row0[i1[x]], row1[i0[x]], row1[i1[x]], f[x], fy));
}

template <class T, class P>
LUMADEX_WARP_INLINE void BlendBilinear(const T* g00, const T* g10, const T* g01, const T* g11, P fx, P fy, T* out,
                                       std::int64_t n)
{
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x) out[x] = static_cast<T>(Bilinear(g00[x], g10[x], g01[x], g11[x], fx, fy));
}

// rowJK: source row j (0 or 1 of the pair along y) in plane k (along z).
template <class T, class P>
LUMADEX_WARP_INLINE void GatherTrilinear(const T* row00, const T* row10, const T* row01, const T* row11, P fy, P fz,
                     const AxisSamples<P>& xs, T* out, std::int64_t n)
{
    const std::int64_t* i0 = xs.first.data();
    const std::int64_t* i1 = xs.second.data();
    const P* f = xs.fraction.data();
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x) {
        const auto p0 = Bilinear(row00[i0[x]], row00[i1[x]], row10[i0[x]], row10[i1[x]], f[x], fy);
        const auto p1 = Bilinear(row01[i0[x]], row01[i1[x]], row11[i0[x]], row11[i1[x]], f[x], fy);
        out[x] = Trilinear<T>(p0, p1, fz);
    }
}

// --- the warp ----------------------------------------------------------------------

template <class T>
struct ResampleJob {
    Block<const T> src;
    Block<T> dst;
    unsigned axes;
    std::int64_t extent[3];           // destination pixels written along x, y, z
    AxisSamples<Position<T>> samples[3];  // along the warped axes

    // One destination row's source lines along y or z (axis 1 or 2).
    LineSample<Position<T>> Line(int axis, std::int64_t d) const
    {
        if (axes & (1u << axis)) {
            const AxisSamples<Position<T>>& s = samples[axis];
            return {s.first[d], s.second[d], s.fraction[d]};
        }
        return {d * src.stride[axis], d * src.stride[axis], Position<T>(0)};
    }
};

template <class T>
LUMADEX_WARP_INLINE void ResampleRows(const ResampleJob<T>& job, std::int64_t begin, std::int64_t end)
{
    const std::int64_t width = job.extent[0];
    const AxisSamples<Position<T>>& xs = job.samples[0];
    const T* s = job.src.data;
    for (std::int64_t r = begin; r < end; ++r) {
        const std::int64_t y = r % job.extent[1], z = r / job.extent[1];
        T* out = job.dst.data + z * job.dst.stride[2] + y * job.dst.stride[1];
        const auto ly = job.Line(1, y), lz = job.Line(2, z);
        switch (job.axes) {
        case kX: GatherLinear(s + ly.first + lz.first, xs, out, width); break;
        case kY: BlendLinear(s + ly.first + lz.first, s + ly.second + lz.first, ly.fraction, out, width); break;
        case kZ: BlendLinear(s + ly.first + lz.first, s + ly.first + lz.second, lz.fraction, out, width); break;
        case kXY:
            GatherBilinear(s + ly.first + lz.first, s + ly.second + lz.first, ly.fraction, xs, out, width);
            break;
        case kXZ:
            GatherBilinear(s + ly.first + lz.first, s + ly.first + lz.second, lz.fraction, xs, out, width);
            break;
        case kYZ:
            BlendBilinear(s + ly.first + lz.first, s + ly.second + lz.first, s + ly.first + lz.second,
                          s + ly.second + lz.second, ly.fraction, lz.fraction, out, width);
            break;
        default:
            GatherTrilinear(s + ly.first + lz.first, s + ly.second + lz.first, s + ly.first + lz.second,
                            s + ly.second + lz.second, ly.fraction, lz.fraction, xs, out, width);
        }
    }
}

template <class T>
void ResampleRowsBaseline(const ResampleJob<T>& job, std::int64_t begin, std::int64_t end)
{
    ResampleRows(job, begin, end);
}

template <class T>
[[LUMADEX_TARGET_AVX2]] void ResampleRowsAvx2(const ResampleJob<T>& job, std::int64_t begin,
                                                      std::int64_t end)
{
    ResampleRows(job, begin, end);
}

// Resamples `src` into `dst` along `axes` (factors coefs[axis]). Along a
// warped axis every destination index is sampled; along the others the
// destination takes the source's indices, all of them, or with
// `leadingOnly` index 0 alone.
template <class T>
void Resample(const Block<const T>& src, const double* coefs, float offset, const Block<T>& dst, unsigned axes,
              bool leadingOnly)
{
    ResampleJob<T> job{};
    job.dst = dst;
    job.axes = axes;
    for (int a = 0; a < 3; ++a) {
        if (axes & (1u << a))
            job.extent[a] = dst.size[a];
        else
            job.extent[a] = leadingOnly ? 1 : std::min<std::int64_t>(src.size[a], dst.size[a]);
    }
    const SourcePixels<T> pixels(src, dst, (axes & kZ) ? src.size[2] : job.extent[2]);
    job.src = pixels.block();
    for (int a = 0; a < 3; ++a)
        if (axes & (1u << a))
            job.samples[a] =
                SampleAxis<Position<T>>(job.extent[a], coefs[a], offset, job.src.size[a], job.src.stride[a]);

    ForEachRowBlock(job.extent[1] * job.extent[2], job.extent[0], [&](std::int64_t begin, std::int64_t end, bool avx2) {
        if (avx2)
            ResampleRowsAvx2(job, begin, end);
        else
            ResampleRowsBaseline(job, begin, end);
    });
}

}  // namespace

template <class T>
void LinearWarpBlock(const Block<const T>& src, const Block<T>& dst, unsigned axes, const double* coefs, float offset)
{
    Resample(src, coefs, offset, dst, axes, false);
}

template <class T>
void LinearWarpEveryAxisBlock(const Block<const T>& src, const Block<T>& dst, const double* coefs, float offset)
{
    unsigned axes = 0;
    for (int a = 0; a < 3; ++a)
        if (src.size[a] > 1) axes |= 1u << a;
    Resample(src, coefs, offset, dst, axes ? axes : kX, true);
}

#define LUMADEX_LINEAR_WARP(T)                                                                                  \
    template void LinearWarpBlock(const Block<const T>&, const Block<T>&, unsigned, const double*, float);       \
    template void LinearWarpEveryAxisBlock(const Block<const T>&, const Block<T>&, const double*, float);
LUMADEX_LINEAR_WARP(float)
LUMADEX_LINEAR_WARP(std::complex<float>)
LUMADEX_LINEAR_WARP(std::complex<double>)
#undef LUMADEX_LINEAR_WARP

}  // namespace lumadex::kernels
