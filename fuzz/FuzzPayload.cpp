// libFuzzer entry: hostile Payload and Scripts archives (cpio inside gzip, xz or pbzx, or plain) must
// list or fail cleanly within the limits, and whatever is listed must keep the reader's promises.
#include "FuzzEntry.h"
#include "package/Payload.h"
#include "package/PayloadConstants.h"

void tessarin::fuzz::fuzzOne(Input in) {
    PayloadLimits limits;
    limits.maxExpandedBytes = 64ull << 20;
    limits.ratioFloor = 1ull << 20;
    limits.maxEntries = 10000;
    limits.maxNameLength = 1024;
    limits.maxPathDepth = 64;
    const std::uint64_t keep = 256;
    auto listing = listPayload(in.bytes(), limits, keep);
    if (!listing) {
        require(!listing.error().empty());
        return;
    }
    require(listing->expandedBytes <= limits.maxExpandedBytes);
    require(listing->entries.size() <= limits.maxEntries);
    for (const auto& e : listing->entries) {
        require(!e.path.empty() && e.path.size() <= limits.maxNameLength && e.path.front() != '/');
        require(e.path.find('\0') == std::string::npos);
        require(e.path != ".." && e.path.rfind("../", 0) != 0 && e.path.find("/../") == std::string::npos &&
                !std::string_view(e.path).ends_with("/.."));
        require(e.data.size() <= keep && e.data.size() <= e.size);
        require(e.linkTarget.size() <= kCpioMaxLinkTarget);
    }
}
