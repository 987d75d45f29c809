// Replacing a file whole, as careful editors and databases do.
#pragma once

#include <filesystem>
#include <functional>

namespace lumadex::host {

// Replaces the file at `path` by what `write` puts into a new file descriptor.
//
// Symbolic links are followed (chains too) and the file they name is replaced;
// a target that is not a regular file (a FIFO, device, directory or socket) is
// refused, and so is a read-only one unless `overwrite_read_only`. The new
// file is written beside the target under a short temporary name, flushed to
// disk and renamed over it, and the folder is flushed after the rename: the
// file appears whole or not at all. A replaced file's mode is kept, and its
// owner where the process may give it; a new file gets 0666 less the umask.
// Any failure throws FileError naming `path` and leaves the old file as it
// was and no temporary behind.
void replace_file(const std::filesystem::path& path, bool overwrite_read_only, const std::function<void(int fd)>& write);

}  // namespace lumadex::host
