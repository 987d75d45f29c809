#include "file_replace.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "lumadex/host/host.h"

namespace lumadex::host {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, const std::string& what)
{
    throw FileError(path.string() + ": " + what);
}

[[noreturn]] void fail_errno(const std::filesystem::path& path, const char* what, int error)
{
    fail(path, std::string(what) + ": " + std::strerror(error));
}

// The path of the file `path` names once its symbolic links are followed; the
// last path when that names nothing yet (a new file, or a dangling link's target).
std::filesystem::path follow_links(const std::filesystem::path& path)
{
    std::filesystem::path at = path;
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        if (hops == 40) fail(path, "cannot be written: too many levels of symbolic links");
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
        if (n < 0) fail_errno(path, "cannot be written", errno);
        if (static_cast<std::size_t>(n) == target.size()) fail(path, "cannot be written: a symbolic link is too long");
        target.resize(static_cast<std::size_t>(n));
        at = target.front() == '/' ? std::filesystem::path(target) : at.parent_path() / target;
    }
}

const char* kind_of(mode_t mode)
{
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// ".lumadex-" and six random letters or digits: short, so that any name the
// target may have leaves room for it in the same folder.
std::string temporary_name()
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        static unsigned counter = 0;
        const unsigned long long seed = static_cast<unsigned long long>(::getpid()) * 2654435761u + ++counter;
        for (std::size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (5 * i));
    }
    std::string name = ".lumadex-";
    for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

}  // namespace

void replace_file(const std::filesystem::path& path, bool overwrite_read_only, const std::function<void(int fd)>& write)
{
    const std::filesystem::path target = follow_links(path);
    if (!target.has_filename()) fail(path, "cannot be written: it names no file");
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) fail_errno(path, "cannot be written", errno);
    if (exists) {
        if (!S_ISREG(old.st_mode)) fail(path, std::string("is ") + kind_of(old.st_mode) + ", not a regular file: it is not replaced");
        // No write bit at all counts as read-only even for a process that access checks let through (root).
        const bool read_only = (old.st_mode & 0222) == 0 ||
                               (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES);
        if (read_only && !overwrite_read_only)
            fail(path, "is read-only: it is replaced only when overwriting read-only files is asked for");
    }
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) fail_errno(path, "cannot be written", errno);

    std::string name;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        name = temporary_name();
        fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // less the umask
        if (fd < 0 && (errno != EEXIST || attempt == 100)) {
            const int error = errno;
            ::close(dir);
            fail_errno(path, "cannot be written", error);
        }
    }
    try {
        if (exists) {
            // The owner first: giving a file away may clear its set-id bits.
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
            if (::fchmod(fd, old.st_mode & 07777) != 0) fail_errno(path, "cannot be written", errno);
        }
        write(fd);
        if (::fsync(fd) != 0) fail_errno(path, "cannot be written", errno);
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0) fail_errno(path, "cannot be written", errno);
        if (::renameat(dir, name.c_str(), dir, target.filename().c_str()) != 0) fail_errno(path, "cannot be written", errno);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlinkat(dir, name.c_str(), 0);
        ::close(dir);
        throw;
    }
    // The rename lasts only once the folder is on disk too (EINVAL: a file
    // system that cannot flush folders).
    const bool flushed = ::fsync(dir) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(dir);
    if (!flushed) fail_errno(path, "was replaced, but its folder could not be flushed to disk", error);
}

}  // namespace lumadex::host
