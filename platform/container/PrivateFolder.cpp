// The private folder and its removal. Removal walks with getdents64 on a fixed buffer rather than
// opendir/nftw, which allocate, so that the same code serves a destructor and a signal handler.
#include "container/PrivateFolder.h"

#include "base/ExtendedAttributes.h"
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tessarin {

namespace {

// Deeper trees than this are left for the system's cleaner: extraction never makes them.
constexpr int kMaxRemovalDepth = 256;
constexpr int kRegistrySlots = 64;

enum SlotState : int { kFree = 0, kBusy = 1, kLive = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
Slot gSlots[kRegistrySlots];
static_assert(std::atomic<int>::is_always_lock_free, "the registry is read from signal handlers");

struct LinuxDirent64 {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

bool isDotOrDotDot(const char* n) { return n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)); }

bool emptyDirectory(int dirFd, int depth) noexcept;

// Removes one name in `parent`: a link or file as itself, a folder after emptying it (made
// writable first, as an archive may have left it read-only).
bool removeEntry(int parent, const char* name, int depth) noexcept {
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // unlinkat said EISDIR, so this is a folder, not a link that fchmodat could follow.
        if (::fchmodat(parent, name, S_IRWXU, 0) != 0) return false;
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return false;
    ::fchmod(fd, S_IRWXU);
    const bool emptied = emptyDirectory(fd, depth + 1);
    ::close(fd);
    return emptied && (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

// Passes over the folder until a pass finds nothing left; a pass that removes nothing gives up.
bool emptyDirectory(int dirFd, int depth) noexcept {
    if (depth > kMaxRemovalDepth) return false;
    alignas(8) char buffer[2048];
    for (;;) {
        if (::lseek(dirFd, 0, SEEK_SET) < 0) return false;
        bool found = false, removed = false;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
            if (n < 0) return false;
            if (n == 0) break;
            for (long at = 0; at < n;) {
                const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer + at);
                at += d->reclen;
                if (isDotOrDotDot(d->name)) continue;
                found = true;
                if (removeEntry(dirFd, d->name, depth)) removed = true;
            }
        }
        if (!found) return true;
        if (!removed) return false;
    }
}

const char* temporaryRoot() {
    const char* t = std::getenv("TMPDIR");
    return t && t[0] == '/' ? t : "/tmp";
}

int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kRegistrySlots; ++i) {
        int expected = kFree;
        if (gSlots[i].state.compare_exchange_strong(expected, kBusy)) {
            std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
            gSlots[i].state.store(kLive);
            return i;
        }
    }
    return -1;
}

}  // namespace

bool removeTreeNoFollow(const char* path) noexcept {
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return (errno == ENOTDIR || errno == ELOOP) ? ::unlink(path) == 0 : errno == ENOENT;
    ::fchmod(fd, S_IRWXU);
    const bool emptied = emptyDirectory(fd, 0);
    ::close(fd);
    return emptied && (::rmdir(path) == 0 || errno == ENOENT);
}

void removeRegisteredPrivateFolders() noexcept {
    const int savedErrno = errno;
    for (auto& slot : gSlots) {
        int expected = kLive;
        // Busy slots belong to an owner that is removing (or registering) its folder right now.
        if (slot.state.compare_exchange_strong(expected, kBusy)) {
            removeTreeNoFollow(slot.path);
            slot.state.store(kFree);
        }
    }
    errno = savedErrno;
}

Result<PrivateFolder> PrivateFolder::create(const std::string& prefix) { return create(prefix, temporaryRoot()); }

Result<PrivateFolder> PrivateFolder::create(const std::string& prefix, const std::string& parent) {
    if (parent.empty() || parent[0] != '/' || prefix.find('/') != std::string::npos)
        return fail("A private temporary folder needs an absolute parent folder and a plain name.");
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    // mkdtemp makes the folder with mode 0700.
    if (!::mkdtemp(pattern.data()))
        return fail("Could not make a private temporary folder in " + parent + ": " + std::strerror(errno) + ".");
    const int slot = claimSlot(pattern);
    if (slot < 0) {
        ::rmdir(pattern.c_str());
        return fail("Too many private temporary folders are in use at once to make another one.");
    }
    const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        PrivateFolder doomed(pattern, -1, slot);
        return fail("Could not open the private temporary folder " + pattern + ": " + std::strerror(err) + ".");
    }
    return PrivateFolder(std::move(pattern), fd, slot);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_), slot_(other.slot_) {
    other.path_.clear();
    other.fd_ = -1;
    other.slot_ = -1;
}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        slot_ = other.slot_;
        other.path_.clear();
        other.fd_ = -1;
        other.slot_ = -1;
    }
    return *this;
}

PrivateFolder::~PrivateFolder() { remove(); }

void PrivateFolder::remove() {
    if (!path_.empty()) dropExtendedAttributeOverlays(path_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (slot_ >= 0) {
        int expected = kLive;
        // When a signal handler got there first, the folder is gone or going already.
        if (gSlots[slot_].state.compare_exchange_strong(expected, kBusy)) {
            removeTreeNoFollow(path_.c_str());
            gSlots[slot_].state.store(kFree);
        }
    } else if (!path_.empty()) {
        removeTreeNoFollow(path_.c_str());
    }
    slot_ = -1;
    path_.clear();
}

}  // namespace tessarin
