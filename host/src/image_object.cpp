#include "image_object.h"

#include <algorithm>
#include <cstring>

#include "dm/image_data.h"

namespace lumadex::host {
namespace {

std::span<const std::int64_t> sizes_of(const ImageObject& image)
{
    return {image.sizes, static_cast<std::size_t>(image.num_dims)};
}

bool same_sizes(const ImageObject& a, const ImageObject& b)
{
    for (int d = 0; d < kMaxDimensions; ++d)
        if (a.size(d) != b.size(d)) return false;
    return true;
}

std::string describe_sizes(const ImageObject& image)
{
    std::string text;
    for (int d = 0; d < image.num_dims; ++d) text += (d ? " x " : "") + std::to_string(image.sizes[d]);
    return text;
}

// Do the bytes spanned by two layouts in one buffer meet?
bool layouts_may_overlap(const ImageObject& a, const ImageObject& b)
{
    if (a.pixels != b.pixels) return false;
    auto extent = [](const ImageObject& image) {
        std::int64_t last = image.offset;
        for (int d = 0; d < image.num_dims; ++d) last += (image.sizes[d] - 1) * image.strides[d];
        return std::pair{image.offset, last + static_cast<std::int64_t>(image.element_bytes())};
    };
    const auto [a_begin, a_end] = extent(a);
    const auto [b_begin, b_end] = extent(b);
    return a_begin < b_end && b_begin < a_end;
}

}  // namespace

PixelLayout ImageObject::layout() const
{
    PixelLayout layout;
    layout.origin = pixels->data() + offset;
    layout.num_dims = num_dims;
    std::copy(sizes, sizes + num_dims, layout.sizes);
    std::copy(strides, strides + num_dims, layout.strides);
    return layout;
}

Ref<ImageObject> make_image(std::shared_ptr<ObjectBook> book, std::string name, DataType type,
                            std::span<const std::int64_t> sizes)
{
    check_image_sizes(sizes, type);
    const std::size_t bytes = element_size(type);
    const PixelLayout dense = dense_layout(nullptr, sizes, bytes);
    auto pixels = std::make_shared<PixelBuffer>(static_cast<std::size_t>(dense.element_count()) * bytes);
    Ref<ImageObject> image = make_object<ImageObject>(std::move(book));
    image->type = type;
    image->num_dims = dense.num_dims;
    std::copy(dense.sizes, dense.sizes + dense.num_dims, image->sizes);
    std::copy(dense.strides, dense.strides + dense.num_dims, image->strides);
    image->pixels = std::move(pixels);
    image->name = std::move(name);
    return image;
}

Ref<ImageObject> make_subarea(const ImageObject& parent, std::span<const std::int64_t> start,
                              std::span<const std::int64_t> end)
{
    const auto dims = static_cast<std::size_t>(parent.num_dims);
    if (start.size() != dims || end.size() != dims)
        throw UsageError("A sub-area of a " + std::to_string(dims) + "-dimensional image needs " +
                         std::to_string(dims) + " starts and ends.");
    for (std::size_t d = 0; d < dims; ++d)
        if (start[d] < 0 || end[d] <= start[d] || end[d] > parent.sizes[d])
            throw UsageError("The sub-area [" + std::to_string(start[d]) + ", " + std::to_string(end[d]) +
                             ") along dimension " + std::to_string(d) + " is not inside the image's size " +
                             std::to_string(parent.sizes[d]) + ".");
    Ref<ImageObject> area = make_object<ImageObject>(parent.book);
    area->type = parent.type;
    area->num_dims = parent.num_dims;
    area->pixels = parent.pixels;
    area->offset = parent.offset;
    area->is_subarea = true;
    area->name = parent.name;
    for (std::size_t d = 0; d < dims; ++d) {
        area->sizes[d] = end[d] - start[d];
        area->strides[d] = parent.strides[d];
        area->offset += start[d] * parent.strides[d];
        area->calibrations[d] = parent.calibrations[d];
        area->calibrations[d].origin -= static_cast<float>(start[d]);
    }
    if (parent.tags) area->tags = copy_tag_group(*parent.tags);
    return area;
}

Ref<ImageObject> clone_image(const ImageObject& image)
{
    Ref<ImageObject> clone = make_image(image.book, image.name, image.type, sizes_of(image));
    copy_elements(image.layout(), clone->layout(), image.element_bytes());
    std::copy(image.calibrations, image.calibrations + kMaxDimensions, clone->calibrations);
    if (image.tags) clone->tags = copy_tag_group(*image.tags);
    return clone;
}

TagGroupObject& image_tags(ImageObject& image)
{
    if (!image.tags) image.tags = make_object<TagGroupObject>(image.book);
    return *image.tags;
}

void convert_image_data(const ImageObject& source, ImageObject& target)
{
    if (!same_sizes(source, target))
        throw UsageError("The images differ in size (" + describe_sizes(source) + " and " +
                         describe_sizes(target) + ").");
    if (!can_convert(source.type, target.type))
        throw UsageError("Cannot convert " + std::string(data_type_name(source.type)) + " data to " +
                         std::string(data_type_name(target.type)) + ".");
    if (!layouts_may_overlap(source, target)) {
        convert_elements(source.layout(), source.type, target.layout(), target.type);
        return;
    }
    // Source and target share pixels: read everything before writing.
    const Ref<ImageObject> copy = clone_image(source);
    convert_elements(copy->layout(), copy->type, target.layout(), target.type);
}

void change_data_type(ImageObject& image, DataType type)
{
    if (image.type == type) return;
    const std::string what = std::string("the data type of \"") + image.name + "\"";
    if (image.is_subarea) throw UsageError("Cannot change " + what + ": it is a sub-area of another image.");
    if (image.locks > 0) throw UsageError("Cannot change " + what + " while its pixels are locked.");
    if (image.pixels.use_count() > 1) throw UsageError("Cannot change " + what + " while sub-areas share its pixels.");
    if (!can_convert(image.type, type))
        throw UsageError("Cannot convert " + std::string(data_type_name(image.type)) + " data to " +
                         std::string(data_type_name(type)) + ".");
    const Ref<ImageObject> converted = make_image(image.book, image.name, type, sizes_of(image));
    convert_elements(image.layout(), image.type, converted->layout(), type);
    image.type = type;
    image.pixels = converted->pixels;
    image.offset = 0;
    std::copy(converted->strides, converted->strides + kMaxDimensions, image.strides);
}

void read_pixels(const ImageObject& image, std::byte* out)
{
    copy_elements(image.layout(), dense_layout(out, sizes_of(image), image.element_bytes()), image.element_bytes());
}

void write_pixels(ImageObject& image, const std::byte* in)
{
    const PixelLayout source = dense_layout(const_cast<std::byte*>(in), sizes_of(image), image.element_bytes());
    copy_elements(source, image.layout(), image.element_bytes());
}

LockedDataObject::LockedDataObject(std::shared_ptr<ObjectBook> book, Ref<ImageObject> locked, std::uint32_t flags)
    : dm_object(kClass, std::move(book)), image(std::move(locked)), flags(flags)
{
    const std::size_t bytes = image->element_bytes();
    if (flags == DM_LOCK_DENSE && image->is_subarea) {
        const std::size_t total = static_cast<std::size_t>(image->element_count()) * bytes;
        copy = std::make_unique<PixelBuffer>(total);
        snapshot = std::make_unique<PixelBuffer>(total);
        read_pixels(*image, copy->data());
        std::memcpy(snapshot->data(), copy->data(), total);
        pixels = dense_layout(copy->data(), sizes_of(*image), bytes);
        memory = copy->memory();
    } else {
        pixels = image->layout();
        memory = image->pixels->memory();
    }
    ++image->locks;
}

LockedDataObject::~LockedDataObject()
{
    --image->locks;
    if (!copy) return;
    // Write back what changed in the dense copy, element by element.
    const std::size_t bytes = image->element_bytes();
    const PixelLayout before = dense_layout(snapshot->data(), sizes_of(*image), bytes);
    for_each_element_pair(pixels, image->layout(), [&](const std::byte* now, std::byte* target) {
        const std::byte* then = before.origin + (now - pixels.origin);
        if (std::memcmp(now, then, bytes) != 0) std::memcpy(target, now, bytes);
    });
}

Ref<LockedDataObject> lock_image(ImageObject& image, std::uint32_t flags)
{
    if (flags != DM_LOCK_DENSE && flags != DM_LOCK_IN_PLACE)
        throw UsageError("Unknown lock flags " + std::to_string(flags) + " (1 or 32 are known).");
    return make_object<LockedDataObject>(image.book, Ref<ImageObject>::borrow(&image), flags);
}

}  // namespace lumadex::host
