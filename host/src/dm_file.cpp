// DM3 / DM4 files in the host's public interface: Host::open_file,
// Host::describe_file and the save_file functions.
#include <algorithm>

#include "dm_reader.h"
#include "dm_writer.h"
#include "host_state.h"
#include "pixels.h"

namespace lumadex::host {

std::vector<Image> Host::open_file(const std::filesystem::path& path)
{
    std::vector<Image> images;
    for (Ref<ImageObject>& image : read_dm_file(state_->book, path)) images.emplace_back(ObjectHandle::adopt(image.release()));
    return images;
}

std::vector<std::pair<ImageHeader, PixelBlock>> Host::describe_file(const std::filesystem::path& path)
{
    std::vector<std::pair<ImageHeader, PixelBlock>> images;
    for (DescribedImage& found : describe_dm_file(state_->book, path)) {
        const ImageObject& image = *found.image;
        ImageHeader header;
        header.name = image.name;
        header.type = image.type;
        header.sizes.assign(image.sizes, image.sizes + image.num_dims);
        header.calibrations.assign(image.calibrations, image.calibrations + image.num_dims);
        header.tags = TagGroup(ObjectHandle::borrow(image.tags.get()));
        images.emplace_back(std::move(header), PixelBlock{found.pixels_at, found.pixel_bytes, found.little_endian});
    }
    return images;
}

void save_file(std::span<const Image> images, const std::filesystem::path& path, int version, bool overwrite_read_only)
{
    std::vector<const ImageObject*> objects;
    for (const Image& image : images) {
        const ImageObject* object = object_cast<ImageObject>(image.get());
        if (!object) throw UsageError("Only live images can be saved.");
        objects.push_back(object);
    }
    write_dm_file(objects, path, version, overwrite_read_only);
}

void Host::save_file(std::span<const ImageHeader> images, std::span<const PixelSource> pixels,
                     const std::filesystem::path& path, int version, bool overwrite_read_only)
{
    if (pixels.size() != images.size())
        throw UsageError("One pixel source per image is needed, not " + std::to_string(pixels.size()) + " for " +
                         std::to_string(images.size()) + " images.");
    // Images without pixel buffers: the writer takes their pixels from the sources.
    std::vector<Ref<ImageObject>> made;
    std::vector<const ImageObject*> objects;
    for (const ImageHeader& header : images) {
        check_image_sizes(header.sizes, header.type);
        if (header.calibrations.size() > header.sizes.size())
            throw UsageError("An image has " + std::to_string(header.calibrations.size()) + " calibrations for " +
                             std::to_string(header.sizes.size()) + " dimensions.");
        Ref<ImageObject> image = make_object<ImageObject>(state_->book);
        image->name = header.name;
        image->type = header.type;
        image->num_dims = static_cast<int>(header.sizes.size());
        std::int64_t stride = static_cast<std::int64_t>(element_size(header.type));
        for (int d = 0; d < image->num_dims; ++d) {
            image->sizes[d] = header.sizes[static_cast<std::size_t>(d)];
            image->strides[d] = stride;
            stride *= image->sizes[d];
        }
        std::copy(header.calibrations.begin(), header.calibrations.end(), image->calibrations);
        if (header.tags) {
            auto* tags = object_cast<TagGroupObject>(header.tags.get());
            if (!tags) throw UsageError("An image's tags must be a live tag group.");
            image->tags = Ref<TagGroupObject>::borrow(tags);
        }
        objects.push_back(image.get());
        made.push_back(std::move(image));
    }
    write_dm_file(objects, path, version, overwrite_read_only, pixels);
}

}  // namespace lumadex::host
