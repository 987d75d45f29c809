// The exported linear warps: the views as blocks, handed to the kernels.
#include "LinearWarp.h"

#include "ImageBlocks.h"
#include "lumadex/kernels/Warp.h"

namespace {

namespace kernels = lumadex::kernels;

template <class T>
using View = tarn::dm::image<T>;

// Along the axes `axes`, with factors coefs[axis].
template <class T>
View<T>& WarpAlong(const View<T>& src, unsigned axes, const double* coefs, float offset, View<T>& dst)
{
    kernels::LinearWarpBlock<T>(zep::BlockOf(src), zep::BlockOf(dst), axes, coefs, offset);
    return dst;
}

// Along one axis, with factor `coef`.
template <class T>
View<T>& WarpAlong(const View<T>& src, unsigned axis, double coef, float offset, View<T>& dst)
{
    const double coefs[3] = {coef, coef, coef};
    return WarpAlong(src, axis, coefs, offset, dst);
}

template <class T>
View<T>& WarpEveryAxis(const View<T>& src, const double* coefs, float offset, View<T>& dst)
{
    kernels::LinearWarpEveryAxisBlock<T>(zep::BlockOf(src), zep::BlockOf(dst), coefs, offset);
    return dst;
}

}  // namespace

tarn::dm::image<float>& LinearWarpX(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    return WarpAlong(src, kernels::kWarpX, fCoef, fOffset, dst);
}

tarn::dm::image<float>& LinearWarpY(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    return WarpAlong(src, kernels::kWarpY, fCoef, fOffset, dst);
}

tarn::dm::image<float>& LinearWarpZ(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                    tarn::dm::image<float>& dst)
{
    return WarpAlong(src, kernels::kWarpZ, fCoef, fOffset, dst);
}

tarn::dm::image<float>& LinearWarpXY(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                     tarn::dm::image<float>& dst)
{
    return WarpAlong(src, kernels::kWarpX | kernels::kWarpY, coefs, fOffset, dst);
}

tarn::dm::image<float>& LinearWarp(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                   tarn::dm::image<float>& dst)
{
    return WarpEveryAxis(src, coefs, fOffset, dst);
}

template <class T>
LinearWarpComplexView<T>& LinearWarpXComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    return WarpAlong(src, kernels::kWarpX, fCoef, fOffset, dst);
}

template <class T>
LinearWarpComplexView<T>& LinearWarpYComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    return WarpAlong(src, kernels::kWarpY, fCoef, fOffset, dst);
}

template <class T>
LinearWarpComplexView<T>& LinearWarpZComplex(const LinearWarpComplexView<T>& src, double fCoef, float fOffset,
                                             LinearWarpComplexView<T>& dst)
{
    return WarpAlong(src, kernels::kWarpZ, fCoef, fOffset, dst);
}

template <class T>
LinearWarpComplexView<T>& LinearWarpXYComplex(const LinearWarpComplexView<T>& src, const double* coefs,
                                              float fOffset, LinearWarpComplexView<T>& dst)
{
    return WarpAlong(src, kernels::kWarpX | kernels::kWarpY, coefs, fOffset, dst);
}

template <class T>
LinearWarpComplexView<T>& LinearWarpComplex(const LinearWarpComplexView<T>& src, const double* coefs, float fOffset,
                                            LinearWarpComplexView<T>& dst)
{
    return WarpEveryAxis(src, coefs, fOffset, dst);
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
