// The script handlers of the linear warps.
#include <cmath>
#include <stdexcept>

#include "LinearWarp.h"
#include "Messages.h"
#include "ScriptFrame.h"
#include "WarpFrame.h"

namespace {

namespace message = zep::message;
using Gatan::DM::Image;
using zep::warp::Sizes;

enum class Operation { X, Y, Z, XY, Full };

struct LinearWarpFrame {
    Operation operation;
    const char* counter;  // the handler's name
    const char* prefix;   // the name of a created destination, before the source's
};

// How many factors the operation takes, and whether it warps `axis` (a
// given destination must have the source's size along every other axis).
int FactorCount(Operation operation)
{
    return operation == Operation::Full ? 3 : operation == Operation::XY ? 2 : 1;
}
bool Warps(Operation operation, int axis)
{
    switch (operation) {
    case Operation::X: return axis == 0;
    case Operation::Y: return axis == 1;
    case Operation::Z: return axis == 2;
    case Operation::XY: return axis < 2;
    case Operation::Full: return true;
    }
    return false;
}
// The factor along `axis` of the factors read.
double FactorAlong(Operation operation, const double* factors, int axis)
{
    switch (operation) {
    case Operation::XY:
    case Operation::Full: return factors[axis];
    default: return factors[0];
    }
}

template <class T>
using View = tarn::dm::image<T>;

template <class T>
void Run(Operation operation, const Image& source, const double* factors, float offset, const Image& destination)
{
    const View<T> src(source, tarn::dm::kLockDense);
    View<T> dst(destination, tarn::dm::kLockDense);
    if constexpr (std::is_same_v<T, float>) {
        switch (operation) {
        case Operation::X: LinearWarpX(src, factors[0], offset, dst); break;
        case Operation::Y: LinearWarpY(src, factors[0], offset, dst); break;
        case Operation::Z: LinearWarpZ(src, factors[0], offset, dst); break;
        case Operation::XY: LinearWarpXY(src, factors, offset, dst); break;
        case Operation::Full: LinearWarp(src, factors, offset, dst); break;
        }
    } else {
        using R = typename T::value_type;
        switch (operation) {
        case Operation::X: LinearWarpXComplex<R>(src, factors[0], offset, dst); break;
        case Operation::Y: LinearWarpYComplex<R>(src, factors[0], offset, dst); break;
        case Operation::Z: LinearWarpZComplex<R>(src, factors[0], offset, dst); break;
        case Operation::XY: LinearWarpXYComplex<R>(src, factors, offset, dst); break;
        case Operation::Full: LinearWarpComplex<R>(src, factors, offset, dst); break;
        }
    }
}

// The frame of every linear warp: `fCoef` for the single-axis operations,
// `imgCoef` (Real 8, its first pixels along x) for XY and the full warp.
dm_object* RunLinearWarp(const LinearWarpFrame& frame, dm_object* imgSrc, double fCoef, dm_object* imgCoef,
                         float fOffset, dm_object* imgDst)
{
    return zep::ScriptCall(frame.counter, [&] {
        const Image source = Image::Borrow(imgSrc);
        const Sizes sizes = zep::warp::SizesOf(source);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(source);
        const int factorCount = FactorCount(frame.operation);

        Image coefficients;
        if (factorCount > 1) {
            coefficients = Image::Borrow(imgCoef);
            if (frame.operation == Operation::XY && zep::warp::SizesOf(coefficients)[0] < 2)
                throw std::runtime_error(message::kLinearCoefficientsSize);
        }
        Image destination = imgDst ? Image::Borrow(imgDst) : Image();
        if (destination) zep::warp::CheckDestinationType(source, destination);

        double factors[3] = {fCoef, fCoef, fCoef};
        if (factorCount > 1) {
            // The factors are read as Real 8 values, so any other type (of
            // smaller elements) would be read past its end.
            if (Gatan::DM::ImageGetDataType(coefficients) != tarn::dm::kReal8)
                throw std::runtime_error(message::kCoefficientsReal8);
            if (zep::warp::SizesOf(coefficients)[0] < factorCount)
                throw std::runtime_error(message::kLinearCoefficientsSize);
            const View<double> view(coefficients, tarn::dm::kLockDense);
            for (int i = 0; i < factorCount; ++i) factors[i] = view.data()[i];
        }

        if (type != tarn::dm::kReal4 && type != tarn::dm::kComplex8 && type != tarn::dm::kComplex16)
            throw std::runtime_error(message::kLinearWarpTypes);
        for (int i = 0; i < factorCount; ++i)
            if (!(std::isfinite(factors[i]) && factors[i] > 0))
                throw std::runtime_error(message::kBadScaleFactors);
        if (!std::isfinite(fOffset)) throw std::runtime_error(message::kBadOffset);

        if (destination) {
            const Sizes given = zep::warp::SizesOf(destination);
            for (int axis = 0; axis < 3; ++axis)
                if (!Warps(frame.operation, axis) && given[axis] != sizes[axis])
                    throw std::runtime_error(message::kDifferentSizes);
        } else {
            Sizes scaled = sizes;
            for (int axis = 0; axis < 3; ++axis)
                if (Warps(frame.operation, axis))
                    scaled[axis] = zep::warp::ScaledSize(sizes[axis], FactorAlong(frame.operation, factors, axis));
            destination = zep::warp::CreateDestination(source, frame.prefix, scaled);
        }

        if (type == tarn::dm::kReal4)
            Run<float>(frame.operation, source, factors, fOffset, destination);
        else if (type == tarn::dm::kComplex8)
            Run<std::complex<float>>(frame.operation, source, factors, fOffset, destination);
        else
            Run<std::complex<double>>(frame.operation, source, factors, fOffset, destination);

        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

constexpr LinearWarpFrame kX = {Operation::X, "LinearWarpXDM", "LinearWarpX of "};
constexpr LinearWarpFrame kXOffset = {Operation::X, "LinearWarpXOffsetDM", "LinearWarpX of "};
constexpr LinearWarpFrame kY = {Operation::Y, "LinearWarpYDM", "LinearWarpY of "};
constexpr LinearWarpFrame kYOffset = {Operation::Y, "LinearWarpYOffsetDM", "LinearWarpY of "};
constexpr LinearWarpFrame kZ = {Operation::Z, "LinearWarpZDM", "LinearWarpZ of "};
constexpr LinearWarpFrame kZOffset = {Operation::Z, "LinearWarpZOffsetDM", "LinearWarpZ of "};
constexpr LinearWarpFrame kXY = {Operation::XY, "LinearWarpXYDM", "LinearWarp of "};
constexpr LinearWarpFrame kXYOffset = {Operation::XY, "LinearWarpXYOffsetDM", "LinearWarp of "};
constexpr LinearWarpFrame kFull = {Operation::Full, "LinearWarpDM", "LinearWarp of "};
constexpr LinearWarpFrame kFullOffset = {Operation::Full, "LinearWarpOffsetDM", "LinearWarp of "};

}  // namespace

dm_object* LinearWarpXDM(dm_object* imgSrc, double fCoef, dm_object* imgDst)
{
    return RunLinearWarp(kX, imgSrc, fCoef, nullptr, 0.0f, imgDst);
}
dm_object* LinearWarpXOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst)
{
    return RunLinearWarp(kXOffset, imgSrc, fCoef, nullptr, fOffset, imgDst);
}
dm_object* LinearWarpYDM(dm_object* imgSrc, double fCoef, dm_object* imgDst)
{
    return RunLinearWarp(kY, imgSrc, fCoef, nullptr, 0.0f, imgDst);
}
dm_object* LinearWarpYOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst)
{
    return RunLinearWarp(kYOffset, imgSrc, fCoef, nullptr, fOffset, imgDst);
}
dm_object* LinearWarpZDM(dm_object* imgSrc, double fCoef, dm_object* imgDst)
{
    return RunLinearWarp(kZ, imgSrc, fCoef, nullptr, 0.0f, imgDst);
}
dm_object* LinearWarpZOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst)
{
    return RunLinearWarp(kZOffset, imgSrc, fCoef, nullptr, fOffset, imgDst);
}
dm_object* LinearWarpXYDM(dm_object* imgSrc, dm_object* imgCoef, dm_object* imgDst)
{
    return RunLinearWarp(kXY, imgSrc, 0.0, imgCoef, 0.0f, imgDst);
}
dm_object* LinearWarpXYOffsetDM(dm_object* imgSrc, dm_object* imgCoef, float fOffset, dm_object* imgDst)
{
    return RunLinearWarp(kXYOffset, imgSrc, 0.0, imgCoef, fOffset, imgDst);
}
dm_object* LinearWarpDM(dm_object* imgSrc, dm_object* imgCoef, dm_object* imgDst)
{
    return RunLinearWarp(kFull, imgSrc, 0.0, imgCoef, 0.0f, imgDst);
}
dm_object* LinearWarpOffsetDM(dm_object* imgSrc, dm_object* imgCoef, float fOffset, dm_object* imgDst)
{
    return RunLinearWarp(kFullOffset, imgSrc, 0.0, imgCoef, fOffset, imgDst);
}
