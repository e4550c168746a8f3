// The expander's writing side: every folder is opened from the private folder down without
// following a link, every file is created anew (never written through what an earlier entry left),
// and modes that would shut the owner out are applied last.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/DisplayText.h"
#include "container/ArchiveExpander.h"

namespace tessarin::archive_detail {

std::string quoted(const std::string& path) { return "\"" + displayText(path) + "\""; }

std::string amount(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1 << 20, kGiB = std::uint64_t{1} << 30;
    if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) s += (i ? "/" : "") + parts[i];
    return s;
}

SplitName split(const std::string& raw, std::uint32_t maxDepth) {
    SplitName s;
    if (!raw.empty() && raw[0] == '/') {
        s.refusal = "it is an absolute name";
        return s;
    }
    std::size_t start = 0;
    while (start <= raw.size()) {
        const std::size_t slash = std::min(raw.find('/', start), raw.size());
        std::string part = raw.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            s.refusal = "its name climbs out of the folder with \"..\"";
            return s;
        }
        s.parts.push_back(std::move(part));
    }
    if (s.parts.size() > maxDepth)
        s.refusal = "it is " + std::to_string(s.parts.size()) + " levels deep, deeper than the limit of " +
                    std::to_string(maxDepth);
    return s;
}

// Whether a link's text, read from the link's own folder, leads out of the private folder.
bool leavesFolder(const std::string& target, std::size_t linkDepth) {
    if (target.empty() || target[0] == '/') return true;
    long depth = static_cast<long>(linkDepth);
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t slash = std::min(target.find('/', start), target.size());
        const std::string part = target.substr(start, slash - start);
        start = slash + 1;
        if (part == "..") {
            if (--depth < 0) return true;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
    }
    return false;
}

const char* specialKind(mode_t type) {
    switch (type) {
    case AE_IFCHR:
    case AE_IFBLK: return "it is a device file";
    case AE_IFIFO: return "it is a named pipe (fifo)";
    case AE_IFSOCK: return "it is a socket";
    default: return "it is of a kind of file that is not expanded";
    }
}

std::optional<Fd> Expander::openFolder(const std::vector<std::string>& parts, std::size_t count, Walk walk,
                                       const std::string* raw) {
    // Folders are never removed or replaced during expansion, so the last one found stays right.
    const std::string key = joined(parts, count);
    if (count > 0 && key == cachedPath_) return Fd(::fcntl(cached_.fd, F_DUPFD_CLOEXEC, 0));
    Fd current(::fcntl(root_, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count; ++i) {
        const char* part = parts[i].c_str();
        Fd next(::openat(current.fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next && errno == ENOENT && walk == Walk::Make) {
            if (::mkdirat(current.fd, part, S_IRWXU) == 0) {
                ArchiveEntry implied;
                implied.path = joined(parts, i + 1);
                implied.kind = EntryKind::Folder;
                implied.mode = kImpliedFolderMode;
                implied.implied = true;
                record(std::move(implied));
            }
            next = Fd(::openat(current.fd, part, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next) ::fchmod(next.fd, kImpliedFolderMode);
        }
        if (!next) {
            const int err = errno;
            if (!raw) return std::nullopt;
            struct stat st {};
            const bool exists = ::fstatat(current.fd, part, &st, AT_SYMLINK_NOFOLLOW) == 0;
            const std::string where = quoted(joined(parts, i + 1));
            if (exists && S_ISLNK(st.st_mode))
                refuse(*raw, "it lies under the symbolic link " + where);
            else if (exists && !S_ISDIR(st.st_mode))
                refuse(*raw, "it lies under " + where + ", which is not a folder");
            else
                refuse(*raw, "the folder " + where + " could not be opened: " + std::strerror(err));
            return std::nullopt;
        }
        current = std::move(next);
    }
    if (count > 0) {
        cachedPath_ = key;
        cached_ = Fd(::fcntl(current.fd, F_DUPFD_CLOEXEC, 0));
    }
    return current;
}

bool Expander::clearName(int parent, const std::string& name, const std::string& raw) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        refuse(raw, "a folder of that name is already there");
        return false;
    }
    // Unlinking removes a link itself, never what it points to.
    if (::unlinkat(parent, name.c_str(), 0) != 0) {
        refuse(raw, std::string("the earlier entry of that name could not be replaced: ") + std::strerror(errno));
        return false;
    }
    return true;
}

bool Expander::writeData(archive_entry* e, const std::string& raw, int file, std::uint64_t& end) {
    const std::uint64_t declared = static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(e), 0));
    end = 0;
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(a_, &block, &size, &offset);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) {
            readFailed(raw, r == ARCHIVE_FATAL, "its content", "unreadable data");
            return false;
        }
        if (offset < 0) offset = 0;
        end = std::max(end, static_cast<std::uint64_t>(offset) + size);
        if (!withinLimits(out_.bytes + end, raw)) return false;
        const char* p = static_cast<const char*>(block);
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(file, p + done, size - done, offset + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int err = n < 0 ? errno : EIO;
                if (err == ENOSPC || err == EDQUOT)
                    stop(ExpansionStop::FreeSpace, "Expansion of " + name_ + " stopped at " + quoted(raw) +
                                                       ": the temporary folder's file system is full.");
                else
                    refuse(raw, std::string("it could not be written: ") + std::strerror(err));
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    // A sparse entry may end in a hole.
    if (declared > end) {
        if (!withinLimits(out_.bytes + declared, raw)) return false;
        end = declared;
    }
    if (::ftruncate(file, static_cast<off_t>(end)) != 0) {
        refuse(raw, std::string("it could not be written: ") + std::strerror(errno));
        return false;
    }
    return true;
}

void Expander::writeFile(archive_entry* e, const std::string& raw, const SplitName& name, int parent) {
    const std::string& leaf = name.parts.back();
    if (!clearName(parent, leaf, raw)) return;
    const std::uint64_t declared = static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(e), 0));
    if (!withinLimits(out_.bytes + declared, raw)) return;
    Fd file(::openat(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!file) {
        refuse(raw, std::string("it could not be written: ") + std::strerror(errno));
        return;
    }
    std::uint64_t end = 0;
    if (!writeData(e, raw, file.fd, end)) {
        ::unlinkat(parent, leaf.c_str(), 0);
        return;
    }
    out_.bytes += end;
    ArchiveEntry entry;
    entry.path = joined(name.parts, name.parts.size());
    entry.kind = EntryKind::File;
    entry.mode = archive_entry_perm(e) & kPermissionBits;
    entry.size = end;
    settleMode(file.fd, entry);
    record(std::move(entry));
}

Fd Expander::openEntry(const ArchiveEntry& entry) {
    const SplitName name = split(entry.path, UINT32_MAX);
    auto parent = openFolder(name.parts, name.parts.size() - 1, Walk::Find, nullptr);
    if (!parent) return Fd();
    const int flags = entry.kind == EntryKind::Folder ? O_RDONLY | O_DIRECTORY : O_RDONLY;
    return Fd(::openat(parent->fd, name.parts.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
}

void Expander::settleMode(int fd, const ArchiveEntry& entry) {
    const mode_t needed = entry.kind == EntryKind::Folder ? S_IRWXU : S_IRUSR | S_IWUSR;
    if ((entry.mode & needed) == needed)
        ::fchmod(fd, entry.mode);
    else
        deferredModes_.push_back(entry.path);
}

// Modes that shut the owner out come last: files first, then folders deepest first, so that no
// mode blocks a later step.
void Expander::applyModes() {
    std::vector<const ArchiveEntry*> order;
    for (const auto& path : deferredModes_)
        if (auto it = index_.find(path); it != index_.end()) order.push_back(&out_.entries[it->second]);
    auto depth = [](const ArchiveEntry* e) { return std::count(e->path.begin(), e->path.end(), '/'); };
    std::stable_sort(order.begin(), order.end(), [&](const ArchiveEntry* x, const ArchiveEntry* y) {
        if ((x->kind == EntryKind::Folder) != (y->kind == EntryKind::Folder)) return x->kind != EntryKind::Folder;
        return depth(x) > depth(y);
    });
    for (const ArchiveEntry* e : order)
        if (e->kind == EntryKind::File || e->kind == EntryKind::Folder)
            if (Fd fd = openEntry(*e)) ::fchmod(fd.fd, e->mode);
}

}  // namespace tessarin::archive_detail
