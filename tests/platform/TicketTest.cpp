// Notarization tickets: Apple's real ticket verifies and names its code, every forgery or damage
// fails a named step, hostile counts and lengths fail cleanly, and test-signed tickets take the
// same path under test anchors.
#include <gtest/gtest.h>

#include <ctime>

#include "ChainNames.h"
#include "RealTicket.h"
#include "SigningChain.h"
#include "TicketBuilder.h"
#include "base/Hex.h"
#include "crypto/Trust.h"
#include "notary/Ticket.h"

using namespace tessarin;
using tessarin::test::SigningChain;
using tessarin::test::TicketBuilder;

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

// A made-up digest, different for each n.
Bytes madeUpDigest(std::uint8_t n, std::size_t size = 32) {
    Bytes d(size);
    for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<std::uint8_t>(n * 31 + i * 7 + 1);
    return d;
}

void putLe32(Bytes& b, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

const TicketAnchors& testAnchors() {
    static const TicketAnchors anchors = SigningChain::shared().ticketSigners().anchors();
    return anchors;
}

TicketFailure failureOf(const Bytes& blob, const TicketAnchors& anchors) {
    auto t = parseTicket(asByteSpan(blob));
    if (!t) return TicketFailure::Malformed;
    return verifyTicket(*t, anchors).failure;
}

}  // namespace

TEST(RealTicket, VerifiesAtItsOwnTimestampAndNamesItsElevenCdhashes) {
    const Bytes blob = test::realTicket();
    auto t = parseTicket(asByteSpan(blob));
    ASSERT_TRUE(t.ok()) << t.error();
    EXPECT_EQ(t->timestamp, static_cast<std::uint64_t>(test::kRealTicketIssued));
    EXPECT_EQ(t->certificatesDer.size(), 2u);
    EXPECT_EQ(t->signedBytes.size() + t->signature.size(), blob.size());
    ASSERT_EQ(t->entries.size(), 11u);

    TicketVerdict v = verifyTicket(*t, TicketAnchors::apple());
    EXPECT_TRUE(v.verified) << v.detail;
    EXPECT_EQ(v.failure, TicketFailure::None);
    EXPECT_EQ(v.issued, test::kRealTicketIssued);
    EXPECT_EQ(
        test::commonNames(v.chain),
        (std::vector<std::string>{"Software Ticket Signing", "Apple System Integration CA 4", "Apple Root CA - G3"}));
    EXPECT_EQ(v.chain.back().der, TicketAnchors::apple().rootsDer[0]);
    // The leaf expired in 2019: judged now, the same chain would fail.
    EXPECT_LT(v.chain[0].notAfter, std::time(nullptr));

    const auto cdhashes = test::realTicketCdhashes();
    EXPECT_EQ(hex(cdhashes[0]), "4dca04a3465b95866423323d7f3e1e31ad3ac0ef");
    for (const auto& h : cdhashes) {
        EXPECT_TRUE(ticketNames(*t, h)) << hex(h);
        Bytes full = h;  // a SHA-256 CDHash in full is named by its first 20 bytes
        full.resize(32, 0xee);
        EXPECT_TRUE(ticketNames(*t, full));
    }
    EXPECT_FALSE(ticketNames(*t, madeUpDigest(9)));
    EXPECT_FALSE(ticketNames(*t, Bytes(cdhashes[0].begin(), cdhashes[0].begin() + 19)));  // too short to name

    TicketCheck named = checkTicketFor(asByteSpan(blob), {madeUpDigest(1), cdhashes[5]}, TicketAnchors::apple());
    EXPECT_TRUE(named.notarized());
    EXPECT_EQ(named.issued, test::kRealTicketIssued);
    TicketCheck other = checkTicketFor(asByteSpan(blob), {madeUpDigest(1)}, TicketAnchors::apple());
    EXPECT_EQ(std::tuple(other.verified, other.namesItem, other.notarized()), std::tuple(true, false, false));
}

TEST(RealTicket, AnyFlippedByteFailsParsingOrVerification) {
    const Bytes blob = test::realTicket();
    const Bytes first = test::realTicketCdhashes()[0];
    for (std::size_t i = 0; i < blob.size(); ++i) {
        Bytes damaged = blob;
        damaged[i] ^= 0x01;
        TicketCheck c = checkTicketFor(asByteSpan(damaged), {first}, TicketAnchors::apple());
        EXPECT_FALSE(c.verified) << "byte " << i;
        EXPECT_FALSE(c.notarized()) << "byte " << i;
    }
}

// Each forgery fails its own step of verification, and none notarizes what it names.
TEST(ForgedTickets, EachFailsItsOwnStep) {
    const auto& signers = SigningChain::shared().ticketSigners();
    const Bytes digest = madeUpDigest(1);
    const Bytes good = TicketBuilder().naming(digest).build();
    Bytes brokenSignature = good;  // one byte of the signature's value
    brokenSignature.back() ^= 0x40;
    Bytes renamed = good;  // the entry's first hash byte, changed after signing
    renamed[test::ticketLayout(good).contentOffset + 24 + 1] ^= 0xff;
    Bytes shaped = {'s', '8', 'c', 'h', 1, 0, 0, 0, 0, 0, 0, 0};  // the magic and the digest, nothing more
    shaped.insert(shaped.end(), digest.begin(), digest.begin() + 20);
    const std::time_t now = std::time(nullptr);
    const TicketAnchors codeRoot{SigningChain::shared().anchors().rootsDer};
    const TicketAnchors appleCodeRoot{TrustAnchors::appleRoots().rootsDer}, none{};
    // A root that copies Apple's names exactly, carried or not: only the anchor check can turn it away.
    const test::TicketSigners fake = test::makeTicketSigners(true);
    const TicketAnchors fakeRoot = fake.anchors();
    auto withRoot = fake.certificates(fake.leaf);
    withRoot.push_back(fake.root.certificateDer);
    using F = TicketFailure;
    const std::tuple<const char*, Bytes, const TicketAnchors*, F> rows[] = {
        {"genuine", good, &testAnchors(), F::None},
        {"signature value altered", brokenSignature, &testAnchors(), F::SignatureInvalid},
        {"content altered after signing", renamed, &testAnchors(), F::SignatureInvalid},
        {"signed with another key than the leaf's",
         TicketBuilder()
             .naming(digest)
             .signedBy(signers.unmarkedLeaf)
             .carrying(signers.certificates(signers.leaf))
             .build(),
         &testAnchors(), F::SignatureInvalid},
        // However well it chains.
        {"leaf without the ticket-signing mark", TicketBuilder().naming(digest).signedBy(signers.unmarkedLeaf).build(),
         &testAnchors(), F::NotTicketSigningLeaf},
        // The chain is judged when the ticket was issued (the leaf: a day ago to a year ahead).
        {"issued before the leaf", TicketBuilder().naming(digest).issuedAt(now - 30 * kDay).build(), &testAnchors(),
         F::ChainUntrusted},
        {"issued after the leaf", TicketBuilder().naming(digest).issuedAt(now + 400 * kDay).build(), &testAnchors(),
         F::ChainUntrusted},
        {"issued in 1970", TicketBuilder().naming(digest).issuedAt(0).build(), &testAnchors(), F::ChainUntrusted},
        {"under the code-signing root", good, &codeRoot, F::ChainUntrusted},
        {"Apple's, under Apple's code-signing root", test::realTicket(), &appleCodeRoot, F::ChainUntrusted},
        {"Apple's, under the test root", test::realTicket(), &testAnchors(), F::ChainUntrusted},
        {"Apple's, under no root", test::realTicket(), &none, F::ChainUntrusted},
        {"copying Apple's names, under its own root", TicketBuilder(fake).naming(digest).build(), &fakeRoot, F::None},
        {"copying Apple's names", TicketBuilder(fake).naming(digest).build(), &TicketAnchors::apple(),
         F::ChainUntrusted},
        {"copying Apple's names, carrying its root", TicketBuilder(fake).naming(digest).carrying(withRoot).build(),
         &TicketAnchors::apple(), F::ChainUntrusted},
        // Entries are compared, the blob is never searched.
        {"the magic and the digest", shaped, &testAnchors(), F::Malformed},
    };
    for (const auto& [what, blob, anchors, failure] : rows) {
        SCOPED_TRACE(what);
        EXPECT_EQ(failureOf(blob, *anchors), failure);
        TicketCheck c = checkTicketFor(asByteSpan(blob), {digest}, *anchors);
        EXPECT_TRUE(c.present);
        EXPECT_EQ(c.notarized(), failure == F::None);
    }
    EXPECT_FALSE(checkTicketFor({}, {digest}, testAnchors()).present);  // nothing stapled is no ticket
}

TEST(MalformedTickets, HostileCountsAndLengthsFailBeforeAnyAllocation) {
    const Bytes good = TicketBuilder().naming(madeUpDigest(1)).naming(madeUpDigest(2)).build();
    const auto layout = test::ticketLayout(good);
    auto parseError = [](const Bytes& b) {
        auto t = parseTicket(asByteSpan(b));
        return t ? std::string() : t.error();
    };

    // A word set to a lie: the entry count (in the billions, one past the end, or one short, which
    // leaves bytes over), the certificates' and content's lengths, and the hash length (a byte).
    struct Row {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        bool oneByte;
        std::string reason;
    };
    const Row rows[] = {
        {"billions of entries", layout.contentOffset + 8, 4'000'000'000u, false, "4000000000 entries"},
        {"an entry past the end", layout.contentOffset + 8, 3, false, ""},
        {"an entry short", layout.contentOffset + 8, 1, false, ""},
        {"huge certificates", 8, 0xffffffffu, false, ""},
        {"huge content", 12, 0xfffffff0u, false, ""},
        {"another hash length", layout.contentOffset + 6, 32, true, ""},
    };
    for (const Row& row : rows) {
        Bytes lying = good;
        if (row.oneByte)
            lying[row.at] = static_cast<std::uint8_t>(row.value);
        else
            putLe32(lying, row.at, row.value);
        const std::string error = parseError(lying);
        EXPECT_NE(error, "") << row.what;
        EXPECT_NE(error.find(row.reason), std::string::npos) << row.what << ": " << error;
    }

    // Every truncation, down to nothing, is refused by the reader (no signature, or a cut one).
    for (std::size_t size = 0; size < good.size(); ++size)
        EXPECT_FALSE(parseError(Bytes(good.begin(), good.begin() + static_cast<long>(size))).empty()) << size;

    // Framed as DER but no certificate: the reader passes it, verification calls it malformed.
    const Bytes notACertificate =
        TicketBuilder().naming(madeUpDigest(1)).carrying({Bytes{0x30, 0x03, 0x02, 0x01, 0x01}}).build();
    EXPECT_EQ(parseError(notACertificate), "");
    EXPECT_EQ(failureOf(notACertificate, testAnchors()), TicketFailure::Malformed);

    const Bytes zeros(1 << 20, 0);
    EXPECT_EQ(parseError(zeros), "the ticket does not begin with \"s8ch\"");
    EXPECT_FALSE(checkTicketFor(asByteSpan(zeros), {madeUpDigest(1)}, testAnchors()).notarized());
}

// Apple pads a ticket's signature with zero bytes; its DER length, not the blob's end, says where it
// ends. Zeros after it are accepted, anything else is not, and the padding is never signed.
TEST(TicketPadding, TheSignaturesOwnLengthSaysWhereItEnds) {
    const Bytes digest = madeUpDigest(4);
    const Bytes built = TicketBuilder().naming(digest).build();
    const Bytes apple = test::realTicket();
    const Bytes appleCode = test::realTicketCdhashes()[0];
    Bytes lastByteZeroed = built;  // the signature's own last byte, which no padding may stand in for
    // A fresh signature ends in zero one time in 256; then it is changed the other way.
    lastByteZeroed.back() = lastByteZeroed.back() == 0 ? 1 : 0;
    struct Row {
        const char* what;
        const Bytes& ticket;
        Bytes tail;
        TicketFailure failure;
    };
    const Row rows[] = {
        {"unpadded", built, {}, TicketFailure::None},
        {"two zero bytes, as a 2019 ticket has", built, {0, 0}, TicketFailure::None},
        {"one zero byte", built, {0}, TicketFailure::None},
        {"Apple's ticket with two zero bytes", apple, {0, 0}, TicketFailure::None},
        {"a nonzero byte", built, {1}, TicketFailure::Malformed},
        {"zeros, then a nonzero byte", built, {0, 0, 0x80}, TicketFailure::Malformed},
        {"a second signature", built, {0x30, 0x03, 0x02, 0x01, 0x01}, TicketFailure::Malformed},
        {"Apple's ticket, then a nonzero byte", apple, {0, 0xff}, TicketFailure::Malformed},
        {"the signature's last byte zeroed", lastByteZeroed, {}, TicketFailure::SignatureInvalid},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes blob = row.ticket;
        blob.insert(blob.end(), row.tail.begin(), row.tail.end());
        const bool apples = &row.ticket == &apple;
        TicketCheck c = checkTicketFor(asByteSpan(blob), {apples ? appleCode : digest},
                                       apples ? TicketAnchors::apple() : testAnchors());
        EXPECT_EQ(c.failure, row.failure) << c.detail;
        EXPECT_EQ(c.notarized(), row.failure == TicketFailure::None);
        if (auto t = parseTicket(asByteSpan(blob))) {
            // What is signed and the signature end where the DER says, whatever follows.
            EXPECT_EQ(t->signedBytes.size(), test::ticketLayout(blob).signatureOffset);
            EXPECT_EQ(t->signedBytes.size() + t->signature.size(), row.ticket.size());
        }
    }
}

TEST(TestSignedTickets, VerifyUnderTheTestAnchorsOnly) {
    const Bytes a = madeUpDigest(1), b = madeUpDigest(2, 20), elsewhere = madeUpDigest(3);
    const std::time_t issued = std::time(nullptr) - 3600;
    const Bytes blob = TicketBuilder().naming(a).naming(b, 1).issuedAt(issued).build();

    TicketCheck c = checkTicketFor(asByteSpan(blob), {elsewhere, b}, testAnchors());
    EXPECT_TRUE(c.verified) << c.detail;
    EXPECT_TRUE(c.notarized());
    EXPECT_EQ(c.issued, issued);
    EXPECT_FALSE(checkTicketFor(asByteSpan(blob), {elsewhere}, testAnchors()).notarized());

    auto t = parseTicket(asByteSpan(blob));
    ASSERT_TRUE(t.ok()) << t.error();
    TicketVerdict v = verifyTicket(*t, testAnchors());
    ASSERT_EQ(v.entries.size(), 2u);
    EXPECT_EQ(std::tuple(v.entries[0].hashType, v.entries[1].hashType),
              std::tuple(TICKET_HASH_SHA256, TICKET_HASH_SHA1));
    ASSERT_EQ(v.chain.size(), 3u);
    EXPECT_EQ(v.chain[0].commonName, "Software Ticket Signing");

    // What the shipped tools trust never includes the test root.
    TicketCheck shipped = checkTicketFor(asByteSpan(blob), {a}, TrustAnchors::appleRoots().tickets);
    EXPECT_EQ(shipped.failure, TicketFailure::ChainUntrusted);
    EXPECT_FALSE(shipped.notarized());
}
