#include "pixels.h"

#include <sys/mman.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace lumadex::host {
namespace {

template <class Int>
Int saturate_round(double value)
{
    if (std::isnan(value)) return 0;
    const double rounded = std::round(value);
    constexpr double lowest = static_cast<double>(std::numeric_limits<Int>::lowest());
    constexpr double highest = static_cast<double>(std::numeric_limits<Int>::max());
    if (rounded <= lowest) return std::numeric_limits<Int>::lowest();
    if (rounded >= highest) return std::numeric_limits<Int>::max();
    return static_cast<Int>(rounded);
}

template <class T>
T load_as(const std::byte* element)
{
    T value;
    std::memcpy(&value, element, sizeof value);
    return value;
}

template <class T>
void store_as(std::byte* element, T value)
{
    std::memcpy(element, &value, sizeof value);
}

// One row of the data-type table, for the type with `code`; null for codes
// the host does not know.
struct DataTypeRow {
    std::uint32_t code;
    std::string_view name;
    std::size_t bytes;
    dm_data_kind kind;
};

const DataTypeRow* find_row(std::uint32_t code)
{
    static constexpr DataTypeRow kRows[] = {
#define LUMADEX_DATA_TYPE(code, identifier, name, bytes, kind) {code, name, bytes, kind},
        DM_DATA_TYPES(LUMADEX_DATA_TYPE)
#undef LUMADEX_DATA_TYPE
    };
    for (const DataTypeRow& row : kRows)
        if (row.code == code) return &row;
    return nullptr;
}

const DataTypeRow& row_of(DataType type)
{
    if (const DataTypeRow* row = find_row(static_cast<std::uint32_t>(type))) return *row;
    throw UsageError("Unknown data type " + std::to_string(static_cast<std::uint32_t>(type)) + ".");
}

}  // namespace

std::size_t element_size(DataType type) { return row_of(type).bytes; }
std::string_view data_type_name(DataType type) { return row_of(type).name; }
dm_data_kind data_type_kind(DataType type) { return row_of(type).kind; }

std::optional<DataType> data_type_from_code(std::uint32_t code)
{
    if (!find_row(code)) return std::nullopt;
    return static_cast<DataType>(code);
}

TypeKind type_kind(DataType type)
{
    switch (data_type_kind(type)) {
    case DM_KIND_SIGNED:
    case DM_KIND_UNSIGNED: return TypeKind::Integer;
    case DM_KIND_REAL: return TypeKind::Real;
    case DM_KIND_COMPLEX: return TypeKind::Complex;
    case DM_KIND_BINARY: return TypeKind::Binary;
    case DM_KIND_RGB: return TypeKind::RGB;
    }
    return TypeKind::Integer;
}

namespace {

// Large buffers come straight from the kernel: its pages are zero already
// (no pass to clear them) and are asked for as huge pages, which a first
// write fills with a fraction of the page faults (numpy does the same for
// its large arrays). Small ones come from the heap, 64-byte aligned.
constexpr std::size_t kMappedBytes = std::size_t{8} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;

void free_pixels(std::byte* data, std::size_t bytes)
{
    if (bytes < kMappedBytes)
        ::operator delete(data, std::align_val_t{64});
    else
        ::munmap(data, bytes);
}

// The bytes with their shared owner (which frees them even if making the
// owner itself runs out of memory).
std::shared_ptr<std::byte> allocate_pixels(std::size_t bytes, bool zeroed)
{
    std::byte* data = nullptr;
    if (bytes < kMappedBytes) {
        data = static_cast<std::byte*>(::operator new(bytes ? bytes : 1, std::align_val_t{64}));
        if (zeroed) std::memset(data, 0, bytes);
    } else {
        void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) throw std::bad_alloc();
        const auto begin = (reinterpret_cast<std::uintptr_t>(map) + kHugePage - 1) & ~(kHugePage - 1);
        const auto end = (reinterpret_cast<std::uintptr_t>(map) + bytes) & ~(kHugePage - 1);
        if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // a hint only
        data = static_cast<std::byte*>(map);
    }
    return std::shared_ptr<std::byte>(data, [bytes](std::byte* p) { free_pixels(p, bytes); });
}

}  // namespace

PixelBuffer::PixelBuffer(std::size_t bytes) : memory_(allocate_pixels(bytes, true)), bytes_(bytes) {}

PixelBuffer::PixelBuffer(std::size_t bytes, Uninitialised) : memory_(allocate_pixels(bytes, false)), bytes_(bytes) {}

void check_image_sizes(std::span<const std::int64_t> sizes, DataType type)
{
    if (sizes.empty() || sizes.size() > static_cast<std::size_t>(kMaxDimensions))
        throw UsageError("An image has 1 to 5 dimensions, not " + std::to_string(sizes.size()) + ".");
    std::int64_t bytes = static_cast<std::int64_t>(element_size(type));
    for (std::size_t d = 0; d < sizes.size(); ++d) {
        const std::int64_t size = sizes[d];
        if (size < 1 || size > std::numeric_limits<std::int32_t>::max())
            throw UsageError("The size " + std::to_string(size) + " along dimension " + std::to_string(d) +
                             " is not between 1 and 2147483647.");
        // Compared before it is formed: bytes <= 2^40 and size < 2^31 could
        // still wrap past 2^63 in the product.
        if (size > kMaxImageBytes / bytes) throw UsageError("The image would need more than 2^40 bytes.");
        bytes *= size;
    }
}

std::int64_t PixelLayout::element_count() const
{
    std::int64_t count = 1;
    for (int d = 0; d < num_dims; ++d) count *= sizes[d];
    return count;
}

PixelLayout dense_layout(std::byte* origin, std::span<const std::int64_t> sizes, std::size_t element_bytes)
{
    PixelLayout layout;
    layout.origin = origin;
    layout.num_dims = static_cast<int>(sizes.size());
    std::int64_t stride = static_cast<std::int64_t>(element_bytes);
    for (int d = 0; d < layout.num_dims; ++d) {
        layout.sizes[d] = sizes[d];
        layout.strides[d] = stride;
        stride *= sizes[d];
    }
    return layout;
}

void copy_elements(const PixelLayout& source, const PixelLayout& target, std::size_t element_bytes)
{
    const auto element = static_cast<std::int64_t>(element_bytes);
    if (source.strides[0] != element || target.strides[0] != element) {
        for_each_element_pair(source, target,
                              [&](const std::byte* p, std::byte* q) { std::memcpy(q, p, element_bytes); });
        return;
    }
    // Rows along x are dense on both sides: one copy per row, visiting the
    // layouts with x collapsed to a single element.
    PixelLayout source_rows = source, target_rows = target;
    source_rows.sizes[0] = target_rows.sizes[0] = 1;
    const std::size_t row_bytes = element_bytes * static_cast<std::size_t>(source.sizes[0]);
    for_each_element_pair(source_rows, target_rows,
                          [&](const std::byte* p, std::byte* q) { std::memcpy(q, p, row_bytes); });
}

bool can_convert(DataType from, DataType to)
{
    const bool from_rgb = from == DataType::RGB, to_rgb = to == DataType::RGB;
    return from_rgb == to_rgb;
}

std::complex<double> load_element(DataType type, const std::byte* element)
{
    switch (type) {
    case DataType::Int8: return load_as<std::int8_t>(element);
    case DataType::UInt8: return load_as<std::uint8_t>(element);
    case DataType::Int16: return load_as<std::int16_t>(element);
    case DataType::UInt16: return load_as<std::uint16_t>(element);
    case DataType::Int32: return load_as<std::int32_t>(element);
    case DataType::UInt32: return load_as<std::uint32_t>(element);
    case DataType::RGB: return load_as<std::uint32_t>(element);
    case DataType::Binary: return load_as<std::uint8_t>(element) != 0 ? 1.0 : 0.0;
    case DataType::Real4: return load_as<float>(element);
    case DataType::Real8: return load_as<double>(element);
    case DataType::Complex8: {
        const auto value = load_as<std::complex<float>>(element);
        return {value.real(), value.imag()};
    }
    case DataType::Complex16: return load_as<std::complex<double>>(element);
    }
    return 0.0;
}

void store_element(DataType type, std::byte* element, std::complex<double> value)
{
    const double re = value.real();
    switch (type) {
    case DataType::Int8: return store_as(element, saturate_round<std::int8_t>(re));
    case DataType::UInt8: return store_as(element, saturate_round<std::uint8_t>(re));
    case DataType::Int16: return store_as(element, saturate_round<std::int16_t>(re));
    case DataType::UInt16: return store_as(element, saturate_round<std::uint16_t>(re));
    case DataType::Int32: return store_as(element, saturate_round<std::int32_t>(re));
    case DataType::UInt32:
    case DataType::RGB: return store_as(element, saturate_round<std::uint32_t>(re));
    case DataType::Binary: return store_as(element, static_cast<std::uint8_t>(value != 0.0 ? 1 : 0));
    case DataType::Real4: return store_as(element, static_cast<float>(re));
    case DataType::Real8: return store_as(element, re);
    case DataType::Complex8:
        return store_as(element, std::complex<float>(static_cast<float>(re), static_cast<float>(value.imag())));
    case DataType::Complex16: return store_as(element, value);
    }
}

void convert_elements(const PixelLayout& source, DataType from, const PixelLayout& target, DataType to)
{
    if (from == to) {
        copy_elements(source, target, element_size(from));
        return;
    }
    for_each_element_pair(source, target,
                          [&](const std::byte* p, std::byte* q) { store_element(to, q, load_element(from, p)); });
}

}  // namespace lumadex::host
