// The file system inside a UDIF disk image, expanded into a private folder by Debian's 7zz: the
// image judged by our own reader first (kind, trailer, chunks, size), the child run under bounds,
// and what it wrote checked afterwards. Notes and the stop are sentences, as data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Result.h"
#include "container/Archive.h"
#include "container/PrivateFolder.h"

namespace tessarin {

struct DiskImageExpandOptions {
    std::string sevenZip = "/usr/bin/7zz";
    int timeLimitSeconds = 600;
    ExpansionLimits limits;  // maxBytes and the ratio bound what is written; maxDepth and maxEntries the walk
};

struct DiskImageExpansion {
    std::vector<std::string> notes;  // one sentence each: a licence agreement, a link left as written, ...
    std::string stopSentence;        // why the file system could not be (fully) read; empty when it was
    std::string subfolder;           // where 7zz wrote, relative to the private folder
    std::string contentsPath;        // absolute: the volume's root, what the image holds
    std::uint64_t bytes = 0;         // content of the regular files found there

    bool complete() const { return stopSentence.empty(); }
};

// Expands the file system of the image at `imagePath` into a subfolder of `folder`. An error only
// when the file cannot be read; a file that is no UDIF image, or is encrypted, sparse, damaged or
// too large, and a child that fails or runs too long, give a stop sentence (keeping whatever was
// written), so that what the image itself establishes (its signature) can still be shown.
Result<DiskImageExpansion> expandDiskImage(const std::string& imagePath, const PrivateFolder& folder,
                                           const DiskImageExpandOptions& options = {});

}  // namespace tessarin
