// DM3 and DM4 image files: the host application's own format.
//
// A file is a header (version 3 or 4, a length, the byte order of the data)
// and one tree of tags. A tag is a group (named or unnamed entries) or a data
// tag: a type description (the "info" words, always big endian) and the value
// in the file's byte order. Version 3 writes counts and info words in 32 bits,
// version 4 in 64 bits and adds each tag's byte size after its label.
//
// The images are the entries of the root's "ImageList"; those that the root's
// "Thumbnails" list names are previews and are skipped. Each image holds
// "ImageData" (DataType, Dimensions, Calibrations, the pixels as the array
// "Data"), its "Name" and its "ImageTags", which become the host image's tags.
//
// Reading checks every count and size against the bytes the file really has
// before it forms a product or allocates anything; any fault throws FileError
// naming the file, the fault and where it lies.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "image_object.h"

namespace lumadex::host {

// The images of a file, in file order, made in `book`.
std::vector<Ref<ImageObject>> read_dm_file(const std::shared_ptr<ObjectBook>& book, const std::filesystem::path& path);

// An image of a file whose pixels were left in the file: `image->pixels` is
// null, and the pixels are the `pixel_bytes` bytes at `pixels_at`, each
// number in the byte order the file names.
struct DescribedImage {
    Ref<ImageObject> image;
    std::uint64_t pixels_at = 0;
    std::uint64_t pixel_bytes = 0;
    bool little_endian = true;
};

// The images of a file as read_dm_file makes them, with the same checks, but
// without reading their pixels.
std::vector<DescribedImage> describe_dm_file(const std::shared_ptr<ObjectBook>& book,
                                             const std::filesystem::path& path);

}  // namespace lumadex::host
