// Every write, sync and close is checked: a short write (a full disk, a size limit) must fail the
// whole replacement rather than leave a shortened file behind.
#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace tessarin {

namespace {

Error systemError(int number) { return fail(std::strerror(number)); }

// An existing link is followed, so that the file it names is the one replaced.
std::string resolvedTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

Status writeFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string target = resolvedTarget(path);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return systemError(EISDIR);

    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    // Created with 0666 so that the user's umask decides, as for any new file.
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder + "." + name + "." + std::to_string(random()) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return systemError(errno);
    }
    if (fd < 0) return systemError(EEXIST);

    auto abandon = [&](int number) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return systemError(number);
    };
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) return abandon(errno);
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return abandon(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    if (::close(fd) != 0) {
        const int number = errno;
        ::unlink(temporary.c_str());
        return systemError(number);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int number = errno;
        ::unlink(temporary.c_str());
        return systemError(number);
    }
    return Ok{};
}

}  // namespace tessarin
