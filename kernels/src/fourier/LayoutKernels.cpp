// The storage layouts of a real image's spectrum: conversions between
// them, and the test for Hermitian symmetry.
#include <algorithm>
#include <cmath>
#include <vector>

#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Fourier.h"

namespace lumadex::kernels {
namespace {

// The row and plane strides of a complex block, in elements.
struct Strides {
    std::int64_t row;
    std::int64_t plane;
};

template <class E>
Strides StridesOf(const Block<E>& block)
{
    return {block.stride[1], block.stride[2]};
}


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
void ReflectInPlace(const Block<std::complex<T>>& block, int hw, int height, int depth)
{
    std::complex<T>* data = block.data;
    const Strides at = StridesOf(block);
    const int rows = height * depth;
    const int hh = height / 2, dh = depth / 2;
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * (hw + 1) > kLayoutParallelElements)
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
void ReflectInto(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int hw, int height,
                 int depth)
{
    const std::complex<T>* src = in.data;
    std::complex<T>* dst = out.data;
    const Strides from = StridesOf(in), to = StridesOf(out);
    const int rows = height * depth;
    const int hh = height / 2, dh = depth / 2;
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * (hw + 1) > kLayoutParallelElements)
    for (int i = 0; i < rows; ++i) {
        const int p = i / height, r = i % height;
        const std::complex<T>* a = src + p * from.plane + r * from.row;
        std::complex<T>* b = dst + Mod(dh - p, depth) * to.plane + Mod(hh - r, height) * to.row;
        for (int c = 0; c <= hw; ++c) b[hw - c] = a[c];
    }
}

}  // namespace

template <class T>
void HalfPureToFull(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int width, int height,
                    int depth)
{
    const std::complex<T>* src = in.data;
    std::complex<T>* dst = out.data;
    const Strides from = StridesOf(in), to = StridesOf(out);
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
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * width > kLayoutParallelElements)
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
#pragma omp parallel for schedule(static) if (std::int64_t{rows} * width > kLayoutParallelElements)
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
void FullToHalfPure(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int width,
                    int height, int depth)
{
    // The reflection is its own inverse.
    if (in.data == out.data)
        ReflectInPlace(out, width / 2, height, depth);
    else
        ReflectInto(in, out, width / 2, height, depth);
}

template <class T>
void ShiftRowsConjugated(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int columns,
                         int height, int shift)
{
    const std::complex<T>* src = in.data;
    std::int64_t srcPitch = in.stride[1];
    std::complex<T>* dst = out.data;
    const std::int64_t dstPitch = out.stride[1];
    const bool parallel = std::int64_t{columns} * height > kLayoutParallelElements;
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

template <class T>
bool IsHermitian(const Block<const std::complex<T>>& spectrum, int allowance)
{
    int rank = 0;
    for (int d = 0; d < 4; ++d) rank += spectrum.size[d] > 1;
    if (rank > 3) return false;

    const int n[4] = {static_cast<int>(spectrum.size[0]), static_cast<int>(spectrum.size[1]),
                      static_cast<int>(spectrum.size[2]), static_cast<int>(spectrum.size[3])};
    const std::int64_t pitch[4] = {1, spectrum.stride[1], spectrum.stride[2], spectrum.stride[3]};
    const std::int64_t rows = std::int64_t{n[1]} * n[2] * n[3];
    const bool parallel = rows * n[0] > (std::int64_t{1} << 15);
    const std::complex<T>* data = spectrum.data;
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
    return violations <= allowance;
}

#define LUMADEX_LAYOUT_KERNELS(T)                                                                                 \
    template void HalfPureToFull(const Block<const std::complex<T>>&, const Block<std::complex<T>>&, int, int, int); \
    template void FullToHalfPure(const Block<const std::complex<T>>&, const Block<std::complex<T>>&, int, int, int); \
    template void ShiftRowsConjugated(const Block<const std::complex<T>>&, const Block<std::complex<T>>&, int, int,   \
                                      int);                                                                         \
    template bool IsHermitian(const Block<const std::complex<T>>&, int);
LUMADEX_LAYOUT_KERNELS(float)
LUMADEX_LAYOUT_KERNELS(double)
#undef LUMADEX_LAYOUT_KERNELS

}  // namespace lumadex::kernels
