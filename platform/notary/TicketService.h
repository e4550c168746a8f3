// Where a ticket for an item that has none stapled may come from: Apple's ticket service, asked only
// when the user says to look online. The answer is untrusted: a fetched ticket is checked exactly like
// a stapled one (checkTicketFor), so a service that hands back a forged ticket proves nothing.
#pragma once

#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "base/Hex.h"
#include "notary/TicketConstants.h"

namespace tessarin {

struct TicketLookup {
    enum class Status {
        Found,     // the service returned a ticket (not yet verified)
        NotFound,  // the service has no record for the digest, or the record was deleted
        Failed,    // no answer that could be used: no network, refused, timed out, malformed reply
    };
    Status status = Status::Failed;
    Bytes ticket;        // the ticket's bytes when Found
    std::string detail;  // one sentence for the log when not Found
};

// "2/2/<first 20 bytes in lower-case hex>": the record the service files a digest's ticket under.
inline std::string ticketRecordName(const Bytes& digest, std::uint8_t hashType) {
    const std::size_t n = digest.size() < TICKET_HASH_LENGTH ? digest.size() : TICKET_HASH_LENGTH;
    return "2/" + std::to_string(hashType) + "/" + hex(digest.data(), n);
}

class TicketService {
public:
    virtual ~TicketService() = default;
    // Looks up the record for a digest's first 20 bytes; hashType is TICKET_HASH_* (2 for SHA-256).
    virtual TicketLookup lookUp(const Bytes& digest, std::uint8_t hashType) = 0;
};

}  // namespace tessarin
