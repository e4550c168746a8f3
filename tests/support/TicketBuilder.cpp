// Lays out tickets as Apple's notary service does ("s8ch" header, DER certificate list, "g8tk"
// content, DER ECDSA signature over everything before it) and signs them with OpenSSL.
#include "TicketBuilder.h"

#include <stdexcept>

#include <openssl/err.h>

#include "crypto/OpenSslHandles.h"

namespace tessarin::test {
namespace {

void putLe(Bytes& b, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A DER length and the tag before it.
void putDerHeader(Bytes& b, std::uint8_t tag, std::size_t length) {
    b.push_back(tag);
    if (length < 0x80) {
        b.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    int octets = 0;
    for (std::size_t l = length; l; l >>= 8) ++octets;
    b.push_back(static_cast<std::uint8_t>(0x80 | octets));
    for (int i = octets - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
}

Bytes signSha256(const Bytes& privateKeyDer, const Bytes& message) {
    const unsigned char* p = privateKeyDer.data();
    ossl::PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(privateKeyDer.size())));
    std::unique_ptr<EVP_MD_CTX, ossl::Deleter<EVP_MD_CTX, EVP_MD_CTX_free>> ctx(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, message.data(), message.size()) != 1)
        throw std::runtime_error("TicketBuilder: cannot sign");
    Bytes signature(size);
    if (EVP_DigestSign(ctx.get(), signature.data(), &size, message.data(), message.size()) != 1)
        throw std::runtime_error("TicketBuilder: cannot sign");
    signature.resize(size);
    return signature;
}

std::uint32_t le32(const Bytes& b, std::size_t offset) {
    if (offset + 4 > b.size()) throw std::runtime_error("TicketBuilder: not a ticket");
    return static_cast<std::uint32_t>(b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 |
                                      static_cast<std::uint32_t>(b[offset + 3]) << 24);
}

}  // namespace

TicketBuilder::TicketBuilder() : TicketBuilder(SigningChain::shared().ticketSigners()) {}

TicketBuilder::TicketBuilder(const TicketSigners& signers) : signers_(signers), issued_(std::time(nullptr)) {}

TicketBuilder& TicketBuilder::naming(const Bytes& digest, std::uint8_t hashType) {
    Bytes hash(digest.begin(), digest.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(20, digest.size())));
    hash.resize(20, 0);
    entries_.emplace_back(hashType, std::move(hash));
    return *this;
}

TicketBuilder& TicketBuilder::issuedAt(std::time_t when) {
    issued_ = when;
    return *this;
}

TicketBuilder& TicketBuilder::signedBy(const TestIdentity& leaf) {
    signer_ = leaf;
    return *this;
}

TicketBuilder& TicketBuilder::declaringEntries(std::uint32_t count) {
    declaredEntries_ = count;
    return *this;
}

TicketBuilder& TicketBuilder::carrying(std::vector<Bytes> certificatesDer) {
    certificates_ = std::move(certificatesDer);
    return *this;
}

Bytes TicketBuilder::build() const {
    const TestIdentity& signer = signer_ ? *signer_ : signers_.leaf;
    const std::vector<Bytes> certificates = certificates_ ? *certificates_ : signers_.certificates(signer);

    Bytes list;
    std::size_t inner = 0;
    for (const auto& c : certificates) inner += c.size();
    putDerHeader(list, 0x30, inner);
    for (const auto& c : certificates) list.insert(list.end(), c.begin(), c.end());

    Bytes content = {'g', '8', 't', 'k'};
    putLe(content, 2, 2);
    putLe(content, 20, 2);
    putLe(content, declaredEntries_ ? *declaredEntries_ : entries_.size(), 4);
    putLe(content, 0, 4);
    putLe(content, static_cast<std::uint64_t>(issued_), 8);
    for (const auto& [type, hash] : entries_) {
        content.push_back(type);
        content.insert(content.end(), hash.begin(), hash.end());
    }

    Bytes ticket = {'s', '8', 'c', 'h'};
    putLe(ticket, 1, 4);
    putLe(ticket, list.size(), 4);
    putLe(ticket, content.size(), 4);
    ticket.insert(ticket.end(), list.begin(), list.end());
    ticket.insert(ticket.end(), content.begin(), content.end());
    Bytes signature = signSha256(signer.privateKeyDer, ticket);
    ticket.insert(ticket.end(), signature.begin(), signature.end());
    return ticket;
}

TicketLayout ticketLayout(const Bytes& ticket) {
    TicketLayout l;
    l.certificatesLength = le32(ticket, 8);
    l.contentOffset = l.certificatesOffset + l.certificatesLength;
    l.contentLength = le32(ticket, 12);
    l.signatureOffset = l.contentOffset + l.contentLength;
    return l;
}

const std::vector<const char*>& forgedTicketNames() {
    static const std::vector<const char*> names = {
        "BrokenSignature",      "ChainCopyingApplesNames", "IssuedBeforeItsSignerWasValid",
        "IssuedCenturiesLater", "NamingOtherCode",         "EntryCountInTheBillions",
        "ContentPastTheEnd",    "CertificatesPastTheEnd",  "SignatureTruncated",
        "BytesAfterThePadding", "MegabyteOfZeros",
    };
    return names;
}

std::vector<ForgedTicket> forgedTickets(const Bytes& digest) {
    // A genuine ticket naming `digest`, changed by `edit`.
    auto genuine = [&](auto edit) {
        Bytes t = TicketBuilder().naming(digest).build();
        edit(t);
        return t;
    };
    static const TicketSigners lookalike = makeTicketSigners(true);
    Bytes other = digest;
    other[0] ^= 0xff;
    std::vector<Bytes> made = {
        genuine([](Bytes& t) { t[ticketLayout(t).signatureOffset + 12] ^= 0x01; }),
        TicketBuilder(lookalike).naming(digest).build(),
        TicketBuilder().naming(digest).issuedAt(86400).build(),
        TicketBuilder().naming(digest).issuedAt(std::time_t{1} << 36).build(),
        TicketBuilder().naming(other).build(),
        TicketBuilder().naming(digest).declaringEntries(0xffffffff).build(),
        genuine([](Bytes& t) { t[12] = t[13] = t[14] = 0xff; }),  // the content's length
        genuine([](Bytes& t) { t[8] = t[9] = t[10] = t[11] = 0xff; }),
        genuine([](Bytes& t) { t.resize(t.size() - 20); }),
        genuine([](Bytes& t) {
            t.insert(t.end(), {0, 0, 'x'});
        }),  // Apple's zero padding, then something else
        Bytes(1u << 20, 0),
    };
    std::vector<ForgedTicket> out;
    for (std::size_t i = 0; i < made.size(); ++i) out.push_back({forgedTicketNames()[i], std::move(made[i])});
    return out;
}

}  // namespace tessarin::test
