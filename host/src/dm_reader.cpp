#include "dm_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "dm_parser.h"
#include "host_state.h"

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

// Turns the data tags and groups under an image's "ImageTags" into host tags.
class TagBuilder {
public:
    TagBuilder(const Parser& file, std::shared_ptr<ObjectBook> book) : file_(file), book_(std::move(book)) {}

    Ref<TagGroupObject> group(const TagNode& node)
    {
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        for (const TagNode& child : node.children) {
            count();
            if (child.group) {
                out->entries.push_back({child.label, group(child), 0});
                continue;
            }
            std::size_t at = 0;
            std::uint64_t offset = child.offset;
            std::uint16_t encoding = 0;
            try {
                TagData value = data(child.info, at, offset, encoding, true);
                out->entries.push_back({child.label, std::move(value), encoding});
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

    TagData data(const std::vector<std::uint64_t>& info, std::size_t& at, std::uint64_t& offset,
                 std::uint16_t& encoding, bool top)
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
            std::string text = decode_bytes(file_.file().data + offset, length);
            offset += length;
            return text;
        }
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        if (code == kStruct) {
            at++;
            const std::uint64_t fields = info[at++];
            for (std::uint64_t f = 0; f < fields; ++f) {
                at++;
                std::uint16_t field_encoding = 0;
                TagData value = data(info, at, offset, field_encoding, false);
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
        if (top && info[element_at] == kUShort) {  // the files' form of text
            encoding = 0;
            std::string text = file_.utf16_text(offset, elements);
            offset += 2 * elements;
            return text;
        }
        if (elements > kMaxArrayTags) throw TooLong{};
        for (std::uint64_t k = 0; k < elements; ++k) {
            std::size_t element = element_at;
            std::uint16_t element_encoding = 0;
            TagData value = data(info, element, offset, element_encoding, false);
            count();
            out->entries.push_back({"", std::move(value), element_encoding});
        }
        return out;
    }

    const Parser& file_;
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

Ref<ImageObject> read_image(const Parser& file, const TagNode& entry, std::uint64_t index, TagBuilder& tags,
                            const std::shared_ptr<ObjectBook>& book)
{
    auto fail = [&](const std::string& what) { image_error(file.path(), index, what); };
    const TagNode* data = entry.find("ImageData");
    if (!data || !data->group) fail("has no ImageData group");

    const std::optional<double> code = file.number_of(data->find("DataType"));
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

    const TagNode* dimensions = data->find("Dimensions");
    if (!dimensions || !dimensions->group || dimensions->children.empty() ||
        dimensions->children.size() > kMaxFileDimensions)
        fail("has no list of 1 to 4 Dimensions");
    std::vector<std::int64_t> sizes;
    for (const TagNode& d : dimensions->children) {
        const std::optional<double> size = file.number_of(&d);
        if (!size || *size < 1 || *size > std::numeric_limits<std::int32_t>::max() || *size != std::floor(*size))
            fail("has a dimension that is not a size from 1 to 2147483647");
        sizes.push_back(static_cast<std::int64_t>(*size));
    }

    const TagNode* pixels = data->find("Data");
    if (!pixels || pixels->group || pixels->info.empty() || pixels->info[0] != kArray) fail("has no pixel Data array");
    // The bytes the sizes need, each product checked for overflow before it is used.
    std::uint64_t needed = element_size(*type);
    bool overflow = false;
    for (std::int64_t size : sizes) overflow = overflow || __builtin_mul_overflow(needed, static_cast<std::uint64_t>(size), &needed);
    if (overflow || needed != pixels->bytes) {
        std::string shape;
        for (std::int64_t size : sizes) shape += (shape.empty() ? "" : " x ") + std::to_string(size);
        fail("has a pixel Data block of " + str(pixels->bytes) + " bytes, but " + shape + " " +
             std::string(data_type_name(*type)) + " pixels need " + (overflow ? std::string("more than 2^64") : str(needed)));
    }

    Ref<ImageObject> image = make_object<ImageObject>(book);
    image->type = *type;
    image->num_dims = static_cast<int>(sizes.size());
    std::int64_t stride = static_cast<std::int64_t>(element_size(*type));
    for (std::size_t d = 0; d < sizes.size(); ++d) {
        image->sizes[d] = sizes[d];
        image->strides[d] = stride;
        stride *= sizes[d];
    }
    image->pixels = std::make_shared<PixelBuffer>(pixels->bytes, PixelBuffer::Uninitialised{});
    file.file().read(image->pixels->data(), pixels->bytes, pixels->offset);
    if (!file.little_endian) {
        const std::size_t unit = component_bytes(*type);
        for (std::byte* p = image->pixels->data(); unit > 1 && p < image->pixels->data() + pixels->bytes; p += unit)
            std::reverse(p, p + unit);
    }

    image->name = file.text_of(entry.find("Name")).value_or("");
    const TagNode* calibrations = data->find("Calibrations");
    const TagNode* per_dimension = calibrations ? calibrations->find("Dimension") : nullptr;
    if (per_dimension && per_dimension->group) {
        for (std::size_t d = 0; d < sizes.size() && d < per_dimension->children.size(); ++d) {
            const TagNode& cal = per_dimension->children[d];
            image->calibrations[d].origin = to_float(file.number_of(cal.find("Origin")).value_or(0.0));
            image->calibrations[d].scale = to_float(file.number_of(cal.find("Scale")).value_or(1.0));
            image->calibrations[d].units = file.text_of(cal.find("Units")).value_or("");
        }
    }
    const TagNode* image_tags = entry.find("ImageTags");
    image->tags = image_tags && image_tags->group ? tags.group(*image_tags) : make_object<TagGroupObject>(book);
    return image;
}

}  // namespace

std::vector<Ref<ImageObject>> read_dm_file(const std::shared_ptr<ObjectBook>& book, const std::filesystem::path& path)
{
    const MappedFile file(path);
    Parser parser(file, path);
    const TagNode* list = parser.root.find("ImageList");
    if (!list || !list->group) file_error(path, "holds no ImageList: it is not an image file");

    std::vector<double> thumbnails;
    if (const TagNode* previews = parser.root.find("Thumbnails"); previews && previews->group)
        for (const TagNode& preview : previews->children)
            if (auto index = parser.number_of(preview.find("ImageIndex"))) thumbnails.push_back(*index);

    TagBuilder tags(parser, book);
    std::vector<Ref<ImageObject>> images;
    for (std::size_t i = 0; i < list->children.size(); ++i) {
        if (std::find(thumbnails.begin(), thumbnails.end(), static_cast<double>(i)) != thumbnails.end()) continue;
        images.push_back(read_image(parser, list->children[i], i, tags, book));
    }
    return images;
}

}  // namespace lumadex::host
