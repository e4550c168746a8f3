// posix_spawn-based tool runner: no shell, both pipes drained together with poll(), and runs that
// a ToolCancellation can end.
#include "ToolRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "base/DisplayText.h"

extern char** environ;

namespace tessarin {

namespace {

// Owns one pipe end; closes it when done.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// A write to a tool whose pipe closed must not end the whole application.
void ignoreSigpipeOnce() {
    static const bool done = [] {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &sa, nullptr);
        return true;
    }();
    (void)done;
}

ToolRun notStarted(const std::string& launchPath, const std::string& executable, int err) {
    ToolRun run;
    run.status = 127;
    run.errors = "The tool " + launchPath;
    if (executable != launchPath) run.errors += " (" + executable + ")";
    run.errors += " could not be started: " + std::string(std::strerror(err)) + ".";
    return run;
}

std::string programDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().string();
}

ToolRun cancelledBeforeStart(const std::string& launchPath) {
    ToolRun run;
    run.status = 128 + SIGKILL;
    run.errors = "The tool " + launchPath + " was not started: the run was cancelled.";
    return run;
}

// The attributes of every spawned tool: a clean signal mask and the default SIGPIPE (which this
// process ignores, and which would otherwise stay ignored across exec), and with a cancellation
// a process group of its own.
class SpawnAttributes {
public:
    explicit SpawnAttributes(bool ownGroup) {
        posix_spawnattr_init(&attr_);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (ownGroup) {
            posix_spawnattr_setpgroup(&attr_, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        posix_spawnattr_setflags(&attr_, flags);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
};

}  // namespace

ToolCancellation::ToolCancellation() {
    // Never drained: once written, it stays readable for every runner that polls it.
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

ToolCancellation::~ToolCancellation() {
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void ToolCancellation::cancel() {
    std::vector<std::weak_ptr<ToolCancellation>> children;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cancelled_.exchange(true)) return;
        for (pid_t group : running_) ::kill(-group, SIGKILL);
        if (wake_[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        }
        children.swap(children_);
    }
    // Outside the lock: a child never takes its parent's.
    for (auto& weak : children)
        if (auto child = weak.lock()) child->cancel();
}

std::shared_ptr<ToolCancellation> ToolCancellation::makeChild() {
    auto child = std::make_shared<ToolCancellation>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!cancelled_.load()) {
            std::erase_if(children_, [](const std::weak_ptr<ToolCancellation>& c) { return c.expired(); });
            children_.push_back(child);
            return child;
        }
    }
    child->cancel();
    return child;
}

bool ToolCancellation::track(pid_t processGroup) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_.load()) {
        ::kill(-processGroup, SIGKILL);
        return false;
    }
    running_.insert(processGroup);
    return true;
}

void ToolCancellation::untrack(pid_t processGroup) {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(processGroup);
}

const ToolSet& ToolSet::platform() {
    static const ToolSet tools;
    return tools;
}

std::string ToolSet::resolve(const std::string& launchPath) const {
    if (auto it = overrides_.find(launchPath); it != overrides_.end()) return it->second.executable;
    if (::access(launchPath.c_str(), X_OK) == 0) return launchPath;
    // Our stand-in of the same name: libexec/tessarin/ beside the program's bin/.
    std::string name = std::filesystem::path(launchPath).filename().string();
    std::string dir = programDirectory();
    if (dir.empty()) return launchPath;
    return (std::filesystem::path(dir).parent_path() / "libexec" / "tessarin" / name).string();
}

bool ToolSet::isStandIn(const std::string& launchPath) const {
    if (auto it = overrides_.find(launchPath); it != overrides_.end()) return it->second.standIn;
    return resolve(launchPath) != launchPath;
}

ToolRun runTool(const std::string& launchPath, const std::vector<std::string>& arguments, bool captureErrors,
                const ToolSet& tools) {
    ignoreSigpipeOnce();
    ToolCancellation* const cancellation = tools.cancellation().get();
    if (cancellation && cancellation->cancelled()) return cancelledBeforeStart(launchPath);
    const std::string executable = tools.resolve(launchPath);

    Fd outRead, outWrite, errRead, errWrite;
    if (!makePipe(outRead, outWrite)) return notStarted(launchPath, executable, errno);
    if (captureErrors && !makePipe(errRead, errWrite)) return notStarted(launchPath, executable, errno);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    if (captureErrors) posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);

    std::vector<std::string> argvStrings;
    argvStrings.reserve(arguments.size() + 1);
    argvStrings.push_back(launchPath);
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const SpawnAttributes attributes(cancellation != nullptr);
    int rc = ::posix_spawn(&pid, executable.c_str(), &actions, attributes.get(), argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return notStarted(launchPath, executable, rc);
    // posix_spawn returns after the child has taken its own group, so the group id is the pid.
    if (cancellation) cancellation->track(pid);

    // Only the child keeps the write ends, so end of file arrives when it exits.
    outWrite.reset();
    errWrite.reset();

    ToolRun run;
    struct Stream {
        int fd;
        std::string* sink;
        bool open;
    };
    Stream streams[2] = {{outRead.get(), &run.output, true}, {errRead.get(), &run.errors, captureErrors}};
    char buffer[65536];
    const int wake = cancellation ? cancellation->wakeDescriptor() : -1;
    while (streams[0].open || streams[1].open) {
        pollfd fds[3];
        int count = 0;
        Stream* which[2];
        for (auto& s : streams) {
            if (!s.open) continue;
            fds[count] = {s.fd, POLLIN, 0};
            which[count++] = &s;
        }
        // Last, so that the loop below only sees the streams.
        if (wake >= 0) fds[count] = {wake, POLLIN, 0};
        if (::poll(fds, static_cast<nfds_t>(count + (wake >= 0 ? 1 : 0)), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        // Cancelled: the tool's group has been killed; whatever else holds the pipes open is not
        // waited for.
        if (wake >= 0 && fds[count].revents != 0) break;
        for (int i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
            ssize_t n = ::read(which[i]->fd, buffer, sizeof buffer);
            if (n > 0) {
                which[i]->sink->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                which[i]->open = false;
            }
        }
    }

    int status = 0;
    if (cancellation) {
        // Exited but not reaped: until untrack() the pid, and so the group id, cannot be reused.
        siginfo_t info;
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {}
        cancellation->untrack(pid);
    }
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            run.status = 127;
            return run;
        }
    }
    if (WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.status = 128 + WTERMSIG(status);  // as shells report it: never 0
    else
        run.status = 1;
    return run;
}

std::string toolReport(const std::string& errorPrefix, const ToolRun& run) {
    const std::string output = displayText(run.output, DisplayAs::Lines);
    const std::string errors = displayText(run.errors, DisplayAs::Lines);
    if (run.status == 0) return output + errors;
    std::string text = errorPrefix + std::to_string(run.status) + "\n";
    if (!output.empty()) text += output + "\n";
    if (!errors.empty()) text += errors + "\n";
    return text;
}

}  // namespace tessarin
