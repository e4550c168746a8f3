// Lists a Payload or Scripts archive: the compression its first bytes announce, expanded into the
// incremental cpio reader, so that nothing but headers, names and the bytes asked for is kept.
#include "package/Payload.h"

#include "package/Cpio.h"
#include "package/PayloadStream.h"

namespace tessarin {

Result<PayloadListing> listPayload(ByteSpan archive, const PayloadLimits& limits, std::uint64_t keepFileBytes) {
    PayloadListing listing;
    listing.compression = payloadCompression(archive);
    CpioReader cpio(limits, keepFileBytes);
    Status expanded = expandPayload(archive, listing.compression, limits, [&](ByteSpan piece) -> Status {
        listing.expandedBytes += piece.size();
        return cpio.feed(piece);
    });
    if (!expanded) return fail(expanded.error());
    if (auto s = cpio.finish(); !s) return fail(s.error());
    listing.format = cpio.format();
    listing.entries = cpio.takeEntries();
    return listing;
}

}  // namespace tessarin
