#include "line_passes.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

#include "half_length.hpp"
#include "lumadex/dfti/helper_threads.hpp"
#include "kept_buffers.hpp"
#include "os_services.h"
#include "plan_cache.hpp"
#include "power_of_three_lines.hpp"
#include "strided_ops.hpp"

namespace lumadex::dfti {
namespace {

// A block holds as many lines as a thread's buffers take within
// block_bytes (the level-2 cache holds them, with room for FFTW's twiddle
// tables), up to max_block_lines: 31 lines of 1024 float points, 256 short
// ones. Short lines want many to a block, so that a block's FFTW call and
// bookkeeping are worth it and its columns are read in long runs (128^3
// Complex 8: 12 ms a call with 16 lines to a block, 8.3 with 256).
constexpr int64_t max_block_lines = 256;
constexpr int64_t block_bytes = int64_t{512} << 10;
// The threads' buffers (a block as gathered and as transformed) are kept
// between calls, a few of them, each of kept_buffer_bytes: fresh memory costs
// a page fault per 4 KiB at its first touch (half a megabyte: 0.2 ms here,
// as long as a whole 256 x 256 transform takes), and a thread maps the
// first two as the library loads (BufferWarmUp, below).
constexpr int64_t kept_buffer_bytes = 2 * block_bytes;
KeptBuffers line_buffers(kept_buffer_bytes, 8);  // unloading frees them

// Buffers of `bytes`: a kept one if it is large enough, else fresh memory.
void* take_buffer(int64_t bytes) {
    return line_buffers.take(static_cast<size_t>(bytes), static_cast<size_t>(kept_buffer_bytes));
}

// A problem of one axis with fewer lines than this runs FFTW's own plan.
constexpr int64_t min_lines = 16;
// Passes (and frames) of fewer elements run on the calling thread only:
// a fork and join pays only for a millisecond of work or more (compute.cpp).
constexpr int64_t parallel_threshold = int64_t{1} << 17;

// Columns of at most this many points run where they lie, or interleaved in
// the buffers (see direct_block_lines and BlockLayout).
constexpr int64_t max_interleaved_points = 64;

// The axes along a problem's lines: lengths and strides of the side a pass
// reads and of the side it writes.
struct Step {
    int64_t n = 1, in = 0, out = 0;
};

// One pass: 1-D transforms of length n along one axis, at every position
// along the other axes and the batch (`across`, innermost first), or at
// every position within a frame, frame after frame.
struct Pass {
    Kind kind = Kind::complex_to_complex;  // or the real transform along the last axis
    int64_t n = 1;                          // the transform's length (of the real side)
    int64_t in_stride = 0, out_stride = 0;  // along a line, in each side's elements
    int dims = 0;
    Step across[max_rank + 1];
    int64_t lines = 1;
    // Run frame by frame: the positions of the frames.
    bool in_frames = false;
    int frame_dims = 0;
    Step frame_steps[max_rank + 1];
    const char* in = nullptr;
    char* out = nullptr;
    double scale = 1;
    int64_t direct_lines = 0;  // lines of a block where the pass runs in the data (direct_block_lines), else 0

    // A real pass whose lines run as complex ones of half their length.
    bool by_half_length() const { return kind != Kind::complex_to_complex && transforms_by_half_length(n); }
    // A complex pass whose lines run on our own kernel (power_of_three_lines.hpp).
    bool by_threes() const { return kind == Kind::complex_to_complex && PowerOfThreeLines<float>::suits(n); }
    // A complex pass of short columns, whose blocks the buffers hold
    // interleaved (see BlockLayout).
    bool interleaved() const {
        return kind == Kind::complex_to_complex && n <= max_interleaved_points && dims > 0 && across[0].in == 1 &&
               across[0].out == 1 && in_stride != 1 && out_stride != 1;
    }
    // Elements of a line on the side it reads and on the side it writes.
    int64_t in_n() const { return kind == Kind::complex_to_real ? n / 2 + 1 : n; }
    int64_t out_n() const { return kind == Kind::real_to_complex ? n / 2 + 1 : n; }
    // Bytes of an element on each side.
    size_t in_bytes(size_t real_bytes) const { return kind == Kind::real_to_complex ? real_bytes : 2 * real_bytes; }
    size_t out_bytes(size_t real_bytes) const { return kind == Kind::complex_to_real ? real_bytes : 2 * real_bytes; }
};

// Where one block's lines lie in the thread's buffers: position i of line c
// at c * line + i * point, in elements. A block is copied into one buffer
// and transformed into the other, out of place.
//
// Line by line (point = 1), as FFTW's 1-D plans run best (a 1024-point
// float line on an FFTW_ESTIMATE plan: 0.75 us out of place, 0.96 in place,
// 4.3 with the block's lines interleaved; 1000-point double lines, 2.6 and
// 3.0 us). The lines are a multiple of 8 elements apart, but an odd one, so
// that copying a block of neighbouring columns in, position by position,
// writes to as many cache sets as there are lines (a power-of-two distance
// puts them all in one).
//
// Short columns interleaved instead (line = 1, point = the block's lines),
// where they cannot run in the data itself (direct_block_lines):
// each row of the block then moves as one run, where line by line it moves
// value by value, and FFTW's plans of a few points run about as fast on
// lines interleaved (8 float points: 3 ns a line either way; 64 points: 49
// against 35 ns, which the copies more than make up for). An 8 x 512 x 512
// float volume went from 10.7 to 8.8 ms a call so, the pass along the 64
// frames of a 64 x 256 x 256 one from 9.2 to 6.5 ms (max_interleaved_points,
// above).
struct BlockLayout {
    int64_t line, point = 1;
    // Elements of a block of `lines` lines of n points.
    int64_t elements(int64_t n, int64_t lines) const { return point == 1 ? line * lines : n * lines; }
};
BlockLayout block_layout(int64_t n) {
    int64_t line = (n + 7) / 8 * 8;
    if ((line / 8) % 2 == 0) line += 8;
    return {line};
}
// The layout of a pass's blocks on the side whose lines have n elements.
BlockLayout layout_of(const Pass& p, int64_t n, int64_t block_lines) {
    return p.interleaved() ? BlockLayout{1, block_lines} : block_layout(n);
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

// Lines whose first elements are neighbours: a block of columns.
bool side_by_side(const int64_t* at, int64_t count) {
    for (int64_t c = 1; c < count; ++c)
        if (at[c] != at[0] + c) return false;
    return true;
}

// Moves one element: as one unit of its size (std::complex copies its parts
// one by one), or times a scale.
template <typename E>
struct Copy {
    void operator()(E* to, const E* from) const { std::memcpy(to, from, sizeof(E)); }
};
template <typename E, typename R>
struct Scaled {
    R scale;
    void operator()(E* to, const E* from) const {
        constexpr size_t parts = sizeof(E) / sizeof(R);
        R v[parts];
        std::memcpy(v, from, sizeof(E));
        for (size_t k = 0; k < parts; ++k) v[k] *= scale;
        std::memcpy(to, v, sizeof(E));
    }
};

// Moves `count` lines of n elements between the data (first elements at
// data + at[c], step `stride`) and the buffer: `in` from the data into the
// buffer, else back. Lines along the data's contiguous axis go one by one; a
// block of columns goes position by position, so that the data is read and
// written in runs (the buffer's lines are in cache anyway).
template <bool in, typename E, typename Move>
void move_lines(E* data, int64_t stride, const int64_t* at, int64_t count, int64_t n, E* buffer, BlockLayout b,
                Move move) {
    auto one = [&](E* d, E* buf) {
        if constexpr (in) move(buf, d);
        else move(d, buf);
    };
    if (stride == 1) {  // (line by line)
        for (int64_t c = 0; c < count; ++c) {
            E* d = data + at[c];
            E* buf = buffer + c * b.line;
            if constexpr (std::is_same_v<Move, Copy<E>>) {
                if constexpr (in) std::memcpy(buf, d, static_cast<size_t>(n) * sizeof(E));
                else std::memcpy(d, buf, static_cast<size_t>(n) * sizeof(E));
            } else {
                for (int64_t i = 0; i < n; ++i) one(d + i, buf + i);
            }
        }
    } else if (side_by_side(at, count)) {
        E* first = data + at[0];
        for (int64_t i = 0; i < n; ++i) {
            E* row = first + i * stride;
            E* buf = buffer + i * b.point;
            if constexpr (std::is_same_v<Move, Copy<E>>) {
                if (b.line == 1) {  // interleaved: the row is one run on both sides
                    if constexpr (in) std::memcpy(buf, row, static_cast<size_t>(count) * sizeof(E));
                    else std::memcpy(row, buf, static_cast<size_t>(count) * sizeof(E));
                    continue;
                }
            }
            for (int64_t c = 0; c < count; ++c) one(row + c, buf + c * b.line);
        }
    } else {
        for (int64_t i = 0; i < n; ++i)
            for (int64_t c = 0; c < count; ++c) one(data + at[c] + i * stride, buffer + c * b.line + i * b.point);
    }
}

// Copies `count` lines into the buffer, and zeros the block's remaining lines.
template <typename E>
void gather(const E* data, int64_t stride, const int64_t* at, int64_t count, int64_t n, E* buffer,
            BlockLayout b, int64_t block_lines) {
    move_lines<true>(const_cast<E*>(data), stride, at, count, n, buffer, b, Copy<E>{});
    for (int64_t c = count; c < block_lines; ++c)
        for (int64_t i = 0; i < n; ++i) buffer[c * b.line + i * b.point] = E{};
}

// Copies the block's first `count` lines back, times `scale`.
template <typename E, typename R>
void scatter(const E* buffer, BlockLayout b, E* data, int64_t stride, const int64_t* at, int64_t count, int64_t n,
             R scale) {
    if (scale == R(1)) move_lines<false>(data, stride, at, count, n, const_cast<E*>(buffer), b, Copy<E>{});
    else move_lines<false>(data, stride, at, count, n, const_cast<E*>(buffer), b, Scaled<E, R>{scale});
}

// Short columns side by side run where they lie, with no buffers: FFTW's
// plan of a block of them reads each row of the block as one run, and its
// codelets take neighbouring columns as vectors. The pass along the 8 frames
// of an 8 x 512 x 512 float volume, scaled, took 1.2 ms so against 2.4
// through the buffers (FFTW's plan alone: 0.8). Its codelets run faster on
// data at 64-byte alignment (along the 64 frames of a 64 x 256 x 256 one:
// 4.5 ms so, 5.8 at 8 bytes past it). A block is
// a run of neighbouring columns, the whole of the first axis across or an
// equal part of it, and every block must lie at the first one's alignment
// (one plan serves them all); a pass in place needs one layout for both
// sides. Returns the block's lines, or 0 where the pass cannot run so.
constexpr int64_t direct_alignment = 64;  // bytes: FFTW's widest
int64_t direct_block_lines(const Pass& p, size_t real_bytes) {
    if (!p.interleaved()) return 0;
    if (p.in == p.out) {
        if (p.in_stride != p.out_stride) return 0;
        for (int d = 0; d < p.dims; ++d)
            if (p.across[d].in != p.across[d].out) return 0;
        for (int d = 0; d < p.frame_dims; ++d)
            if (p.frame_steps[d].in != p.frame_steps[d].out) return 0;
    }
    const auto bytes = static_cast<int64_t>(p.in_bytes(real_bytes));  // (complex on both sides)
    auto aligned = [&](const Step& s) {
        return s.in * bytes % direct_alignment == 0 && s.out * bytes % direct_alignment == 0;
    };
    for (int d = 1; d < p.dims; ++d)
        if (!aligned(p.across[d])) return 0;
    for (int d = 0; d < p.frame_dims; ++d)
        if (!aligned(p.frame_steps[d])) return 0;
    const int64_t run = p.across[0].n;
    for (int64_t parts = 1; parts <= run; ++parts) {
        const int64_t lines = run / parts;
        if (run % parts != 0 || lines > max_block_lines || lines * p.n * bytes > block_bytes) continue;
        if (parts == 1 || lines * bytes % direct_alignment == 0) return lines;
    }
    return 0;
}

// A thread's buffers: the block as copied in, and as transformed.
struct Buffers {
    void* gathered;
    void* transformed;
};

// A pass's plan and block size, for a pass by half length the
// butterflies' factors, and for a pass by threes its kernel instead of a plan.
template <typename R>
struct PassPlan {
    std::shared_ptr<Plan> plan;
    int64_t block_lines = 1;
    HalfLengthTwiddles<R> twiddles;
    std::shared_ptr<const PowerOfThreeLines<R>> threes;
};

template <typename R>
void run_block(const Pass& p, const PassPlan<R>& pp, const int64_t* in_at, const int64_t* out_at, int64_t count,
               const Buffers& b) {
    using C = std::complex<R>;
    if (pp.threes) {
        // The kernel reads the lines from the data and writes them back itself.
        pp.threes->transform(reinterpret_cast<const C*>(p.in), in_at, p.in_stride, reinterpret_cast<C*>(p.out), out_at,
                             p.out_stride, count, static_cast<R>(p.scale), static_cast<R*>(b.gathered),
                             static_cast<R*>(b.transformed));
        return;
    }
    const BlockLayout in = layout_of(p, p.in_n(), pp.block_lines), out = layout_of(p, p.out_n(), pp.block_lines);
    if (p.kind == Kind::real_to_complex)
        gather(reinterpret_cast<const R*>(p.in), p.in_stride, in_at, count, p.in_n(), static_cast<R*>(b.gathered), in,
               pp.block_lines);
    else
        gather(reinterpret_cast<const C*>(p.in), p.in_stride, in_at, count, p.in_n(), static_cast<C*>(b.gathered), in,
               pp.block_lines);
    if (p.by_half_length() && p.kind == Kind::complex_to_real)
        for (int64_t c = 0; c < count; ++c)
            join_half_spectrum(static_cast<C*>(b.gathered) + c * in.line, p.n / 2, pp.twiddles);
    execute_fftw_plan(pp.plan->problem, pp.plan->handle, b.gathered, b.transformed);
    if (p.by_half_length() && p.kind == Kind::real_to_complex)
        for (int64_t c = 0; c < count; ++c)
            split_half_spectrum(static_cast<C*>(b.transformed) + c * out.line, p.n / 2, pp.twiddles);
    const R scale = static_cast<R>(p.scale);
    if (p.kind == Kind::complex_to_real)
        scatter(static_cast<const R*>(b.transformed), out, reinterpret_cast<R*>(p.out), p.out_stride, out_at, count,
                p.out_n(), scale);
    else
        scatter(static_cast<const C*>(b.transformed), out, reinterpret_cast<C*>(p.out), p.out_stride, out_at, count,
                p.out_n(), scale);
}

// A block of a pass that runs in the data (direct_block_lines): its first
// line's offsets on both sides.
template <typename R>
void run_direct_block(const Pass& p, const PassPlan<R>& pp, int64_t in_at, int64_t out_at) {
    using C = std::complex<R>;
    C* out = reinterpret_cast<C*>(p.out) + out_at;
    execute_fftw_plan(pp.plan->problem, pp.plan->handle, reinterpret_cast<C*>(const_cast<char*>(p.in)) + in_at, out);
    if (p.scale == 1.0) return;
    Layout block;  // the block's rows, while they are in cache
    block.rank = 2;
    block.n = {p.direct_lines, p.n};
    block.stride = {1, p.out_stride};
    scale_elements(out, block, pp.plan->problem.shape.precision, 2, p.scale, 1);
}

// The lines of a pass's blocks: as many as the buffers take, shared out
// evenly over the blocks that needs. A block's plan transforms all its lines,
// the zeros of a partial last block's spare ones too: 256 lines in blocks
// of 124 would transform 372 (a pass along y of a 256 x 256 Complex 8
// plane), in three blocks of 86, 258.
int64_t block_lines_of(const Pass& p, size_t real_bytes) {
    const auto line_bytes = static_cast<int64_t>(block_layout(p.in_n()).line * p.in_bytes(real_bytes) +
                                                 block_layout(p.out_n()).line * p.out_bytes(real_bytes));
    const int64_t most = std::clamp<int64_t>(block_bytes / line_bytes, 1, max_block_lines);
    const int64_t blocks = (p.lines + most - 1) / most;
    return (p.lines + blocks - 1) / blocks;
}

// The 1-D problem of one block in the buffers. A pass by half length
// transforms complex lines of n / 2: its real side's lines, read as complex
// numbers, are half as many elements apart.
FftwProblem block_problem(const FftwProblem& whole, const Pass& p, int64_t block_lines) {
    FftwProblem b;
    b.shape.precision = whole.shape.precision;
    b.shape.kind = p.kind;
    b.shape.sign = whole.shape.sign;
    b.shape.rank = 1;
    b.shape.axes[0] = {p.n, 1, 1};
    b.shape.batch = {block_lines, block_layout(p.in_n()).line, block_layout(p.out_n()).line};
    if (p.interleaved()) {
        b.shape.axes[0] = {p.n, block_lines, block_lines};
        b.shape.batch = {block_lines, 1, 1};
    }
    if (p.direct_lines) {  // in the data, whose input may be the caller's
        b.shape.axes[0] = {p.n, p.in_stride, p.out_stride};
        b.in_place = p.in == p.out;
        b.threads = 1;
        return b;
    }
    if (p.by_half_length()) {
        const bool forward = p.kind == Kind::real_to_complex;
        b.shape.kind = Kind::complex_to_complex;
        b.shape.sign = forward ? -1 : 1;
        b.shape.axes[0].n = p.n / 2;
        (forward ? b.shape.batch.in_stride : b.shape.batch.out_stride) /= 2;
    }
    b.threads = 1;
    b.destroy_input = true;  // the buffer's
    return b;
}

// A frame small enough for FFTW_ESTIMATE's own plan of it, which runs as fast
// as a measured one when the frame sits in the level-1 or level-2 cache
// (128 x 128 Complex 8: 23 us; the line passes take about twice that,
// copying it twice; at 256 x 256 FFTW_ESTIMATE's plan is five times slower
// than a measured one), run in place in the data, frame by frame.
constexpr int64_t small_frame_elements = int64_t{1} << 14;

struct SmallFrames {
    FftwProblem problem;  // one frame, in the data's strides; its alignment: the first frame's
    int dims = 0;
    Step steps[max_rank + 1];  // the frames' positions, in elements of the input and of the output side
    double scale = 1;          // applied to each frame when its passes are the last
    const char* in = nullptr;  // the first frame
    char* out = nullptr;
};

// The problem's passes in the order they run, and its frames.
struct Passes {
    std::vector<Pass> list;
    int64_t frames = 1;
    std::optional<SmallFrames> small;  // the passes in frames run as a small frame's plan instead
};

// The problem's frames (its last two pass axes) as small frames. They are
// the last passes unless further axes follow (forward, three axes or more).
SmallFrames small_frames_of(const FftwProblem& p, const int (&frame_axes)[2], bool last, const char* in, char* out,
                            double scale) {
    const Shape& s = p.shape;
    SmallFrames f;
    f.problem = p;
    f.problem.threads = 1;
    Shape& frame = f.problem.shape;
    frame.rank = 2;
    frame.axes[0] = s.axes[std::min(frame_axes[0], frame_axes[1])];
    frame.axes[1] = s.axes[std::max(frame_axes[0], frame_axes[1])];
    frame.batch = {1, 0, 0};
    f.problem.in_alignment = fftw_alignment(s.precision, in);
    f.problem.out_alignment = fftw_alignment(s.precision, out);
    for (int a = 0; a < s.rank; ++a)
        if (a != frame_axes[0] && a != frame_axes[1] && s.axes[a].n > 1)
            f.steps[f.dims++] = {s.axes[a].n, s.axes[a].in_stride, s.axes[a].out_stride};
    if (s.batch.n > 1) f.steps[f.dims++] = {s.batch.n, s.batch.in_stride, s.batch.out_stride};
    f.scale = last ? scale : 1.0;
    f.in = in;
    f.out = out;
    return f;
}

// A complex transform passes along every axis longer than 1, from input to
// output and then within the output. A real transform's pass along the last
// axis (the halved one) comes first forward (the others then run within the
// output) and last backward (the others run first, within the input).
// With three axes or more, or a batch, the problem is cut into frames: the
// passes along its last two axes run frame by frame, while a frame is still
// in cache, and the passes along the other axes over the whole.
Passes passes_of(const FftwProblem& p, const char* in, char* out, double scale) {
    const Shape& s = p.shape;
    const int last = s.rank - 1;
    const bool real = s.kind != Kind::complex_to_complex;
    std::vector<int> axes;  // the last first
    for (int a = last; a >= 0; --a)
        if (s.axes[a].n > 1 || (real && a == last)) axes.push_back(a);
    const bool framed = axes.size() >= 3 || (axes.size() == 2 && s.batch.n > 1);
    const size_t inner = framed ? 2 : axes.size();  // axes[0, inner) run frame by frame
    const int frame_axes[2] = {axes[0], framed ? axes[1] : -1};
    auto in_frames = [&](int axis) { return framed && (axis == frame_axes[0] || axis == frame_axes[1]); };
    // Backward real: the outer axes first, then the frames' axes, the last one last.
    if (s.kind == Kind::complex_to_real) {
        std::rotate(axes.begin(), axes.begin() + static_cast<std::ptrdiff_t>(inner), axes.end());
        std::reverse(axes.end() - static_cast<std::ptrdiff_t>(inner), axes.end());
    }

    Passes passes;
    for (size_t k = 0; k < axes.size(); ++k) {
        const int a = axes[k];
        Pass pass;
        pass.kind = real && a == last ? s.kind : Kind::complex_to_complex;
        pass.n = s.axes[a].n;
        pass.in_frames = in_frames(a);
        // Which sides the pass reads and writes.
        const bool first = k == 0, final = k + 1 == axes.size();
        const bool reads_input = s.kind == Kind::complex_to_real || first;
        const bool writes_output = s.kind != Kind::complex_to_real || final;
        pass.in = reads_input ? in : out;
        pass.out = writes_output ? out : const_cast<char*>(in);
        auto stride_of = [&](const Axis& x, bool input) { return input ? x.in_stride : x.out_stride; };
        pass.in_stride = stride_of(s.axes[a], reads_input);
        pass.out_stride = stride_of(s.axes[a], !writes_output);
        // The lines' positions: within a frame, or across the whole.
        auto add = [&](int64_t n, const Axis& x, bool within_frame) {
            if (n <= 1) return;
            const Step step{n, stride_of(x, reads_input), stride_of(x, !writes_output)};
            if (within_frame) pass.across[pass.dims++] = step;
            else pass.frame_steps[pass.frame_dims++] = step;
        };
        for (int b = 0; b < s.rank; ++b)
            if (b != a) add(real && b == last ? s.axes[b].n / 2 + 1 : s.axes[b].n, s.axes[b], !pass.in_frames || in_frames(b));
        add(s.batch.n, s.batch, !pass.in_frames);
        // Neighbouring lines first, so that a block's lines lie side by side.
        for (int d = 1; d < pass.dims; ++d)
            for (int e = d; e > 0 && std::llabs(pass.across[e].in) < std::llabs(pass.across[e - 1].in); --e)
                std::swap(pass.across[e], pass.across[e - 1]);
        for (int d = 0; d < pass.dims; ++d) pass.lines *= pass.across[d].n;
        pass.scale = final ? scale : 1.0;
        pass.direct_lines = direct_block_lines(pass, real_bytes(s.precision));
        if (pass.in_frames) {
            passes.frames = 1;
            for (int d = 0; d < pass.frame_dims; ++d) passes.frames *= pass.frame_steps[d].n;
        }
        passes.list.push_back(pass);
    }
    // A final pass that runs in the data would scale in a sweep of its own:
    // the pass before it scales instead, as it copies or transforms anyway.
    std::vector<Pass>& list = passes.list;
    const size_t final = list.size() - 1;
    const bool scale_earlier = scale != 1.0 && final > 0 && list[final].direct_lines > 0;
    if (scale_earlier) {
        list[final].scale = 1.0;
        list[final - 1].scale = scale;
    }
    if (framed) {
        int64_t elements = 1;
        for (const int a : frame_axes) elements *= s.axes[a].n;
        const bool last = s.kind == Kind::complex_to_real || axes.size() == 2 ||
                          (scale_earlier && list[final - 1].in_frames);
        if (elements <= small_frame_elements) passes.small = small_frames_of(p, frame_axes, last, in, out, scale);
    }
    return passes;
}

// The pass as it applies to one frame: its data pointers moved to the frame.
Pass at_frame(const Pass& p, int64_t frame, size_t real_bytes) {
    Pass at = p;
    const auto in_bytes = static_cast<int64_t>(p.in_bytes(real_bytes));
    const auto out_bytes = static_cast<int64_t>(p.out_bytes(real_bytes));
    for (int d = 0; d < p.frame_dims; ++d) {
        const Step& s = p.frame_steps[d];
        const int64_t index = frame % s.n;
        frame /= s.n;
        at.in += index * s.in * in_bytes;
        at.out += index * s.out * out_bytes;
    }
    return at;
}

// Runs the problem's passes with a buffer for each of the problem's threads.
template <typename R>
class PassRunner {
public:
    PassRunner(const FftwProblem& whole, const Passes& passes) : whole_(whole), passes_(passes) {}
    ~PassRunner() {
        for (void* m : memory_) line_buffers.give_back(m);
    }

    Status run() {
        const auto& list = passes_.list;
        plans_.resize(list.size());
        // The buffers: for the largest block of any pass, one pair per thread
        // (64-byte steps keep them all at one alignment).
        for (size_t k = 0; k < list.size(); ++k) {
            if (list[k].direct_lines) {
                plans_[k].block_lines = list[k].direct_lines;
                continue;  // (no buffers)
            }
            int64_t lines = plans_[k].block_lines = block_lines_of(list[k], sizeof(R));
            if (list[k].by_threes()) {
                // A block is one run of the kernel; its buffers hold the
                // kernel's work arrays (a line's buffer holds n values at least).
                plans_[k].threes = std::make_shared<PowerOfThreeLines<R>>(list[k].n, whole_.shape.sign);
                lines = plans_[k].block_lines = PowerOfThreeLines<R>::lanes;
            }
            const Pass& p = list[k];
            const int64_t in_elements = layout_of(p, p.in_n(), lines).elements(p.in_n(), lines);
            const int64_t out_elements = layout_of(p, p.out_n(), lines).elements(p.out_n(), lines);
            gathered_bytes_ = std::max(gathered_bytes_,
                                       bytes_of(in_elements * static_cast<int64_t>(p.in_bytes(sizeof(R)))));
            transformed_bytes_ = std::max(transformed_bytes_,
                                          bytes_of(out_elements * static_cast<int64_t>(p.out_bytes(sizeof(R)))));
        }
        memory_.resize(static_cast<size_t>(whole_.threads), nullptr);
        for (void*& m : memory_)
            if (!(m = take_buffer(buffer_bytes()))) return out_of_memory;
        for (size_t k = 0; k < list.size(); ++k) {
            if (!plans_[k].threes && !(plans_[k].plan = plan_of(list[k], plans_[k].block_lines))) return planner_failed;
            if (list[k].by_half_length()) plans_[k].twiddles = half_length_twiddles<R>(list[k].n);
        }
        if (const auto& small = passes_.small)
            small_plan_ = PlanCache::instance().plan_for(small->problem, const_cast<char*>(small->in), small->out,
                                                         PlanUse::small_frame);

        for (size_t k = 0; k < list.size();) {
            size_t end = k + 1;
            while (list[k].in_frames && end < list.size() && list[end].in_frames) ++end;
            const auto began = std::chrono::steady_clock::now();
            if (!list[k].in_frames) run_pass(list[k], plans_[k], whole_.threads);
            else if (small_plan_) run_small_frames(k, end);
            else run_frames(k, end);
            // Each cheap line plan's account: the passes' time, shared out.
            const double share = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() /
                                  static_cast<double>(end - k);
            for (; k < end; ++k)
                if (!plans_[k].threes && !plans_[k].plan->measured)
                    PlanCache::instance().account_cheap(plans_[k].plan->problem, share, 1);
        }
        return ok;
    }

private:
    static int64_t bytes_of(int64_t bytes) { return (bytes + 63) / 64 * 64; }

    int64_t buffer_bytes() const { return gathered_bytes_ + transformed_bytes_; }

    Buffers buffers_of(int worker) const {
        char* base = static_cast<char*>(memory_[static_cast<size_t>(worker)]);
        return {base, base + gathered_bytes_};
    }

    std::shared_ptr<Plan> plan_of(const Pass& p, int64_t block_lines) const {
        void* in = p.direct_lines ? const_cast<char*>(p.in) : buffers_of(0).gathered;
        void* out = p.direct_lines ? p.out : buffers_of(0).transformed;
        FftwProblem problem = block_problem(whole_, p, block_lines);
        problem.in_alignment = fftw_alignment(problem.shape.precision, in);
        problem.out_alignment = fftw_alignment(problem.shape.precision, out);
        return PlanCache::instance().plan_for(problem, in, out, PlanUse::lines);
    }

    // Blocks [begin, end) of a pass, on one thread.
    void run_blocks(const Pass& p, const PassPlan<R>& pp, int64_t begin, int64_t end, const Buffers& b) const {
        if (p.direct_lines) {  // (whole blocks, each within one run of side-by-side lines)
            for (int64_t block = begin; block < end; ++block) {
                const Cursor first(p, block * pp.block_lines);
                run_direct_block(p, pp, first.in(), first.out());
            }
            return;
        }
        Cursor cursor(p, begin * pp.block_lines);
        int64_t in_at[max_block_lines], out_at[max_block_lines];
        for (int64_t block = begin; block < end; ++block) {
            const int64_t count = std::min(pp.block_lines, p.lines - block * pp.block_lines);
            for (int64_t c = 0; c < count; ++c, cursor.next()) {
                in_at[c] = cursor.in();
                out_at[c] = cursor.out();
            }
            run_block<R>(p, pp, in_at, out_at, count, b);
        }
    }

    int64_t blocks_of(const Pass& p, const PassPlan<R>& pp) const { return (p.lines + pp.block_lines - 1) / pp.block_lines; }

    // A whole pass, its blocks spread over the threads (if it is large
    // enough to pay for them) a few at a time, each thread taking the next
    // when it is done: on a machine busy with other processes, a thread
    // that loses its core for a while then holds up only the blocks it has
    // in hand, not its share of the pass.
    void run_pass(const Pass& p, const PassPlan<R>& pp, int threads) const {
        const int64_t blocks = blocks_of(p, pp);
        if (p.lines * p.n < parallel_threshold) threads = 1;
        threads = static_cast<int>(std::min<int64_t>(threads, blocks));
        if (threads == 1) {
            run_blocks(p, pp, 0, blocks, buffers_of(0));
            return;
        }
        const int64_t chunk = std::max<int64_t>(1, blocks / (8 * threads));
        const int64_t chunks = (blocks + chunk - 1) / chunk;
        auto run_chunk = [&](int64_t c, int worker) {
            run_blocks(p, pp, c * chunk, std::min(blocks, (c + 1) * chunk), buffers_of(worker));
        };
        run_tasks(chunks, threads, run_chunk);
    }

    // Passes [first, end), frame by frame. With frames enough for every
    // thread to have several, each thread takes whole frames, one after
    // another (its cache keeps them); otherwise the threads share each
    // frame's passes.
    void run_frames(size_t first, size_t end) const {
        const auto& list = passes_.list;
        const int64_t frames = passes_.frames;
        const int threads = whole_.threads;
        if (threads > 1 && frames >= 2 * threads &&
            frames * list[first].lines * list[first].n >= parallel_threshold) {
            auto run_frame = [&](int64_t f, int worker) {
                for (size_t k = first; k < end; ++k) {
                    const Pass p = at_frame(list[k], f, sizeof(R));
                    run_blocks(p, plans_[k], 0, blocks_of(p, plans_[k]), buffers_of(worker));
                }
            };
            run_tasks(frames, threads, run_frame);
            return;
        }
        for (int64_t f = 0; f < frames; ++f)
            for (size_t k = first; k < end; ++k) run_pass(at_frame(list[k], f, sizeof(R)), plans_[k], threads);
    }

    // Passes [first, end) as each small frame's own plan, in place in the
    // data (a frame at another alignment than the first runs the passes).
    void run_small_frames(size_t first, size_t end) const {
        const SmallFrames& small = *passes_.small;
        const Plan& plan = *small_plan_;
        const Shape& shape = plan.problem.shape;
        const auto in_bytes = static_cast<int64_t>(input_element_bytes(shape));
        const auto out_bytes = static_cast<int64_t>(output_element_bytes(shape));
        const Layout frame_out = output_layout(shape);
        const int components = output_is_complex(shape.kind) ? 2 : 1;
        auto run_frame = [&](int64_t f, int worker) {
            const char* in = small.in;
            char* out = small.out;
            for (int64_t rest = f, d = 0; d < small.dims; ++d) {
                const Step& s = small.steps[d];
                in += (rest % s.n) * s.in * in_bytes;
                out += (rest % s.n) * s.out * out_bytes;
                rest /= s.n;
            }
            if (fftw_alignment(shape.precision, in) != plan.problem.in_alignment ||
                fftw_alignment(shape.precision, out) != plan.problem.out_alignment) {
                for (size_t k = first; k < end; ++k) {
                    const Pass p = at_frame(passes_.list[k], f, sizeof(R));
                    run_blocks(p, plans_[k], 0, blocks_of(p, plans_[k]), buffers_of(worker));
                }
                return;
            }
            execute_fftw_plan(plan.problem, plan.handle, const_cast<char*>(in), out);
            if (small.scale != 1.0) scale_elements(out, frame_out, shape.precision, components, small.scale, 1);
        };
        const int64_t frames = passes_.frames;
        const int threads = whole_.threads;
        if (threads > 1 && frames >= 2 * threads &&
            frames * passes_.list[first].lines * passes_.list[first].n >= parallel_threshold) {
            run_tasks(frames, threads, run_frame);
            return;
        }
        for (int64_t f = 0; f < frames; ++f) run_frame(f, 0);
    }

    const FftwProblem& whole_;
    const Passes& passes_;
    std::shared_ptr<Plan> small_plan_;
    std::vector<PassPlan<R>> plans_;
    int64_t gathered_bytes_ = 0, transformed_bytes_ = 0;  // per thread
    std::vector<void*> memory_;                          // each worker's buffers
};

// Maps the pages of [data, data + bytes) writable without writing to them
// (a call may be using them meanwhile); a kernel without
// MADV_POPULATE_WRITE (Linux 5.14) leaves them to the first call.
void populate(void* data, int64_t bytes) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(data) / page * page;
    const auto end = reinterpret_cast<uintptr_t>(data) + static_cast<uintptr_t>(bytes);
#ifdef MADV_POPULATE_WRITE
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

// As the library loads, the caller's and a helper's buffers are kept, and
// a thread maps their pages beside the rest of the process's start-up, so
// that a first call does not fault them in; a call that takes them
// meanwhile just uses them. The thread asks nothing but the kernel: FFTW's
// set-up, say, is not safe beside another FFTW user of the process
// initialising it (a program that calls fftw_init_threads in main). Joined
// when the library is unloaded; a fork's child, which does not have the
// thread, leaves it alone.
class BufferWarmUp {
public:
    BufferWarmUp() {
        std::vector<void*> kept;
        for (int i = 0; i < 2; ++i)
            if (void* b = take_buffer(kept_buffer_bytes)) kept.push_back(b);
        for (void* b : kept) line_buffers.give_back(b);
        thread_ = new std::thread([kept] {
            for (void* b : kept) populate(b, kept_buffer_bytes);
        });
    }
    ~BufferWarmUp() {
        if (owner_ != getpid()) return;
        thread_->join();
        delete thread_;
    }

private:
    const pid_t owner_ = getpid();
    std::thread* thread_ = nullptr;
};
BufferWarmUp buffer_warm_up;

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
    if (passes == 1) return s.batch.n >= min_lines;
    // A small frame, or a batch of them that is small all together, runs
    // FFTW's own plan of it (see small_frame_elements).
    return passes >= 2 && input_layout(s).count() > small_frame_elements;
}

Status run_line_passes(const FftwProblem& p, char* in, char* out, double scale) {
    const Passes passes = passes_of(p, in, out, scale);
    if (p.shape.precision == Precision::single) return PassRunner<float>(p, passes).run();
    return PassRunner<double>(p, passes).run();
}

}  // namespace lumadex::dfti
