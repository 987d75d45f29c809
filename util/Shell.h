// Folders and programs of the user's desktop: script functions
// "GetSpecialDirectory(long eType, long doCreate)" and
// "ShellExec(dm_string strCommandLine)".
#pragma once

#include <cstdint>

#include "dm/object.h"

namespace zep {

// The folder for a Windows special-folder code, ending in '/', or a null
// string when it has no counterpart here or cannot be had; never a script
// error. `doCreate` not 0 creates a missing folder.
dm_object* GetSpecialDirectoryDM(std::int32_t eType, std::int32_t doCreate);

// Opens the line as one file name or URL, never parsed by a shell: an
// executable is started with no arguments, anything else goes to the
// desktop's default application (xdg-open); detached, and returns at once.
// Failures are not reported.
void ShellExecDM(dm_object* strCommandLine);

}  // namespace zep
