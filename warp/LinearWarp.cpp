#include "LinearWarp.h"

#include "WarpSampling.h"

namespace {

using namespace zep::warp;

enum Axes : unsigned { kX = 1, kY = 2, kZ = 4, kXY = kX | kY, kXZ = kX | kZ, kYZ = kY | kZ, kXYZ = 7 };

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
    Grid<const T> src;
    Grid<T> dst;
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
        return {d * src.pitch[axis], d * src.pitch[axis], Position<T>(0)};
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
        T* out = job.dst.data + z * job.dst.pitch[2] + y * job.dst.pitch[1];
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
void Resample(const tarn::dm::image<T>& srcView, const double* coefs, float offset, tarn::dm::image<T>& dstView,
              unsigned axes, bool leadingOnly)
{
    ResampleJob<T> job{};
    job.dst = GridOf(dstView);
    job.axes = axes;
    for (int a = 0; a < 3; ++a) {
        if (axes & (1u << a))
            job.extent[a] = job.dst.size[a];
        else
            job.extent[a] = leadingOnly ? 1 : std::min<std::int64_t>(srcView.size(a), job.dst.size[a]);
    }
    const SourcePixels<T> pixels(srcView, job.dst, (axes & kZ) ? srcView.size(2) : job.extent[2]);
    job.src = pixels.grid();
    for (int a = 0; a < 3; ++a)
        if (axes & (1u << a))
            job.samples[a] =
                SampleAxis<Position<T>>(job.extent[a], coefs[a], offset, job.src.size[a], job.src.pitch[a]);

    ForEachRowBlock(job.extent[1] * job.extent[2], job.extent[0], [&](std::int64_t begin, std::int64_t end, bool avx2) {
        if (avx2)
            ResampleRowsAvx2(job, begin, end);
        else
            ResampleRowsBaseline(job, begin, end);
    });
}

template <class T>
void ResampleAlong(const tarn::dm::image<T>& src, unsigned axis, double coef, float offset, tarn::dm::image<T>& dst)
{
    const double coefs[3] = {coef, coef, coef};
    Resample(src, coefs, offset, dst, axis, false);
}

// The axes of the source longer than one pixel (x when there is none).
template <class T>
void ResampleEveryAxis(const tarn::dm::image<T>& src, const double* coefs, float offset, tarn::dm::image<T>& dst)
{
    unsigned axes = 0;
    for (int a = 0; a < 3; ++a)
        if (src.size(a) > 1) axes |= 1u << a;
    Resample(src, coefs, offset, dst, axes ? axes : kX, true);
}

}  // namespace

tarn::dm::image<float>& LinearWarpX(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    ResampleAlong(src, kX, fCoef, fOffset, dst);
    return dst;
}

tarn::dm::image<float>& LinearWarpY(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    ResampleAlong(src, kY, fCoef, fOffset, dst);
    return dst;
}

tarn::dm::image<float>& LinearWarpZ(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    ResampleAlong(src, kZ, fCoef, fOffset, dst);
    return dst;
}

tarn::dm::image<float>& LinearWarpXY(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                     tarn::dm::image<float>& dst)
{
    Resample(src, coefs, fOffset, dst, kXY, false);
    return dst;
}

tarn::dm::image<float>& LinearWarp(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                   tarn::dm::image<float>& dst)
{
    ResampleEveryAxis(src, coefs, fOffset, dst);
    return dst;
}

template <class T>
LinearWarpComplexView<T>& LinearWarpXComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    ResampleAlong(src, kX, fCoef, fOffset, dst);
    return dst;
}

template <class T>
LinearWarpComplexView<T>& LinearWarpYComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    ResampleAlong(src, kY, fCoef, fOffset, dst);
    return dst;
}

template <class T>
LinearWarpComplexView<T>& LinearWarpZComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    ResampleAlong(src, kZ, fCoef, fOffset, dst);
    return dst;
}

template <class T>
LinearWarpComplexView<T>& LinearWarpXYComplex(const LinearWarpComplexView<T>& src, const double* coefs,
                                              float fOffset, LinearWarpComplexView<T>& dst)
{
    Resample(src, coefs, fOffset, dst, kXY, false);
    return dst;
}

template <class T>
LinearWarpComplexView<T>& LinearWarpComplex(const LinearWarpComplexView<T>& src, const double* coefs, float fOffset,
                                            LinearWarpComplexView<T>& dst)
{
    ResampleEveryAxis(src, coefs, fOffset, dst);
    return dst;
}

#define LUMADEX_LINEAR_WARP_COMPLEX(T)                                                                            \
    template ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpXComplex(const LinearWarpComplexView<T>&, double, float, \
                                                                     LinearWarpComplexView<T>&);                   \
    template ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpYComplex(const LinearWarpComplexView<T>&, double, float, \
                                                                     LinearWarpComplexView<T>&);                   \
    template ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpZComplex(const LinearWarpComplexView<T>&, double, float, \
                                                                     LinearWarpComplexView<T>&);                   \
    template ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpXYComplex(const LinearWarpComplexView<T>&,              \
                                                                      const double*, float,                         \
                                                                      LinearWarpComplexView<T>&);                   \
    template ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpComplex(const LinearWarpComplexView<T>&, const double*,  \
                                                                    float, LinearWarpComplexView<T>&);
LUMADEX_LINEAR_WARP_COMPLEX(float)
LUMADEX_LINEAR_WARP_COMPLEX(double)
#undef LUMADEX_LINEAR_WARP_COMPLEX
