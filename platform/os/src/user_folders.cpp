// Windows special-folder codes (CSIDL) mapped to this platform's folders:
// the XDG user directories and base directories.
//
//   code    Windows folder                 here
//   0x0000  desktop                        XDG_DESKTOP_DIR    (~/Desktop)
//   0x0010  desktop directory              XDG_DESKTOP_DIR    (~/Desktop)
//   0x0005  documents (personal)           XDG_DOCUMENTS_DIR  (~/Documents)
//   0x000d  music                          XDG_MUSIC_DIR      (~/Music)
//   0x000e  videos                         XDG_VIDEOS_DIR     (~/Videos)
//   0x0027  pictures                       XDG_PICTURES_DIR   (~/Pictures)
//   0x0015  templates                      XDG_TEMPLATES_DIR  (~/Templates)
//   0x001a  application data (roaming)     $XDG_CONFIG_HOME   (~/.config)
//   0x001c  local application data         $XDG_DATA_HOME     (~/.local/share)
//   0x0020  temporary internet files       $XDG_CACHE_HOME    (~/.cache)
//   0x0023  common application data        first of $XDG_DATA_DIRS (/usr/local/share)
//   0x0028  profile (home)                 $HOME
//
// A user directory comes from the environment variable of its name, else
// from $XDG_CONFIG_HOME/user-dirs.dirs, else the default in brackets. Only
// absolute paths count, as the XDG rules say. Other codes have no
// counterpart. Bit 0x8000 of a code is the create flag; the folder is the
// low byte (0x00FF), as on Windows.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "os_services.h"

namespace lumadex::os {
namespace {

constexpr std::int32_t kCreateFlag = 0x8000;
constexpr std::int32_t kFolderMask = 0x00FF;

enum class Base { UserDirectory, ConfigHome, DataHome, CacheHome, SystemData, Home };

struct SpecialFolder {
    std::int32_t code;
    Base base;
    const char* userDirectory;  // the XDG name of a user directory
    const char* fallback;       // below $HOME, when nothing names it
};

constexpr SpecialFolder kFolders[] = {
    {0x0000, Base::UserDirectory, "XDG_DESKTOP_DIR", "Desktop"},
    {0x0010, Base::UserDirectory, "XDG_DESKTOP_DIR", "Desktop"},
    {0x0005, Base::UserDirectory, "XDG_DOCUMENTS_DIR", "Documents"},
    {0x000d, Base::UserDirectory, "XDG_MUSIC_DIR", "Music"},
    {0x000e, Base::UserDirectory, "XDG_VIDEOS_DIR", "Videos"},
    {0x0027, Base::UserDirectory, "XDG_PICTURES_DIR", "Pictures"},
    {0x0015, Base::UserDirectory, "XDG_TEMPLATES_DIR", "Templates"},
    {0x001a, Base::ConfigHome, nullptr, ".config"},
    {0x001c, Base::DataHome, nullptr, ".local/share"},
    {0x0020, Base::CacheHome, nullptr, ".cache"},
    {0x0023, Base::SystemData, nullptr, nullptr},
    {0x0028, Base::Home, nullptr, ""},
};

std::string AbsoluteEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : "";
}

std::string Home() { return AbsoluteEnvironment("HOME"); }

std::string ConfigHome()
{
    std::string config = AbsoluteEnvironment("XDG_CONFIG_HOME");
    if (config.empty() && !Home().empty()) config = Home() + "/.config";
    return config;
}

// A line NAME="$HOME/Folder" or NAME="/absolute" of user-dirs.dirs.
std::string UserDirectoryFromFile(const std::string& name)
{
    std::ifstream file(ConfigHome() + "/user-dirs.dirs");
    const std::string prefix = name + "=\"";
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (value.rfind("$HOME", 0) == 0) value = Home().empty() ? "" : Home() + value.substr(5);
        return value.empty() || value[0] != '/' ? "" : value;
    }
    return "";
}

std::string BaseOrFallback(const char* variable, const char* fallback)
{
    std::string path = AbsoluteEnvironment(variable);
    if (path.empty() && !Home().empty()) path = Home() + "/" + fallback;
    return path;
}

std::string FolderFor(const SpecialFolder& folder)
{
    switch (folder.base) {
    case Base::UserDirectory: {
        std::string path = AbsoluteEnvironment(folder.userDirectory);
        if (path.empty()) path = UserDirectoryFromFile(folder.userDirectory);
        if (path.empty() && !Home().empty()) path = Home() + "/" + folder.fallback;
        return path;
    }
    case Base::ConfigHome: return ConfigHome();
    case Base::DataHome: return BaseOrFallback("XDG_DATA_HOME", folder.fallback);
    case Base::CacheHome: return BaseOrFallback("XDG_CACHE_HOME", folder.fallback);
    case Base::SystemData: {
        const std::string dirs = std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "";
        const std::string first = dirs.substr(0, dirs.find(':'));
        return first.empty() || first[0] != '/' ? "/usr/local/share" : first;
    }
    case Base::Home: return Home();
    }
    return "";
}

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// mkdir -p, owner-only for new folders as the XDG rules ask.
bool MakeDirectories(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!IsDirectory(part) && mkdir(part.c_str(), 0700) != 0 && !IsDirectory(part)) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

std::optional<std::string> SpecialFolderPath(std::int32_t code)
{
    const std::int32_t wanted = code & kFolderMask;
    if ((code & ~(kFolderMask | kCreateFlag)) != 0) return std::nullopt;
    for (const SpecialFolder& folder : kFolders) {
        if (folder.code != wanted) continue;
        std::string path = FolderFor(folder);
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        if (path.empty()) return std::nullopt;
        if (!IsDirectory(path) && !((code & kCreateFlag) && MakeDirectories(path))) return std::nullopt;
        return path == "/" ? path : path + "/";
    }
    return std::nullopt;
}

}  // namespace lumadex::os
