// The 32-bit component scan: a deep walk below the item that lists thin 32-bit little-endian
// Mach-O files and nested applications with 32-bit but no 64-bit Intel code.
//
// The walk is iterative and works on directory descriptors (openat, getdents64), so that neither
// depth nor path length limits it and no entry costs more than its name in a shared buffer. At most
// kOpenDirectories descriptors stay open; a deeper directory's ancestors are closed and reopened
// through ".." on the way back, checked by device and inode.
#include "Scan32Bit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "CpuTypeCodes.h"
#include "base/DisplayText.h"
#include "bundle/Bundle.h"

namespace tessarin {

namespace {

constexpr std::size_t kOpenDirectories = 48;
constexpr unsigned char kMagic32LE[4] = {0xCE, 0xFA, 0xED, 0xFE};

constexpr const char* kNoComponents = "\u2705 No 32-bit only components were found.\n";
constexpr const char* kHas64BitHeading =
    "\u26A0\uFE0F This has 64-bit code, but the following components are 32-bit only:\n";
constexpr const char* kOnly32BitHeading =
    "\u26D4\uFE0F This is 32-bit only, and the following components are 32-bit only:\n";

void closeQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

// Whether the file starts with the thin 32-bit little-endian magic; the descriptor is closed.
bool isThin32BitFile(int fd) {
    if (fd < 0) return false;
    unsigned char head[4];
    std::size_t got = 0;
    while (got < sizeof head) {
        ssize_t n = ::read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return got == sizeof head && std::memcmp(head, kMagic32LE, sizeof head) == 0;
}

class Walker {
public:
    Walker(std::string root, Scan32BitResult& result) : prefix_(std::move(root)), result_(result) {
        if (prefix_ == "/") prefix_.clear();  // children of "/" are "/name", not "//name"
    }

    bool start(const std::string& rootPath) {
        int fd = ::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        path_ = prefix_;
        return push(fd);
    }

    void run() {
        while (!frames_.empty()) {
            Frame& f = frames_.back();
            if (f.cursor >= f.end) {
                pop();
                continue;
            }
            unsigned char type = static_cast<unsigned char>(names_[f.cursor]);
            const std::size_t nameAt = f.cursor + 1;
            const std::size_t nameLength = std::strlen(&names_[nameAt]);
            f.cursor = nameAt + nameLength + 1;
            path_.resize(f.pathLength);
            path_ += '/';
            path_.append(&names_[nameAt], nameLength);
            // The name is copied out of the shared buffer, which a child's entries may move.
            std::string_view name(path_.data() + f.pathLength + 1, nameLength);
            entry(f.fd, name, type);
        }
    }

private:
    struct Frame {
        int fd = -1;  // closed (-1) for ancestors beyond the open window
        dev_t device = 0;
        ino_t inode = 0;
        std::size_t begin = 0;  // this directory's entries in names_
        std::size_t cursor = 0;
        std::size_t end = 0;
        std::size_t pathLength = 0;
    };

    void entry(int dirfd, std::string_view name, unsigned char type) {
        const std::string nameCopy(name);  // NUL-terminated for the system calls below
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dirfd, nameCopy.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        }
        switch (type) {
        case DT_DIR: directory(dirfd, nameCopy); break;
        case DT_REG:
            if (isThin32BitFile(
                    ::openat(dirfd, nameCopy.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)))
                result_.components.push_back(path_);
            break;
        case DT_LNK: {
            // A link to a directory is a directory entry that is a link: passed over, not walked.
            // A link to a regular file is read like the file; anything else could block.
            struct stat st {};
            if (::fstatat(dirfd, nameCopy.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) return;
            if (isThin32BitFile(::openat(dirfd, nameCopy.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)))
                result_.components.push_back(path_);
            break;
        }
        default: break;  // pipes, sockets and devices are never opened
        }
    }

    void directory(int dirfd, const std::string& name) {
        if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".app") == 0) application();
        int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) push(fd);
    }

    void application() {
        auto bundle = Bundle::open(path_);
        if (!bundle) return;
        auto arches = bundle->executableArchitectures();
        if (!arches || arches->empty()) return;
        bool has32 = std::find(arches->begin(), arches->end(), kCpuType32BitIntel) != arches->end();
        bool has64 = std::find(arches->begin(), arches->end(), kCpuType64BitIntel) != arches->end();
        if (has32) result_.has32BitIntel = true;
        if (has64) result_.has64BitIntel = true;
        if (has32 && !has64) result_.components.push_back(path_);
    }

    // Reads the directory's entries into names_ and makes it the current frame.
    bool push(int fd) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return false;
        }
        Frame f;
        f.fd = fd;
        f.device = st.st_dev;
        f.inode = st.st_ino;
        f.begin = f.cursor = names_.size();
        readEntries(fd);
        f.end = names_.size();
        f.pathLength = path_.size();
        frames_.push_back(f);
        if (++openCount_ > kOpenDirectories) {
            Frame& oldest = frames_[firstOpen_];
            closeQuietly(oldest.fd);
            oldest.fd = -1;
            ++firstOpen_;
            --openCount_;
        }
        return true;
    }

    void pop() {
        Frame done = frames_.back();
        frames_.pop_back();
        names_.resize(done.begin);
        if (!frames_.empty() && frames_.back().fd < 0) {
            Frame& parent = frames_.back();
            int fd = ::openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            struct stat st {};
            if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == parent.device && st.st_ino == parent.inode) {
                parent.fd = fd;
                firstOpen_ = frames_.size() - 1;
                ++openCount_;
            } else {
                // Moved while we were below it: what is left of it can no longer be reached.
                closeQuietly(fd);
                parent.cursor = parent.end;
            }
        }
        if (done.fd >= 0) {
            ::close(done.fd);
            --openCount_;
        }
        if (firstOpen_ > frames_.size()) firstOpen_ = frames_.size();
    }

    // Appends each entry as its type byte, its name and a NUL.
    void readEntries(int fd) {
        auto add = [&](unsigned char type, const char* name) {
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return;
            names_.push_back(static_cast<char>(type));
            names_.insert(names_.end(), name, name + std::strlen(name) + 1);
        };
#ifdef __linux__
        if (buffer_.empty()) buffer_.resize(64 * 1024);
        for (;;) {
            ssize_t n = ::getdents64(fd, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // the end, or a directory that cannot be read further
            for (ssize_t at = 0; at < n;) {
                auto* d = reinterpret_cast<const struct dirent64*>(buffer_.data() + at);
                add(d->d_type, d->d_name);
                at += d->d_reclen;
            }
        }
#else
        int copy = ::dup(fd);
        if (copy < 0) return;
        DIR* dir = ::fdopendir(copy);
        if (!dir) {
            ::close(copy);
            return;
        }
        while (struct dirent* d = ::readdir(dir)) add(d->d_type, d->d_name);
        ::closedir(dir);
#endif
    }

    std::string prefix_;
    Scan32BitResult& result_;
    std::string path_;
    std::vector<Frame> frames_;
    std::vector<char> names_;
    std::vector<char> buffer_;
    std::size_t openCount_ = 0;
    std::size_t firstOpen_ = 0;  // frames below this index have their descriptors closed
};

}  // namespace

Scan32BitResult scan32BitComponents(const FileURL& itemURL, const std::vector<std::int32_t>& itemArches) {
    Scan32BitResult result;
    const std::string root = itemURL.path();
    Walker walker(root, result);
    if (root.empty() || !walker.start(root)) return result;
    result.started = true;
    walker.run();

    if (std::find(itemArches.begin(), itemArches.end(), kCpuType64BitIntel) != itemArches.end())
        result.has64BitIntel = true;
    if (std::find(itemArches.begin(), itemArches.end(), kCpuType32BitIntel) != itemArches.end())
        result.has32BitIntel = true;

    if (result.components.empty()) {
        result.text = kNoComponents;
        return result;
    }
    // Byte order of UTF-8 is code point order.
    std::sort(result.components.begin(), result.components.end());
    if (result.has64BitIntel)
        result.text = kHas64BitHeading;
    else if (result.has32BitIntel)
        result.text = kOnly32BitHeading;
    for (std::size_t k = 0; k < result.components.size(); ++k) {
        if (k) result.text += '\n';
        result.text += displayText(result.components[k]);
    }
    result.text += '\n';
    result.turnOff64Intel = true;
    return result;
}

}  // namespace tessarin
