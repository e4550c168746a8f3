// libFuzzer entry: hostile notarization tickets must parse or fail cleanly, and whatever parses must
// go through verification (signature, chain, leaf) without a crash.
#include "FuzzEntry.h"
#include "notary/Ticket.h"

void tessarin::fuzz::fuzzOne(Input in) {
    auto ticket = parseTicket(in.bytes());
    if (!ticket) return;
    // What the reader accepted is consistent with the blob it came from: signed bytes, the signature,
    // then nothing but zero padding.
    const std::size_t used = ticket->signedBytes.size() + ticket->signature.size();
    require(used <= in.size);
    for (std::size_t i = used; i < in.size; ++i) require(in.data[i] == 0);
    require(ticket->entries.size() * (1 + TICKET_HASH_LENGTH) <= in.size);
    Bytes first(20, 0);
    if (!ticket->entries.empty()) first = ticket->entries.front().hash;
    (void)checkTicketFor(in.bytes(), {first}, TicketAnchors::apple());
}
