// Builds notarization tickets for tests in the real layout, signed (ECDSA, SHA-256) by a test ticket
// signer, so that tests staple genuine tickets instead of bytes that merely look like one.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

#include "SigningChain.h"

namespace tessarin::test {

class TicketBuilder {
public:
    // Signed by the shared chain's ticket signer unless told otherwise.
    TicketBuilder();
    explicit TicketBuilder(const TicketSigners& signers);

    TicketBuilder& naming(const Bytes& digest, std::uint8_t hashType = 2);  // an entry: the digest's first 20 bytes
    TicketBuilder& issuedAt(std::time_t when);                              // default: now
    TicketBuilder& signedBy(const TestIdentity& leaf);                      // default: the signers' marked leaf
    TicketBuilder& carrying(std::vector<Bytes> certificatesDer);            // default: signer leaf, intermediate
    TicketBuilder& declaringEntries(std::uint32_t count);                   // the count written, whatever follows

    Bytes build() const;

private:
    TicketSigners signers_;
    std::vector<std::pair<std::uint8_t, Bytes>> entries_;
    std::time_t issued_;
    std::optional<TestIdentity> signer_;
    std::optional<std::vector<Bytes>> certificates_;
    std::optional<std::uint32_t> declaredEntries_;
};

// What an attacker may staple in place of a genuine ticket naming `digest`: a broken signature, a
// chain that copies Apple's names under a root of its own, an issue time outside the signer's
// validity, a genuine ticket for other code, a signed count in the billions, lengths past the end,
// a ticket cut short, bytes after the signature's zero padding, a megabyte of zeros.
struct ForgedTicket {
    const char* name;
    Bytes bytes;
};
std::vector<ForgedTicket> forgedTickets(const Bytes& digest);
// Their names, in the same order, without making them.
const std::vector<const char*>& forgedTicketNames();

// Where a built ticket's parts lie, read back from its header.
struct TicketLayout {
    std::size_t certificatesOffset = 16, certificatesLength = 0;
    std::size_t contentOffset = 0, contentLength = 0;
    std::size_t signatureOffset = 0;
};
TicketLayout ticketLayout(const Bytes& ticket);

}  // namespace tessarin::test
