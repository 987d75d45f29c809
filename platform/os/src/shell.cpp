// A command line started the way a desktop shell starts one: not waited for.
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "os_services.h"

namespace lumadex::os {

bool StartDetached(const std::string& commandLine)
{
    if (commandLine.empty()) return false;
    const char* const argv[] = {"sh", "-c", commandLine.c_str(), nullptr};

    // Two forks: the intermediate child starts the command and exits at once,
    // so the caller reaps it here and the command, orphaned, is reaped by
    // init. Between fork and exec only async-signal-safe calls are made (the
    // host may be running threads).
    const pid_t intermediate = fork();
    if (intermediate < 0) return false;
    if (intermediate == 0) {
        setsid();
        syscall(SYS_close_range, 3u, ~0u, 0u);  // none of the host's files
        const pid_t command = fork();
        if (command == 0) {
            execv("/bin/sh", const_cast<char* const*>(argv));
            _exit(127);
        }
        _exit(command < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lumadex::os
