// Matching a notarization ticket's entries against code and package digests.
#include "notary/Ticket.h"

#include <algorithm>

#include "base/ByteReader.h"

namespace tessarin {
namespace {

constexpr std::uint32_t kTicketMagic = 0x68633873;  // "s8ch" read little-endian
constexpr std::size_t kRecordedDigestSize = 20;

}  // namespace

bool ticketNamesDigest(const Bytes& ticket, const Bytes& digest) {
    ByteReader r(ticket.data(), ticket.size());
    if (r.u32le(0) != kTicketMagic || digest.size() < kRecordedDigestSize) return false;
    return std::search(ticket.begin(), ticket.end(), digest.begin(), digest.begin() + kRecordedDigestSize) !=
           ticket.end();
}

bool ticketNamesAnyDigest(const Bytes& ticket, const std::vector<Bytes>& digests) {
    return std::any_of(digests.begin(), digests.end(), [&](const Bytes& d) { return ticketNamesDigest(ticket, d); });
}

}  // namespace tessarin
