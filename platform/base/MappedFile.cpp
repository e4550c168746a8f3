// mmap-backed file view; the descriptor is closed as soon as the mapping exists.
#include "base/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace tessarin {

namespace {
std::string posixMessage(const std::string& path, const char* what, int err) {
    return "cannot " + std::string(what) + " '" + path + "': " + std::strerror(err);
}
}  // namespace

Result<MappedFile> MappedFile::open(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return fail(posixMessage(path, "open", errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail(posixMessage(path, "read", err));
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail("'" + path + "' is a directory");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("'" + path + "' is not a regular file");
    }
    if (st.st_size == 0) {
        ::close(fd);
        return MappedFile(nullptr, 0);
    }
    void* data = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    int err = errno;
    ::close(fd);
    if (data == MAP_FAILED) return fail(posixMessage(path, "read", err));
    return MappedFile(data, static_cast<std::size_t>(st.st_size));
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(data_, size_);
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(data_, size_);
}

}  // namespace tessarin
