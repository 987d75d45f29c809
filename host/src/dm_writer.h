// Writing DM3 and DM4 files (the format is described in dm_reader.h).
#pragma once

#include <filesystem>
#include <span>

#include "image_object.h"

namespace lumadex::host {

// Writes the images into one file of `version` 3 or 4, replacing the file at
// `path` as replace_file() does. With `pixel_sources` (one per image) the pixels
// come from them, piece by piece while the file is written, and the images'
// own pixels are not used (they may have none).
void write_dm_file(std::span<const ImageObject* const> images, const std::filesystem::path& path, int version,
                   bool overwrite_read_only, std::span<const PixelSource> pixel_sources = {});

}  // namespace lumadex::host
