#include "line_passes.hpp"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdlib>
#include <vector>

#include "os_services.h"
#include "plan_cache.hpp"

namespace lumadex::dfti {
namespace {

// Lines per block, at most; fewer for long lines, so that a thread's
// buffers stay within block_bytes (in the level-2 cache, with room for
// FFTW's twiddle tables).
constexpr int64_t max_block_lines = 16;
constexpr int64_t block_bytes = int64_t{512} << 10;
// A problem of one axis with fewer lines than this runs FFTW's own plan.
constexpr int64_t min_lines = 16;
// Passes of fewer elements run on the calling thread only.
constexpr int64_t parallel_threshold = int64_t{1} << 15;

// The axes along a problem's lines: lengths and strides of the side a pass
// reads and of the side it writes.
struct Step {
    int64_t n = 1, in = 0, out = 0;
};

// One pass: 1-D transforms of length n along one axis, at every position
// along the other axes and the batch (`across`, innermost first).
struct Pass {
    Kind kind = Kind::complex_to_complex;  // or the real transform along the last axis
    int64_t n = 1;                          // the transform's length (of the real side)
    int64_t in_stride = 0, out_stride = 0;  // along a line, in each side's elements
    int dims = 0;
    Step across[max_rank + 1];
    int64_t lines = 1;
    const char* in = nullptr;
    char* out = nullptr;
    double scale = 1;

    int64_t complex_n() const { return kind == Kind::complex_to_complex ? n : n / 2 + 1; }
};

// Where one block's lines lie in the thread's buffer: position i of line c
// at i + c * line, in elements. Line by line, as FFTW's 1-D plans run best
// (a 1024-point float line: 0.93 us on an FFTW_ESTIMATE plan, against 4.3
// with the block's lines interleaved). The lines are a multiple of 8
// elements apart, but an odd one, so that copying a block of neighbouring
// columns in, position by position, writes to as many cache sets as there
// are lines (a power-of-two distance puts them all in one).
struct BlockLayout {
    int64_t position, line;
};
BlockLayout block_layout(int64_t n) {
    int64_t line = (n + 7) / 8 * 8;
    if ((line / 8) % 2 == 0) line += 8;
    return {1, line};
}

// The data offsets of consecutive lines of a pass.
class Cursor {
public:
    Cursor(const Pass& p, int64_t line) : p_(p) {
        for (int d = 0; d < p.dims; ++d) {
            index_[d] = line % p.across[d].n;
            line /= p.across[d].n;
            in_ += index_[d] * p.across[d].in;
            out_ += index_[d] * p.across[d].out;
        }
    }
    int64_t in() const { return in_; }
    int64_t out() const { return out_; }
    void next() {
        for (int d = 0; d < p_.dims; ++d) {
            const Step& s = p_.across[d];
            in_ += s.in;
            out_ += s.out;
            if (++index_[d] < s.n) return;
            index_[d] = 0;
            in_ -= s.n * s.in;
            out_ -= s.n * s.out;
        }
    }

private:
    const Pass& p_;
    int64_t index_[max_rank + 1] = {};
    int64_t in_ = 0, out_ = 0;
};

// Copies `count` lines of n elements (first elements at data + at[c], step
// `stride`) into the buffer, and zeros the block's remaining lines. Lines
// along the data's contiguous axis are copied one by one; others position
// by position, so that each reads the lines' neighbouring elements at once.
template <typename E>
void gather(const E* data, int64_t stride, const int64_t* at, int64_t count, int64_t n, E* buffer,
            BlockLayout b, int64_t block_lines) {
    if (stride == 1) {
        for (int64_t c = 0; c < count; ++c) std::copy_n(data + at[c], n, buffer + c * b.line);
    } else {
        for (int64_t i = 0; i < n; ++i)
            for (int64_t c = 0; c < count; ++c) buffer[i + c * b.line] = data[at[c] + i * stride];
    }
    for (int64_t c = count; c < block_lines; ++c) std::fill_n(buffer + c * b.line, n, E{});
}

// Copies the block's first `count` lines back, times `scale`.
template <typename E, typename R>
void scatter(const E* buffer, BlockLayout b, E* data, int64_t stride, const int64_t* at, int64_t count, int64_t n,
             R scale) {
    auto store = [&](auto times) {
        if (stride == 1) {
            for (int64_t c = 0; c < count; ++c)
                for (int64_t i = 0; i < n; ++i) data[at[c] + i] = times(buffer[i + c * b.line]);
        } else {
            for (int64_t i = 0; i < n; ++i)
                for (int64_t c = 0; c < count; ++c) data[at[c] + i * stride] = times(buffer[i + c * b.line]);
        }
    };
    if (scale == R(1)) store([](E v) { return v; });
    else store([scale](E v) { return v * scale; });
}

// A thread's buffers: the complex side of a block, and the real side for a
// real transform's pass.
template <typename R>
struct Buffers {
    std::complex<R>* complex = nullptr;
    R* real = nullptr;
};

template <typename R>
void run_block(const Pass& p, const Plan& plan, const int64_t* in_at, const int64_t* out_at, int64_t count,
               int64_t block_lines, const Buffers<R>& b) {
    using C = std::complex<R>;
    const R scale = static_cast<R>(p.scale);
    const BlockLayout complex_side = block_layout(p.complex_n());
    const BlockLayout real_side = block_layout(p.n);
    switch (p.kind) {
        case Kind::complex_to_complex:
            gather(reinterpret_cast<const C*>(p.in), p.in_stride, in_at, count, p.n, b.complex, complex_side,
                   block_lines);
            execute_fftw_plan(plan.problem, plan.handle, b.complex, b.complex);
            scatter(b.complex, complex_side, reinterpret_cast<C*>(p.out), p.out_stride, out_at, count, p.n, scale);
            break;
        case Kind::real_to_complex:
            gather(reinterpret_cast<const R*>(p.in), p.in_stride, in_at, count, p.n, b.real, real_side, block_lines);
            execute_fftw_plan(plan.problem, plan.handle, b.real, b.complex);
            scatter(b.complex, complex_side, reinterpret_cast<C*>(p.out), p.out_stride, out_at, count, p.complex_n(),
                    scale);
            break;
        case Kind::complex_to_real:
            gather(reinterpret_cast<const C*>(p.in), p.in_stride, in_at, count, p.complex_n(), b.complex,
                   complex_side, block_lines);
            execute_fftw_plan(plan.problem, plan.handle, b.complex, b.real);
            scatter(b.real, real_side, reinterpret_cast<R*>(p.out), p.out_stride, out_at, count, p.n, scale);
            break;
    }
}

int64_t block_lines_of(const Pass& p, size_t real_bytes) {
    const auto complex_bytes = static_cast<int64_t>(2 * real_bytes);
    int64_t line_bytes = p.complex_n() * complex_bytes;
    if (p.kind != Kind::complex_to_complex) line_bytes += p.n * static_cast<int64_t>(real_bytes);
    return std::clamp<int64_t>(block_bytes / line_bytes, 1, std::min(max_block_lines, p.lines));
}

// The 1-D problem of one block in the buffers.
FftwProblem block_problem(const FftwProblem& whole, const Pass& p, int64_t block_lines) {
    const BlockLayout complex_side = block_layout(p.complex_n());
    const BlockLayout real_side = block_layout(p.n);
    const BlockLayout in = p.kind == Kind::real_to_complex ? real_side : complex_side;
    const BlockLayout out = p.kind == Kind::complex_to_real ? real_side : complex_side;
    FftwProblem b;
    b.shape.precision = whole.shape.precision;
    b.shape.kind = p.kind;
    b.shape.sign = whole.shape.sign;
    b.shape.rank = 1;
    b.shape.axes[0] = {p.n, in.position, out.position};
    b.shape.batch = {block_lines, in.line, out.line};
    b.in_place = p.kind == Kind::complex_to_complex;
    b.threads = 1;
    b.destroy_input = true;  // the buffer's
    return b;
}

// The problem's passes. A complex transform passes along every axis longer
// than 1, the last first, from input to output and then within the output.
// A real transform's pass along the last axis (the halved one) comes first
// forward (the other passes then run within the output) and last backward
// (the others run first, within the input).
std::vector<Pass> passes_of(const FftwProblem& p, const char* in, char* out, double scale) {
    const Shape& s = p.shape;
    const int last = s.rank - 1;
    const bool real = s.kind != Kind::complex_to_complex;
    std::vector<int> axes;
    for (int a = last; a >= 0; --a)
        if (s.axes[a].n > 1 || (real && a == last)) axes.push_back(a);
    if (s.kind == Kind::complex_to_real) std::rotate(axes.begin(), axes.begin() + 1, axes.end());

    std::vector<Pass> passes;
    for (size_t k = 0; k < axes.size(); ++k) {
        const int a = axes[k];
        Pass pass;
        pass.kind = real && a == last ? s.kind : Kind::complex_to_complex;
        pass.n = s.axes[a].n;
        // Which sides the pass reads and writes.
        const bool first = k == 0, final = k + 1 == axes.size();
        const bool reads_input = s.kind == Kind::complex_to_real || first;
        const bool writes_output = s.kind != Kind::complex_to_real || final;
        pass.in = reads_input ? in : out;
        pass.out = writes_output ? out : const_cast<char*>(in);
        auto stride_of = [&](const Axis& x, bool input) { return input ? x.in_stride : x.out_stride; };
        pass.in_stride = stride_of(s.axes[a], reads_input);
        pass.out_stride = stride_of(s.axes[a], !writes_output);
        auto add = [&](int64_t n, const Axis& x) {
            if (n > 1) pass.across[pass.dims++] = {n, stride_of(x, reads_input), stride_of(x, !writes_output)};
        };
        for (int b = 0; b < s.rank; ++b)
            if (b != a) add(real && b == last ? s.axes[b].n / 2 + 1 : s.axes[b].n, s.axes[b]);
        add(s.batch.n, s.batch);
        // Neighbouring lines first, so that a block's lines lie side by side.
        for (int d = 1; d < pass.dims; ++d)
            for (int e = d; e > 0 && std::llabs(pass.across[e].in) < std::llabs(pass.across[e - 1].in); --e)
                std::swap(pass.across[e], pass.across[e - 1]);
        for (int d = 0; d < pass.dims; ++d) pass.lines *= pass.across[d].n;
        pass.scale = final ? scale : 1.0;
        passes.push_back(pass);
    }
    return passes;
}

template <typename R>
Status run_pass(const FftwProblem& whole, const Pass& p) {
    const int64_t block_lines = block_lines_of(p, sizeof(R));
    const int64_t complex_count = block_layout(p.complex_n()).line * block_lines;
    const int64_t real_count = p.kind == Kind::complex_to_complex ? 0 : block_layout(p.n).line * block_lines;
    const int64_t blocks = (p.lines + block_lines - 1) / block_lines;
    const int threads =
        p.lines * p.complex_n() >= parallel_threshold ? static_cast<int>(std::min<int64_t>(whole.threads, blocks)) : 1;

    // One allocation: each thread's complex buffer, then its real one
    // (64-byte steps keep them all at one alignment).
    const int64_t thread_bytes = ((complex_count * 2 + real_count) * static_cast<int64_t>(sizeof(R)) + 63) / 64 * 64;
    void* memory = lumadex::os::AllocateScratch(static_cast<size_t>(thread_bytes * threads));
    if (!memory) return out_of_memory;
    auto buffers_of = [&](int t) {
        char* base = static_cast<char*>(memory) + t * thread_bytes;
        auto* complex = reinterpret_cast<std::complex<R>*>(base);
        return Buffers<R>{complex, reinterpret_cast<R*>(complex + complex_count)};
    };
    const Buffers<R> first = buffers_of(0);
    void* plan_in = p.kind == Kind::real_to_complex ? static_cast<void*>(first.real) : first.complex;
    void* plan_out = p.kind == Kind::complex_to_real ? static_cast<void*>(first.real) : first.complex;
    FftwProblem planned = block_problem(whole, p, block_lines);
    planned.in_alignment = fftw_alignment(planned.shape.precision, plan_in);
    planned.out_alignment = fftw_alignment(planned.shape.precision, plan_out);
    const std::shared_ptr<Plan> plan = PlanCache::instance().plan_for(planned, plan_in, plan_out, PlanUse::lines);
    if (!plan) {
        lumadex::os::FreeScratch(memory);
        return planner_failed;
    }

    const auto began = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
    {
        const int t = omp_get_thread_num(), team = omp_get_num_threads();
        const int64_t begin = blocks * t / team, end = blocks * (t + 1) / team;
        const Buffers<R> mine = buffers_of(t);
        Cursor cursor(p, begin * block_lines);
        int64_t in_at[max_block_lines], out_at[max_block_lines];
        for (int64_t block = begin; block < end; ++block) {
            const int64_t count = std::min(block_lines, p.lines - block * block_lines);
            for (int64_t c = 0; c < count; ++c, cursor.next()) {
                in_at[c] = cursor.in();
                out_at[c] = cursor.out();
            }
            run_block<R>(p, *plan, in_at, out_at, count, block_lines, mine);
        }
    }
    if (!plan->measured)
        PlanCache::instance().account_cheap(
            plan->problem, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
            static_cast<double>(blocks));
    lumadex::os::FreeScratch(memory);
    return ok;
}

}  // namespace

bool suits_line_passes(const FftwProblem& p) {
    const Shape& s = p.shape;
    const bool real = s.kind != Kind::complex_to_complex;
    int passes = 0;
    for (int a = 0; a < s.rank; ++a)
        if (s.axes[a].n > 1 || (real && a == s.rank - 1)) ++passes;
    // Backward, the passes before the last one work within the input.
    if (s.kind == Kind::complex_to_real && passes >= 2 && !p.destroy_input) return false;
    // With one pass, the batch holds the lines.
    return passes >= 2 || (passes == 1 && s.batch.n >= min_lines);
}

Status run_line_passes(const FftwProblem& p, char* in, char* out, double scale) {
    for (const Pass& pass : passes_of(p, in, out, scale)) {
        const Status s = p.shape.precision == Precision::single ? run_pass<float>(p, pass) : run_pass<double>(p, pass);
        if (s != ok) return s;
    }
    return ok;
}

}  // namespace lumadex::dfti
