// fork and execv rather than posix_spawn: the child must ask to die with us (PR_SET_PDEATHSIG) and
// take a file size limit before it runs, which spawn attributes cannot say. Between fork and exec
// the child makes only async-signal-safe calls, as the program may have other threads.
#include "diskimage/ChildRun.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

namespace tessarin {
namespace {

struct Pipe {
    int read = -1, write = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void closeRead() {
        if (read >= 0) ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
};

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

// A Landlock ruleset that handles every kind of write and allows them beneath `folder` alone; -1
// where the kernel has no Landlock or the folder cannot be opened.
int writeConfinement(const std::string& folder) {
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return -1;
    std::uint64_t writes = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                           LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR |
                           LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                           LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) writes |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) writes |= LANDLOCK_ACCESS_FS_TRUNCATE;
    landlock_ruleset_attr ruleset{};
    ruleset.handled_access_fs = writes;
    const int fd = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0));
    if (fd < 0) return -1;
    landlock_path_beneath_attr beneath{};
    beneath.allowed_access = writes;
    beneath.parent_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const bool added =
        beneath.parent_fd >= 0 && ::syscall(SYS_landlock_add_rule, fd, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0) == 0;
    if (beneath.parent_fd >= 0) ::close(beneath.parent_fd);
    if (!added) {
        ::close(fd);
        return -1;
    }
    return fd;
}

[[noreturn]] void execChild(char* const* argv, char* const* envp, int nullFd, int outFd, int errFd, int reportFd,
                            int confinementFd, std::uint64_t fileLimit) {
    const pid_t parent = ::getppid();
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the parent died before the request took hold
    ::dup2(nullFd, STDIN_FILENO);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    if (confinementFd >= 0 && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                               ::syscall(SYS_landlock_restrict_self, confinementFd, 0) != 0)) {
        const int err = errno;
        [[maybe_unused]] ssize_t n = ::write(reportFd, &err, sizeof err);
        ::_exit(127);
    }
    // Nothing else of ours reaches the child; the report pipe closes itself on exec.
    if (reportFd > 3) ::syscall(SYS_close_range, 3u, static_cast<unsigned>(reportFd - 1), 0u);
    ::syscall(SYS_close_range, static_cast<unsigned>(reportFd + 1), ~0u, 0u);
    if (fileLimit) {
        const rlimit limit{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM}) ::sigaction(sig, &dfl, nullptr);
    if (envp)
        ::execve(argv[0], argv, envp);
    else
        ::execv(argv[0], argv);
    const int err = errno;
    [[maybe_unused]] ssize_t n = ::write(reportFd, &err, sizeof err);
    ::_exit(127);
}

void drain(int& fd, std::string& into, std::size_t limit, bool keepEnd, bool& cut) {
    char buffer[8192];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        ::close(fd);
        fd = -1;
        return;
    }
    if (!keepEnd) {
        into.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), limit - std::min(limit, into.size())));
        return;
    }
    into.append(buffer, static_cast<std::size_t>(n));
    if (into.size() > 2 * limit) {
        into.erase(0, into.size() - limit);
        cut = true;
    }
}

}  // namespace

std::string ChildRun::lastLine() const {
    const std::string& text = err.find_first_not_of(" \t\r\n") != std::string::npos ? err : out;
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    if (end == std::string::npos) return {};
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

ChildRun runChild(const std::vector<std::string>& argv, const ChildRunOptions& options) {
    ChildRun run;
    if (argv.empty()) {
        run.startError = "no program was named";
        return run;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const auto& e : options.environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    Pipe out, err, report;
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nullFd < 0 || !out.open() || !err.open() || !report.open()) {
        run.startError = std::strerror(errno);
        if (nullFd >= 0) ::close(nullFd);
        return run;
    }
    const int confinement = options.writableOnlyBeneath.empty() ? -1 : writeConfinement(options.writableOnlyBeneath);
    run.confined = confinement >= 0;
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(args.data(), options.environment.empty() ? nullptr : env.data(), nullFd, out.write, err.write,
                  report.write, confinement, options.fileSizeLimit);
    ::close(nullFd);
    if (confinement >= 0) ::close(confinement);
    if (pid < 0) {
        run.startError = std::strerror(errno);
        return run;
    }
    ::setpgid(pid, pid);  // also here, so that a kill before the child's own call reaches the group
    out.closeWrite();
    err.closeWrite();
    report.closeWrite();

    int execError = 0;
    ssize_t got;
    while ((got = ::read(report.read, &execError, sizeof execError)) < 0 && errno == EINTR) {}
    if (got == static_cast<ssize_t>(sizeof execError)) run.startError = std::strerror(execError);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(options.timeLimitSeconds);
    while (run.started() && (out.read >= 0 || err.read >= 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            run.timedOut = true;
            break;
        }
        if (options.keepGoing && !options.keepGoing()) {
            run.stopped = true;
            break;
        }
        pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 200)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (out.read >= 0 && fds[0].revents) drain(out.read, run.out, options.outputLimit, false, run.errCut);
        if (err.read >= 0 && fds[1].revents) drain(err.read, run.err, options.outputLimit, true, run.errCut);
    }
    if (run.err.size() > options.outputLimit) {
        run.err.erase(0, run.err.size() - options.outputLimit);
        run.errCut = true;
    }
    // The group goes whatever happened: a finished leader may have left helpers behind. Until it
    // is reaped its id cannot be reused, so this signals nobody else.
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (!run.started()) return run;
    if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

}  // namespace tessarin
