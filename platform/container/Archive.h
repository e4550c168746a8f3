// Zip and tar archives (plain, gzip, bzip2 or xz), and cpio streams decompressed on the fly, expanded
// into a private folder: what was written, what was refused and why, and whether a limit stopped the
// expansion, all as data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"
#include "container/AppleDouble.h"
#include "container/PrivateFolder.h"

namespace tessarin {

// The fixed cap on what one archive may expand to; the manual states it.
constexpr std::uint64_t kExpansionMaxBytes = std::uint64_t{8} << 30;

struct ExpansionLimits {
    std::uint64_t maxBytes = kExpansionMaxBytes;  // also never more than the folder's free space
    std::uint64_t maxEntries = 200'000;           // every header counts, refused ones too
    std::uint32_t maxDepth = 128;                 // folders in one entry's path
    // Content may grow to this many times the archive's size; below ratioFloor bytes it may grow
    // more, as small archives of repetitive text do.
    std::uint64_t maxRatio = 200;
    std::uint64_t ratioFloor = std::uint64_t{64} << 20;
};

enum class EntryKind { File, Folder, SymbolicLink, HardLink };

struct ArchiveEntry {
    std::string path;  // relative to the folder, '/'-separated; the archive's bytes, UTF-8 or not
    EntryKind kind = EntryKind::File;
    std::uint32_t mode = 0;  // permission bits as written: setuid, setgid and sticky bits are dropped
    std::uint64_t size = 0;
    std::string linkTarget;  // a symbolic link's text, as stored; a hard link's path in the folder
    // A symbolic link whose text leads out of the folder (absolute, or more ".." than it is deep),
    // judged on the text alone. It is written as a link; expansion never follows or writes through
    // any link.
    bool linkLeavesFolder = false;
    bool implied = false;  // a folder the archive does not list but holds entries under
    // From the entry's AppleDouble companion or the archive's own attribute headers.
    std::vector<ExtendedAttribute> attributes;
    // Each attribute is also on the written file as "user.NAME", where readExtendedAttribute finds
    // it as it finds a quarantine attribute on any file. False where the file system or the kind of
    // entry (a link) takes none: then the list above is the only record.
    bool attributesOnDisk = false;
};

struct Refusal {
    std::string path;    // the entry's name as the archive gives it (bytes)
    std::string reason;  // one sentence that names it, escaped for display
};

enum class ExpansionStop { None, TotalBytes, FreeSpace, Entries, Ratio, Damaged };

struct Expansion {
    std::string format;  // as libarchive names it, e.g. "ZIP 2.0 (deflation)", "POSIX pax interchange format"
    std::vector<ArchiveEntry> entries;
    std::vector<Refusal> refusals;
    ExpansionStop stop = ExpansionStop::None;
    std::string stopSentence;  // why expansion ended early; empty when the whole archive was read
    std::uint64_t bytes = 0;   // content written

    bool complete() const { return stop == ExpansionStop::None; }
    const ArchiveEntry* find(const std::string& path) const;
};

// Expands an archive into `folder` (fresh and empty). An error only when nothing could be read:
// the file cannot be opened or is no zip or tar archive. Damage found later ends the expansion with
// ExpansionStop::Damaged and keeps what came before.
Result<Expansion> expandArchive(const std::string& archivePath, const PrivateFolder& folder,
                                const ExpansionLimits& limits = {});
Result<Expansion> expandArchive(ByteSpan bytes, const PrivateFolder& folder, const ExpansionLimits& limits = {});

// The entries of an archive, counted by their headers alone (nothing is written) and no further than
// atMost + 1: one pass that refuses an archive of too many entries before a file is made. Whatever
// cannot be read ends the count; expansion then says why.
std::uint64_t countArchiveEntries(const std::string& archivePath, std::uint64_t atMost);

// Whether the file opens as a zip or tar archive (its first header reads): a gzip, bzip2 or xz stream
// of anything else is no archive.
bool readsAsArchive(const std::string& path);

// The next piece of a byte stream made on the fly, valid until the next call; empty at its end. An
// error ends the expansion as damaged, in the error's own words.
using StreamPieces = std::function<Result<ByteSpan>()>;

// Expands a cpio archive (odc or newc) that `next` hands over as a decompressor makes it, into the
// folder `subfolder` made anew in `folder` (one plain name), or into `folder` itself when it is empty.
// Entries' paths are relative to that folder. `name` names the stream in sentences; the ratio limit is
// taken against `sourceSize`, the bytes the stream is made from.
Result<Expansion> expandCpioStream(const StreamPieces& next, std::uint64_t sourceSize, const std::string& name,
                                   const PrivateFolder& folder, const std::string& subfolder = "",
                                   const ExpansionLimits& limits = {});

}  // namespace tessarin
