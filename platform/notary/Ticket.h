// Notarization tickets: reading one, verifying Apple's signature over it, and deciding whether it
// names a piece of code or a package. The one place that says whether something is notarized.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"
#include "crypto/Trust.h"
#include "notary/TicketConstants.h"

namespace tessarin {

struct TicketEntry {
    std::uint8_t hashType = 0;  // TICKET_HASH_*
    Bytes hash;                 // TICKET_HASH_LENGTH bytes
};

// A ticket as read, nothing verified. The spans view the blob it was read from.
struct Ticket {
    std::uint32_t version = 0;
    std::vector<Bytes> certificatesDer;  // the signer's chain, leaf first, without the root
    std::uint16_t contentVersion = 0;
    std::uint32_t flags = 0;
    std::uint64_t timestamp = 0;  // Unix seconds: when the ticket was issued
    std::vector<TicketEntry> entries;
    ByteSpan signedBytes;  // header, certificates and content: what the signature covers
    ByteSpan signature;    // DER ECDSA signature with SHA-256, by the leaf's key
};

// Reads a ticket; every count and length is bounded by the blob before anything is allocated.
Result<Ticket> parseTicket(ByteSpan blob);

// The first verification step that failed, in the order they are taken.
enum class TicketFailure {
    None,
    Malformed,             // not a ticket by its layout
    SignatureInvalid,      // the signature over signedBytes does not verify with the leaf's key
    ChainUntrusted,        // the certificates do not reach a ticket anchor at the ticket's own time
    NotTicketSigningLeaf,  // the leaf lacks TICKET_SIGNING_OID
};

struct TicketVerdict {
    bool verified = false;
    TicketFailure failure = TicketFailure::Malformed;
    std::string detail;                  // the reader's or the chain check's own sentence, when there is one
    std::optional<std::time_t> issued;   // the ticket's timestamp, once it could be read
    std::vector<CertificateInfo> chain;  // leaf first; ending in the anchor when the chain is trusted
    std::vector<TicketEntry> entries;
};

// Verifies a parsed ticket: the signature verifies with the leaf's key, the chain reaches one of
// `anchors` (by DER bytes) judged at the ticket's timestamp, and the leaf is a ticket-signing certificate.
TicketVerdict verifyTicket(const Ticket& ticket, const TicketAnchors& anchors);

// Whether one of the ticket's entries is the digest's first 20 bytes (a CDHash, or a package's
// table-of-contents checksum). Says nothing about whether the ticket is genuine.
bool ticketNames(const Ticket& ticket, const Bytes& digest);

// What the callers ask about a stapled blob: is there one, is it genuine, does it name the item.
struct TicketCheck {
    bool present = false;  // a blob was stapled (however malformed)
    bool verified = false;
    bool namesItem = false;  // an entry is one of the digests (verified or not)
    TicketFailure failure = TicketFailure::None;
    std::string detail;
    std::optional<std::time_t> issued;
    // Only a genuine ticket that names the item makes it notarized.
    bool notarized() const { return present && verified && namesItem; }
};

// Checks `blob` (empty: nothing stapled) against the item's digests and the ticket anchors.
TicketCheck checkTicketFor(ByteSpan blob, const std::vector<Bytes>& digests, const TicketAnchors& anchors);

}  // namespace tessarin
