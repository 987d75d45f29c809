// DM3 / DM4 files in the host's public interface: Host::open_file and save_file.
#include "dm_reader.h"
#include "dm_writer.h"
#include "host_state.h"

namespace lumadex::host {

std::vector<Image> Host::open_file(const std::filesystem::path& path)
{
    std::vector<Image> images;
    for (Ref<ImageObject>& image : read_dm_file(state_->book, path)) images.emplace_back(ObjectHandle::adopt(image.release()));
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

}  // namespace lumadex::host
