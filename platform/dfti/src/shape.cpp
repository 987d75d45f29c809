#include "shape.hpp"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace lumadex::dfti {

int64_t Layout::count() const {
    int64_t c = 1;
    for (int i = 0; i < rank; ++i) c *= n[i];
    return c;
}

int64_t Layout::min_offset() const {
    int64_t m = offset;
    for (int i = 0; i < rank; ++i)
        if (stride[i] < 0) m += stride[i] * (n[i] - 1);
    return m;
}

int64_t Layout::max_offset() const {
    int64_t m = offset;
    for (int i = 0; i < rank; ++i)
        if (stride[i] > 0) m += stride[i] * (n[i] - 1);
    return m;
}

namespace {

Layout side_layout(const Shape& s, int64_t offset, bool input) {
    const bool complex_side = input ? input_is_complex(s.kind) : output_is_complex(s.kind);
    const bool halved = complex_side && s.kind != Kind::complex_to_complex;
    Layout l;
    l.rank = s.rank + 1;
    for (int i = 0; i < s.rank; ++i) {
        const Axis& a = s.axes[i];
        l.n[i] = (halved && i == s.rank - 1) ? a.n / 2 + 1 : a.n;
        l.stride[i] = input ? a.in_stride : a.out_stride;
    }
    l.n[s.rank] = s.batch.n;
    l.stride[s.rank] = input ? s.batch.in_stride : s.batch.out_stride;
    l.offset = offset;
    return l;
}

// Byte intervals [begin, end) covering the layout, one per run along its
// axis of unit stride (one per element when it has none); empty when there
// would be more than `limit`.
std::vector<std::pair<int64_t, int64_t>> runs(const Layout& l, int64_t element_bytes,
                                              int64_t limit) {
    int inner = -1;
    for (int i = 0; i < l.rank; ++i)
        if (l.n[i] > 1 && (inner < 0 || std::abs(l.stride[i]) < std::abs(l.stride[inner]))) inner = i;
    // Only neighbours one element apart make a contiguous run; a column of a
    // wider image is a run of single elements.
    if (inner >= 0 && std::abs(l.stride[inner]) != 1) inner = -1;
    std::vector<std::pair<int64_t, int64_t>> out;
    int64_t run_count = 1;
    for (int i = 0; i < l.rank; ++i)
        if (i != inner) run_count *= l.n[i];
    if (run_count > limit) return out;
    const int64_t run_span = inner < 0 ? 0 : std::abs(l.stride[inner]) * (l.n[inner] - 1);
    const int64_t run_lo = inner < 0 ? 0 : std::min<int64_t>(0, l.stride[inner] * (l.n[inner] - 1));
    out.reserve(static_cast<size_t>(run_count));
    std::array<int64_t, max_rank + 1> k{};
    for (int64_t r = 0; r < run_count; ++r) {
        int64_t start = l.offset;
        for (int i = 0; i < l.rank; ++i) start += k[i] * l.stride[i];
        const int64_t lo = (start + run_lo) * element_bytes;
        out.emplace_back(lo, lo + (run_span + 1) * element_bytes);
        for (int i = l.rank - 1; i >= 0; --i) {  // next multi-index, inner axis held at 0
            if (i == inner) continue;
            if (++k[i] < l.n[i]) break;
            k[i] = 0;
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

Layout input_layout(const Shape& s, int64_t offset) { return side_layout(s, offset, true); }
Layout output_layout(const Shape& s, int64_t offset) { return side_layout(s, offset, false); }

Layout dense_layout_like(const Layout& l) {
    // Transform axes row-major, the batch axis (the last entry) outermost.
    Layout d = l;
    d.offset = 0;
    const int batch = l.rank - 1;
    int64_t inner = 1;
    for (int i = batch - 1; i >= 0; --i) {
        d.stride[i] = inner;
        inner *= l.n[i];
    }
    if (batch >= 0) d.stride[batch] = inner;
    return d;
}

bool layout_addressable(const Layout& l) {
    constexpr int64_t limit = int64_t{1} << 58;
    __int128 lo = l.offset, hi = l.offset;
    for (int i = 0; i < l.rank; ++i) {
        if (l.n[i] < 1 || l.n[i] > limit || l.stride[i] > limit || l.stride[i] < -limit) return false;
        const __int128 reach = static_cast<__int128>(l.stride[i]) * (l.n[i] - 1);
        (reach < 0 ? lo : hi) += reach;
    }
    return lo > -limit && hi < limit;
}

bool layouts_overlap(const char* a, const Layout& la, size_t element_bytes_a, const char* b,
                     const Layout& lb, size_t element_bytes_b) {
    const int64_t ea = static_cast<int64_t>(element_bytes_a);
    const int64_t eb = static_cast<int64_t>(element_bytes_b);
    // Work relative to a; b's base as a byte displacement.
    const int64_t shift = static_cast<int64_t>(reinterpret_cast<uintptr_t>(b) -
                                               reinterpret_cast<uintptr_t>(a));
    const int64_t a_lo = la.min_offset() * ea, a_hi = (la.max_offset() + 1) * ea;
    const int64_t b_lo = shift + lb.min_offset() * eb, b_hi = shift + (lb.max_offset() + 1) * eb;
    if (a_hi <= b_lo || b_hi <= a_lo) return false;

    // Bounding ranges meet (say, two sub-areas of one image): compare runs.
    constexpr int64_t limit = int64_t{1} << 18;
    auto ra = runs(la, ea, limit);
    auto rb = runs(lb, eb, limit);
    if (ra.empty() || rb.empty()) return true;
    for (auto& r : rb) r = {r.first + shift, r.second + shift};
    std::sort(rb.begin(), rb.end());
    size_t i = 0, j = 0;
    while (i < ra.size() && j < rb.size()) {
        if (ra[i].second <= rb[j].first) ++i;
        else if (rb[j].second <= ra[i].first) ++j;
        else return true;
    }
    return false;
}

}  // namespace lumadex::dfti
