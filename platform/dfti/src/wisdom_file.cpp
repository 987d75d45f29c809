#include "wisdom_file.hpp"

#include <fftw3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "fftw_problem.hpp"

namespace lumadex::dfti {

namespace {

constexpr size_t max_wisdom_bytes = 4 << 20;

std::string wisdom_file(Precision p) {
    const std::string dir = wisdom_cache_directory();
    if (dir.empty()) return {};
    return dir + (p == Precision::single ? "/fftw-wisdom-single" : "/fftw-wisdom-double");
}

std::string read_file(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[8192];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < max_wisdom_bytes)
        text.append(buffer, got);
    std::fclose(f);
    return text;
}

bool make_directories(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

}  // namespace

std::string wisdom_cache_directory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lumadex";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/lumadex";
    return {};
}

void load_wisdom(Precision p) {
    if (p == Precision::single) fftwf_import_system_wisdom();
    else fftw_import_system_wisdom();
    const std::string path = wisdom_file(p);
    if (!path.empty()) import_wisdom(p, read_file(path));
}

void save_wisdom_file(Precision p, const std::string& wisdom) {
    const std::string path = wisdom_file(p);
    if (wisdom.empty() || path.empty() || !make_directories(wisdom_cache_directory())) return;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return;
    size_t written = 0;
    while (written < wisdom.size()) {
        const ssize_t w = write(fd, wisdom.data() + written, wisdom.size() - written);
        if (w <= 0 && errno != EINTR) break;
        if (w > 0) written += static_cast<size_t>(w);
    }
    const bool closed = close(fd) == 0;
    if (written != wisdom.size() || !closed || rename(temporary.c_str(), path.c_str()) != 0)
        unlink(temporary.c_str());
}

}  // namespace lumadex::dfti
