#include "measurement.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace lumadex::dfti {

namespace {

constexpr size_t max_queue = 32;
constexpr auto helper_time_limit = std::chrono::seconds(120);
constexpr size_t max_wisdom_bytes = 4 << 20;
const char helper_name[] = "lumadex-fft-planner";

std::string directory_of_this_library() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&wisdom_cache_directory), &info) == 0 || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

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

int cores_available() {
    static const int cores = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
        return std::max(1, CPU_COUNT(&set));
    }();
    return cores;
}

// Stops the helper and waits until all its threads have stopped: a signal
// only marks them, and a thread that is still computing when the transform
// starts takes a core and cache from it. Returns at once if the helper has
// exited (it is not reaped here) or is not this process's child to wait for.
void stop_and_wait(pid_t pid) {
    kill(pid, SIGSTOP);
    siginfo_t info{};
    while (waitid(P_PID, pid, &info, WSTOPPED | WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

}  // namespace

std::string wisdom_cache_directory() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/lumadex";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.cache/lumadex";
    return {};
}

MeasurementService::MeasurementService() = default;

MeasurementService::~MeasurementService() { shutdown(); }

void MeasurementService::set_helper_path(std::string path) {
    helper_path_ = std::move(path);
    helper_checked_ = true;
}

bool MeasurementService::request(const FftwProblem& p) {
    if (!helper_checked_) {
        const std::string dir = directory_of_this_library();
        helper_path_ = dir.empty() ? std::string() : dir + "/" + helper_name;
        helper_checked_ = true;
    }
    if (helper_path_.empty() || access(helper_path_.c_str(), X_OK) != 0) return false;
    if (queue_.size() >= max_queue) return false;
    queue_.push_back({p, 0});
    return true;
}

void MeasurementService::start_queued() {
    if (!running_) start_next();
}

void MeasurementService::start_next() {
    while (!running_ && !queue_.empty()) {
        const Queued next = queue_.front();
        queue_.pop_front();
        const FftwProblem& p = next.problem;

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // The child starts with default signal handling, whatever the host set.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

        const std::string text = p.to_text();
        std::string parent = std::to_string(getpid());
        char* argv[] = {const_cast<char*>(helper_path_.c_str()), const_cast<char*>(text.c_str()), parent.data(),
                        nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, helper_path_.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            continue;
        }
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        Running r;
        r.problem = p;
        r.failures = next.failures;
        r.pid = pid;
        r.pipe_fd = fds[0];
        r.started = r.resumed_at = std::chrono::steady_clock::now();
        if (transforms_running_ > 0) {
            stop_and_wait(pid);
            r.stopped = true;
            r.stopped_at = r.started;
        }
        running_ = std::move(r);
    }
}

void MeasurementService::transform_begins(int threads) {
    if (++transforms_running_ != 1 || !running_ || running_->pid <= 0) return;
    Running& r = *running_;
    const auto now = std::chrono::steady_clock::now();
    const auto elapsed = now - r.started;
    const bool starving = elapsed > std::chrono::seconds(1) && (elapsed - r.stopped_for) * 4 < elapsed;
    const bool leaves_a_core_idle = threads > 0 && threads < cores_available();
    if (starving && leaves_a_core_idle) r.shares_idle_core = true;
    if (r.shares_idle_core && leaves_a_core_idle) return;
    stop_and_wait(r.pid);
    r.stopped = true;
    r.stopped_at = now;
    r.last_slice = now - r.resumed_at;
}

void MeasurementService::transform_ends() {
    if (transforms_running_ == 0) return;  // an End without its Begin
    if (--transforms_running_ != 0 || !running_ || !running_->stopped) return;
    Running& r = *running_;
    if (r.pid > 0) kill(r.pid, SIGCONT);
    r.stopped = false;
    const auto now = std::chrono::steady_clock::now();
    r.stopped_for += now - r.stopped_at;
    if (r.last_slice < now - r.stopped_at) r.ran_in_short_slices += r.last_slice;
    r.resumed_at = now;
}

std::vector<FftwProblem> MeasurementService::poll() {
    std::vector<FftwProblem> arrived;
    if (!running_) return arrived;
    Running& r = *running_;

    drain(r);
    if (!r.exited) {
        int status = 0;
        const pid_t done = waitpid(r.pid, &status, WNOHANG);
        if (done == r.pid) {
            r.exited = true;
            r.clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            r.pid = -1;
            drain(r);  // everything it wrote is in the pipe now
        } else if (done < 0 && errno == ECHILD) {
            // The host reaps children itself (SIGCHLD ignored): the end of
            // the output marks the end of the helper; FFTW rejects a cut one.
            r.exited = true;
            r.clean = true;
            r.pid = -1;
        }
    }
    if (r.exited && r.output_closed) {
        const auto ran = std::chrono::steady_clock::now() - r.started - r.stopped_for;
        if (r.clean && r.ran_in_short_slices * 2 > ran) {
            // Mostly measured in slices shorter than the transforms between
            // them: FFTW's timings were cut too often to be trusted. The
            // measurement is repeated; it gets the cores once the script
            // leaves them idle for longer.
            if (queue_.size() < max_queue) queue_.push_back({r.problem, r.failures});
            ++disturbed_;
        } else if (r.clean && import_wisdom(r.problem.shape.precision, r.output)) {
            save_wisdom_file(r.problem.shape.precision);
            arrived.push_back(r.problem);
        } else if (r.failures == 0 && queue_.size() < max_queue) {
            queue_.push_back({r.problem, 1});  // a helper that failed gets one more try
        }
        finish(r);
    } else if (std::chrono::steady_clock::now() - r.started > helper_time_limit) {
        finish(r);
    }
    return arrived;
}

void MeasurementService::drain(Running& r) {
    char buffer[16384];
    while (!r.output_closed) {
        const ssize_t got = read(r.pipe_fd, buffer, sizeof buffer);
        if (got > 0) {
            if (r.output.size() < max_wisdom_bytes) r.output.append(buffer, static_cast<size_t>(got));
        } else if (got == 0) {
            r.output_closed = true;
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) r.output_closed = true;
            return;
        }
    }
}

void MeasurementService::finish(Running& r) {
    if (r.pid > 0) {
        kill(r.pid, SIGKILL);
        while (waitpid(r.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (r.pipe_fd >= 0) close(r.pipe_fd);
    running_.reset();
}

void MeasurementService::shutdown() {
    queue_.clear();
    if (running_) finish(*running_);
}

void MeasurementService::load_wisdom_file(Precision p) {
    bool& loaded = wisdom_file_loaded_[static_cast<int>(p)];
    if (loaded) return;
    loaded = true;
    const std::string path = wisdom_file(p);
    if (!path.empty()) import_wisdom(p, read_file(path));
}

void MeasurementService::save_wisdom_file(Precision p) {
    const std::string path = wisdom_file(p);
    if (path.empty() || !make_directories(wisdom_cache_directory())) return;
    const std::string text = export_wisdom(p);
    if (text.empty()) return;
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return;
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t w = write(fd, text.data() + written, text.size() - written);
        if (w <= 0 && errno != EINTR) break;
        if (w > 0) written += static_cast<size_t>(w);
    }
    const bool closed = close(fd) == 0;
    if (written != text.size() || !closed || rename(temporary.c_str(), path.c_str()) != 0) unlink(temporary.c_str());
}

}  // namespace lumadex::dfti
