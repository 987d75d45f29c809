#include "wisdom_file.hpp"

#include <fftw3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fftw_problem.hpp"

namespace lumadex::dfti {

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t max_wisdom_bytes = 4 << 20;

// $XDG_CACHE_HOME/lumadex, else ~/.cache/lumadex; empty when no home is known.
fs::path wisdom_cache_directory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return fs::path(xdg) / "lumadex";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return fs::path(home) / ".cache/lumadex";
    return {};
}

fs::path wisdom_file(Precision p) {
    const fs::path dir = wisdom_cache_directory();
    if (dir.empty()) return {};
    return dir / (p == Precision::single ? "fftw-wisdom-single" : "fftw-wisdom-double");
}

}  // namespace

void load_wisdom(Precision p) {
    if (p == Precision::single) fftwf_import_system_wisdom();
    else fftw_import_system_wisdom();
    const fs::path path = wisdom_file(p);
    std::error_code error;
    if (path.empty() || fs::file_size(path, error) > max_wisdom_bytes || error) return;
    std::ifstream in(path, std::ios::binary);
    import_wisdom(p, std::string(std::istreambuf_iterator<char>(in), {}));
}

void save_wisdom_file(Precision p, const std::string& wisdom) {
    const fs::path path = wisdom_file(p);
    std::error_code error;
    if (wisdom.empty() || path.empty() || (fs::create_directories(path.parent_path(), error), error)) return;
    // A private file beside the cache file, renamed over it once complete.
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return;
    FILE* f = fdopen(fd, "wb");
    bool complete = f && std::fwrite(wisdom.data(), 1, wisdom.size(), f) == wisdom.size();
    complete = (f ? std::fclose(f) : close(fd)) == 0 && complete;
    if (complete) fs::rename(temporary, path, error);
    if (!complete || error) unlink(temporary.c_str());
}

}  // namespace lumadex::dfti
