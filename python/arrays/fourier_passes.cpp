#include "fourier_passes.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace lumadex::arrays {
namespace {

using kernels::Block;
using kernels::Exponent;
using kernels::FourierAxes;

constexpr std::size_t kBlockDims = 4;  // dimensions of a block, and axes of one kernel call

// A dimension a pass steps through: its positions and its stride on each side.
struct BatchDim {
    std::int64_t size, in, out;
};

template <class E>
Strided<const E> ReadOnly(const Strided<E>& side)
{
    return {side.data, side.size, side.stride};
}

template <class E>
bool Empty(const Strided<E>& side)
{
    return std::find(side.size.begin(), side.size.end(), 0) != side.size.end();
}

std::vector<int> Part(const std::vector<int>& axes, std::size_t begin, std::size_t end)
{
    return {axes.begin() + static_cast<std::ptrdiff_t>(begin), axes.begin() + static_cast<std::ptrdiff_t>(end)};
}

// The dimensions outside `axes` with more than one position, outermost
// first (by the output's strides, then the input's), neighbours that tile
// each other on both sides merged: a C-ordered batch of any rank is one.
template <class In, class Out>
std::vector<BatchDim> BatchDims(const Strided<In>& in, const Strided<Out>& out, const std::vector<int>& axes)
{
    std::vector<BatchDim> dims;
    for (std::size_t d = 0; d < in.size.size(); ++d)
        if (in.size[d] > 1 && std::find(axes.begin(), axes.end(), static_cast<int>(d)) == axes.end())
            dims.push_back({in.size[d], in.stride[d], out.stride[d]});
    std::stable_sort(dims.begin(), dims.end(), [](const BatchDim& a, const BatchDim& b) {
        return std::make_pair(std::llabs(a.out), std::llabs(a.in)) > std::make_pair(std::llabs(b.out), std::llabs(b.in));
    });
    std::vector<BatchDim> merged;
    for (const BatchDim& d : dims) {
        BatchDim* outer = merged.empty() ? nullptr : &merged.back();
        if (outer && outer->in == d.in * d.size && outer->out == d.out * d.size)
            *outer = {outer->size * d.size, d.in, d.out};
        else
            merged.push_back(d);
    }
    return merged;
}

// One pass: kernel(in block, out block, block axes) over the whole arrays.
// The block's dimensions are the innermost batch dimensions that fit (the
// innermost first: the kernel makes it the descriptor's batch), then the
// pass's axes in their order; the outer batch dimensions are stepped here.
template <class In, class Out, class Kernel>
void RunPass(const Strided<In>& in, const Strided<Out>& out, const std::vector<int>& axes, Kernel&& kernel)
{
    if (Empty(in) || Empty(out)) return;
    const std::vector<BatchDim> batch = BatchDims(in, out, axes);
    const std::size_t inner = std::min(batch.size(), kBlockDims - axes.size());
    const std::size_t outer = batch.size() - inner;

    Block<In> from;
    Block<Out> to;
    FourierAxes blockAxes;
    int b = 0;
    for (std::size_t k = 0; k < inner; ++k, ++b) {
        const BatchDim& d = batch[batch.size() - 1 - k];
        from.size[b] = to.size[b] = d.size;
        from.stride[b] = d.in;
        to.stride[b] = d.out;
    }
    for (const int a : axes) {
        from.size[b] = in.size[a];
        to.size[b] = out.size[a];
        from.stride[b] = in.stride[a];
        to.stride[b] = out.stride[a];
        blockAxes.dims[blockAxes.count++] = b++;
    }

    std::int64_t positions = 1;
    for (std::size_t k = 0; k < outer; ++k) positions *= batch[k].size;
    for (std::int64_t p = 0; p < positions; ++p) {
        std::int64_t rest = p, inOffset = 0, outOffset = 0;
        for (std::size_t k = outer; k-- > 0;) {
            const std::int64_t index = rest % batch[k].size;
            rest /= batch[k].size;
            inOffset += index * batch[k].in;
            outOffset += index * batch[k].out;
        }
        from.data = in.data + inOffset;
        to.data = out.data + outOffset;
        kernel(from, to, blockAxes);
    }
}

// The axes in the order a descriptor takes its lengths, slowest first (by
// the input's strides), but for the halved axis of a real transform, which
// stays last.
template <class E>
std::vector<int> SlowestFirst(std::vector<int> axes, const Strided<E>& in, bool keepLast)
{
    std::stable_sort(axes.begin(), axes.end() - (keepLast ? 1 : 0),
                     [&](int a, int b) { return std::llabs(in.stride[a]) > std::llabs(in.stride[b]); });
    return axes;
}

}  // namespace

template <class T>
void ComplexTransform(const Strided<const std::complex<T>>& in, const Strided<std::complex<T>>& out,
                      const std::vector<int>& given, Exponent exponent, T scale)
{
    // Four axes a pass; the passes after the first run in place on `out`.
    const std::vector<int> axes = SlowestFirst(given, in, false);
    for (std::size_t first = 0; first < axes.size(); first += kBlockDims) {
        const T passScale = first == 0 ? scale : T(1);
        RunPass(first == 0 ? in : ReadOnly(out), out, Part(axes, first, std::min(axes.size(), first + kBlockDims)),
                [&](const Block<const std::complex<T>>& from, const Block<std::complex<T>>& to,
                    const FourierAxes& along) { kernels::ComplexFourier<T>(from, to, along, exponent, passScale); });
    }
}

template <class T>
void RealForwardTransform(const Strided<const T>& in, const Strided<std::complex<T>>& out,
                          const std::vector<int>& given, T scale)
{
    // The halved axis and up to three others from real to complex; the
    // rest complex to complex, in place on the half spectrum.
    const std::vector<int> axes = SlowestFirst(given, in, true);
    const std::size_t split = axes.size() > kBlockDims ? axes.size() - kBlockDims : 0;
    RunPass(in, out, Part(axes, split, axes.size()),
            [&](const Block<const T>& from, const Block<std::complex<T>>& to, const FourierAxes& along) {
                kernels::RealForward<T>(from, to, along, scale);
            });
    if (split > 0) ComplexTransform<T>(ReadOnly(out), out, Part(axes, 0, split), Exponent::Negative, T(1));
}

template <class T>
void RealInverseTransform(const Strided<const std::complex<T>>& in, const Strided<T>& out,
                          const std::vector<int>& given, T scale)
{
    const std::vector<int> axes = SlowestFirst(given, in, true);
    const std::size_t split = axes.size() > kBlockDims ? axes.size() - kBlockDims : 0;
    auto toReal = [&](const Strided<const std::complex<T>>& spectrum) {
        RunPass(spectrum, out, Part(axes, split, axes.size()),
                [&](const Block<const std::complex<T>>& from, const Block<T>& to, const FourierAxes& along) {
                    kernels::RealInverse<T>(from, to, along, scale);
                });
    };
    if (split == 0) return toReal(in);

    // More axes than one call takes: the leading ones complex to complex
    // into a dense buffer first (the input stays as it is).
    Strided<std::complex<T>> buffer{nullptr, in.size, std::vector<std::int64_t>(in.size.size())};
    std::int64_t count = 1;
    for (std::size_t d = in.size.size(); d-- > 0;) {
        buffer.stride[d] = count;
        count *= in.size[d];
    }
    std::vector<std::complex<T>> memory(static_cast<std::size_t>(count));
    buffer.data = memory.data();
    ComplexTransform<T>(in, buffer, Part(axes, 0, split), Exponent::Positive, T(1));
    toReal(ReadOnly(buffer));
}

#define LUMADEX_ARRAY_TRANSFORMS(T)                                                                                \
    template void ComplexTransform<T>(const Strided<const std::complex<T>>&, const Strided<std::complex<T>>&,       \
                                      const std::vector<int>&, Exponent, T);                                       \
    template void RealForwardTransform<T>(const Strided<const T>&, const Strided<std::complex<T>>&,                 \
                                          const std::vector<int>&, T);                                             \
    template void RealInverseTransform<T>(const Strided<const std::complex<T>>&, const Strided<T>&,                 \
                                          const std::vector<int>&, T);
LUMADEX_ARRAY_TRANSFORMS(float)
LUMADEX_ARRAY_TRANSFORMS(double)
#undef LUMADEX_ARRAY_TRANSFORMS

}  // namespace lumadex::arrays
