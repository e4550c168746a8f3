// The archive expander's parts, shared by its reading side (Archive.cpp: formats, entries,
// attributes) and its writing side (ArchiveWrite.cpp: folders, files and modes on disk).
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "container/AppleDouble.h"
#include "container/Archive.h"

namespace tessarin::archive_detail {

constexpr mode_t kPermissionBits = 0777;
constexpr mode_t kImpliedFolderMode = 0755;  // what the Mac's tools make under the usual umask
// An AppleDouble file is at most its header area and one largest attribute; larger "._" entries
// are ordinary files. What all of them may keep in memory is bounded too.
constexpr std::uint64_t kMaxAppleDoubleSize = ATTR_MAX_HDR_SIZE + ATTR_MAX_SIZE;
constexpr std::uint64_t kMaxAttributeBytes = std::uint64_t{64} << 20;
constexpr std::size_t kReadBlock = 64 * 1024;

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    explicit operator bool() const { return fd >= 0; }
};

std::string quoted(const std::string& path);
// "8 GiB", "2 MiB" or a count of bytes.
std::string amount(std::uint64_t bytes);
// The first `count` parts joined with slashes.
std::string joined(const std::vector<std::string>& parts, std::size_t count);

// A name's components, or the sentence that refuses it. "." and empty components drop out.
struct SplitName {
    std::vector<std::string> parts;
    std::string refusal;
};

SplitName split(const std::string& raw, std::uint32_t maxDepth);
// Whether a link's text, read from the link's own folder, leads out of the private folder.
bool leavesFolder(const std::string& target, std::size_t linkDepth);
// Why an entry of a special kind (device, fifo, socket) is refused.
const char* specialKind(mode_t type);

class Expander {
public:
    // Expands into the folder open as `root` (the private folder or one made in it); `kind` names
    // what the archive was expected to be ("a zip or tar archive") when its first header is unreadable.
    Expander(archive* a, int root, const ExpansionLimits& limits, std::string name, std::uint64_t archiveSize,
             std::string kind)
        : a_(a),
          root_(root),
          limits_(limits),
          name_(std::move(name)),
          archiveSize_(archiveSize),
          kind_(std::move(kind)) {}

    Result<Expansion> run();

private:
    enum class Walk { Make, Find };
    // The folder that holds parts[0..count), opened without following links; on failure a refusal
    // is recorded for `raw`.
    std::optional<Fd> openFolder(const std::vector<std::string>& parts, std::size_t count, Walk walk,
                                 const std::string* raw);
    void refuse(const std::string& raw, const std::string& why) {
        out_.refusals.push_back({raw, quoted(raw) + " is refused: " + why + "."});
    }
    void stop(ExpansionStop kind, std::string sentence) {
        out_.stop = kind;
        out_.stopSentence = std::move(sentence);
    }
    // An entry's data could not be read: a fatal error stops expansion as damaged, any other refuses
    // the entry (`what`: "its content", ...).
    void readFailed(const std::string& raw, bool fatal, const char* what, const char* fallback) {
        const std::string why = archive_error_string(a_) ? archive_error_string(a_) : fallback;
        if (fatal)
            stop(ExpansionStop::Damaged, name_ + " is damaged or cut short at " + quoted(raw) + ": " + why + ".");
        else
            refuse(raw, std::string(what) + " could not be read: " + why);
    }
    void record(ArchiveEntry entry);
    // Makes room for `name` in `parent`: nothing there, or a file or link that may be replaced.
    bool clearName(int parent, const std::string& name, const std::string& raw);
    // False when the limits stop expansion at `total` bytes.
    bool withinLimits(std::uint64_t total, const std::string& raw);
    void entry(archive_entry* e);
    void writeFile(archive_entry* e, const std::string& raw, const SplitName& name, int parent);
    // Writes the entry's data into `file` from the start; false when it was refused or stopped
    // (the caller removes what was written). `end` is the size written.
    bool writeData(archive_entry* e, const std::string& raw, int file, std::uint64_t& end);
    // A hard link that carries data gives it to the file it names (`st`, updated).
    bool rewriteLinked(archive_entry* e, const std::string& raw, int targetFolder, const SplitName& target,
                       struct stat& st);
    void readAppleDouble(archive_entry* e, const std::string& raw, const std::string& subject);
    void takeArchiveAttributes(archive_entry* e, const std::string& path);
    void attachAttributes();
    // Gives a file or folder its own mode now when that leaves the owner free to finish writing it
    // (contents, attributes, entries under it); else after everything else.
    void settleMode(int fd, const ArchiveEntry& entry);
    void applyModes();
    Fd openEntry(const ArchiveEntry& entry);

    archive* a_;
    int root_;
    ExpansionLimits limits_;
    std::string name_;
    std::uint64_t archiveSize_;
    std::string kind_;
    Expansion out_;
    std::uint64_t budget_ = 0;
    bool budgetIsFreeSpace_ = false;
    std::uint64_t entryCount_ = 0;
    std::uint64_t attributeBytes_ = 0;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::string> deferredModes_;
    std::string cachedPath_;
    Fd cached_;
    std::vector<std::pair<std::string, std::vector<ExtendedAttribute>>> pending_;  // subject path, attributes
};

}  // namespace tessarin::archive_detail
