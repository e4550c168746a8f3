// What a stapling tool validates: the ticket stapled to an app (any bundle) or a flat package, or one
// fetched from the ticket service, checked against the item's own digests and the ticket anchors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "crypto/Trust.h"
#include "notary/Ticket.h"
#include "notary/TicketService.h"

namespace tessarin {

// One digest a ticket may name: a slice's CDHash, or a flat package's table-of-contents checksum.
struct ItemDigest {
    std::string label;          // "arm64 CDHash" or "package checksum", for the verbose account
    Bytes digest;               // at least 20 bytes; tickets name the first 20
    std::uint8_t hashType = 2;  // TICKET_HASH_*: the online record's type
};

enum class StapleKind { Bundle, FlatPackage, DiskImage, Other };

struct StapledItem {
    StapleKind kind = StapleKind::Other;
    bool stapled = false;  // a ticket is there (however damaged)
    Bytes ticket;          // its bytes; empty when stapled but unreadable (too large, not a regular file)
    std::vector<ItemDigest> digests;
    std::string problem;  // why the item itself could not be read, one sentence; empty when it could
};

// Reads where a ticket would be stapled to the item at `path` and the digests a ticket must name: a
// bundle's Contents/CodeResources, the trailers after a flat package, a disk image's signature.
// A bare Mach-O or any other file has nowhere to keep one (a signed Mach-O's CDHashes are still read).
StapledItem readStapledItem(const std::string& path);

// A ticket judged for an item: verified against the anchors, and which of the item's digests it names.
struct TicketValidation {
    TicketVerdict verdict;  // Malformed with the reader's sentence when it could not be read
    std::size_t entryCount = 0;
    std::vector<ItemDigest> matched;
    bool valid() const { return verdict.verified && !matched.empty(); }
};
TicketValidation validateTicket(ByteSpan ticket, const std::vector<ItemDigest>& digests, const TicketAnchors& anchors);

// Asks the service for each digest in turn until one has a record. A failed lookup ends the search:
// the others would fail the same way, each after its own timeout.
struct OnlineTicket {
    TicketLookup lookup;
    std::optional<ItemDigest> digest;  // the last digest asked about: the one found, when Found
};
OnlineTicket lookUpTicket(TicketService& service, const std::vector<ItemDigest>& digests);

// What `stapler validate` finds for an item: the stapled ticket judged, and, when a service is given,
// what the service holds for the digests the stapled ticket names (or, with nothing stapled, for all).
struct StaplerValidation {
    StapledItem item;
    std::optional<TicketValidation> stapled;  // when a ticket is stapled
    bool lookedUp = false;
    OnlineTicket online;
    std::optional<TicketValidation> fetched;  // when the service returned a ticket
    bool fetchedIsStapled = false;            // byte for byte the stapled one
    // A genuine stapled ticket that names the item, which the service (when asked) has not withdrawn.
    bool succeeded() const;
};
StaplerValidation validateStapledItem(const std::string& path, const TicketAnchors& anchors,
                                      TicketService* service = nullptr);

// The record type the service files a digest of this code-directory hash type under (1 SHA-1, else 2).
std::uint8_t ticketHashTypeFor(std::uint8_t codeDirectoryHashType);

}  // namespace tessarin
