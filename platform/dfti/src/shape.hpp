// The geometry of one transform call, in FFTW's terms: rank axes, each with
// a length and an input and output stride, plus one batch axis (count and
// distances). Strides count elements of the input or output type of the call
// (real or complex in the call's precision), as DFTI counts them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumadex::dfti {

constexpr int max_rank = 7;

enum class Precision : int { single = 0, double_ = 1 };

// What one compute call does. A forward real-domain transform is
// real_to_complex; the backward one complex_to_real.
enum class Kind : int { complex_to_complex = 0, real_to_complex = 1, complex_to_real = 2 };

struct Axis {
    int64_t n = 1;
    int64_t in_stride = 0;
    int64_t out_stride = 0;
    bool operator==(const Axis&) const = default;
};

struct Shape {
    Precision precision = Precision::double_;
    Kind kind = Kind::complex_to_complex;
    int sign = -1;  // exponent sign: -1 forward, +1 backward
    int rank = 1;
    std::array<Axis, max_rank> axes{};  // slowest first; the last is the contiguous-in-spirit one
    Axis batch{};                       // n = number of transforms, strides = distances
    bool operator==(const Shape&) const = default;
};

inline size_t real_bytes(Precision p) { return p == Precision::single ? 4 : 8; }
inline bool input_is_complex(Kind k) { return k != Kind::real_to_complex; }
inline bool output_is_complex(Kind k) { return k != Kind::complex_to_real; }
inline size_t input_element_bytes(const Shape& s) {
    return real_bytes(s.precision) * (input_is_complex(s.kind) ? 2 : 1);
}
inline size_t output_element_bytes(const Shape& s) {
    return real_bytes(s.precision) * (output_is_complex(s.kind) ? 2 : 1);
}

// Where the elements of one side of a call lie: offset + sum k_i * stride_i,
// 0 <= k_i < n_i, in elements. Axis rank..: the batch axis.
struct Layout {
    int rank = 0;
    std::array<int64_t, max_rank + 1> n{};
    std::array<int64_t, max_rank + 1> stride{};
    int64_t offset = 0;

    int64_t count() const;
    int64_t min_offset() const;  // smallest element offset reached
    int64_t max_offset() const;  // largest element offset reached
};

// The input and output sides of a call. Along the last axis the complex side
// of a real transform holds n / 2 + 1 elements.
Layout input_layout(const Shape& s, int64_t offset = 0);
Layout output_layout(const Shape& s, int64_t offset = 0);

// Dense row-major strides of one side (last axis stride 1, batch outermost).
Layout dense_layout_like(const Layout& l);

// True when any element of a (element_bytes_a each) may share a byte with
// any element of b. Exact for the sub-area layouts the plug-in uses, and
// conservative (true) for layouts too scattered to check cheaply.
bool layouts_overlap(const char* a, const Layout& la, size_t element_bytes_a, const char* b,
                     const Layout& lb, size_t element_bytes_b);

// True when every offset of the layout fits comfortably in 62 bits.
bool layout_addressable(const Layout& l);

}  // namespace lumadex::dfti
