// libFuzzer entry: hostile Payload and Scripts archives (cpio inside gzip, xz or pbzx, or plain) must
// list or fail cleanly within the limits, and whatever is listed must keep the reader's promises.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Require.h"
#include "package/Payload.h"
#include "package/PayloadConstants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessarin;
    PayloadLimits limits;
    limits.maxExpandedBytes = 64ull << 20;
    limits.ratioFloor = 1ull << 20;
    limits.maxEntries = 10000;
    limits.maxNameLength = 1024;
    limits.maxPathDepth = 64;
    const std::uint64_t keep = 256;
    auto listing = listPayload(ByteSpan(reinterpret_cast<const std::byte*>(data), size), limits, keep);
    if (!listing) {
        fuzz::require(!listing.error().empty());
        return 0;
    }
    fuzz::require(listing->expandedBytes <= limits.maxExpandedBytes);
    fuzz::require(listing->entries.size() <= limits.maxEntries);
    for (const auto& e : listing->entries) {
        fuzz::require(!e.path.empty() && e.path.size() <= limits.maxNameLength && e.path.front() != '/');
        fuzz::require(e.path.find('\0') == std::string::npos);
        fuzz::require(e.path != ".." && e.path.rfind("../", 0) != 0 && e.path.find("/../") == std::string::npos &&
                      !std::string_view(e.path).ends_with("/.."));
        fuzz::require(e.data.size() <= keep && e.data.size() <= e.size);
        fuzz::require(e.linkTarget.size() <= kCpioMaxLinkTarget);
    }
    return 0;
}
