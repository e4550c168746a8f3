// Bounded whole-file reads that never block on FIFOs or devices.
#include "base/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace tessarin {
namespace {

// O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
int openRegular(const std::string& path, bool followLinks, struct stat& st) {
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (!followLinks) flags |= O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::optional<Bytes> readSmallFile(const std::string& path, std::uint64_t maxSize, bool followLinks) {
    struct stat st {};
    int fd = openRegular(path, followLinks, st);
    if (fd < 0) return std::nullopt;
    if (std::uint64_t(st.st_size) > maxSize) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

std::string regularFileHead(const std::string& path, std::size_t size, bool followLinks) {
    struct stat st {};
    int fd = openRegular(path, followLinks, st);
    if (fd < 0) return {};
    std::string head(size, '\0');
    const ssize_t got = ::read(fd, head.data(), head.size());
    ::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

bool regularFileStartsWith(const std::string& path, const std::string& magic) {
    return regularFileHead(path, magic.size()) == magic;
}

}  // namespace tessarin
