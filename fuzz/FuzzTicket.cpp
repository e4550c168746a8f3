// libFuzzer entry: hostile notarization tickets must parse or fail cleanly, and whatever parses must
// go through verification (signature, chain, leaf) without a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "notary/Ticket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tessarin::ByteSpan blob(reinterpret_cast<const std::byte*>(data), size);
    auto ticket = tessarin::parseTicket(blob);
    if (!ticket) return 0;
    // What the reader accepted is consistent with the blob it came from: signed bytes, the signature,
    // then nothing but zero padding.
    const std::size_t used = ticket->signedBytes.size() + ticket->signature.size();
    if (used > size) std::abort();
    for (std::size_t i = used; i < size; ++i)
        if (data[i] != 0) std::abort();
    if (ticket->entries.size() * (1 + tessarin::TICKET_HASH_LENGTH) > size) std::abort();
    tessarin::Bytes first(20, 0);
    if (!ticket->entries.empty()) first = ticket->entries.front().hash;
    tessarin::TicketCheck check = tessarin::checkTicketFor(blob, {first}, tessarin::TicketAnchors::apple());
    (void)check;
    return 0;
}
