#include "dm_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>

#include "dm_format.h"
#include "dm_parser.h"
#include "host_state.h"
#include "pixels.h"
#include "tag_group_object.h"

namespace lumadex::host {
namespace {

using namespace dm;

// --- tags of an image --------------------------------------------------------

TagData tag_number(double value, std::uint64_t code)
{
    const bool integral = code != kFloat && code != kDouble;
    if (integral && value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max())
        return static_cast<std::int32_t>(value);
    return value;
}

// Turns the data tags and groups under an image's "ImageTags" into host tags,
// nested no deeper than any host tag tree (arrays and structs are groups too).
class TagBuilder {
public:
    TagBuilder(Parser& file, std::shared_ptr<ObjectBook> book) : file_(file), book_(std::move(book)) {}

    Ref<TagGroupObject> group(NodeId node, int level)
    {
        if (level > kMaxTagDepth) file_.fail("has image tags nested deeper than " + str(kMaxTagDepth) + " levels");
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        for (NodeId child = file_.first_child(node); child < file_.end_of(node); child = file_.end_of(child)) {
            count();
            if (file_.is_group(child)) {
                out->entries.push_back({file_.label(child), group(child, level + 1), 0});
                continue;
            }
            std::size_t at = 0;
            std::uint64_t offset = file_.node(child).value_at;
            std::uint16_t encoding = 0;
            try {
                TagData value = data(file_.info(child), at, offset, encoding, level, true);
                out->entries.push_back({file_.label(child), std::move(value), encoding});
            } catch (const TooLong&) {
                // A bulk array, not a tag a script reads.
            }
        }
        return out;
    }

private:
    void count()
    {
        if (++made_ > kMaxImageTagEntries) file_.fail("has images with more than " + str(kMaxImageTagEntries) + " tags");
    }

    // An array too long to become tags: the whole data tag is left out.
    struct TooLong {};

    // The value of a description that lies in a group of `level`; the
    // description's nesting was bounded when the file was parsed.
    TagData data(std::span<const std::uint64_t> info, std::size_t& at, std::uint64_t& offset,
                 std::uint16_t& encoding, int level, bool top)
    {
        const std::uint64_t code = info[at++];
        encoding = static_cast<std::uint16_t>(code);
        if (const std::uint64_t size = simple_size(code)) {
            const double value = file_.number(code, offset);
            offset += size;
            return tag_number(value, code);
        }
        if (code == kString) {
            const std::uint64_t length = info[at++];
            std::string text = file_.byte_text(offset, length);
            offset += length;
            return text;
        }
        if (code == kArray && top && info[at] == kUShort) {  // the files' form of text
            const std::uint64_t units = info[at + 1];
            at += 2;
            encoding = 0;
            std::string text = file_.utf16_text(offset, units);
            offset += 2 * units;
            return text;
        }
        if (level + 1 > kMaxTagDepth) file_.fail("has image tags nested deeper than " + str(kMaxTagDepth) + " levels");
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        if (code == kStruct) {
            at++;
            const std::uint64_t fields = info[at++];
            for (std::uint64_t f = 0; f < fields; ++f) {
                at++;
                std::uint16_t field_encoding = 0;
                TagData value = data(info, at, offset, field_encoding, level + 1, false);
                count();
                out->entries.push_back({"", std::move(value), field_encoding});
            }
            return out;
        }
        // An array: the element's description, then the count.
        const std::size_t element_at = at;
        std::size_t end = at;
        file_.type_bytes(info, end, 0, std::numeric_limits<std::uint64_t>::max());
        const std::uint64_t elements = info[end];
        at = end + 1;
        if (elements > kMaxArrayTags) throw TooLong{};
        for (std::uint64_t k = 0; k < elements; ++k) {
            std::size_t element = element_at;
            std::uint16_t element_encoding = 0;
            TagData value = data(info, element, offset, element_encoding, level + 1, false);
            count();
            out->entries.push_back({"", std::move(value), element_encoding});
        }
        return out;
    }

    Parser& file_;
    std::shared_ptr<ObjectBook> book_;
    std::uint64_t made_ = 0;
};

// --- images ---------------------------------------------------------------

std::optional<DataType> host_type(std::uint64_t file_code)
{
    if (file_code == 23) return DataType::RGB;  // the files' RGBA of four bytes
    if (file_code > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return data_type_from_code(static_cast<std::uint32_t>(file_code));
}

// The bytes of one number in a pixel of `type` (the unit a byte swap works on).
std::size_t component_bytes(DataType type)
{
    switch (type) {
    case DataType::Complex8: return 4;
    case DataType::Complex16: return 8;
    default: return element_size(type);
    }
}

// A calibration number as the host keeps it: a float, saturated rather than out of range.
float to_float(double value)
{
    constexpr double kMax = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -kMax, kMax));
}

[[noreturn]] void image_error(const std::filesystem::path& path, std::uint64_t index, const std::string& what)
{
    file_error(path, "image " + str(index) + " " + what);
}

// An image of the file with everything but its pixels, which stay in the
// file: `image->pixels` is null.
DescribedImage describe_image(Parser& file, NodeId entry, std::uint64_t index, TagBuilder& tags,
                              const std::shared_ptr<ObjectBook>& book)
{
    auto fail = [&](const std::string& what) { image_error(file.path(), index, what); };
    const NodeId data = file.find(entry, "ImageData");
    if (!file.is_group(data)) fail("has no ImageData group");

    const std::optional<double> code = file.number_of(file.find(data, "DataType"));
    if (!code) fail("has no DataType");
    const bool whole = *code >= 0 && *code <= 1e6 && *code == std::floor(*code);  // NaN is not
    const std::optional<DataType> type = whole ? host_type(static_cast<std::uint64_t>(*code)) : std::nullopt;
    if (!type) {
        const bool packed = *code == 5 || *code == 27 || *code == 28;
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", *code);
        fail("has the data type " + std::string(shown) +
             (packed ? " (packed complex), which the host does not hold" : ", which the host does not know"));
    }

    const NodeId dimensions = file.find(data, "Dimensions");
    const std::size_t dimension_count = file.is_group(dimensions) ? file.child_count(dimensions) : 0;
    if (dimension_count < 1 || dimension_count > kMaxFileDimensions) fail("has no list of 1 to 4 Dimensions");
    std::vector<std::int64_t> sizes;
    for (NodeId d = file.first_child(dimensions); d < file.end_of(dimensions); d = file.end_of(d)) {
        const std::optional<double> size = file.number_of(d);
        if (!size || *size < 1 || *size > std::numeric_limits<std::int32_t>::max() || *size != std::floor(*size))
            fail("has a dimension that is not a size from 1 to 2147483647");
        sizes.push_back(static_cast<std::int64_t>(*size));
    }

    const NodeId pixels = file.find(data, "Data");
    if (pixels == kNoNode || file.is_group(pixels) || file.info(pixels)[0] != kArray) fail("has no pixel Data array");
    const std::uint64_t pixel_bytes = file.node(pixels).value_bytes;
    // The bytes the sizes need, each product checked for overflow before it is used.
    std::uint64_t needed = element_size(*type);
    bool overflow = false;
    for (std::int64_t size : sizes) overflow = overflow || __builtin_mul_overflow(needed, static_cast<std::uint64_t>(size), &needed);
    std::string shape;
    for (std::int64_t size : sizes) shape += (shape.empty() ? "" : " x ") + std::to_string(size);
    if (overflow || needed != pixel_bytes)
        fail("has a pixel Data block of " + str(pixel_bytes) + " bytes, but " + shape + " " +
             std::string(data_type_name(*type)) + " pixels need " + (overflow ? std::string("more than 2^64") : str(needed)));
    // The block lies within the file's size (the parser saw to that); a file
    // whose size is mostly holes can still claim more than the host holds.
    if (pixel_bytes > static_cast<std::uint64_t>(kMaxImageBytes))
        fail("has " + shape + " pixels of " + str(pixel_bytes) + " bytes, more than the host's limit of 2^40 bytes per image");

    Ref<ImageObject> image = make_object<ImageObject>(book);
    image->type = *type;
    image->num_dims = static_cast<int>(sizes.size());
    std::int64_t stride = static_cast<std::int64_t>(element_size(*type));
    for (std::size_t d = 0; d < sizes.size(); ++d) {
        image->sizes[d] = sizes[d];
        image->strides[d] = stride;
        stride *= sizes[d];
    }
    image->name = file.text_of(file.find(entry, "Name")).value_or("");
    const NodeId per_dimension = file.find(file.find(data, "Calibrations"), "Dimension");
    if (file.is_group(per_dimension)) {
        NodeId cal = file.first_child(per_dimension);
        for (std::size_t d = 0; d < sizes.size() && cal < file.end_of(per_dimension); ++d, cal = file.end_of(cal)) {
            image->calibrations[d].origin = to_float(file.number_of(file.find(cal, "Origin")).value_or(0.0));
            image->calibrations[d].scale = to_float(file.number_of(file.find(cal, "Scale")).value_or(1.0));
            image->calibrations[d].units = file.text_of(file.find(cal, "Units")).value_or("");
            image->calibrations[d].label = file.text_of(file.find(cal, "Label")).value_or("");
        }
    }
    const NodeId image_tags = file.find(entry, "ImageTags");
    image->tags = file.is_group(image_tags) ? tags.group(image_tags, 0) : make_object<TagGroupObject>(book);
    return {std::move(image), file.node(pixels).value_at, pixel_bytes, file.little_endian};
}

// An image of the file with its pixels read and put in the machine's byte order.
Ref<ImageObject> read_image(Parser& file, NodeId entry, std::uint64_t index, TagBuilder& tags,
                            const std::shared_ptr<ObjectBook>& book)
{
    DescribedImage found = describe_image(file, entry, index, tags, book);
    Ref<ImageObject>& image = found.image;
    const std::uint64_t pixel_bytes = found.pixel_bytes;
    try {
        image->pixels = std::make_shared<PixelBuffer>(pixel_bytes, PixelBuffer::Uninitialised{});
    } catch (const std::bad_alloc&) {
        std::string shape;
        for (int d = 0; d < image->num_dims; ++d) shape += (d ? " x " : "") + std::to_string(image->sizes[d]);
        image_error(file.path(), index,
                    "has " + shape + " pixels of " + str(pixel_bytes) + " bytes, more than the memory available");
    }
    file.file().read(image->pixels->data(), pixel_bytes, found.pixels_at);
    if (!found.little_endian) {
        const std::size_t unit = component_bytes(image->type);
        for (std::byte* p = image->pixels->data(); unit > 1 && p < image->pixels->data() + pixel_bytes; p += unit)
            std::reverse(p, p + unit);
    }
    return std::move(image);
}

// Calls `each(parser, entry, index)` for every image of the file at `path`,
// thumbnails skipped; a file without images is a FileError.
template <class Each>
void for_each_image(const std::filesystem::path& path, Each each)
{
    FileSource file(path);
    Parser parser(file);
    const NodeId root = 0;
    const NodeId list = parser.find(root, "ImageList");
    if (!parser.is_group(list)) file_error(path, "holds no ImageList: it is not an image file");

    std::vector<double> thumbnails;
    if (const NodeId previews = parser.find(root, "Thumbnails"); parser.is_group(previews))
        for (NodeId preview = parser.first_child(previews); preview < parser.end_of(previews); preview = parser.end_of(preview))
            if (auto index = parser.number_of(parser.find(preview, "ImageIndex"))) thumbnails.push_back(*index);

    std::size_t i = 0, images = 0;
    for (NodeId entry = parser.first_child(list); entry < parser.end_of(list); entry = parser.end_of(entry), ++i) {
        if (std::find(thumbnails.begin(), thumbnails.end(), static_cast<double>(i)) != thumbnails.end()) continue;
        each(parser, entry, i);
        ++images;
    }
    if (images == 0)
        file_error(path, i == 0 ? "holds an empty ImageList: it has no images" : "holds only thumbnails: it has no images");
}

}  // namespace

std::vector<Ref<ImageObject>> read_dm_file(const std::shared_ptr<ObjectBook>& book, const std::filesystem::path& path)
{
    std::vector<Ref<ImageObject>> images;
    std::optional<TagBuilder> tags;  // one per file: it counts the tags made for all its images
    for_each_image(path, [&](Parser& parser, NodeId entry, std::size_t index) {
        if (!tags) tags.emplace(parser, book);
        images.push_back(read_image(parser, entry, index, *tags, book));
    });
    return images;
}

std::vector<DescribedImage> describe_dm_file(const std::shared_ptr<ObjectBook>& book, const std::filesystem::path& path)
{
    std::vector<DescribedImage> images;
    std::optional<TagBuilder> tags;
    for_each_image(path, [&](Parser& parser, NodeId entry, std::size_t index) {
        if (!tags) tags.emplace(parser, book);
        images.push_back(describe_image(parser, entry, index, *tags, book));
    });
    return images;
}

}  // namespace lumadex::host
