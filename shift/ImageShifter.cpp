#include "ImageShifter.h"

#include <stdexcept>

#include "Messages.h"
#include "KernelMessages.h"
#include "SubareasOverlap.h"
#include "lumadex/kernels/Shift.h"

namespace zep {
namespace {

using lumadex::kernels::AxisShift;
using lumadex::kernels::Block;
using lumadex::kernels::Evaluation;

template <class T>
using View = tarn::dm::image<T>;

// The pixels a shift reads and writes: blocks of one shape.
template <class R>
struct Blocks {
    Block<const std::complex<R>> in;
    Block<std::complex<R>> out;
};

// The pixels of a source and destination view, after the checks that keep
// every write inside the destination.
template <class R>
Blocks<R> BlocksOf(const View<std::complex<R>>& src, View<std::complex<R>>& dst)
{
    for (int d = 0; d < 4; ++d)
        if (src.size(d) != dst.size(d))
            throw std::runtime_error(message::kDifferentSizes);
    if (SubareasOverlap(src, dst)) throw std::runtime_error(message::kSubareasOverlap);
    Blocks<R> blocks;
    blocks.in.data = src.data();
    blocks.out.data = dst.data();
    for (int d = 0; d < 4; ++d) {
        blocks.in.size[d] = blocks.out.size[d] = src.size(d);
        blocks.in.stride[d] = d == 0 ? 1 : src.pitch(d);
        blocks.out.stride[d] = d == 0 ? 1 : dst.pitch(d);
    }
    return blocks;
}

// The shift kernel, its refusals raised as the fixed messages.
template <class R>
void ShiftBlocks(const Blocks<R>& blocks, const AxisShift (&axes)[3], double fSign, Evaluation evaluation)
{
    WithKernelMessages([&] { lumadex::kernels::ShiftBlock(blocks.in, blocks.out, axes, fSign, evaluation); });
}

AxisShift Pure(int size, int period, double shift) { return {size, period, 0, shift, true}; }
AxisShift Centred(int size, int period, int centre, double shift) { return {size, period, centre, shift, false}; }

template <class R>
View<std::complex<R>>& Shift(const View<std::complex<R>>& src, View<std::complex<R>>& dst, const AxisShift& x,
                             const AxisShift& y, const AxisShift& z, double fSign,
                             Evaluation evaluation = Evaluation::Rows)
{
    const Blocks<R> blocks = BlocksOf(src, dst);
    const AxisShift axes[3] = {x, y, z};
    ShiftBlocks(blocks, axes, fSign, evaluation);
    return dst;
}

// A shift along `axis` alone: the other two axes keep their pixels (no
// shift, their own size as period, in the layout of `shifted`). Along Z the
// factor is one per plane.
template <class R>
View<std::complex<R>>& ShiftAlong(int axis, const View<std::complex<R>>& src, View<std::complex<R>>& dst,
                                  const AxisShift& shifted, double fSign)
{
    AxisShift axes[3];
    for (int a = 0; a < 3; ++a)
        axes[a] = a == axis ? shifted : AxisShift{src.size(a), src.size(a), 0, 0.0, shifted.pure};
    return Shift(src, dst, axes[0], axes[1], axes[2], fSign, axis == 2 ? Evaluation::PlaneFactor : Evaluation::Rows);
}

// The XY pointer forms' planes: D planes shifted alike.
template <class R>
Blocks<R> PlanesOf(int W, int H, int D, int strideY, int strideZ, const std::complex<R>* src, int dstStrideY,
                   int dstStrideZ, std::complex<R>* dst)
{
    Blocks<R> blocks;
    blocks.in = {src, {W, H, D, 1}, {1, strideY, strideZ, 0}};
    blocks.out = {dst, {W, H, D, 1}, {1, dstStrideY, dstStrideZ, 0}};
    return blocks;
}

}  // namespace

template <class T>
View<T>& PureImageShifter(const View<T>& src, int nOrigW, int nOrigH, int nOrigD, double fShiftX, double fShiftY,
                          double fShiftZ, double fSign, View<T>& dst)
{
    return Shift(src, dst, Pure(src.size(0), nOrigW, fShiftX), Pure(src.size(1), nOrigH, fShiftY),
                 Pure(src.size(2), nOrigD, fShiftZ), fSign);
}

template <class T>
View<T>& ImageShifter(const View<T>& src, int nOrigW, int nOrigH, int nOrigD, int nCX, int nCY, int nCZ,
                      double fShiftX, double fShiftY, double fShiftZ, double fSign, View<T>& dst)
{
    return Shift(src, dst, Centred(src.size(0), nOrigW, nCX, fShiftX), Centred(src.size(1), nOrigH, nCY, fShiftY),
                 Centred(src.size(2), nOrigD, nCZ, fShiftZ), fSign);
}

template <class T>
View<T>& PureImageShifterXY(const View<T>& src, int nOrigW, int nOrigH, double fShiftX, double fShiftY, double fSign,
                            View<T>& dst)
{
    return Shift(src, dst, Pure(src.size(0), nOrigW, fShiftX), Pure(src.size(1), nOrigH, fShiftY),
                 Pure(src.size(2), 1, 0.0), fSign);
}

template <class T>
View<T>& ImageShifterXY(const View<T>& src, int nOrigW, int nOrigH, int nCX, int nCY, double fShiftX,
                        double fShiftY, double fSign, View<T>& dst)
{
    return Shift(src, dst, Centred(src.size(0), nOrigW, nCX, fShiftX), Centred(src.size(1), nOrigH, nCY, fShiftY),
                 Centred(src.size(2), src.size(2), 0, 0.0), fSign);
}

// The single-axis shifters of one axis (X, Y or Z: `index` 0, 1 or 2).
#define ZEP_SINGLE_AXIS_SHIFTERS(Axis, index)                                                               \
    template <class T>                                                                                      \
    View<T>& PureImageShifter##Axis(const View<T>& src, int nOrig, double fShift, double fSign, View<T>& dst) \
    {                                                                                                       \
        return ShiftAlong(index, src, dst, Pure(src.size(index), nOrig, fShift), fSign);                    \
    }                                                                                                       \
    template <class T>                                                                                      \
    View<T>& ImageShifter##Axis(const View<T>& src, int nOrig, int nC, double fShift, double fSign,          \
                                View<T>& dst)                                                               \
    {                                                                                                       \
        return ShiftAlong(index, src, dst, Centred(src.size(index), nOrig, nC, fShift), fSign);             \
    }
ZEP_SINGLE_AXIS_SHIFTERS(X, 0)
ZEP_SINGLE_AXIS_SHIFTERS(Y, 1)
ZEP_SINGLE_AXIS_SHIFTERS(Z, 2)
#undef ZEP_SINGLE_AXIS_SHIFTERS

template <class R>
void PureImageShifterXY(int W, int H, int D, int strideY, int strideZ, const std::complex<R>* src, int nOrigW,
                        int nOrigH, double fShiftX, double fShiftY, double fSign, int dstStrideY, int dstStrideZ,
                        std::complex<R>* dst)
{
    const AxisShift axes[3] = {Pure(W, nOrigW, fShiftX), Pure(H, nOrigH, fShiftY), Pure(D, 1, 0.0)};
    ShiftBlocks(PlanesOf(W, H, D, strideY, strideZ, src, dstStrideY, dstStrideZ, dst), axes, fSign, Evaluation::Rows);
}

template <class R>
void ImageShifterXY(int W, int H, int D, int strideY, int strideZ, const std::complex<R>* src, int nOrigW, int nOrigH,
                    int nCX, int nCY, double fShiftX, double fShiftY, double fSign, int dstStrideY, int dstStrideZ,
                    std::complex<R>* dst)
{
    const AxisShift axes[3] = {Centred(W, nOrigW, nCX, fShiftX), Centred(H, nOrigH, nCY, fShiftY),
                               Centred(D, D, 0, 0.0)};
    ShiftBlocks(PlanesOf(W, H, D, strideY, strideZ, src, dstStrideY, dstStrideZ, dst), axes, fSign, Evaluation::Rows);
}

#define ZEP_SHIFTER_INSTANCES(T)                                                                                 \
    template ZEP_EXPORT View<T>& PureImageShifter(const View<T>&, int, int, int, double, double, double, double,  \
                                                  View<T>&);                                                    \
    template ZEP_EXPORT View<T>& ImageShifter(const View<T>&, int, int, int, int, int, int, double, double,       \
                                              double, double, View<T>&);                                        \
    template ZEP_EXPORT View<T>& PureImageShifterXY(const View<T>&, int, int, double, double, double, View<T>&);  \
    template ZEP_EXPORT View<T>& ImageShifterXY(const View<T>&, int, int, int, int, double, double, double,       \
                                                View<T>&);                                                      \
    template ZEP_EXPORT View<T>& PureImageShifterX(const View<T>&, int, double, double, View<T>&);                \
    template ZEP_EXPORT View<T>& ImageShifterX(const View<T>&, int, int, double, double, View<T>&);               \
    template ZEP_EXPORT View<T>& PureImageShifterY(const View<T>&, int, double, double, View<T>&);                \
    template ZEP_EXPORT View<T>& ImageShifterY(const View<T>&, int, int, double, double, View<T>&);               \
    template ZEP_EXPORT View<T>& PureImageShifterZ(const View<T>&, int, double, double, View<T>&);                \
    template ZEP_EXPORT View<T>& ImageShifterZ(const View<T>&, int, int, double, double, View<T>&);

ZEP_SHIFTER_INSTANCES(std::complex<float>)
ZEP_SHIFTER_INSTANCES(std::complex<double>)

#define ZEP_SHIFTER_POINTER_INSTANCES(R)                                                                          \
    template ZEP_EXPORT void PureImageShifterXY(int, int, int, int, int, const std::complex<R>*, int, int, double, \
                                                double, double, int, int, std::complex<R>*);                     \
    template ZEP_EXPORT void ImageShifterXY(int, int, int, int, int, const std::complex<R>*, int, int, int, int,   \
                                            double, double, double, int, int, std::complex<R>*);

ZEP_SHIFTER_POINTER_INSTANCES(float)
ZEP_SHIFTER_POINTER_INSTANCES(double)

}  // namespace zep
