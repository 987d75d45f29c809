#include "wisdom_file.hpp"

#include <fcntl.h>
#include <fftw3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

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

// Read from the environment once, when the layer is loaded, never from the
// planner thread: it merges into the file whenever a measurement ends, and
// getenv there would walk the environment while the caller's setenv may be
// freeing it (pytest sets a variable before every test, a script may too).
fs::path cache_folder = wisdom_cache_directory();

fs::path wisdom_file(Precision p) {
    if (cache_folder.empty()) return {};
    return cache_folder / (p == Precision::single ? "fftw-wisdom-single" : "fftw-wisdom-double");
}

}  // namespace

void read_wisdom_folder_from_environment() { cache_folder = wisdom_cache_directory(); }

void load_wisdom(Precision p) {
    if (p == Precision::single) fftwf_import_system_wisdom();
    else fftw_import_system_wisdom();
    const fs::path path = wisdom_file(p);
    std::error_code error;
    if (path.empty() || fs::file_size(path, error) > max_wisdom_bytes || error) return;
    std::ifstream in(path, std::ios::binary);
    import_wisdom(p, std::string(std::istreambuf_iterator<char>(in), {}));
}

namespace {

// Closes a descriptor when it goes.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

// At most max_wisdom_bytes of the file at `path`; empty when it is missing,
// larger or unreadable.
std::string read_small_file(const fs::path& path) {
    Descriptor in{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info {};
    if (in.fd < 0 || fstat(in.fd, &info) != 0 || info.st_size > static_cast<off_t>(max_wisdom_bytes)) return {};
    std::string text(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = read(in.fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    return text;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void merge_into_wisdom_file(Precision p, const std::function<std::string(const std::string&)>& merge) {
    const fs::path path = wisdom_file(p);
    std::error_code error;
    if (path.empty() || (fs::create_directories(path.parent_path(), error), error)) return;
    Descriptor lock{open((path.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)};
    if (lock.fd < 0) return;
    while (flock(lock.fd, LOCK_EX) != 0)
        if (errno != EINTR) return;

    const std::string merged = merge(read_small_file(path));
    // A private file beside the cache file, renamed over it once complete.
    std::string temporary = path.string() + ".XXXXXX";
    Descriptor out{mkostemp(temporary.data(), O_CLOEXEC)};
    if (out.fd >= 0) {
        const bool complete = !merged.empty() && write_all(out.fd, merged) && fchmod(out.fd, 0644) == 0 &&
                              fsync(out.fd) == 0 && close(std::exchange(out.fd, -1)) == 0;
        if (!complete || rename(temporary.c_str(), path.c_str()) != 0) unlink(temporary.c_str());
    }
    flock(lock.fd, LOCK_UN);
}

}  // namespace lumadex::dfti
