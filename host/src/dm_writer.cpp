#include "dm_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dm_format.h"
#include "dm_text.h"
#include "file_replace.h"
#include "host_state.h"

namespace lumadex::host {
namespace {

using namespace dm;

// --- writing ----------------------------------------------------------------

// The file being written: bytes of ours, with the pixel blocks referred to
// where they lie so that they are written straight from the images, or from
// their sources piece by piece.
class Writer {
public:
    explicit Writer(int version) : version_(version) { segments_.emplace_back(); }

    struct Mark {
        std::size_t segment, at;
        std::uint64_t position;
    };

    void raw(const void* p, std::size_t n)
    {
        segments_.back().bytes.append(static_cast<const char*>(p), n);
        position_ += n;
    }
    void big(std::uint64_t value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i) segments_.back().bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        position_ += static_cast<std::uint64_t>(bytes);
    }
    template <class T>
    void little(T value) { raw(&value, sizeof value); }
    void word(std::uint64_t value)
    {
        if (version_ == 3 && value > std::numeric_limits<std::uint32_t>::max())
            throw FileError("holds a count of " + str(value) + ", too large for a DM3 file; save it as .dm4");
        big(value, version_ == 4 ? 8 : 4);
    }
    void external(const std::byte* p, std::uint64_t n)
    {
        segments_.back().pixels = p;
        segments_.back().pixel_bytes = n;
        position_ += n;
        segments_.emplace_back();
    }
    void external(const PixelSource* source, std::uint64_t n)
    {
        segments_.back().source = source;
        segments_.back().pixel_bytes = n;
        position_ += n;
        segments_.emplace_back();
    }
    Mark mark() const { return {segments_.size() - 1, segments_.back().bytes.size(), position_}; }
    void patch(const Mark& mark, std::uint64_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            segments_[mark.segment].bytes[mark.at + i] = static_cast<char>((value >> (8 * (bytes - 1 - i))) & 0xFF);
    }
    std::uint64_t position() const { return position_; }
    int version() const { return version_; }

    void label(std::uint64_t kind, std::string_view name)
    {
        if (name.size() > 0xFFFF) throw FileError("holds a tag label longer than 65535 bytes");
        big(kind, 1);
        big(name.size(), 2);
        raw(name.data(), name.size());
    }

    // A group of `count` tags: end_group() after them.
    Mark begin_group(std::string_view name, std::uint64_t count)
    {
        label(kGroupTag, name);
        const Mark size = mark();
        if (version_ == 4) big(0, 8);
        big(0, 1);  // not sorted
        big(1, 1);  // open
        word(count);
        return size;
    }
    void end_group(const Mark& size)
    {
        if (version_ == 4) patch(size, position_ - size.position - 8, 8);
    }

    // A data tag's head: its value of `bytes` follows.
    void begin_data(std::string_view name, const std::vector<std::uint64_t>& info, std::uint64_t bytes)
    {
        label(kDataTag, name);
        const std::uint64_t w = version_ == 4 ? 8 : 4;
        if (version_ == 4) big(4 + w + w * info.size() + bytes, 8);
        raw("%%%%", 4);
        word(info.size());
        for (std::uint64_t v : info) word(v);
    }

    void write_to(int fd, const std::filesystem::path& path) const
    {
        auto put = [&](const void* p, std::uint64_t n) {
            auto* bytes = static_cast<const char*>(p);
            while (n > 0) {
                const ssize_t done = ::write(fd, bytes, std::min<std::uint64_t>(n, 1u << 30));
                if (done < 0 && errno == EINTR) continue;
                if (done <= 0) file_error(path, std::string("cannot be written: ") + std::strerror(errno));
                bytes += done;
                n -= static_cast<std::uint64_t>(done);
            }
        };
        for (const Segment& s : segments_) {
            put(s.bytes.data(), s.bytes.size());
            if (s.pixels) put(s.pixels, s.pixel_bytes);
            if (s.source) put_pieces(*s.source, s.pixel_bytes, put, path);
        }
    }

private:
    struct Segment {
        std::string bytes;
        const std::byte* pixels = nullptr;
        const PixelSource* source = nullptr;
        std::uint64_t pixel_bytes = 0;
    };

    // Exactly `bytes` bytes from `source`: the header before them already says so.
    template <class Put>
    static void put_pieces(const PixelSource& source, std::uint64_t bytes, Put& put, const std::filesystem::path& path)
    {
        std::uint64_t written = 0;
        for (std::span<const std::byte> piece = source(); !piece.empty(); piece = source()) {
            if (piece.size() > bytes - written)
                file_error(path, "cannot be written: an image's pixels came to more than the " + str(bytes) +
                                     " bytes its shape and type need");
            put(piece.data(), piece.size());
            written += piece.size();
        }
        if (written != bytes)
            file_error(path, "cannot be written: an image's pixels came to " + str(written) + " bytes, not the " +
                                 str(bytes) + " its shape and type need");
    }
    int version_;
    std::vector<Segment> segments_;
    std::uint64_t position_ = 0;
};

std::uint64_t scalar_code(const TagData& value, std::uint16_t encoding)
{
    if (simple_size(encoding)) return encoding;
    return std::holds_alternative<std::int32_t>(value) ? kLong : kDouble;
}

template <class T>
T clamp_to(double value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(value);
    } else {
        if (std::isnan(value)) return 0;
        if (value <= static_cast<double>(std::numeric_limits<T>::lowest())) return std::numeric_limits<T>::lowest();
        if (value >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
        return static_cast<T>(value);
    }
}

void write_scalar(Writer& out, std::uint64_t code, double v)
{
    switch (code) {
    case kShort: out.little(clamp_to<std::int16_t>(v)); break;
    case kLong: out.little(clamp_to<std::int32_t>(v)); break;
    case kUShort: out.little(clamp_to<std::uint16_t>(v)); break;
    case kULong: out.little(clamp_to<std::uint32_t>(v)); break;
    case kFloat: out.little(static_cast<float>(v)); break;
    case kDouble: out.little(v); break;
    case kBool: out.little(static_cast<std::uint8_t>(v != 0)); break;
    case kChar: out.little(clamp_to<std::int8_t>(v)); break;
    case kOctet: out.little(clamp_to<std::uint8_t>(v)); break;
    case kInt64: out.little(clamp_to<std::int64_t>(v)); break;
    case kUInt64: out.little(clamp_to<std::uint64_t>(v)); break;
    }
}

double as_double(const TagData& value)
{
    if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
    return std::get<double>(value);
}

// The type description and value size of a tag stored as data, or nullopt
// when it is stored as a tag group (a group, or a list the data types cannot
// describe: mixed elements, for one).
std::optional<std::uint64_t> describe(const TagData& value, std::uint16_t encoding, std::vector<std::uint64_t>& info)
{
    if (std::holds_alternative<std::int32_t>(value) || std::holds_alternative<double>(value)) {
        const std::uint64_t code = scalar_code(value, encoding);
        info.push_back(code);
        return simple_size(code);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (encoding == kString) {
            info.insert(info.end(), {kString, text->size()});
            return text->size();
        }
        const std::uint64_t units = utf16_of(*text).size();
        info.insert(info.end(), {kArray, kUShort, units});
        return 2 * units;
    }
    const TagGroupObject& group = *std::get<Ref<TagGroupObject>>(value);
    const auto& entries = group.entries;
    if (encoding == kStruct) {
        info.insert(info.end(), {kStruct, 0, entries.size()});
        std::uint64_t total = 0;
        for (const auto& e : entries) {
            if (std::holds_alternative<std::string>(e.value) || std::holds_alternative<Ref<TagGroupObject>>(e.value))
                return std::nullopt;
            info.push_back(0);
            total += *describe(e.value, e.encoding, info);
        }
        return total;
    }
    if (encoding != kArray || entries.empty()) return std::nullopt;
    for (const auto& e : entries)  // texts of any length: a list of texts
        if (std::holds_alternative<std::string>(e.value) && e.encoding != kString) return std::nullopt;
    std::vector<std::uint64_t> first;
    const std::optional<std::uint64_t> element = describe(entries[0].value, entries[0].encoding, first);
    if (!element) return std::nullopt;
    for (const auto& e : entries) {
        std::vector<std::uint64_t> other;
        if (describe(e.value, e.encoding, other) != element || other != first) return std::nullopt;
    }
    info.push_back(kArray);
    info.insert(info.end(), first.begin(), first.end());
    info.push_back(entries.size());
    return *element * entries.size();
}

void write_value(Writer& out, const TagData& value, std::uint16_t encoding)
{
    if (std::holds_alternative<std::int32_t>(value) || std::holds_alternative<double>(value)) {
        write_scalar(out, scalar_code(value, encoding), as_double(value));
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        if (encoding == kString) {
            out.raw(text->data(), text->size());
        } else {
            for (std::uint16_t unit : utf16_of(*text)) out.little(unit);
        }
    } else {
        for (const auto& e : std::get<Ref<TagGroupObject>>(value)->entries) write_value(out, e.value, e.encoding);
    }
}

void write_tag(Writer& out, std::string_view name, const TagData& value, std::uint16_t encoding)
{
    std::vector<std::uint64_t> info;
    if (const std::optional<std::uint64_t> bytes = describe(value, encoding, info)) {
        out.begin_data(name, info, *bytes);
        write_value(out, value, encoding);
        return;
    }
    const auto& entries = std::get<Ref<TagGroupObject>>(value)->entries;
    const Writer::Mark size = out.begin_group(name, entries.size());
    for (const auto& e : entries) write_tag(out, e.name, e.value, e.encoding);
    out.end_group(size);
}

void write_number(Writer& out, std::string_view name, std::uint64_t code, double value)
{
    out.begin_data(name, {code}, simple_size(code));
    write_scalar(out, code, value);
}

void write_text(Writer& out, std::string_view name, std::string_view text)
{
    write_tag(out, name, std::string(text), 0);
}

// A named axis gets a "Label" after the three tags every reader knows.
void write_calibration(Writer& out, const Calibration& c)
{
    const Writer::Mark size = out.begin_group("", c.label.empty() ? 3 : 4);
    write_number(out, "Origin", kFloat, c.origin);
    write_number(out, "Scale", kFloat, c.scale);
    write_text(out, "Units", c.units);
    if (!c.label.empty()) write_text(out, "Label", c.label);
    out.end_group(size);
}

// The pixel array's type description, as the host application writes it:
// an array of the pixel's number type, or of a struct of two for complex.
std::vector<std::uint64_t> pixel_array_info(DataType type, std::uint64_t pixels)
{
    switch (type) {
    case DataType::Complex8: return {kArray, kStruct, 0, 2, 0, kFloat, 0, kFloat, pixels};
    case DataType::Complex16: return {kArray, kStruct, 0, 2, 0, kDouble, 0, kDouble, pixels};
    default: break;
    }
    std::uint64_t element = kOctet;
    switch (type) {
    case DataType::Int8: element = kChar; break;
    case DataType::UInt8: element = kOctet; break;
    case DataType::Int16: element = kShort; break;
    case DataType::UInt16: element = kUShort; break;
    case DataType::Int32: case DataType::RGB: element = kLong; break;
    case DataType::UInt32: element = kULong; break;
    case DataType::Real4: element = kFloat; break;
    case DataType::Real8: element = kDouble; break;
    case DataType::Binary: element = kBool; break;
    default: break;
    }
    return {kArray, element, pixels};
}

// `pixels`: a pointer to the dense pixels or the source that gives them.
template <class Pixels>
void write_image(Writer& out, const ImageObject& image, Pixels pixels)
{
    const Writer::Mark entry = out.begin_group("", 3);
    {
        const Writer::Mark image_data = out.begin_group("ImageData", 5);
        {
            const Writer::Mark calibrations = out.begin_group("Calibrations", 3);
            const Writer::Mark brightness = out.begin_group("Brightness", 3);
            write_number(out, "Origin", kFloat, 0.0);
            write_number(out, "Scale", kFloat, 1.0);
            write_text(out, "Units", "");
            out.end_group(brightness);
            const Writer::Mark dimension = out.begin_group("Dimension", static_cast<std::uint64_t>(image.num_dims));
            for (int d = 0; d < image.num_dims; ++d) write_calibration(out, image.calibrations[d]);
            out.end_group(dimension);
            write_number(out, "DisplayCalibratedUnits", kBool, 1);
            out.end_group(calibrations);
        }
        std::uint64_t count = 1;  // from the sizes: an image written from a source has no pixel buffer
        for (int d = 0; d < image.num_dims; ++d) count *= static_cast<std::uint64_t>(image.sizes[d]);
        const std::uint64_t bytes = count * image.element_bytes();
        out.begin_data("Data", pixel_array_info(image.type, count), bytes);
        out.external(pixels, bytes);
        const std::uint32_t code = image.type == DataType::RGB ? 23u : static_cast<std::uint32_t>(image.type);
        write_number(out, "DataType", kLong, code);
        const Writer::Mark dimensions = out.begin_group("Dimensions", static_cast<std::uint64_t>(image.num_dims));
        for (int d = 0; d < image.num_dims; ++d) write_number(out, "", kULong, static_cast<double>(image.sizes[d]));
        out.end_group(dimensions);
        write_number(out, "PixelDepth", kLong, static_cast<double>(image.element_bytes()));
        out.end_group(image_data);
    }
    if (image.tags)
        write_tag(out, "ImageTags", image.tags, 0);
    else
        out.end_group(out.begin_group("ImageTags", 0));
    write_text(out, "Name", image.name);
    out.end_group(entry);
}

}  // namespace

void write_dm_file(std::span<const ImageObject* const> images, const std::filesystem::path& path, int version,
                   bool overwrite_read_only, std::span<const PixelSource> pixel_sources)
{
    if (!pixel_sources.empty() && pixel_sources.size() != images.size())
        throw UsageError("One pixel source per image is needed, not " + std::to_string(pixel_sources.size()) + " for " +
                         std::to_string(images.size()) + " images.");
    if (version != 3 && version != 4) throw UsageError("A DM file has version 3 or 4, not " + std::to_string(version) + ".");
    if (images.empty()) throw UsageError("A DM file needs at least one image.");
    std::vector<std::unique_ptr<std::byte[]>> copies;  // dense pixels of sub-areas
    Writer out(version);
    try {
        out.big(static_cast<std::uint64_t>(version), 4);
        const Writer::Mark length = out.mark();
        out.big(0, version == 4 ? 8 : 4);
        out.big(1, 4);  // little endian
        out.big(0, 1);
        out.big(1, 1);
        out.word(3);  // the root: ImageList, ImageSourceList, InImageMode
        const Writer::Mark list = out.begin_group("ImageList", images.size());
        for (std::size_t i = 0; i < images.size(); ++i) {
            const ImageObject* image = images[i];
            if (image->num_dims < 1 || image->num_dims > kMaxFileDimensions)
                throw FileError("cannot hold the " + std::to_string(image->num_dims) +
                                "-dimensional image \"" + image->name + "\": DM files hold 1 to 4 dimensions");
            if (image->tags && !nests_within(*image->tags, 0))
                throw FileError("cannot hold the tags of image \"" + image->name + "\": they nest deeper than " +
                                std::to_string(kMaxTagDepth) + " levels");
            if (!pixel_sources.empty()) {
                write_image(out, *image, &pixel_sources[i]);
                continue;
            }
            const std::byte* pixels = image->pixels->data() + image->offset;
            if (image->is_subarea) {
                const std::size_t bytes = static_cast<std::size_t>(image->element_count()) * image->element_bytes();
                copies.push_back(std::make_unique<std::byte[]>(bytes));
                read_pixels(*image, copies.back().get());
                pixels = copies.back().get();
            }
            write_image(out, *image, pixels);
        }
        out.end_group(list);
        // The image sources that the host application's documents refer to.
        const Writer::Mark sources = out.begin_group("ImageSourceList", images.size());
        for (std::size_t i = 0; i < images.size(); ++i) {
            const Writer::Mark source = out.begin_group("", 3);
            write_text(out, "ClassName", "ImageSource:Simple");
            const Writer::Mark id = out.begin_group("Id", 1);
            write_number(out, "", kULong, static_cast<double>(i));
            out.end_group(id);
            write_number(out, "ImageRef", kULong, static_cast<double>(i));
            out.end_group(source);
        }
        out.end_group(sources);
        write_number(out, "InImageMode", kBool, 1);
        out.big(0, 8);  // the end mark
        const std::uint64_t total = out.position();
        if (version == 3 && total - 16 > std::numeric_limits<std::uint32_t>::max())
            throw FileError("is too large for a DM3 file; save it as .dm4");
        out.patch(length, total - (version == 4 ? 24 : 16), version == 4 ? 8 : 4);
    } catch (const FileError& error) {
        file_error(path, error.what());
    }

    replace_file(path, overwrite_read_only, [&](int fd) { out.write_to(fd, path); });
}

}  // namespace lumadex::host
