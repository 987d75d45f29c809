// Pixel storage and element conversion.
//
// An image's pixels live in a PixelBuffer that sub-areas share; a PixelLayout
// says where the elements of one image (or sub-area) lie in it: a start
// address, sizes and byte strides per dimension, x first.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "lumadex/host/host.h"

namespace lumadex::host {

// The data type for a host code, if the host knows it.
std::optional<DataType> data_type_from_code(std::uint32_t code);

enum class TypeKind { Integer, Real, Complex, Binary, RGB };
TypeKind type_kind(DataType type);

// Zero-initialised, 64-byte aligned bytes. The bytes are held by a shared
// owner that a view handed out of the host (a Python array over a lock) may
// share: they stay valid while that view lives, even after this buffer is gone
// (the image's pixels replaced by a data-type change, or the image itself).
class PixelBuffer {
public:
    explicit PixelBuffer(std::size_t bytes);  // std::bad_alloc when memory runs out
    // Without the zeroing, for a caller that fills every byte at once (a file reader).
    struct Uninitialised {};
    PixelBuffer(std::size_t bytes, Uninitialised);
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    std::byte* data() const { return memory_.get(); }
    std::size_t bytes() const { return bytes_; }
    // Shares the ownership of the bytes.
    std::shared_ptr<std::byte> memory() const { return memory_; }

private:
    std::shared_ptr<std::byte> memory_;
    std::size_t bytes_;
};

// Largest image the host makes: 2^40 bytes, and every size within int32.
inline constexpr std::int64_t kMaxImageBytes = std::int64_t{1} << 40;

// Checks sizes (1 to 5 of them, each from 1 to INT32_MAX, the whole image
// at most kMaxImageBytes); throws UsageError saying what is wrong.
void check_image_sizes(std::span<const std::int64_t> sizes, DataType type);

struct PixelLayout {
    std::byte* origin = nullptr;  // element (0, 0, ...)
    int num_dims = 0;
    std::int64_t sizes[kMaxDimensions] = {};
    std::int64_t strides[kMaxDimensions] = {};  // bytes

    std::int64_t element_count() const;
};

// Dense layout of `sizes` starting at `origin`: x fastest.
PixelLayout dense_layout(std::byte* origin, std::span<const std::int64_t> sizes, std::size_t element_bytes);

// Calls visit(a, b) for every element, x fastest, with its address in two
// layouts of the same sizes (the one-layout form passes it twice).
template <class Visit>
void for_each_element_pair(const PixelLayout& a, const PixelLayout& b, Visit&& visit)
{
    std::int64_t index[kMaxDimensions] = {};
    const std::int64_t count = a.element_count();
    std::byte* p = a.origin;
    std::byte* q = b.origin;
    for (std::int64_t n = 0; n < count; ++n) {
        visit(p, q);
        // Odometer step: advance x, carrying into the next dimension.
        for (int d = 0; d < a.num_dims; ++d) {
            p += a.strides[d];
            q += b.strides[d];
            if (++index[d] < a.sizes[d]) break;
            p -= a.strides[d] * a.sizes[d];
            q -= b.strides[d] * b.sizes[d];
            index[d] = 0;
        }
    }
}

template <class Visit>
void for_each_element(const PixelLayout& layout, Visit&& visit)
{
    for_each_element_pair(layout, layout, [&](std::byte* p, std::byte*) { visit(p); });
}

// Copies the elements of `source` into `target` (same sizes, same element
// size), row by row.
void copy_elements(const PixelLayout& source, const PixelLayout& target, std::size_t element_bytes);

// Conversion between data types. Every value passes through a complex<double>:
//   complex -> real        takes the real part;
//   real -> integer        rounds to nearest (halves away from zero) and
//                          saturates to the type's range; NaN becomes 0;
//   integer/real -> complex  imaginary part 0;
//   any -> binary          1 where the value (either part) is nonzero, else 0;
//   binary -> any          0 or 1.
// RGB packs four channels into one element and converts only to itself.
bool can_convert(DataType from, DataType to);
std::complex<double> load_element(DataType type, const std::byte* element);
void store_element(DataType type, std::byte* element, std::complex<double> value);

// Converts every element of `source` (type `from`) into `target` (type `to`);
// both layouts have the same sizes. The caller checked can_convert.
void convert_elements(const PixelLayout& source, DataType from, const PixelLayout& target, DataType to);

}  // namespace lumadex::host
