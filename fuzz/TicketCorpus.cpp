// Writes the ticket fuzzer's starting inputs: Apple's real ticket, tickets signed by the test ticket
// signer (one entry, several, none, without the ticket-signing leaf) and a bare header.
#include "CorpusFolder.h"
#include "RealTicket.h"
#include "TicketBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto& signers = SigningChain::shared().ticketSigners();
    TicketBuilder several;
    for (std::uint8_t i = 0; i < 5; ++i) several.naming(Bytes(20, i), i % 2 ? 1 : 2);
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"ticket-apple-real", realTicket()},
        {"ticket-test-one", TicketBuilder().naming(Bytes(32, 7)).build()},
        {"ticket-test-several", several.build()},
        {"ticket-test-empty", TicketBuilder().build()},
        {"ticket-test-unmarked", TicketBuilder().naming(Bytes(20, 9)).signedBy(signers.unmarkedLeaf).build()},
        {"ticket-header-only", Bytes{'s', '8', 'c', 'h', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
