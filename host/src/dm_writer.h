// Writing DM3 and DM4 files (the format is described in dm_reader.h).
#pragma once

#include <filesystem>
#include <span>

#include "image_object.h"

namespace lumadex::host {

// Writes the images into one file of `version` 3 or 4, replacing the file at
// `path` as replace_file() does.
void write_dm_file(std::span<const ImageObject* const> images, const std::filesystem::path& path, int version,
                   bool overwrite_read_only);

}  // namespace lumadex::host
