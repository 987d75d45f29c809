// A file name or URL opened the way a desktop shell opens one: not parsed,
// not waited for.
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "os_services.h"

extern char** environ;

namespace lumadex::os {
namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The executable file `name` stands for: itself when it holds a '/', else
// the first match in PATH (an empty entry is the current folder, as for
// execvp). Empty when there is none.
std::string FindExecutable(const std::string& name)
{
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

// In the command's process, before exec: what a program started from a
// desktop gets, whatever the host had set. Async-signal-safe calls only.
[[noreturn]] void ExecFresh(const char* file, char* const argv[])
{
    struct sigaction fresh {};
    fresh.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &fresh, nullptr);  // fails harmlessly for some
    if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
        for (int fd = 3; fd < 1024; ++fd) close(fd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(file, argv, environ);
    _exit(127);
}

}  // namespace

bool StartDetached(const std::string& line)
{
    if (line.empty() || line.find('\0') != std::string::npos) return false;
    // Everything that allocates or reads the environment's PATH happens here,
    // before the fork.
    std::string file = FindExecutable(line);
    std::vector<std::string> args;
    if (!file.empty()) {
        args = {line};
    } else {
        file = FindExecutable("xdg-open");
        if (file.empty()) return false;
        args = {"xdg-open", line};
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // Two forks: the intermediate child starts the command and exits at once,
    // so the caller reaps it here and the command, orphaned, is reaped by
    // init. _Fork runs no fork handlers (the host's locks and thread pools
    // are none of the command's business, and the handlers would hold the
    // caller up). Signals stay blocked across the forks, so that no handler
    // of the host's runs in a child before the dispositions are reset.
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    const pid_t intermediate = _Fork();
    if (intermediate == 0) {
        setsid();
        const pid_t command = _Fork();
        if (command == 0) ExecFresh(file.c_str(), argv.data());
        _exit(command < 0 ? 1 : 0);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (intermediate < 0) return false;
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lumadex::os
