// Versions: script functions "GetVersion()", "GetVersionString()",
// "GetMKLVersion()" and "GetMKLVersionString()".
//
// The plug-in's version has one source, the build's project version. It is
// embedded in the library file as a version resource (an ELF section of its
// own) and read back from the loaded file, as the host's platform reads a
// file version resource.
#pragma once

#include <cstdint>

#include "Export.h"
#include "dm/object.h"

namespace zep {

// major << 24 | minor << 16 | build << 8 | revision: 0x02030000 for 2.3.0.0;
// 0 when the file's version resource cannot be read.
ZEP_EXPORT std::int32_t GetVersionDM();
// The numeric layer's major << 24 | minor << 16 | update.
ZEP_EXPORT std::int32_t GetMKLVersionDM();

dm_object* GetVersionStringDM();
dm_object* GetMKLVersionStringDM();

}  // namespace zep
