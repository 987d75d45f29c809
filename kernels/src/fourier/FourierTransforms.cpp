// The complex, real and centred transforms over DFTI descriptors.
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <vector>

#include "Descriptor.h"
#include "ScratchBuffer.h"
#include "lumadex/dfti/helper_threads.hpp"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Fourier.h"
#include "lumadex/kernels/Shift.h"

namespace lumadex::kernels {
namespace {

using fourier::Descriptor;
using StrideArray = MKL_LONG[5];

// A descriptor for a batch of equal transforms, computed by one or more
// calls.
struct BatchPlan {
    DFTI_CONFIG_VALUE domain = DFTI_COMPLEX;  // DFTI_REAL stores the complex side conjugate-even
    int rank = 1;
    MKL_LONG lengths[4] = {1, 1, 1, 1};
    StrideArray inputStrides = {0, 1, 1, 1, 1};  // {offset, s1, ...}
    StrideArray outputStrides = {0, 1, 1, 1, 1};
    MKL_LONG count = 1;  // transforms per compute call
    MKL_LONG inputDistance = 0;
    MKL_LONG outputDistance = 0;
    bool inPlace = false;
    MKL_LONG threadLimit = 0;  // the most threads one compute call uses; 0: the descriptor's choice
};

// Creates and configures the descriptor (precision from T), commits it, and
// hands `calls` a compute(in, out) function to call as often as it needs;
// frees the descriptor afterwards. `exponent` chooses the compute call and
// the scale it applies.
template <class T, class Calls>
void RunBatch(const BatchPlan& plan, Exponent exponent, double scale, Calls&& calls)
{
    Descriptor descriptor(fourier::kPrecision<T>, plan.domain, plan.rank, plan.lengths);
    if (plan.domain == DFTI_REAL) descriptor.SetValue(DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX);
    if (plan.count != 1) {
        descriptor.SetValue(DFTI_NUMBER_OF_TRANSFORMS, plan.count);
        descriptor.SetValue(DFTI_INPUT_DISTANCE, plan.inputDistance);
        descriptor.SetValue(DFTI_OUTPUT_DISTANCE, plan.outputDistance);
    }
    descriptor.SetStrides(DFTI_INPUT_STRIDES, plan.inputStrides);
    descriptor.SetStrides(DFTI_OUTPUT_STRIDES, plan.outputStrides);
    descriptor.SetScale(exponent, scale);
    if (!plan.inPlace) descriptor.SetValue(DFTI_PLACEMENT, DFTI_NOT_INPLACE);
    if (plan.threadLimit != 0) descriptor.SetValue(DFTI_THREAD_LIMIT, plan.threadLimit);
    descriptor.Commit();
    calls([&](const void* in, void* out) {
        descriptor.Compute(exponent, const_cast<void*>(in), plan.inPlace ? nullptr : out);
    });
    descriptor.Free();
}

// How many threads run the `calls` compute calls of a batch (`elements`
// in all) side by side, one call each at a time. A batch the descriptor
// cannot make one call of (an axis transform along y of a volume: a call
// per plane) would otherwise run its calls one after another, each on one
// thread below the descriptor's own threading size (a 256 x 256 plane) and
// on all of them above it, a fork and join a call. Side by side, each
// thread takes whole calls, one after another: one start and join of the
// threads in all.
// Only with calls enough for every thread to have a few, and only when the
// calls' outputs cannot overwrite another call's input (in place, or apart).
template <class In, class Out>
int SideBySideThreads(std::int64_t calls, std::int64_t elements, const Block<In>& in, const Block<Out>& out)
{
    if (calls < 2 || omp_in_parallel() || !WorthThreads(elements, kFourierCallsParallelElements)) return 1;
    const int threads = omp_get_max_threads();
    if (threads < 2 || calls < 2 * threads || Overlap(in, out)) return 1;
    return threads;
}

// Runs call(c) for every c in [0, calls) on the calling thread and up to
// `threads - 1` of the process's helper threads (the line passes' own:
// lumadex/dfti/helper_threads.hpp), each taking the next call when it is
// done, so that a thread that loses its core holds up only the call it has.
// Not OpenMP's team: its idle threads spin, in the join and between
// regions, and on a machine whose other core was busy they took the core
// from the thread they waited for (y of a 64 x 256 x 256 Complex 8 volume on
// 2 threads: 16 to 20 ms a call, against 12 on one thread). Not threads
// started per call either: one of them took 1 to 2.5 ms to take its first
// call in about one process in three, while the helpers are started as the
// library loads.
// The first failure is rethrown once all have stopped; calls not yet
// started then do not run.
template <class Call>
void RunSideBySide(std::int64_t calls, int threads, const Call& call)
{
    std::atomic<bool> failed{false};
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(threads));
    auto task = [&](std::int64_t c, int worker) {
        if (failed.load(std::memory_order_relaxed)) return;
        try {
            call(c);
        } catch (...) {
            failures[static_cast<std::size_t>(worker)] = std::current_exception();
            failed.store(true, std::memory_order_relaxed);
        }
    };
    lumadex::dfti::run_tasks(calls, threads, task);
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

// Transforms along `axes` of a block of `sizes`, once for every position
// along the other dimensions. The first of those with more than one
// position is the descriptor's batch; the next ones join it while both sides
// keep the batch's spacing, and the rest are stepped through by one compute
// call each, so any sub-area is handled where it lies. Strides are in each
// side's own elements.
template <class T, class In, class Out>
void TransformLines(DFTI_CONFIG_VALUE domain, Exponent exponent, T scale, const FourierAxes& axes,
                    const std::int64_t (&sizes)[4], const Block<In>& in, const Block<Out>& out)
{
    BatchPlan plan;
    plan.domain = domain;
    plan.rank = axes.count;
    bool transformed[4] = {};
    for (int j = 0; j < axes.count; ++j) {
        const int d = axes.dims[j];
        plan.lengths[j] = sizes[d];
        plan.inputStrides[j + 1] = in.stride[d];
        plan.outputStrides[j + 1] = out.stride[d];
        transformed[d] = true;
    }

    int batch[4], batches = 0;
    for (int d = 0; d < 4; ++d)
        if (!transformed[d] && sizes[d] > 1) batch[batches++] = d;
    int joined = 0;
    if (batches > 0) {
        const int first = batch[0];
        plan.count = sizes[first];
        plan.inputDistance = in.stride[first];
        plan.outputDistance = out.stride[first];
        for (joined = 1; joined < batches; ++joined) {
            const int d = batch[joined];
            if (in.stride[d] != plan.count * in.stride[first] || out.stride[d] != plan.count * out.stride[first])
                break;
            plan.count *= sizes[d];
        }
    }
    // In place for complex transforms of one block into itself; a real
    // transform always reads one side and writes the other.
    plan.inPlace = domain == DFTI_COMPLEX && static_cast<const void*>(in.data) == static_cast<const void*>(out.data);

    std::int64_t calls = 1;
    for (int k = joined; k < batches; ++k) calls *= sizes[batch[k]];
    const int threads = SideBySideThreads(calls, sizes[0] * sizes[1] * sizes[2] * sizes[3], in, out);
    if (threads > 1) plan.threadLimit = 1;
    RunBatch<T>(plan, exponent, scale, [&](auto compute) {
        auto run = [&](std::int64_t call) {
            std::int64_t rest = call, inOffset = 0, outOffset = 0;
            for (int k = joined; k < batches; ++k) {
                const int d = batch[k];
                const std::int64_t index = rest % sizes[d];
                rest /= sizes[d];
                inOffset += index * in.stride[d];
                outOffset += index * out.stride[d];
            }
            compute(in.data + inOffset, out.data + outOffset);
        };
        if (threads > 1) {
            RunSideBySide(calls, threads, run);
            return;
        }
        for (std::int64_t call = 0; call < calls; ++call) run(call);
    });
}

// A dense block of `sizes`.
template <class E>
Block<E> DenseBlock(E* data, const std::int64_t (&sizes)[4])
{
    return Block<E>{data,
                    {sizes[0], sizes[1], sizes[2], sizes[3]},
                    {1, sizes[0], sizes[0] * sizes[1], sizes[0] * sizes[1] * sizes[2]}};
}

// Copies a block's elements into a dense buffer, row by row.
template <class E>
void DenseCopy(const Block<const E>& block, E* copy)
{
    for (std::int64_t r = 0; r < block.rows(); ++r) copy = std::copy_n(block.Row(r), block.size[0], copy);
}

// A dense Wh x H x D x E spectrum of a real image of `real` sizes, in
// scratch memory given back when the call ends. Every user writes all of it
// before reading it.
template <class T>
struct PackedSpectrum {
    std::int64_t sizes[4];
    fourier::ScratchBuffer memory;
    explicit PackedSpectrum(const std::int64_t (&real)[4])
        : sizes{real[0] / 2 + 1, real[1], real[2], real[3]},
          memory(sizeof(std::complex<T>) * sizes[0] * sizes[1] * sizes[2] * sizes[3])
    {
    }
    Block<std::complex<T>> block() const { return DenseBlock(static_cast<std::complex<T>*>(memory.data()), sizes); }
};

}  // namespace

FourierAxes EveryAxis(const std::int64_t (&size)[4])
{
    FourierAxes axes;
    for (int d = 3; d >= 0; --d)
        if (size[d] > 1) axes.dims[axes.count++] = d;
    if (axes.count == 0) axes.dims[axes.count++] = 0;
    return axes;
}

FourierAxes RealAxes(const std::int64_t (&size)[4])
{
    FourierAxes axes;
    for (int d = 3; d >= 1; --d)
        if (size[d] > 1) axes.dims[axes.count++] = d;
    axes.dims[axes.count++] = 0;
    return axes;
}

template <class T>
void ComplexFourier(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out,
                    const FourierAxes& axes, Exponent exponent, T scale)
{
    TransformLines<T>(DFTI_COMPLEX, exponent, scale, axes, in.size, in, out);
}

template <class T>
void RealForward(const Block<const T>& in, const Block<std::complex<T>>& out, const FourierAxes& axes, T scale)
{
    TransformLines<T>(DFTI_REAL, Exponent::Negative, scale, axes, in.size, in, out);
}

template <class T>
void RealInverse(const Block<const std::complex<T>>& in, const Block<T>& out, const FourierAxes& axes, T scale)
{
    TransformLines<T>(DFTI_REAL, Exponent::Positive, scale, axes, out.size, in, out);
}

template <class T>
void CentredComplex(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, Exponent exponent,
                    T scale)
{
    // exp(sign * 2 pi i (w x / W + h y / H + d z / D)), w = W / 2...: the
    // pure spectrum cyclically shifted by N / 2 along every axis.
    auto centre = [&](const Block<const std::complex<T>>& from, double sign) {
        AxisShift ramp[3];
        for (int d = 0; d < 3; ++d) {
            const int n = static_cast<int>(in.size[d]);
            ramp[d] = AxisShift{n, n, 0, static_cast<double>(n / 2), false};
        }
        ShiftBlock<T>(from, out, ramp, sign, Evaluation::Rows);
    };
    const FourierAxes axes = EveryAxis(in.size);
    if (exponent == Exponent::Positive) {
        centre(in, -1.0);
        ComplexFourier<T>(out, out, axes, exponent, scale);
    } else {
        ComplexFourier<T>(in, out, axes, exponent, scale);
        centre(out, +1.0);
    }
}

template <class T, class S>
void HalfPureForward(const Block<const S>& in, const Block<std::complex<T>>& out, T scale)
{
    constexpr std::int64_t ratio = sizeof(S) / sizeof(T);
    const FourierAxes axes = RealAxes(in.size);
    Block<const T> reals{reinterpret_cast<const T*>(in.data), {in.size[0], in.size[1], in.size[2], in.size[3]}, {}};
    std::vector<S> copy;
    Block<const S> from = in;
    if (static_cast<const void*>(in.data) == static_cast<const void*>(out.data)) {
        // A complex block transformed into itself: the spectrum would
        // overwrite real parts not yet read.
        copy.resize(static_cast<std::size_t>(in.count()));
        DenseCopy(in, copy.data());
        from = DenseBlock<const S>(copy.data(), in.size);
        reals.data = reinterpret_cast<const T*>(copy.data());
    }
    for (int d = 0; d < 4; ++d) reals.stride[d] = from.stride[d] * ratio;
    RealForward<T>(reals, out, axes, scale);
}

template <class T>
void HalfPureInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale)
{
    const FourierAxes axes = RealAxes(out.size);
    if (static_cast<const void*>(in.data) == static_cast<const void*>(out.data)) {
        // Into the spectrum's own memory: work from a copy of the spectrum.
        PackedSpectrum<T> packed(out.size);
        Block<const std::complex<T>> spectrum = in;
        for (int d = 0; d < 4; ++d) spectrum.size[d] = packed.sizes[d];
        DenseCopy(spectrum, packed.block().data);
        RealInverse<T>(packed.block(), out, axes, scale);
        return;
    }
    RealInverse<T>(in, out, axes, scale);
}

template <class T>
void HalfForward(const Block<const T>& in, const Block<std::complex<T>>& out, T scale)
{
    HalfPureForward<T, T>(in, out, scale);
    // Only the spectrum's own rows and columns, whatever the destination's size.
    const int height = static_cast<int>(in.size[1]);
    ShiftRowsConjugated<T>(out, out, static_cast<int>(in.size[0] / 2 + 1), height, height / 2);
}

template <class T>
void HalfInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale)
{
    // The source stays as it is: the half-pure spectrum goes to a buffer.
    PackedSpectrum<T> packed(out.size);
    const int height = static_cast<int>(out.size[1]);
    ShiftRowsConjugated<T>(in, packed.block(), static_cast<int>(packed.sizes[0]), height,
                           (height - height / 2) % height);
    RealInverse<T>(packed.block(), out, RealAxes(out.size), scale);
}

template <class T>
void FullForward(const Block<const T>& in, const Block<std::complex<T>>& out, T scale)
{
    // The half-pure spectrum goes to a dense buffer, with the same geometry
    // (and plan) as HalfPureForward's, and spreads from there to the full
    // layout. (Written straight into the destination's rows, it would take
    // FFTW a copying plan a fifth slower than the dense one.)
    PackedSpectrum<T> packed(in.size);
    RealForward<T>(in, packed.block(), RealAxes(in.size), scale);
    HalfPureToFull<T>(packed.block(), out, static_cast<int>(in.size[0]), static_cast<int>(in.size[1]),
                      static_cast<int>(in.size[2]));
}

template <class T>
void FullInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale)
{
    // Only the left half (kx <= 0) of the full spectrum is read.
    PackedSpectrum<T> packed(out.size);
    FullToHalfPure<T>(in, packed.block(), static_cast<int>(out.size[0]), static_cast<int>(out.size[1]),
                      static_cast<int>(out.size[2]));
    RealInverse<T>(packed.block(), out, RealAxes(out.size), scale);
}

#define LUMADEX_FOURIER_TRANSFORMS(T)                                                                              \
    template void ComplexFourier(const Block<const std::complex<T>>&, const Block<std::complex<T>>&,                \
                                 const FourierAxes&, Exponent, T);                                                 \
    template void RealForward(const Block<const T>&, const Block<std::complex<T>>&, const FourierAxes&, T);         \
    template void RealInverse(const Block<const std::complex<T>>&, const Block<T>&, const FourierAxes&, T);         \
    template void CentredComplex(const Block<const std::complex<T>>&, const Block<std::complex<T>>&, Exponent, T);  \
    template void HalfPureForward<T, T>(const Block<const T>&, const Block<std::complex<T>>&, T);                   \
    template void HalfPureForward<T, std::complex<T>>(const Block<const std::complex<T>>&,                          \
                                                      const Block<std::complex<T>>&, T);                            \
    template void HalfPureInverse(const Block<const std::complex<T>>&, const Block<T>&, T);                         \
    template void HalfForward(const Block<const T>&, const Block<std::complex<T>>&, T);                             \
    template void HalfInverse(const Block<const std::complex<T>>&, const Block<T>&, T);                             \
    template void FullForward(const Block<const T>&, const Block<std::complex<T>>&, T);                             \
    template void FullInverse(const Block<const std::complex<T>>&, const Block<T>&, T);
LUMADEX_FOURIER_TRANSFORMS(float)
LUMADEX_FOURIER_TRANSFORMS(double)
#undef LUMADEX_FOURIER_TRANSFORMS

}  // namespace lumadex::kernels
