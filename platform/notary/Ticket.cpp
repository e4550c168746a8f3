// Reads notarization tickets through the bounded reader and verifies them with OpenSSL: Apple's chain
// judged at the ticket's own time, the ticket-signing leaf, and the ECDSA signature over the ticket.
#include "notary/Ticket.h"

#include <algorithm>
#include <limits>
#include <string>

#include <openssl/err.h>

#include "base/ByteReader.h"
#include "base/Der.h"
#include "crypto/OpenSslHandles.h"

namespace tessarin {
namespace {

using ossl::X509Ptr;

using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, ossl::Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

std::string n(std::uint64_t v) { return std::to_string(v); }

// The certificate list: one DER SEQUENCE filling its bytes, of SEQUENCEs (the certificates).
Result<std::vector<Bytes>> readCertificates(const ByteReader& bytes) {
    auto list = readDerElement(bytes, 0);
    if (!list || list->tag != DER_SEQUENCE || list->end() != bytes.size())
        return fail("the ticket's certificates are not one DER sequence filling their " + n(bytes.size()) + " bytes");
    std::vector<Bytes> certificates;
    for (std::uint64_t offset = list->contentOffset(); offset < list->end();) {
        auto cert = readDerElement(bytes, offset);
        if (!cert || cert->tag != DER_SEQUENCE || cert->end() > list->end())
            return fail("certificate " + n(certificates.size() + 1) +
                        " of the ticket is not a DER sequence inside the list");
        certificates.push_back(toBytes(*bytes.bytes(offset, cert->end() - offset)));
        offset = cert->end();
    }
    if (certificates.empty()) return fail("the ticket carries no certificates");
    return certificates;
}

Status readContent(const ByteReader& content, Ticket& t) {
    const std::uint64_t size = content.size();
    if (size < TICKET_CONTENT_HEADER_SIZE)
        return fail("the ticket's content (" + n(size) + " bytes) is shorter than its " +
                    n(TICKET_CONTENT_HEADER_SIZE) + "-byte header");
    if (content.u32le(0) != TICKET_CONTENT_MAGIC) return fail("the ticket's content does not begin with \"g8tk\"");
    t.contentVersion = *content.u16le(4);
    const std::uint16_t hashLength = *content.u16le(6);
    const std::uint32_t count = *content.u32le(8);
    t.flags = *content.u32le(12);
    t.timestamp = *content.u64le(16);
    if (t.contentVersion != TICKET_CONTENT_VERSION)
        return fail("the ticket's content version " + n(t.contentVersion) + " is not known");
    if (hashLength != TICKET_HASH_LENGTH)
        return fail("the ticket's hashes are " + n(hashLength) + " bytes long, not " + n(TICKET_HASH_LENGTH));
    const std::uint64_t entrySize = 1u + hashLength;
    const std::uint64_t room = size - TICKET_CONTENT_HEADER_SIZE;
    if (count > room / entrySize)
        return fail("the ticket declares " + n(count) + " entries of " + n(entrySize) +
                    " bytes, but its content holds " + n(room / entrySize));
    if (count * entrySize != room)
        return fail("the ticket's content has " + n(room - count * entrySize) + " bytes after its " + n(count) +
                    " entries");
    t.entries.reserve(count);
    for (std::uint64_t i = 0, offset = TICKET_CONTENT_HEADER_SIZE; i < count; ++i, offset += entrySize) {
        TicketEntry e;
        e.hashType = *content.u8(offset);
        e.hash = toBytes(*content.bytes(offset + 1, hashLength));
        t.entries.push_back(std::move(e));
    }
    return Ok{};
}

X509Ptr parseCertificate(const Bytes& der) {
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (cert && p != der.data() + der.size()) cert.reset();
    ERR_clear_error();
    return cert;
}

bool carriesTicketSigningMarker(X509* leaf) {
    auto marker = ossl::oid(TICKET_SIGNING_OID);
    return marker && X509_get_ext_by_OBJ(leaf, marker.get(), -1) >= 0;
}

// ECDSA with SHA-256 only: a ticket signed any other way is not one Apple made.
bool signatureVerifies(X509* leaf, ByteSpan signedBytes, ByteSpan signature) {
    EVP_PKEY* key = X509_get0_pubkey(leaf);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    const bool ok =
        ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                         reinterpret_cast<const unsigned char*>(signedBytes.data()), signedBytes.size()) == 1;
    ERR_clear_error();
    return ok;
}

// Certificates cannot be judged beyond the year 9999; a timestamp past it can vouch for nothing.
constexpr std::uint64_t kLatestJudgeableTime = 253402300799;  // 9999-12-31 23:59:59 UTC

}  // namespace

Result<Ticket> parseTicket(ByteSpan blob) {
    ByteReader r(blob);
    auto magic = r.u32le(0);
    auto version = r.u32le(4);
    auto certificatesLength = r.u32le(8);
    auto contentLength = r.u32le(12);
    if (!magic || !version || !certificatesLength || !contentLength)
        return fail("the ticket (" + n(r.size()) + " bytes) is shorter than its " + n(TICKET_HEADER_SIZE) +
                    "-byte header");
    if (*magic != TICKET_MAGIC) return fail("the ticket does not begin with \"s8ch\"");
    if (*version != TICKET_VERSION) return fail("the ticket's version " + n(*version) + " is not known");
    const std::uint64_t contentOffset = TICKET_HEADER_SIZE + std::uint64_t{*certificatesLength};
    if (!r.contains(TICKET_HEADER_SIZE, std::uint64_t{*certificatesLength} + *contentLength))
        return fail("the ticket's certificates (" + n(*certificatesLength) + " bytes) and content (" +
                    n(*contentLength) + " bytes) extend past its end (" + n(r.size()) + " bytes)");

    Ticket t;
    t.version = *version;
    auto certificates = readCertificates(*r.sub(TICKET_HEADER_SIZE, *certificatesLength));
    if (!certificates) return fail(certificates.error());
    t.certificatesDer = std::move(*certificates);
    if (auto content = readContent(*r.sub(contentOffset, *contentLength), t); !content) return fail(content.error());

    // The signature's own DER length says where it ends: Apple pads it with zero bytes (two after a
    // 70-byte signature in a 2019 ticket). Anything else after it is no part of a ticket.
    const std::uint64_t signatureOffset = contentOffset + *contentLength;
    ByteReader rest = *r.sub(signatureOffset, r.size() - signatureOffset);
    auto sequence = readDerElement(rest, 0);
    if (!sequence || sequence->tag != DER_SEQUENCE)
        return fail("the " + n(rest.size()) + " bytes after the ticket's content do not begin with a DER signature");
    const ByteSpan padding = rest.all().subspan(sequence->end());
    if (std::any_of(padding.begin(), padding.end(), [](std::byte b) { return b != std::byte{0}; }))
        return fail("the " + n(padding.size()) + " bytes after the ticket's " + n(sequence->end()) +
                    "-byte signature are not zero padding");
    t.signedBytes = *r.bytes(0, signatureOffset);
    t.signature = *rest.bytes(0, sequence->end());
    return t;
}

TicketVerdict verifyTicket(const Ticket& ticket, const TicketAnchors& anchors) {
    TicketVerdict v;
    v.entries = ticket.entries;
    if (ticket.timestamp > kLatestJudgeableTime) {
        v.failure = TicketFailure::ChainUntrusted;
        v.detail = "the ticket's timestamp lies beyond the year 9999";
        return v;
    }
    const auto issued = static_cast<std::time_t>(ticket.timestamp);
    v.issued = issued;

    // The signature first: it is cheap and turns away damaged tickets before the chain is built.
    X509Ptr leaf = ticket.certificatesDer.empty() ? nullptr : parseCertificate(ticket.certificatesDer.front());
    if (!leaf) {
        v.failure = TicketFailure::Malformed;
        v.detail = "the ticket's first certificate is not a certificate";
        return v;
    }
    if (!signatureVerifies(leaf.get(), ticket.signedBytes, ticket.signature)) {
        v.failure = TicketFailure::SignatureInvalid;
        return v;
    }
    ChainVerdict chain = verifyChain(ticket.certificatesDer, TrustAnchors{anchors.rootsDer, {}}, issued);
    v.chain = chain.chain;
    // The anchor is the certificate itself, byte for byte: a root that only copies Apple's names is none.
    const bool endsInAnchor = !chain.chain.empty() && std::find(anchors.rootsDer.begin(), anchors.rootsDer.end(),
                                                                chain.chain.back().der) != anchors.rootsDer.end();
    if (!chain.trusted || !endsInAnchor) {
        v.failure = TicketFailure::ChainUntrusted;
        v.detail = chain.failure;
        return v;
    }
    if (!carriesTicketSigningMarker(leaf.get())) {
        v.failure = TicketFailure::NotTicketSigningLeaf;
        return v;
    }
    v.verified = true;
    v.failure = TicketFailure::None;
    return v;
}

bool ticketNames(const Ticket& ticket, const Bytes& digest) {
    if (digest.size() < TICKET_HASH_LENGTH) return false;
    return std::any_of(ticket.entries.begin(), ticket.entries.end(), [&](const TicketEntry& e) {
        return e.hash.size() == TICKET_HASH_LENGTH && std::equal(e.hash.begin(), e.hash.end(), digest.begin());
    });
}

TicketCheck checkTicketFor(ByteSpan blob, const std::vector<Bytes>& digests, const TicketAnchors& anchors) {
    TicketCheck check;
    if (blob.empty()) return check;
    check.present = true;
    auto ticket = parseTicket(blob);
    if (!ticket) {
        check.failure = TicketFailure::Malformed;
        check.detail = ticket.error();
        return check;
    }
    check.namesItem =
        std::any_of(digests.begin(), digests.end(), [&](const Bytes& d) { return ticketNames(*ticket, d); });
    TicketVerdict verdict = verifyTicket(*ticket, anchors);
    check.verified = verdict.verified;
    check.failure = verdict.failure;
    check.detail = std::move(verdict.detail);
    check.issued = verdict.issued;
    return check;
}

}  // namespace tessarin
