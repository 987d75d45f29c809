#include "AffineWarp.h"

#include <stdexcept>

#include "ScriptFrame.h"
#include "WarpFrame.h"
#include "WarpSampling.h"

namespace {

using namespace zep::warp;

constexpr const char* kCoefsSize = "Size of imgCoefs should be 3x2.";

template <class T>
void AffineRow(const Grid<const T>& src, const double (&a)[3], const double (&b)[3], std::int64_t y, T fill, T* out,
               std::int64_t width)
{
    using P = Position<T>;
    const double ya = static_cast<double>(y) * a[1], yb = static_cast<double>(y) * b[1];
    const double lastX = static_cast<double>(src.size[0] - 1), lastY = static_cast<double>(src.size[1] - 1);
    const T* pixels = src.data;
    const std::int64_t pitch = src.pitch[1];
#pragma omp simd
    for (std::int64_t x = 0; x < width; ++x) {
        const double xd = static_cast<double>(x);
        const P u = static_cast<P>(xd * a[0] + ya + a[2]);
        const P v = static_cast<P>(xd * b[0] + yb + b[2]);
        // floor(u) >= 0 and floor(u) + 1 < width, and so for v; false for NaN.
        const bool inside = u >= P(0) && static_cast<double>(u) < lastX && v >= P(0) && static_cast<double>(v) < lastY;
        if (!inside) {
            out[x] = fill;
            continue;
        }
        const P fu = std::floor(u), fv = std::floor(v);
        const T* g = pixels + static_cast<std::int64_t>(fv) * pitch + static_cast<std::int64_t>(fu);
        out[x] = static_cast<T>(Bilinear(g[0], g[1], g[pitch], g[pitch + 1], u - fu, v - fv));
    }
}

}  // namespace

template <class T>
tarn::dm::image<T>& AffineWarp(const tarn::dm::image<T>& src, const tarn::dm::image<double>& coefs,
                               tarn::dm::image<T>& dst, T fill)
{
    if (coefs.size(0) < 3 || coefs.size(1) < 2) throw std::runtime_error(kCoefsSize);
    const double* row0 = coefs.data();
    const double* row1 = coefs.data() + coefs.pitch(1);
    const double a[3] = {row0[0], row0[1], row0[2]}, b[3] = {row1[0], row1[1], row1[2]};

    const Grid<T> out = GridOf(dst);
    const SourcePixels<T> pixels(src, out, 1);
    const Grid<const T>& in = pixels.grid();
    ForEachRow(out.size[1], out.size[0],
               [&](std::int64_t y) { AffineRow(in, a, b, y, fill, out.data + y * out.pitch[1], out.size[0]); });
    return dst;
}

template ZEP_EXPORT tarn::dm::image<float>& AffineWarp(const tarn::dm::image<float>&, const tarn::dm::image<double>&,
                                                       tarn::dm::image<float>&, float);
template ZEP_EXPORT tarn::dm::image<double>& AffineWarp(const tarn::dm::image<double>&,
                                                        const tarn::dm::image<double>&, tarn::dm::image<double>&,
                                                        double);

dm_object* AffineWarpDM(dm_object* imgSrc, dm_object* imgCoefs, dm_object* imgDst, std::int32_t fMean)
{
    using Gatan::DM::Image;
    return zep::ScriptCall("AffineWarpDM", [&] {
        const Image source = Image::Borrow(imgSrc);
        const Sizes sizes = SizesOf(source);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(source);
        const Image coefficients = Image::Borrow(imgCoefs);
        Image destination = imgDst ? Image::Borrow(imgDst) : Image();
        if (destination) CheckDestinationType(source, destination);
        if (Gatan::DM::ImageGetDataType(coefficients) != tarn::dm::kReal8)
            throw std::runtime_error("Data type of imgCoefs should be Real 8.");
        const Sizes coefficientSizes = SizesOf(coefficients);
        if (coefficientSizes[0] < 3 || coefficientSizes[1] < 2) throw std::runtime_error(kCoefsSize);
        if (type != tarn::dm::kReal4 && type != tarn::dm::kReal8)
            throw std::runtime_error("Image type not supported, it must be REAL");
        if (!destination) destination = CreateDestination(source, "AffineWarp of ", sizes);

        const tarn::dm::image<double> coefs(coefficients, tarn::dm::kLockDense);
        if (type == tarn::dm::kReal4) {
            const tarn::dm::image<float> src(source, tarn::dm::kLockDense);
            tarn::dm::image<float> dst(destination, tarn::dm::kLockDense);
            AffineWarp<float>(src, coefs, dst, static_cast<float>(fMean));
        } else {
            const tarn::dm::image<double> src(source, tarn::dm::kLockDense);
            tarn::dm::image<double> dst(destination, tarn::dm::kLockDense);
            AffineWarp<double>(src, coefs, dst, static_cast<double>(fMean));
        }
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}
