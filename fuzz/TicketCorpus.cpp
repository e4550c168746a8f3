// Writes the ticket fuzzer's starting inputs: Apple's real ticket, tickets signed by the test ticket
// signer (one entry, several, none, without the ticket-signing leaf) and a bare header.
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "RealTicket.h"
#include "TicketBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    const auto& signers = SigningChain::shared().ticketSigners();
    TicketBuilder several;
    for (std::uint8_t i = 0; i < 5; ++i) several.naming(Bytes(20, i), i % 2 ? 1 : 2);
    std::vector<std::pair<std::string, Bytes>> inputs = {
        {"ticket-apple-real", realTicket()},
        {"ticket-test-one", TicketBuilder().naming(Bytes(32, 7)).build()},
        {"ticket-test-several", several.build()},
        {"ticket-test-empty", TicketBuilder().build()},
        {"ticket-test-unmarked", TicketBuilder().naming(Bytes(20, 9)).signedBy(signers.unmarkedLeaf).build()},
        {"ticket-header-only", Bytes{'s', '8', 'c', 'h', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
