// Debian's 7zz reads the file systems (HFS+, APFS) and every chunk compression of a UDIF image, and
// is kept and fuzzed by others; we bound it from outside. Our reader judges the image before 7zz
// sees it, so that an encrypted, sparse, lying or oversized image never starts a child. 7zz keeps
// its own guard against writing through links (it leaves out a relative link that leads out, and
// roots an absolute one in its output folder); where the kernel has Landlock, it cannot write
// outside that folder at all. Afterwards both kinds of link are put back as the image wrote them,
// as links that nothing here follows, and the output is walked without following links.
#include "diskimage/DiskImageExpand.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "base/DisplayText.h"
#include "base/ExtendedAttributes.h"
#include "base/MappedFile.h"
#include "container/ArchiveExpander.h"
#include "diskimage/ChildRun.h"
#include "diskimage/Udif.h"
#include "diskimage/UdifConstants.h"

namespace tessarin {
namespace {

using archive_detail::amount;
using archive_detail::Fd;
using archive_detail::quoted;

constexpr const char* kSubfolder = "image";
constexpr std::string_view kDangerousLink = "ERROR: Dangerous link path was ignored : ";
// A file stored with a compression 7zz cannot undo: that file alone is lost.
// One attribute as Apple's file systems keep it at most (a signature's parts are kilobytes).
constexpr std::uint64_t kMaxAttribute = 1u << 20;
constexpr std::string_view kUnsupportedMethod = "ERROR: Unsupported Method : ";

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint64_t sectorBytes(std::uint64_t sectors) {
    return sectors > UINT64_MAX / UDIF_SECTOR_SIZE ? UINT64_MAX : sectors * UDIF_SECTOR_SIZE;
}

std::optional<std::uint64_t> freeSpace(int fd) {
    struct statvfs s {};
    if (::fstatvfs(fd, &s) != 0) return std::nullopt;
    return std::uint64_t(s.f_bavail) * s.f_frsize;
}

// The disk as its tables and trailer claim it, whichever is larger: what 7zz may have to write.
std::uint64_t claimedSize(const UdifImage& image) {
    std::uint64_t tables = 0;
    for (const auto& t : image.tables)
        tables = std::min<std::uint64_t>(UINT64_MAX - t.sectorCount, tables) + t.sectorCount;
    return sectorBytes(std::max(image.trailer.sectorCount, tables));
}

bool holdsFileSystem(const std::string& partition) {
    for (const char* type : {"Apple_HFS", "Apple_HFSX", "Apple_APFS"})
        if (partition.find(std::string(type) + " ") != std::string::npos ||
            partition.find(std::string(type) + ")") != std::string::npos)
            return true;
    return false;
}

// The folder that holds `relative` (slash-separated), opened without following any link.
std::optional<Fd> openParent(int root, const std::string& relative, std::string& leaf) {
    Fd dir(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    std::size_t start = 0;
    for (std::size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string part = relative.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        Fd next(::openat(dir.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) return std::nullopt;
        dir = std::move(next);
    }
    leaf = relative.substr(start);
    if (leaf.empty() || leaf == "." || leaf == "..") return std::nullopt;
    return dir;
}

// The names in a folder, without "." and "..".
std::vector<std::string> namesIn(int dir) {
    std::vector<std::string> names;
    Fd listing(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    DIR* d = listing ? ::fdopendir(listing.fd) : nullptr;
    if (!d) return names;
    listing.fd = -1;  // the stream owns it now
    // The duplicate shares its offset with `dir`, which an earlier listing may have left at the end.
    ::rewinddir(d);
    while (const dirent* e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    ::closedir(d);
    return names;
}

class Expander {
public:
    Expander(const std::string& path, const PrivateFolder& folder, const DiskImageExpandOptions& options)
        : path_(path), name_(quoted(baseName(path))), folder_(folder), options_(options) {}

    Result<DiskImageExpansion> run();

private:
    void stop(std::string sentence) {
        if (out_.stopSentence.empty()) out_.stopSentence = std::move(sentence);
    }
    std::string unread(const std::string& why) const {
        return "The file system in " + name_ + " was not read: " + why + ".";
    }
    bool judge(ByteSpan bytes);
    void extract();
    std::string runFailure(const ChildRun& run) const;
    void restoreLeftOutLinks(const std::string& err, int root);
    void walk(int dir, const std::string& relative, std::uint32_t depth);
    void takeStreams(int dir, const std::string& relative, std::vector<std::string>& names);
    void findVolumeRoot(const std::string& listing, int root);

    std::string path_, name_;
    const PrivateFolder& folder_;
    const DiskImageExpandOptions& options_;
    DiskImageExpansion out_;
    std::uint64_t imageSize_ = 0;
    std::uint64_t budget_ = 0;
    std::string budgetReason_;
    std::uint64_t entries_ = 0;
    std::uint64_t attributeBytes_ = 0;
    std::string output_;  // absolute
};

Result<DiskImageExpansion> Expander::run() {
    {  // unmapped before the child runs, which may take minutes
        auto file = MappedFile::open(path_);
        if (!file) return fail(file.error());
        imageSize_ = file->size();
        if (!judge(file->bytes())) return std::move(out_);
    }
    extract();
    return std::move(out_);
}

bool Expander::judge(ByteSpan bytes) {
    // A bare volume holds no more than its own size (before file system compression, which the
    // budget below bounds).
    const bool raw = diskImageKind(bytes) == DiskImageKind::Raw;
    auto image = raw ? Result<UdifImage>(UdifImage{}) : parseUdif(bytes);
    if (!image) {
        stop(unread(image.error()));
        return false;
    }
    if (image->licenseAgreement)
        out_.notes.push_back(name_ +
                             " carries a licence agreement, which a Mac shows before it opens the image; the file "
                             "system is read without it.");
    std::vector<std::string> fileSystems;
    for (const auto& t : image->tables)
        if (holdsFileSystem(t.name)) fileSystems.push_back(quoted(t.name));
    if (fileSystems.size() > 1) {
        std::string list;
        for (std::size_t i = 0; i < fileSystems.size(); ++i) list += (i ? ", " : "") + fileSystems[i];
        stop(unread("it holds " + std::to_string(fileSystems.size()) + " file systems (" + list +
                    "), and only an image with one is opened"));
        return false;
    }
    const std::uint64_t size = raw ? imageSize_ : claimedSize(*image);
    const ExpansionLimits& limits = options_.limits;
    const std::optional<std::uint64_t> free = freeSpace(folder_.fd());
    if (size > limits.maxBytes) {
        stop(unread("its disk holds " + amount(size) + " once expanded, more than the " + amount(limits.maxBytes) +
                    " an image may expand to"));
        return false;
    }
    if (free && size > *free) {
        stop(unread("its disk holds " + amount(size) + " once expanded, more than the " + amount(*free) +
                    " free where it would be expanded"));
        return false;
    }
    // What 7zz writes is bounded while it runs too: file system compression can make files larger
    // than the disk that holds them.
    budget_ = limits.maxBytes;
    budgetReason_ = "the most an image may expand to";
    const std::uint64_t ratio =
        std::max(limits.ratioFloor, imageSize_ > UINT64_MAX / std::max<std::uint64_t>(limits.maxRatio, 1)
                                        ? UINT64_MAX
                                        : imageSize_ * limits.maxRatio);
    if (ratio < budget_) {
        budget_ = ratio;
        budgetReason_ = std::to_string(limits.maxRatio) + " times the image's size";
    }
    if (free && *free < budget_) {
        budget_ = *free;
        budgetReason_ = "the space that was free";
    }
    return true;
}

void Expander::extract() {
    if (::mkdirat(folder_.fd(), kSubfolder, 0700) != 0) {
        stop(unread(std::string("its folder could not be made: ") + std::strerror(errno)));
        return;
    }
    out_.subfolder = kSubfolder;
    output_ = folder_.path() + "/" + kSubfolder;
    out_.contentsPath = output_;
    Fd root(::openat(folder_.fd(), kSubfolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root) {
        stop(unread(std::string("its folder could not be opened: ") + std::strerror(errno)));
        return;
    }

    const std::uint64_t freeAtStart = freeSpace(folder_.fd()).value_or(0);
    bool overBudget = false;
    ChildRunOptions run;
    run.timeLimitSeconds = options_.timeLimitSeconds;
    run.fileSizeLimit = budget_;
    run.writableOnlyBeneath = output_;
    // File names come from the image as UTF-16; a UTF-8 locale keeps every one of them.
    run.environment = {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
    run.keepGoing = [&] {
        const std::uint64_t now = freeSpace(folder_.fd()).value_or(freeAtStart);
        overBudget = freeAtStart > now && freeAtStart - now > budget_;
        return !overBudget;
    };
    // -snl: links as links. -sns: extended attributes and resource forks too, as "name:stream" files
    // beside their item, which the walk turns back into attributes (a signed script keeps its
    // signature there).
    const ChildRun child =
        runChild({options_.sevenZip, "x", "-snl", "-sns", "-y", "-bd", "-o" + output_, "--", path_}, run);

    if (overBudget)
        stop("Expansion of " + name_ + " was stopped when it had written more than " + amount(budget_) + ", " +
             budgetReason_ + ".");
    else if (!child.succeeded())
        if (std::string why = runFailure(child); !why.empty()) stop(unread(why));
    if (child.started()) {
        restoreLeftOutLinks(child.err, root.fd);
        walk(root.fd, "", 0);
        findVolumeRoot(child.out, root.fd);
    }
    if (out_.complete() && out_.bytes > budget_)
        stop("Expansion of " + name_ + " wrote " + amount(out_.bytes) + ", more than " + amount(budget_) + ", " +
             budgetReason_ + ".");
}

// Empty when the run failed only over links it left out, which are put back afterwards.
std::string Expander::runFailure(const ChildRun& child) const {
    const std::string tool = displayText(options_.sevenZip);
    if (!child.started()) return tool + " could not be started: " + child.startError;
    if (child.timedOut)
        return tool + " did not finish within " + std::to_string(options_.timeLimitSeconds) +
               (options_.timeLimitSeconds == 1 ? " second" : " seconds");
    std::string line = child.lastLine();
    if (child.signal)
        return tool + " ended with signal " + std::to_string(child.signal) + " (" + strsignal(child.signal) + ")" +
               (line.empty() ? "" : ", after \"" + displayText(line) + "\"");
    // 7zz exits with 2 for any error; when every line it wrote is a link it left out or a file it
    // could not decompress, each is said on its own and the rest of the file system stands.
    bool onlyLinks = child.exitStatus == 2 && !child.errCut;
    std::size_t start = 0;
    while (onlyLinks && start < child.err.size()) {
        std::size_t end = child.err.find('\n', start);
        if (end == std::string::npos) end = child.err.size();
        const std::string_view text(child.err.data() + start, end - start);
        if (!text.empty() && text.rfind(kDangerousLink, 0) != 0 && text.rfind(kUnsupportedMethod, 0) != 0)
            onlyLinks = false;
        start = end + 1;
    }
    if (onlyLinks && !child.err.empty()) return {};
    return tool + " exited with status " + std::to_string(child.exitStatus) +
           (line.empty() ? "" : ": \"" + displayText(line) + "\"");
}

// 7zz names each relative link that leads out of its folder and writes an empty file in its place;
// the link comes back as the image holds it, now that nothing more is written.
void Expander::restoreLeftOutLinks(const std::string& err, int root) {
    std::size_t start = 0;
    while (start < err.size()) {
        std::size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        const std::string line = err.substr(start, end - start);
        start = end + 1;
        if (line.rfind(kUnsupportedMethod, 0) == 0) {
            out_.notes.push_back(quoted(line.substr(kUnsupportedMethod.size())) +
                                 " could not be read: it is stored with a compression 7-Zip does not undo.");
            continue;
        }
        if (line.rfind(kDangerousLink, 0) != 0) continue;
        const std::string rest = line.substr(kDangerousLink.size());
        const std::size_t split = rest.rfind(" : ");
        if (split == std::string::npos) continue;
        const std::string name = rest.substr(0, split), target = rest.substr(split + 3);
        std::string leaf;
        auto parent = openParent(root, name, leaf);
        struct stat st {};
        if (!parent || ::fstatat(parent->fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_size != 0) {
            out_.notes.push_back(quoted(name) + ", a link to " + quoted(target) + ", was left out.");
            continue;
        }
        if (::unlinkat(parent->fd, leaf.c_str(), 0) != 0 || ::symlinkat(target.c_str(), parent->fd, leaf.c_str()) != 0)
            out_.notes.push_back(quoted(name) + ", a link to " + quoted(target) + ", could not be kept.");
    }
}

// 7zz writes an item's extended attributes (and resource fork) as "NAME:ATTRIBUTE" files beside
// it. Each becomes an attribute of its item again: on the file where the file system takes it, and
// always where this process's readers look first (a signature kept in attributes may exceed a block).
void Expander::takeStreams(int dir, const std::string& relative, std::vector<std::string>& names) {
    const std::set<std::string> present(names.begin(), names.end());
    std::vector<std::string> kept;
    for (const std::string& n : names) {
        std::size_t colon = n.find(':');
        while (colon != std::string::npos && (colon == 0 || !present.count(n.substr(0, colon))))
            colon = n.find(':', colon + 1);
        struct stat st {};
        if (colon == std::string::npos || ::fstatat(dir, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode)) {
            kept.push_back(n);
            continue;
        }
        const std::string item = n.substr(0, colon);
        std::string attribute = n.substr(colon + 1);
        if (attribute == "rsrc") attribute = "com.apple.ResourceFork";
        const std::string where = relative.empty() ? item : relative + "/" + item;
        if (static_cast<std::uint64_t>(st.st_size) > kMaxAttribute ||
            attributeBytes_ + static_cast<std::uint64_t>(st.st_size) > archive_detail::kMaxAttributeBytes) {
            out_.notes.push_back("The attribute " + quoted(attribute) + " of " + quoted(where) +
                                 " is not kept: it is larger than an attribute is read.");
        } else if (Fd in(::openat(dir, n.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)); in) {
            std::vector<unsigned char> value(static_cast<std::size_t>(st.st_size));
            if (::read(in.fd, value.data(), value.size()) == static_cast<ssize_t>(value.size())) {
                attributeBytes_ += value.size();
                if (Fd target(::openat(dir, item.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)); target)
                    ::fsetxattr(target.fd, ("user." + attribute).c_str(), value.data(), value.size(), 0);
                overlayExtendedAttribute(output_ + "/" + where, attribute, std::move(value));
            }
        }
        ::unlinkat(dir, n.c_str(), 0);
    }
    names = std::move(kept);
}

void Expander::walk(int dir, const std::string& relative, std::uint32_t depth) {
    const ExpansionLimits& limits = options_.limits;
    std::vector<std::string> names = namesIn(dir);
    takeStreams(dir, relative, names);
    if (entries_ + names.size() > limits.maxEntries) {
        names.resize(limits.maxEntries - std::min<std::uint64_t>(limits.maxEntries, entries_));
        stop("The file system in " + name_ + " holds more than " + std::to_string(limits.maxEntries) +
             " entries; only those are looked at.");
    }
    entries_ += names.size();
    for (const auto& n : names) {
        const std::string path = relative.empty() ? n : relative + "/" + n;
        struct stat st {};
        if (::fstatat(dir, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const mode_t type = st.st_mode & S_IFMT;
        if (type == S_IFLNK) {
            char text[4096];
            const ssize_t len = ::readlinkat(dir, n.c_str(), text, sizeof text);
            const std::string prefix = output_ + "/";
            // An absolute link, which 7zz roots in its output folder, gets back the text it had.
            if (len > 0 && std::string_view(text, len).substr(0, prefix.size()) == prefix) {
                const std::string original = "/" + std::string(text + prefix.size(), len - prefix.size());
                if (::unlinkat(dir, n.c_str(), 0) != 0 || ::symlinkat(original.c_str(), dir, n.c_str()) != 0)
                    out_.notes.push_back(quoted(path) + ", a link to " + quoted(original) + ", could not be kept.");
            }
            continue;
        }
        if (type != S_IFREG && type != S_IFDIR) {
            ::unlinkat(dir, n.c_str(), 0);
            out_.notes.push_back(quoted(path) + " is not kept: " + archive_detail::specialKind(type) + ".");
            continue;
        }
        // Set-id and sticky bits mean nothing here; a folder must stay open to its owner to be read.
        mode_t mode = st.st_mode & 0777;
        if (type == S_IFDIR) mode |= S_IRWXU;
        if (mode != (st.st_mode & 07777)) ::fchmodat(dir, n.c_str(), mode, 0);
        if (type == S_IFREG) {
            out_.bytes += static_cast<std::uint64_t>(st.st_size);
            continue;
        }
        if (depth + 1 > limits.maxDepth) {
            stop("The file system in " + name_ + " nests folders deeper than " + std::to_string(limits.maxDepth) +
                 " at " + quoted(path) + "; what lies deeper is not looked at.");
            continue;
        }
        Fd sub(::openat(dir, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub) walk(sub.fd, path, depth + 1);
    }
}

// 7zz writes an HFS+ volume as one folder named after the volume; APFS and the rest as its contents.
void Expander::findVolumeRoot(const std::string& listing, int root) {
    const std::size_t type = listing.rfind("\nType = ");
    if (type == std::string::npos || listing.compare(type + 8, 4, "HFS\n") != 0) return;
    const std::vector<std::string> names = namesIn(root);
    struct stat st {};
    if (names.size() == 1 && ::fstatat(root, names[0].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        out_.contentsPath = output_ + "/" + names[0];
}

}  // namespace

Result<DiskImageExpansion> expandDiskImage(const std::string& imagePath, const PrivateFolder& folder,
                                           const DiskImageExpandOptions& options) {
    return Expander(imagePath, folder, options).run();
}

}  // namespace tessarin
