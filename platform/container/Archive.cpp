// Archive expansion. libarchive reads the formats and decompresses; the files are written here,
// not by archive_write_disk, because every write must go through a folder descriptor opened with
// O_NOFOLLOW from the private folder down (so no link is ever followed or written through, whatever
// earlier entries made), every byte must count against the limits as it is written, and each
// refusal must come back as data naming its entry rather than as one library warning string.
#include "container/Archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "base/DisplayText.h"
#include "container/ArchiveExpander.h"

namespace tessarin {

const ArchiveEntry* Expansion::find(const std::string& path) const {
    for (const auto& e : entries)
        if (e.path == path) return &e;
    return nullptr;
}

namespace archive_detail {

void Expander::record(ArchiveEntry entry) {
    auto [it, added] = index_.try_emplace(entry.path, out_.entries.size());
    if (added)
        out_.entries.push_back(std::move(entry));
    else  // a later entry of the same name replaced the earlier one on disk
        out_.entries[it->second] = std::move(entry);
}

bool Expander::withinLimits(std::uint64_t total, const std::string& raw) {
    const std::string at = "Expansion of " + name_ + " stopped at " + quoted(raw) + ": ";
    if (total > budget_) {
        if (budgetIsFreeSpace_)
            stop(ExpansionStop::FreeSpace, at + "the content would not fit in the " + amount(budget_) +
                                               " free on the file system of the temporary folder.");
        else
            stop(ExpansionStop::TotalBytes,
                 at + "the content would exceed " + amount(budget_) + ", the most expanded from one archive.");
        return false;
    }
    if (total > limits_.ratioFloor && limits_.maxRatio > 0 && total / limits_.maxRatio > archiveSize_) {
        stop(ExpansionStop::Ratio, at + "the content grew past " + std::to_string(limits_.maxRatio) +
                                       " times the archive's size, as a zip bomb does.");
        return false;
    }
    return true;
}

void Expander::readAppleDouble(archive_entry* e, const std::string& raw, const std::string& subject) {
    const std::uint64_t size = static_cast<std::uint64_t>(archive_entry_size(e));
    if (attributeBytes_ + size > kMaxAttributeBytes) {
        refuse(raw, "the archive's extended attributes exceed " + amount(kMaxAttributeBytes));
        return;
    }
    std::string bytes(size, '\0');
    const la_ssize_t n = archive_read_data(a_, bytes.data(), bytes.size());
    if (n < 0 || static_cast<std::uint64_t>(n) != size) {
        readFailed(raw, n == ARCHIVE_FATAL, "its extended attributes", "the entry is short");
        return;
    }
    attributeBytes_ += size;
    auto parsed = parseAppleDouble(ByteSpan(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()));
    if (!parsed) {
        refuse(raw, "its extended attributes are unreadable: " + parsed.error());
        return;
    }
    if (!parsed->attributes.empty()) pending_.emplace_back(subject, std::move(parsed->attributes));
}

void Expander::takeArchiveAttributes(archive_entry* e, const std::string& path) {
    std::vector<ExtendedAttribute> attributes;
    const char* name = nullptr;
    const void* value = nullptr;
    std::size_t size = 0;
    archive_entry_xattr_reset(e);
    while (archive_entry_xattr_next(e, &name, &value, &size) == ARCHIVE_OK) {
        std::string n = name ? name : "";
        // Linux's own namespaces: "user." holds what the Mac names bare; the others are never set.
        if (n.rfind("user.", 0) == 0)
            n.erase(0, 5);
        else if (n.rfind("security.", 0) == 0 || n.rfind("trusted.", 0) == 0 || n.rfind("system.", 0) == 0)
            continue;
        if (n.empty() || size > ATTR_MAX_SIZE || attributeBytes_ + size > kMaxAttributeBytes) continue;
        attributeBytes_ += size;
        attributes.push_back({std::move(n), std::string(static_cast<const char*>(value), size)});
    }
    if (!attributes.empty()) pending_.emplace_back(path, std::move(attributes));
}

// cpio keeps a multiply linked file's data with one of its names (newc with the last, odc with
// each) and some tar writers do too: it is the content of the one file all the names share.
bool Expander::rewriteLinked(archive_entry* e, const std::string& raw, int targetFolder, const SplitName& target,
                             struct stat& st) {
    const std::uint64_t before = std::min(static_cast<std::uint64_t>(st.st_size), out_.bytes);
    Fd file(::openat(targetFolder, target.parts.back().c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (!file) {
        refuse(raw, std::string("its content could not be written: ") + std::strerror(errno));
        return false;
    }
    out_.bytes -= before;
    std::uint64_t end = 0;
    const bool written = writeData(e, raw, file.fd, end);
    if (!written) end = ::ftruncate(file.fd, 0) == 0 ? 0 : end;
    out_.bytes += end;
    st.st_size = static_cast<off_t>(end);
    if (auto it = index_.find(joined(target.parts, target.parts.size())); it != index_.end())
        out_.entries[it->second].size = end;
    return written;
}

void Expander::entry(archive_entry* e) {
    const char* pathname = archive_entry_pathname(e);
    const std::string raw = pathname ? pathname : "";
    if (raw.empty()) {
        refuse(raw, "it has no name");
        return;
    }
    const SplitName name = split(raw, limits_.maxDepth);
    if (!name.refusal.empty()) {
        refuse(raw, name.refusal);
        return;
    }
    if (name.parts.empty()) return;  // the folder itself ("./")
    const std::string path = joined(name.parts, name.parts.size());
    const mode_t type = archive_entry_filetype(e);
    const char* hardlink = archive_entry_hardlink(e);

    if (name.parts[0] == "__MACOSX" && type == AE_IFDIR) return;  // holds only AppleDouble files
    if (auto subject = appleDoubleSubject(path);
        subject && type == AE_IFREG && !hardlink && archive_entry_size_is_set(e) && archive_entry_size(e) >= 0 &&
        archive_entry_size(e) <= static_cast<la_int64_t>(kMaxAppleDoubleSize)) {
        readAppleDouble(e, raw, *subject);
        return;
    }
    if (!hardlink && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
        refuse(raw, specialKind(type));
        return;
    }

    auto parent = openFolder(name.parts, name.parts.size() - 1, Walk::Make, &raw);
    if (!parent) return;
    const std::string& leaf = name.parts.back();
    ArchiveEntry entry;
    entry.path = path;
    entry.mode = archive_entry_perm(e) & kPermissionBits;

    if (hardlink) {
        const SplitName target = split(hardlink, limits_.maxDepth);
        if (!target.refusal.empty() || target.parts.empty()) {
            refuse(raw, "it is a hard link to " + quoted(hardlink) + ", a name outside the folder");
            return;
        }
        auto targetFolder = openFolder(target.parts, target.parts.size() - 1, Walk::Find, &raw);
        if (!targetFolder) return;
        struct stat st {};
        if (::fstatat(targetFolder->fd, target.parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode)) {
            refuse(raw, "it is a hard link to " + quoted(hardlink) + ", which is not a file expanded before it");
            return;
        }
        if (archive_entry_size_is_set(e) && archive_entry_size(e) > 0) {
            if (!rewriteLinked(e, raw, targetFolder->fd, target, st)) return;
        }
        if (!clearName(parent->fd, leaf, raw)) return;
        if (::linkat(targetFolder->fd, target.parts.back().c_str(), parent->fd, leaf.c_str(), 0) != 0) {
            refuse(raw, std::string("it could not be linked: ") + std::strerror(errno));
            return;
        }
        entry.kind = EntryKind::HardLink;
        entry.linkTarget = joined(target.parts, target.parts.size());
        entry.size = static_cast<std::uint64_t>(st.st_size);
        if (const ArchiveEntry* t = index_.count(entry.linkTarget) ? &out_.entries[index_[entry.linkTarget]] : nullptr)
            entry.mode = t->mode;
        record(std::move(entry));
    } else if (type == AE_IFDIR) {
        struct stat st {};
        const bool exists = ::fstatat(parent->fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!(exists && S_ISDIR(st.st_mode))) {
            if (exists && !clearName(parent->fd, leaf, raw)) return;
            if (::mkdirat(parent->fd, leaf.c_str(), S_IRWXU) != 0) {
                refuse(raw, std::string("the folder could not be made: ") + std::strerror(errno));
                return;
            }
        }
        entry.kind = EntryKind::Folder;
        if (Fd fd{::openat(parent->fd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)})
            settleMode(fd.fd, entry);
        record(std::move(entry));
    } else if (type == AE_IFLNK) {
        const char* target = archive_entry_symlink(e);
        if (!target || !*target) {
            refuse(raw, "it is a symbolic link without a target");
            return;
        }
        if (!clearName(parent->fd, leaf, raw)) return;
        if (::symlinkat(target, parent->fd, leaf.c_str()) != 0) {
            refuse(raw, std::string("the link could not be made: ") + std::strerror(errno));
            return;
        }
        entry.kind = EntryKind::SymbolicLink;
        entry.linkTarget = target;
        entry.linkLeavesFolder = leavesFolder(target, name.parts.size() - 1);
        entry.size = entry.linkTarget.size();
        record(std::move(entry));
    } else {
        writeFile(e, raw, name, parent->fd);
    }
    if (out_.complete() && index_.count(path)) takeArchiveAttributes(e, path);
}

void Expander::attachAttributes() {
    for (auto& [subject, attributes] : pending_) {
        auto it = index_.find(subject);
        if (it == index_.end()) {
            out_.refusals.push_back({subject, "The extended attributes for " + quoted(subject) +
                                                  " are refused: the archive holds no such entry."});
            continue;
        }
        ArchiveEntry& entry = out_.entries[it->second];
        for (auto& a : attributes) {
            auto same = std::find_if(entry.attributes.begin(), entry.attributes.end(),
                                     [&](const ExtendedAttribute& x) { return x.name == a.name; });
            if (same != entry.attributes.end())
                same->value = std::move(a.value);
            else
                entry.attributes.push_back(std::move(a));
        }
    }
    for (auto& entry : out_.entries) {
        if (entry.attributes.empty() || entry.kind == EntryKind::SymbolicLink) continue;  // Linux takes no
        Fd fd = openEntry(entry);                                                         // user. attributes on links
        bool all = static_cast<bool>(fd);
        // Each is tried: one too large for the file system leaves the others on disk.
        for (const auto& a : entry.attributes)
            if (!fd || ::fsetxattr(fd.fd, ("user." + a.name).c_str(), a.value.data(), a.value.size(), 0) != 0)
                all = false;
        entry.attributesOnDisk = all;
    }
}

Result<Expansion> Expander::run() {
    struct statvfs vfs {};
    const std::uint64_t freeSpace =
        ::fstatvfs(root_, &vfs) == 0 ? static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize : UINT64_MAX;
    budgetIsFreeSpace_ = freeSpace < limits_.maxBytes;
    budget_ = std::min(freeSpace, limits_.maxBytes);

    for (bool first = true;; first = false) {
        archive_entry* e = nullptr;
        const int r = archive_read_next_header(a_, &e);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) {
            const std::string why = archive_error_string(a_) ? archive_error_string(a_) : "unreadable header";
            if (first) return fail(name_ + " could not be read as " + kind_ + ": " + why + ".");
            stop(ExpansionStop::Damaged,
                 name_ + " is damaged or cut short after " + std::to_string(entryCount_) + " entries: " + why + ".");
            break;
        }
        if (first && archive_format_name(a_)) out_.format = archive_format_name(a_);
        if (++entryCount_ > limits_.maxEntries) {
            stop(ExpansionStop::Entries, "Expansion of " + name_ + " stopped: it holds more than " +
                                             std::to_string(limits_.maxEntries) +
                                             " entries, the most expanded from one archive.");
            break;
        }
        entry(e);
        if (!out_.complete()) break;
    }
    attachAttributes();
    applyModes();
    return std::move(out_);
}

}  // namespace archive_detail

namespace {

using namespace archive_detail;

using ArchivePtr = std::unique_ptr<archive, decltype(&archive_read_free)>;

// Names are taken as the archive stores them. Under a UTF-8 character type libarchive converts
// names it knows to be UTF-8 to themselves and leaves undeclared ones (most zips, ustar) alone;
// under the process's locale it could turn them into '?'. uselocale is per thread.
class Utf8Names {
public:
    Utf8Names() : locale_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {
        if (locale_) previous_ = ::uselocale(locale_);
    }
    ~Utf8Names() {
        if (locale_) {
            ::uselocale(previous_);
            ::freelocale(locale_);
        }
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t locale_;
    locale_t previous_ = nullptr;
};

constexpr const char* kZipOrTar = "a zip or tar archive";

Result<Expansion> expand(ArchivePtr a, int openResult, int root, const ExpansionLimits& limits, std::string name,
                         std::uint64_t size, const char* kind = kZipOrTar) {
    if (openResult != ARCHIVE_OK) {
        const char* why = archive_error_string(a.get());
        return fail(name + " could not be read as " + kind + ": " + (why ? why : "unknown format") + ".");
    }
    Expander expander(a.get(), root, limits, std::move(name), size, kind);
    return expander.run();
}

ArchivePtr newReader() {
    ArchivePtr a(archive_read_new(), archive_read_free);
    // Only the kinds Mac software arrives in; every other format and filter stays off.
    archive_read_support_format_zip(a.get());
    archive_read_support_format_tar(a.get());
    archive_read_support_filter_gzip(a.get());
    archive_read_support_filter_bzip2(a.get());
    archive_read_support_filter_xz(a.get());
    return a;
}

}  // namespace

Result<Expansion> expandArchive(const std::string& archivePath, const PrivateFolder& folder,
                                const ExpansionLimits& limits) {
    const std::string name = quoted(archivePath.substr(archivePath.rfind('/') + 1));
    Fd fd(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.fd, &st) != 0) return fail(name + " could not be opened: " + std::strerror(errno) + ".");
    if (!S_ISREG(st.st_mode)) return fail(name + " is not a file.");
    Utf8Names utf8;
    ArchivePtr a = newReader();
    const int r = archive_read_open_fd(a.get(), fd.fd, kReadBlock);
    return expand(std::move(a), r, folder.fd(), limits, name, static_cast<std::uint64_t>(st.st_size));
}

Result<Expansion> expandArchive(ByteSpan bytes, const PrivateFolder& folder, const ExpansionLimits& limits) {
    Utf8Names utf8;
    ArchivePtr a = newReader();
    const int r = archive_read_open_memory(a.get(), bytes.data(), bytes.size());
    return expand(std::move(a), r, folder.fd(), limits, "the archive", bytes.size());
}

namespace {

la_ssize_t readPiece(archive* a, void* client, const void** buffer) {
    auto piece = (*static_cast<const StreamPieces*>(client))();
    if (!piece) {
        archive_set_error(a, EIO, "%s", piece.error().c_str());
        return -1;
    }
    *buffer = piece->data();
    return static_cast<la_ssize_t>(piece->size());
}

}  // namespace

Result<Expansion> expandCpioStream(const StreamPieces& next, std::uint64_t sourceSize, const std::string& name,
                                   const PrivateFolder& folder, const std::string& subfolder,
                                   const ExpansionLimits& limits) {
    Fd root(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0));
    if (!subfolder.empty()) {
        if (subfolder == "." || subfolder == ".." || subfolder.size() > NAME_MAX ||
            subfolder.find_first_of(std::string("/\0", 2)) != std::string::npos)
            return fail("The folder name " + quoted(subfolder) + " for " + name + " is not one plain name.");
        if (::mkdirat(folder.fd(), subfolder.c_str(), S_IRWXU) != 0)
            return fail("The folder " + quoted(subfolder) + " for " + name +
                        " could not be made: " + std::strerror(errno) + ".");
        root = Fd(::openat(folder.fd(), subfolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root) ::fchmod(root.fd, kImpliedFolderMode);
    }
    if (!root) return fail("The folder for " + name + " could not be opened: " + std::strerror(errno) + ".");
    Utf8Names utf8;
    ArchivePtr a(archive_read_new(), archive_read_free);
    // The stream comes decompressed: cpio alone, no filter.
    archive_read_support_format_cpio(a.get());
    const int r = archive_read_open(a.get(), const_cast<StreamPieces*>(&next), nullptr, readPiece, nullptr);
    return expand(std::move(a), r, root.fd, limits, name, sourceSize, "a cpio archive");
}

std::uint64_t countArchiveEntries(const std::string& archivePath, std::uint64_t atMost) {
    Fd fd(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    ArchivePtr a = newReader();
    if (!fd || archive_read_open_fd(a.get(), fd.fd, kReadBlock) != ARCHIVE_OK) return 0;
    std::uint64_t count = 0;
    archive_entry* e = nullptr;
    while (count <= atMost && archive_read_next_header(a.get(), &e) >= ARCHIVE_WARN) {
        ++count;
        if (archive_read_data_skip(a.get()) < ARCHIVE_WARN) break;
    }
    return count;
}

bool readsAsArchive(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    ArchivePtr a = newReader();
    if (!fd || archive_read_open_fd(a.get(), fd.fd, kReadBlock) != ARCHIVE_OK) return false;
    archive_entry* e = nullptr;
    const int r = archive_read_next_header(a.get(), &e);
    return r >= ARCHIVE_WARN || r == ARCHIVE_EOF;
}

}  // namespace tessarin
