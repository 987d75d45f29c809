#include "strided_ops.hpp"

#include <cstdint>
#include <cstdlib>

namespace lumadex::dfti {

namespace {

// Rows of a layout: every axis but the inner one, decoded from a row index.
struct Rows {
    int inner = -1;
    int64_t inner_n = 1;
    int64_t count = 1;
    int outer_rank = 0;
    int64_t n[max_rank + 1]{};
    int axis[max_rank + 1]{};

    explicit Rows(const Layout& l) {
        for (int i = 0; i < l.rank; ++i)
            if (l.n[i] > 1 && (inner < 0 || std::llabs(l.stride[i]) < std::llabs(l.stride[inner])))
                inner = i;
        if (inner >= 0) inner_n = l.n[inner];
        for (int i = 0; i < l.rank; ++i) {
            if (i == inner || l.n[i] == 1) continue;
            axis[outer_rank] = i;
            n[outer_rank++] = l.n[i];
            count *= l.n[i];
        }
    }

    // Element offset of the row's first element in layout l.
    int64_t start(int64_t row, const Layout& l) const {
        int64_t offset = l.offset;
        for (int j = outer_rank - 1; j >= 0; --j) {
            offset += (row % n[j]) * l.stride[axis[j]];
            row /= n[j];
        }
        return offset;
    }
    int64_t step(const Layout& l) const { return inner < 0 ? 0 : l.stride[inner]; }
};

// Below this many elements a pass runs on the calling thread only.
constexpr int64_t parallel_threshold = 1 << 15;

template <typename R, int C>
void scale_row(R* p, int64_t inner_n, int64_t step, R s) {
    if (step == C) {
        for (int64_t i = 0; i < inner_n * C; ++i) p[i] *= s;
    } else {
        for (int64_t i = 0; i < inner_n; ++i)
            for (int c = 0; c < C; ++c) p[i * step + c] *= s;
    }
}

template <typename R, int C>
void scale_rows(R* base, const Layout& l, R s, int threads) {
    const Rows rows(l);
    const int64_t step = rows.step(l) * C;
    const int64_t inner_n = rows.inner_n;
    if (threads > 1 && rows.count * inner_n >= parallel_threshold) {
#pragma omp parallel for schedule(static) num_threads(threads)
        for (int64_t r = 0; r < rows.count; ++r) scale_row<R, C>(base + rows.start(r, l) * C, inner_n, step, s);
    } else {
        // No parallel region at all: this also runs per cache-sized chunk.
        for (int64_t r = 0; r < rows.count; ++r) scale_row<R, C>(base + rows.start(r, l) * C, inner_n, step, s);
    }
}

struct Pair64 {
    uint64_t a, b;
};

template <typename E>
void copy_rows(const E* src, const Layout& from, E* dst, const Layout& to, int threads) {
    const Rows rows(from);
    const int64_t src_step = rows.step(from);
    const int64_t dst_step = rows.step(to);
    const int64_t inner_n = rows.inner_n;
    const bool parallel = threads > 1 && rows.count * inner_n >= parallel_threshold;
#pragma omp parallel for schedule(static) num_threads(threads) if (parallel)
    for (int64_t r = 0; r < rows.count; ++r) {
        const E* s = src + rows.start(r, from);
        E* d = dst + rows.start(r, to);
        for (int64_t i = 0; i < inner_n; ++i) d[i * dst_step] = s[i * src_step];
    }
}

}  // namespace

void scale_elements(void* base, const Layout& layout, Precision precision, int components,
                    double scale, int threads) {
    if (precision == Precision::single) {
        if (components == 2) scale_rows<float, 2>(static_cast<float*>(base), layout, static_cast<float>(scale), threads);
        else scale_rows<float, 1>(static_cast<float*>(base), layout, static_cast<float>(scale), threads);
    } else {
        if (components == 2) scale_rows<double, 2>(static_cast<double*>(base), layout, scale, threads);
        else scale_rows<double, 1>(static_cast<double*>(base), layout, scale, threads);
    }
}

void copy_elements(const void* src, const Layout& from, void* dst, const Layout& to,
                   size_t element_bytes, int threads) {
    switch (element_bytes) {
        case 4:
            copy_rows(static_cast<const uint32_t*>(src), from, static_cast<uint32_t*>(dst), to, threads);
            break;
        case 8:
            copy_rows(static_cast<const uint64_t*>(src), from, static_cast<uint64_t*>(dst), to, threads);
            break;
        default:
            copy_rows(static_cast<const Pair64*>(src), from, static_cast<Pair64*>(dst), to, threads);
            break;
    }
}

}  // namespace lumadex::dfti
