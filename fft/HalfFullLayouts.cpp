#include "HalfFullLayouts.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Messages.h"
#include "ScriptFrame.h"
#include "TransformImages.h"
#include "lumadex/kernels/Dispatch.h"

namespace zep {
namespace layout {
namespace {

// Below this many elements a pass is not worth forking threads for.

template <class T>
void CopyConjugated(const std::complex<T>* from, std::complex<T>* to, int count)
{
    const T* f = reinterpret_cast<const T*>(from);
    T* t = reinterpret_cast<T*>(to);
#pragma omp simd
    for (int i = 0; i < count; ++i) {
        t[2 * i] = f[2 * i];
        t[2 * i + 1] = -f[2 * i + 1];
    }
}

// a, b = conj(b), conj(a)
template <class T>
void SwapConjugated(std::complex<T>* a, std::complex<T>* b, int count)
{
    T* x = reinterpret_cast<T*>(a);
    T* y = reinterpret_cast<T*>(b);
#pragma omp simd
    for (int i = 0; i < count; ++i) {
        const T re = x[2 * i], im = x[2 * i + 1];
        x[2 * i] = y[2 * i];
        x[2 * i + 1] = -y[2 * i + 1];
        y[2 * i] = re;
        y[2 * i + 1] = -im;
    }
}

// a[c] <-> b[n - 1 - c] for two different rows.
template <class T>
void SwapReversed(std::complex<T>* a, std::complex<T>* b, int n)
{
    T* x = reinterpret_cast<T*>(a);
    T* y = reinterpret_cast<T*>(b);
#pragma omp simd
    for (int c = 0; c < n; ++c) {
        const int m = n - 1 - c;
        const T re = x[2 * c], im = x[2 * c + 1];
        x[2 * c] = y[2 * m];
        x[2 * c + 1] = y[2 * m + 1];
        y[2 * m] = re;
        y[2 * m + 1] = im;
    }
}

int Mod(int i, int n) { return ((i % n) + n) % n; }

// The point reflection (p, r, c) <-> ((dh - p) mod D, (hh - r) mod H, hw - c)
// of columns 0 ... hw, in place: each pair of rows is exchanged reversed
// once, a row that is its own partner is reversed.
template <class T>
void ReflectInPlace(std::complex<T>* data, Pitches at, int hw, int height, int depth)
{
    const int rows = height * depth;
    const int hh = height / 2, dh = depth / 2;
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * (hw + 1) > lumadex::kernels::kLayoutParallelElements)
    for (int i = 0; i < rows; ++i) {
        const int p = i / height, r = i % height;
        const int pp = Mod(dh - p, depth), rr = Mod(hh - r, height);
        const int j = pp * height + rr;
        if (j < i) continue;
        std::complex<T>* a = data + p * at.plane + r * at.row;
        if (j == i) {
            std::reverse(a, a + hw + 1);
            continue;
        }
        SwapReversed(a, data + pp * at.plane + rr * at.row, hw + 1);
    }
}

// dst[(dh - p) mod D][(hh - r) mod H][hw - c] = src[p][r][c], c = 0 ... hw.
template <class T>
void ReflectInto(const std::complex<T>* src, Pitches from, std::complex<T>* dst, Pitches to, int hw, int height,
                 int depth)
{
    const int rows = height * depth;
    const int hh = height / 2, dh = depth / 2;
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * (hw + 1) > lumadex::kernels::kLayoutParallelElements)
    for (int i = 0; i < rows; ++i) {
        const int p = i / height, r = i % height;
        const std::complex<T>* a = src + p * from.plane + r * from.row;
        std::complex<T>* b = dst + Mod(dh - p, depth) * to.plane + Mod(hh - r, height) * to.row;
        for (int c = 0; c <= hw; ++c) b[hw - c] = a[c];
    }
}

}  // namespace

template <class T>
void HalfPureToFull(const std::complex<T>* src, Pitches from, std::complex<T>* dst, Pitches to, int width,
                    int height, int depth)
{
    const int hw = width / 2, hh = height / 2, dh = depth / 2;
    // The right half (kx > 0) reads columns 1 ... (W-1)/2 and writes
    // hw+1 ... W-1, which the left half's reflection never touches.
    const int right = (width - 1) / 2;
    const int rows = height * depth;
    auto writeRight = [&](const std::complex<T>* row, int p, int r) {
        std::complex<T>* target = dst + (dh + p) % depth * to.plane + (hh + r) % height * to.row;
        if (right > 0) CopyConjugated(row + 1, target + hw + 1, right);
    };
    if (src != dst) {
        // One pass over the destination's rows, each written whole: its left
        // half reflected from one source row, its right half conjugated from
        // another.
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * width > lumadex::kernels::kLayoutParallelElements)
        for (int i = 0; i < rows; ++i) {
            const int p = i / height, r = i % height;
            std::complex<T>* target = dst + p * to.plane + r * to.row;
            const std::complex<T>* mirror = src + Mod(dh - p, depth) * from.plane + Mod(hh - r, height) * from.row;
            for (int c = 0; c <= hw; ++c) target[c] = mirror[hw - c];
            const std::complex<T>* same = src + Mod(p - dh, depth) * from.plane + Mod(r - hh, height) * from.row;
            if (right > 0) CopyConjugated(same + 1, target + hw + 1, right);
        }
        return;
    }
    // In place, one pass over the pairs of rows the reflection exchanges:
    // each row's right half is written from its left half, then the pair is
    // exchanged reversed (a row that is its own partner is reversed).
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * width > lumadex::kernels::kLayoutParallelElements)
    for (int i = 0; i < rows; ++i) {
        const int p = i / height, r = i % height;
        const int pp = Mod(dh - p, depth), rr = Mod(hh - r, height);
        const int j = pp * height + rr;
        if (j < i) continue;
        std::complex<T>* a = dst + p * to.plane + r * to.row;
        writeRight(a, p, r);
        if (j == i) {
            std::reverse(a, a + hw + 1);
            continue;
        }
        std::complex<T>* b = dst + pp * to.plane + rr * to.row;
        writeRight(b, pp, rr);
        SwapReversed(a, b, hw + 1);
    }
}

template <class T>
void FullToHalfPure(const std::complex<T>* src, Pitches from, std::complex<T>* dst, Pitches to, int width,
                    int height, int depth)
{
    // The reflection is its own inverse.
    if (src == dst)
        ReflectInPlace(dst, to, width / 2, height, depth);
    else
        ReflectInto(src, from, dst, to, width / 2, height, depth);
}

template <class T>
void ShiftRowsConjugated(const std::complex<T>* src, std::int64_t srcPitch, std::complex<T>* dst,
                         std::int64_t dstPitch, int columns, int height, int shift)
{
    const bool parallel = std::int64_t{columns} * height > lumadex::kernels::kLayoutParallelElements;
    if (src == dst && height % 2 == 0 && shift == height / 2) {
        // A shift by half the height pairs the rows: exchange each pair once.
        const int pairs = height / 2;
#pragma omp parallel for schedule(static) if (parallel)
        for (int r = 0; r < pairs; ++r) SwapConjugated(dst + r * dstPitch, dst + (r + pairs) * dstPitch, columns);
        return;
    }
    std::vector<std::complex<T>> copy;
    if (src == dst && shift != 0) {
        // Any other cyclic shift in place works from a copy of the rows.
        copy.resize(static_cast<std::size_t>(columns) * height);
        for (int r = 0; r < height; ++r)
            std::copy_n(src + r * srcPitch, columns, copy.data() + std::int64_t{r} * columns);
        src = copy.data();
        srcPitch = columns;
    }
#pragma omp parallel for schedule(static) if (parallel)
    for (int r = 0; r < height; ++r) CopyConjugated(src + r * srcPitch, dst + (r + shift) % height * dstPitch, columns);
}

#define ZEP_LAYOUT_KERNELS(T)                                                                                       \
    template void HalfPureToFull(const std::complex<T>*, Pitches, std::complex<T>*, Pitches, int, int, int);        \
    template void FullToHalfPure(const std::complex<T>*, Pitches, std::complex<T>*, Pitches, int, int, int);        \
    template void ShiftRowsConjugated(const std::complex<T>*, std::int64_t, std::complex<T>*, std::int64_t, int, int, \
                                      int);
ZEP_LAYOUT_KERNELS(float)
ZEP_LAYOUT_KERNELS(double)
#undef ZEP_LAYOUT_KERNELS

}  // namespace layout

namespace {

[[noreturn]] void ThrowSizes() { throw std::runtime_error(message::kDifferentSizes); }

template <class T>
void CheckHalfLayoutLimits(const ComplexView<T>& src, const ComplexView<T>& dst)
{
    if (src.size(2) > 1 || src.size(3) > 1) throw std::runtime_error(message::kUpTo2D);
    if (dst.size(0) < src.size(0) || dst.size(1) < src.size(1)) ThrowSizes();
}

template <class T>
void CheckFullLayoutLimits(const ComplexView<T>& src, const ComplexView<T>& dst)
{
    if (src.size(3) > 1 || dst.size(3) > 1) throw std::runtime_error(message::kUpTo3D);
}

template <class T>
ComplexView<T>& ShiftHalfRows(const ComplexView<T>& src, ComplexView<T>& dst, bool toHalf)
{
    CheckHalfLayoutLimits(src, dst);
    const int height = src.size(1);
    const int shift = toHalf ? height / 2 : height - height / 2;
    layout::ShiftRowsConjugated<T>(src.data(), src.pitch(1), dst.data(), dst.pitch(1), src.size(0), height,
                                   shift % height);
    return dst;
}

}  // namespace

template <class T>
ComplexView<T>& HalfPureToHalf(const ComplexView<T>& src, ComplexView<T>& dst)
{
    return ShiftHalfRows(src, dst, true);
}

template <class T>
ComplexView<T>& HalfToHalfPure(const ComplexView<T>& src, ComplexView<T>& dst)
{
    return ShiftHalfRows(src, dst, false);
}

template <class T>
ComplexView<T>& HalfPureToFull(const ComplexView<T>& src, ComplexView<T>& dst)
{
    CheckFullLayoutLimits(src, dst);
    const int width = dst.size(0), height = dst.size(1), depth = dst.size(2);
    if (src.size(0) < width / 2 + 1 || src.size(1) < height || src.size(2) < depth) ThrowSizes();
    layout::HalfPureToFull<T>(src.data(), layout::PitchesOf(src), dst.data(), layout::PitchesOf(dst), width, height,
                              depth);
    return dst;
}

template <class T>
ComplexView<T>& FullToHalfPure(const ComplexView<T>& src, ComplexView<T>& dst)
{
    CheckFullLayoutLimits(src, dst);
    const int width = src.size(0), height = src.size(1), depth = src.size(2);
    if (dst.size(0) < width / 2 + 1 || dst.size(1) < height || dst.size(2) < depth) ThrowSizes();
    layout::FullToHalfPure<T>(src.data(), layout::PitchesOf(src), dst.data(), layout::PitchesOf(dst), width, height,
                              depth);
    return dst;
}

template <class T>
float IsHermitian(const ComplexView<T>& spectrum, int allowance)
{
    int rank = 0;
    for (int d = 0; d < 4; ++d) rank += spectrum.size(d) > 1;
    if (rank > 3) return 0.0f;

    const int n[4] = {spectrum.size(0), spectrum.size(1), spectrum.size(2), spectrum.size(3)};
    const std::int64_t pitch[4] = {1, spectrum.pitch(1), spectrum.pitch(2), spectrum.pitch(3)};
    const std::int64_t rows = std::int64_t{n[1]} * n[2] * n[3];
    const bool parallel = rows * n[0] > (std::int64_t{1} << 15);
    const std::complex<T>* data = spectrum.data();
    auto rowStart = [&](std::int64_t y, std::int64_t z, std::int64_t e) {
        return data + y * pitch[1] + z * pitch[2] + e * pitch[3];
    };
    // The partner of index i along an axis of n: (2 (n / 2) - i) mod n.
    auto partner = [](int i, int size) { return (2 * (size / 2) - i + size) % size; };

    T largest = 0;
#pragma omp parallel for schedule(static) reduction(max : largest) if (parallel)
    for (std::int64_t row = 0; row < rows; ++row) {
        const std::complex<T>* a = rowStart(row % n[1], row / n[1] % n[2], row / n[1] / n[2]);
        for (int x = 0; x < n[0]; ++x) largest = std::max({largest, std::abs(a[x].real()), std::abs(a[x].imag())});
    }
    const T bound = static_cast<T>(2.0f * (1e-5f * static_cast<float>(largest)));

    // Each pair of partners is counted once; an element that is its own
    // partner must be real. A line leaves its self-partnered elements out.
    std::int64_t violations = 0;
#pragma omp parallel for schedule(static) reduction(+ : violations) if (parallel)
    for (std::int64_t row = 0; row < rows; ++row) {
        const int y = static_cast<int>(row % n[1]), z = static_cast<int>(row / n[1] % n[2]),
                  e = static_cast<int>(row / n[1] / n[2]);
        const int py = partner(y, n[1]), pz = partner(z, n[2]), pe = partner(e, n[3]);
        const std::int64_t partnerRow = (std::int64_t{pe} * n[2] + pz) * n[1] + py;
        if (partnerRow < row) continue;
        const std::complex<T>* a = rowStart(y, z, e);
        const std::complex<T>* b = rowStart(py, pz, pe);
        for (int x = 0; x < n[0]; ++x) {
            const int px = partner(x, n[0]);
            if (partnerRow == row && (px < x || (px == x && rank <= 1))) continue;
            if (std::abs(a[x].imag() + b[px].imag()) > bound || std::abs(a[x].real() - b[px].real()) > bound)
                ++violations;
        }
    }
    return violations > allowance ? 0.0f : 1.0f;
}

#define ZEP_LAYOUT_TEMPLATES(T)                                                                     \
    template ZEP_EXPORT ComplexView<T>& HalfPureToHalf(const ComplexView<T>&, ComplexView<T>&);     \
    template ZEP_EXPORT ComplexView<T>& HalfToHalfPure(const ComplexView<T>&, ComplexView<T>&);     \
    template ZEP_EXPORT ComplexView<T>& HalfPureToFull(const ComplexView<T>&, ComplexView<T>&);     \
    template ZEP_EXPORT ComplexView<T>& FullToHalfPure(const ComplexView<T>&, ComplexView<T>&);     \
    template ZEP_EXPORT float IsHermitian(const ComplexView<T>&, int);
ZEP_LAYOUT_TEMPLATES(float)
ZEP_LAYOUT_TEMPLATES(double)
#undef ZEP_LAYOUT_TEMPLATES

namespace {

using Gatan::DM::Image;
using Conversion = ComplexView<float>& (*)(const ComplexView<float>&, ComplexView<float>&);

// The frame of the four conversions: Complex 8 only; a destination the
// script does not give is made by `create`. A conversion of an image into
// itself runs in place on one view.
template <class Create>
dm_object* RunConversion(const char* counterName, Conversion convert, dm_object* cimSrc, dm_object* cimDst,
                         Create create)
{
    return ScriptCall(counterName, [&] {
        const Image source = Image::Borrow(cimSrc);
        const Image destination = cimDst ? Image::Borrow(cimDst) : create(source);
        if (!Gatan::DM::IsComplexDataType(source, 8) || !Gatan::DM::IsComplexDataType(destination, 8))
            throw std::runtime_error(message::kAllComplex8);
        if (source == destination) {
            ComplexView<float> view(source, tarn::dm::kLockDense);
            convert(view, view);
        } else {
            const ComplexView<float> src(source, tarn::dm::kLockDense);
            ComplexView<float> dst(destination, tarn::dm::kLockDense);
            convert(src, dst);
        }
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

Image CloneOf(const Image& source) { return Gatan::DM::ImageClone(source); }

}  // namespace

dm_object* HalfToHalfPureDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfToHalfPureDM", &HalfToHalfPure<float>, cimSrc, cimDst, CloneOf);
}

dm_object* HalfPureToHalfDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfPureToHalfDM", &HalfPureToHalf<float>, cimSrc, cimDst, CloneOf);
}

dm_object* FullToHalfPureDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::FullToHalfPureDM", &FullToHalfPure<float>, cimSrc, cimDst, [](const Image& source) {
        const Extent full = ExtentOf(source);
        return NewComplexImage("Packed " + Gatan::DM::GetName(source), 8, full[0] / 2 + 1, full[1], full[2]);
    });
}

dm_object* HalfPureToFullDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfPureToFullDM", &HalfPureToFull<float>, cimSrc, cimDst, [](const Image& source) {
        const Extent half = ExtentOf(source);
        return NewComplexImage(Gatan::DM::GetName(source), 8, RealLengthOf(half[0]), half[1], half[2]);
    });
}

float IsHermitianDM(dm_object* imgSrc)
{
    return ScriptCallOr("zep::IsHermitianDM", 0.0f, [&] {
        const Image source = Image::Borrow(imgSrc);
        // Only complex pixels can be read as a spectrum.
        if (Gatan::DM::IsComplexDataType(source, 8))
            return IsHermitian(ComplexView<float>(source, tarn::dm::kLockDense), 0);
        if (Gatan::DM::IsComplexDataType(source, 16))
            return IsHermitian(ComplexView<double>(source, tarn::dm::kLockDense), 0);
        throw std::runtime_error(message::kAllComplex8Or16);
    });
}

}  // namespace zep
