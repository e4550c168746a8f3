// What a component package's Payload or Scripts archive holds: the cpio entries inside gzip, xz or
// pbzx, read in one pass within fixed bounds, without writing anything anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// Bounds on what one archive may cost. The defaults are the manual's; tests pass smaller ones.
struct PayloadLimits {
    std::uint64_t maxExpandedBytes = 8ull << 30;  // the cpio stream, after decompression
    std::uint64_t maxEntries = 1000000;
    std::uint64_t maxNameLength = 4096;          // one path, in bytes
    std::uint64_t maxPathBytes = 256ull << 20;   // all paths and link targets together
    std::uint32_t maxPathDepth = 256;            // components of one path
    std::uint64_t maxRatio = 250;                // expanded bytes per compressed byte ...
    std::uint64_t ratioFloor = 16ull << 20;      // ... once more than this has been expanded
    std::uint64_t maxScriptBytes = 64ull << 10;  // of a script's text kept for showing
    std::uint64_t maxKeptBytes = 16ull << 20;    // of all files' data kept, scripts together
};

struct PayloadEntry {
    std::string path;  // as stored: "." and "./Applications/Example.app", ...
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t uid = 0, gid = 0;
    std::string linkTarget;  // symbolic links only
    Bytes data;              // the first bytes of a regular file, where they were asked for
};

enum class PayloadCompression { None, Gzip, Xz, Pbzx };
enum class CpioFormat { Odc, Newc };

struct PayloadListing {
    PayloadCompression compression = PayloadCompression::None;
    CpioFormat format = CpioFormat::Odc;
    std::uint64_t expandedBytes = 0;
    std::vector<PayloadEntry> entries;
};

// Lists a cpio archive, plain or compressed with gzip, xz or pbzx. `keepFileBytes` is how much of each
// regular file to keep in its entry (0 for a payload; a script's shown size for Scripts). Errors are a
// plain sentence about the archive, in the format's terms.
Result<PayloadListing> listPayload(ByteSpan archive, const PayloadLimits& limits, std::uint64_t keepFileBytes = 0);

}  // namespace tessarin
