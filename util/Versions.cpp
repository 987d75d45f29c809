#include "Versions.h"

#include <cstdio>
#include <cstring>

#include "HostLink.h"
#include "ScriptFrame.h"
#include "mkl_service.h"
#include "os_services.h"

namespace zep {
namespace {

// The version resource: a tagged record in a section of its own, kept by
// the linker (used) and found again by the section's name.
struct FileVersionResource {
    char tag[8];
    std::uint16_t major, minor, build, revision;
};
constexpr char kVersionSection[] = ".lumadex_version";
constexpr char kVersionTag[8] = "LMDXVER";

[[gnu::used, gnu::section(".lumadex_version")]] const FileVersionResource kFileVersion = {
    "LMDXVER", LUMADEX_VERSION_MAJOR, LUMADEX_VERSION_MINOR, LUMADEX_VERSION_PATCH, LUMADEX_VERSION_TWEAK};

constexpr const char kRevisionTag[] = "$Rev: 958 $";

std::int32_t ReadFileVersion()
{
    const std::string path = lumadex::os::ModuleFilePath(reinterpret_cast<const void*>(&GetVersionDM));
    if (path.empty()) return 0;
    const auto bytes = lumadex::os::ReadElfSection(path, kVersionSection);
    FileVersionResource resource{};
    if (!bytes || bytes->size() < sizeof resource) return 0;
    std::memcpy(&resource, bytes->data(), sizeof resource);
    if (std::memcmp(resource.tag, kVersionTag, sizeof kVersionTag) != 0) return 0;
    const std::uint32_t packed = (resource.major & 255u) << 24 | (resource.minor & 255u) << 16 |
                                 (resource.build & 255u) << 8 | (resource.revision & 255u);
    return static_cast<std::int32_t>(packed);
}

}  // namespace

std::int32_t GetVersionDM()
{
    return ScriptCallOr(nullptr, std::int32_t{0}, [] { return ReadFileVersion(); });
}

dm_object* GetVersionStringDM()
{
    return ScriptCall(nullptr, [] {
        const auto v = static_cast<std::uint32_t>(ReadFileVersion());
        char text[1024];
        std::snprintf(text, sizeof text, "Lumadex %d.%d.%d.%d %s", int(v >> 24), int((v >> 16) & 255),
                      int((v >> 8) & 255), int(v & 255), kRevisionTag);
        return Gatan::PlugIn::MakeString(text);
    });
}

std::int32_t GetMKLVersionDM()
{
    return ScriptCallOr(nullptr, std::int32_t{0}, [] {
        MKLVersion version{};
        mkl_serv_getversion(&version);
        const std::uint32_t packed = static_cast<std::uint32_t>(version.MajorVersion) << 24 |
                                     (static_cast<std::uint32_t>(version.MinorVersion) & 255u) << 16 |
                                     (static_cast<std::uint32_t>(version.UpdateVersion) & 0xFFFFu);
        return static_cast<std::int32_t>(packed);
    });
}

dm_object* GetMKLVersionStringDM()
{
    return ScriptCall(nullptr, [] {
        char text[198];
        mkl_serv_getversionstring_c(text, sizeof text);
        return Gatan::PlugIn::MakeString(text);
    });
}

}  // namespace zep
