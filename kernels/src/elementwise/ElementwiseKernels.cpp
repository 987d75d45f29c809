#include <omp.h>

#include <algorithm>
#include <cfenv>
#include <complex>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Elementwise.h"
#include "lumadex/kernels/Refusal.h"

namespace lumadex::kernels {
namespace {

constexpr std::int64_t kLongestRun = std::int64_t{1} << 30;  // the routines count in 32 bits

// Where one block stands in its scan order. A dense block is one row.
template <class T>
struct Cursor {
    Block<T> block;
    std::int64_t row = 0, x = 0;
    T* rowStart = nullptr;

    Cursor(const Block<T>& b, std::int64_t index) : block(b.dense() ? b.Flattened() : b)
    {
        row = index / block.size[0];
        x = index % block.size[0];
        rowStart = block.Row(row);
    }
    T* Here() const { return rowStart + x; }
    std::int64_t Left() const { return block.size[0] - x; }
    void Advance(std::int64_t length)
    {
        x += length;
        if (x == block.size[0] && block.rows() > 1) {
            x = 0;
            rowStart = block.Row(++row);
        }
    }
};

// Calls kernel(length, pointers...) for the runs of elements [begin, end)
// of every block, in step.
template <class Kernel, class... T>
void Walk(const Kernel& kernel, std::int64_t begin, std::int64_t end, const Block<T>&... blocks)
{
    std::tuple<Cursor<T>...> cursors{Cursor<T>(blocks, begin)...};
    while (begin < end) {
        std::int64_t length = std::min(end - begin, kLongestRun);
        std::apply([&](auto&... c) { ((length = std::min(length, c.Left())), ...); }, cursors);
        std::apply([&](auto&... c) { kernel(length, c.Here()...); }, cursors);
        std::apply([&](auto&... c) { (c.Advance(length), ...); }, cursors);
        begin += length;
    }
}

// The same elements: the in-place case, read before written.
template <class A, class B>
bool SameElements(const Block<A>& a, const Block<B>& b)
{
    if (static_cast<const void*>(a.data) != static_cast<const void*>(b.data) || sizeof(A) != sizeof(B) ||
        a.dense() != b.dense())
        return false;
    if (a.dense()) return true;
    for (int d = 0; d < 4; ++d)
        if (a.size[d] != b.size[d] || (a.size[d] > 1 && a.stride[d] != b.stride[d])) return false;
    return true;
}

// A source whose elements a destination would overwrite before they are read.
template <class A, class B>
bool ReadAfterWrite(const Block<A>& source, const Block<B>& destination)
{
    if (SameElements(source, destination)) return false;
    return static_cast<const void*>(source.data) == static_cast<const void*>(destination.data) ||
           Overlap(source, destination);
}

// Visits the first `n` elements of every block in step: blocks [0, inputs)
// are read, the others written (see Elementwise.h for the rules).
template <class Kernel, class... T>
void ForEachRun(std::size_t inputs, std::int64_t n, const Kernel& kernel, Block<T>... blocks)
{
    if (((blocks.count() < n) || ...)) throw Refusal(Reason::TooFewElements);
    if (n <= 0) return;

    // Sources that a destination would overwrite before they are read are read from copies.
    std::tuple<std::vector<std::remove_const_t<T>>...> copies;
    std::tuple<Block<T>&...> all{blocks...};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        const auto copyIfNeeded = [&]<std::size_t S>(std::integral_constant<std::size_t, S>) {
            if (S >= inputs) return;
            auto& source = std::get<S>(all);
            const bool conflict = (... || (I >= inputs && ReadAfterWrite(source, std::get<I>(all))));
            if (!conflict) return;
            auto& copy = std::get<S>(copies);
            copy.resize(static_cast<std::size_t>(n));
            using Element = std::remove_const_t<std::remove_reference_t<decltype(*source.data)>>;
            const Block<Element> dense{copy.data(), {n, 1, 1, 1}, {1, n, n, n}};
            Walk([](std::int64_t length, const Element* from, Element* to) {
                std::memcpy(to, from, static_cast<std::size_t>(length) * sizeof(Element));
            }, 0, n, Block<const Element>(source), dense);
            source.data = dense.data;
            std::copy(std::begin(dense.size), std::end(dense.size), source.size);
            std::copy(std::begin(dense.stride), std::end(dense.stride), source.stride);
        };
        (copyIfNeeded(std::integral_constant<std::size_t, I>()), ...);
    }(std::index_sequence_for<T...>());

    const bool allDense = (blocks.dense() && ...);
    if (allDense || !WorthThreads(n, kElementwiseParallelPixels) || omp_in_parallel() ||
        omp_get_max_threads() == 1) {
        Walk(kernel, 0, n, blocks...);
        return;
    }
    // The workers round as the calling thread does (NearbyInt, Rint).
    const int mode = std::fegetround();
#pragma omp parallel
    {
        const std::int64_t count = omp_get_num_threads(), t = omp_get_thread_num();
        const int own = std::fegetround();
        if (own != mode) std::fesetround(mode);
        Walk(kernel, n * t / count, n * (t + 1) / count, blocks...);
        if (own != mode) std::fesetround(own);
    }
}

template <class T>
auto* Vml(T* p)
{
    if constexpr (std::is_const_v<T>)
        return reinterpret_cast<const VmlElement<std::remove_const_t<T>>*>(p);
    else
        return reinterpret_cast<VmlElement<T>*>(p);
}

MKL_INT Length(std::int64_t n) { return static_cast<MKL_INT>(n); }

}  // namespace

template <class T>
void Map(UnaryRoutine<T> routine, const Block<const T>& src, const Block<T>& dst)
{
    ForEachRun(1, src.count(), [routine](std::int64_t n, const T* a, T* r) { routine(Length(n), Vml(a), Vml(r)); },
               src, dst);
}

template <class T>
void Map(BinaryRoutine<T> routine, const Block<const T>& a, const Block<const T>& b, const Block<T>& dst)
{
    ForEachRun(2, a.count(), [routine](std::int64_t n, const T* x, const T* y, T* r) {
        routine(Length(n), Vml(x), Vml(y), Vml(r));
    }, a, b, dst);
}

namespace {

// The routine of precision R: `single` for float, `twice` for double.
template <class R, class Single, class Twice>
auto OfPrecision(Single single, Twice twice)
{
    if constexpr (std::is_same_v<R, float>)
        return single;
    else
        return twice;
}

// One source, two destinations.
template <class R>
void TwoResults(void (*routine)(MKL_INT, const R*, R*, R*), const Block<const R>& src, const Block<R>& first,
                const Block<R>& second)
{
    ForEachRun(1, src.count(), [routine](std::int64_t n, const R* a, R* r1, R* r2) { routine(Length(n), a, r1, r2); },
               src, first, second);
}

}  // namespace

template <class R>
void ComplexAbs(const Block<const std::complex<R>>& src, const Block<R>& dst)
{
    const auto routine = OfPrecision<R>(vcAbs, vzAbs);
    ForEachRun(1, src.count(), [routine](std::int64_t n, const std::complex<R>* a, R* r) {
        routine(Length(n), Vml(a), r);
    }, src, dst);
}

template <class R>
void CIS(const Block<const R>& src, const Block<std::complex<R>>& dst)
{
    const auto routine = OfPrecision<R>(vcCIS, vzCIS);
    ForEachRun(1, src.count(), [routine](std::int64_t n, const R* a, std::complex<R>* r) {
        routine(Length(n), a, Vml(r));
    }, src, dst);
}

template <class R>
void Powx(const Block<const R>& a, R b, const Block<R>& dst)
{
    const auto routine = OfPrecision<R>(vsPowx, vdPowx);
    ForEachRun(1, a.count(), [routine, b](std::int64_t n, const R* x, R* r) { routine(Length(n), x, b, r); }, a, dst);
}

template <class R>
void SinCos(const Block<const R>& src, const Block<R>& sin, const Block<R>& cos)
{
    TwoResults(OfPrecision<R>(vsSinCos, vdSinCos), src, sin, cos);
}

template <class R>
void Modf(const Block<const R>& src, const Block<R>& val, const Block<R>& rem)
{
    TwoResults(OfPrecision<R>(vsModf, vdModf), src, val, rem);
}

#define LUMADEX_ELEMENTWISE_MAPS(T)                                                          \
    template void Map<T>(UnaryRoutine<T>, const Block<const T>&, const Block<T>&); \
    template void Map<T>(BinaryRoutine<T>, const Block<const T>&, const Block<const T>&, const Block<T>&);
LUMADEX_ELEMENTWISE_MAPS(float)
LUMADEX_ELEMENTWISE_MAPS(double)
LUMADEX_ELEMENTWISE_MAPS(std::complex<float>)
LUMADEX_ELEMENTWISE_MAPS(std::complex<double>)

#define LUMADEX_ELEMENTWISE_SPECIALS(R)                                                            \
    template void ComplexAbs(const Block<const std::complex<R>>&, const Block<R>&);                \
    template void CIS(const Block<const R>&, const Block<std::complex<R>>&);                       \
    template void Powx(const Block<const R>&, R, const Block<R>&);                                 \
    template void SinCos(const Block<const R>&, const Block<R>&, const Block<R>&);                 \
    template void Modf(const Block<const R>&, const Block<R>&, const Block<R>&);
LUMADEX_ELEMENTWISE_SPECIALS(float)
LUMADEX_ELEMENTWISE_SPECIALS(double)

}  // namespace lumadex::kernels
