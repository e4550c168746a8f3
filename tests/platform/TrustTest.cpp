// Certificate facts and chain verification: kinds told by Apple's OIDs, the built-in Apple roots, and
// chains judged against anchors at a given time.
#include <gtest/gtest.h>

#include "ChainNames.h"
#include "SigningChain.h"
#include "crypto/Trust.h"

using namespace tessarin;
using tessarin::test::LeafKind;
using tessarin::test::SigningChain;

namespace {

constexpr std::time_t kYear = 365 * 24 * 60 * 60;

std::vector<Bytes> chainOf(const SigningChain& c, const test::TestIdentity& leaf) {
    return {leaf.certificateDer, c.intermediate().certificateDer, c.root().certificateDer};
}

}  // namespace

TEST(CertificateFacts, KindsComeFromApplesMarkerExtensions) {
    const auto& c = SigningChain::shared();
    using K = CertificateKind;
    // A test root is no Apple root, however it is named.
    const std::pair<const test::TestIdentity*, K> rows[] = {
        {&c.intermediate(), K::DeveloperIDIntermediate},
        {&c.leaf(LeafKind::DeveloperIDApplication), K::DeveloperIDApplication},
        {&c.leaf(LeafKind::DeveloperIDInstaller), K::DeveloperIDInstaller},
        {&c.leaf(LeafKind::MacAppStore), K::MacAppStoreApplication},
        {&c.leaf(LeafKind::SoftwareSigning), K::AppleSoftwareSigning},
        {&c.root(), K::Unknown},
        {&c.timestampAuthority(), K::Unknown},
    };
    for (const auto& [identity, kind] : rows) {
        auto info = describeCertificate(identity->certificateDer);
        ASSERT_TRUE(info.ok()) << info.error();
        EXPECT_EQ(info->kind, kind);
    }
}

TEST(CertificateFacts, NamesAndValidityOfALeaf) {
    const auto& leaf = SigningChain::shared().leaf(LeafKind::DeveloperIDApplication, true);
    auto info = describeCertificate(leaf.certificateDer);
    ASSERT_TRUE(info.ok()) << info.error();
    EXPECT_EQ(info->commonName, "Developer ID Application: Test Corp (" + SigningChain::teamId() + ")");
    EXPECT_EQ(info->organizationalUnit, SigningChain::teamId());
    EXPECT_EQ(info->organization, "Test Corp");
    EXPECT_LT(info->notAfter, std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(info->notAfter - info->notBefore), 2.0 * kYear, 60.0);
}

TEST(CertificateFacts, GarbageAndTrailingBytesAreErrors) {
    Bytes padded = SigningChain::shared().root().certificateDer;
    padded.push_back(0);
    for (const Bytes& der : {Bytes{0x30, 0x03, 0x02, 0x01}, Bytes{}, padded})
        EXPECT_FALSE(describeCertificate(der).ok()) << der.size();
}

// Tickets and code each have their own root: G3 vouches for no code signature, Apple Root CA for no ticket.
TEST(AppleRoots, CodeAndTicketsEachHaveTheirOwnBuiltInRoot) {
    const auto& code = TrustAnchors::appleRoots();
    const auto& tickets = TicketAnchors::apple();
    ASSERT_EQ(code.rootsDer.size(), 1u);
    ASSERT_EQ(tickets.rootsDer.size(), 1u);
    EXPECT_EQ(code.tickets.rootsDer, tickets.rootsDer);
    EXPECT_NE(code.rootsDer[0], tickets.rootsDer[0]);
    auto root = describeCertificate(code.rootsDer[0]);
    auto g3 = describeCertificate(tickets.rootsDer[0]);
    ASSERT_TRUE(root.ok() && g3.ok());
    EXPECT_EQ(root->commonName, "Apple Root CA");
    EXPECT_EQ(root->organization, "Apple Inc.");
    EXPECT_EQ(root->sha256Fingerprint, "B0B1730ECBC7FF4505142C49F1295E6EDA6BCAED7E2C68C5BE91B5A11001F024");
    EXPECT_EQ(root->kind, CertificateKind::AppleRoot);
    EXPECT_EQ(g3->commonName, "Apple Root CA - G3");
    EXPECT_EQ(g3->sha256Fingerprint, "63343ABFB89A6A03EBB57E9B3F5FA7BE7C4F5C756F3017B3A8C488C3653E9179");
}

TEST(ChainVerification, JudgedNowForWantOfATimestampOnlyExpiryIsForgiven) {
    const auto& c = SigningChain::shared();
    const std::time_t now = std::time(nullptr);
    const auto tolerant = ExpiryRule::Tolerated;
    // An expired leaf, and a current leaf under an expired authority (as Apple's own code's chain is now).
    const std::vector<Bytes> expiredAuthority = {c.leaf(LeafKind::SoftwareSigning).certificateDer,
                                                 c.expiredIntermediate().certificateDer, c.root().certificateDer};
    for (const auto& chain : {chainOf(c, c.leaf(LeafKind::DeveloperIDApplication, true)), expiredAuthority}) {
        EXPECT_FALSE(verifyChain(chain, c.anchors(), now).trusted);
        ChainVerdict v = verifyChain(chain, c.anchors(), now, tolerant);
        EXPECT_TRUE(v.trusted) << v.failure;
        EXPECT_TRUE(v.expiryTolerated);
        EXPECT_EQ(v.chain.size(), 3u);
    }
    EXPECT_FALSE(
        verifyChain(chainOf(c, c.leaf(LeafKind::DeveloperIDApplication)), c.anchors(), now, tolerant).expiryTolerated);

    // Any fault beside expiry still fails. A broken leaf signature is found only after the expired
    // authority above it, so the second look must find it.
    Bytes broken = c.leaf(LeafKind::SoftwareSigning).certificateDer;
    broken[broken.size() - 2] ^= 0x01;  // inside the signature value
    const std::vector<Bytes> brokenUnderExpired = {broken, c.expiredIntermediate().certificateDer,
                                                   c.root().certificateDer};
    ASSERT_NE(verifyChain(brokenUnderExpired, c.anchors(), now).failure.find("expired"), std::string::npos);
    EXPECT_FALSE(verifyChain(brokenUnderExpired, c.anchors(), now, tolerant).trusted);
    const auto expiredLeaf = chainOf(c, c.leaf(LeafKind::DeveloperIDApplication, true));
    EXPECT_FALSE(verifyChain(expiredLeaf, SigningChain::unrelated().anchors(), now, tolerant).trusted);
    EXPECT_FALSE(verifyChain(expiredLeaf, TrustAnchors::appleRoots(), now, tolerant).trusted);
    const auto& u = SigningChain::unrelated();
    EXPECT_FALSE(verifyChain({expiredLeaf[0], u.intermediate().certificateDer, u.root().certificateDer}, u.anchors(),
                             now, tolerant)
                     .trusted);
}

// A chain is trusted only when it reaches one of the given roots, complete, at the given time; an
// untrusted one is still listed as carried, leaf first and root last.
TEST(ChainVerification, TrustedOnlyWhenCompleteUnderTheGivenRootsAtTheGivenTime) {
    const auto& c = SigningChain::shared();
    const std::time_t now = std::time(nullptr);
    const auto current = chainOf(c, c.leaf(LeafKind::DeveloperIDApplication));
    const auto expired = chainOf(c, c.leaf(LeafKind::DeveloperIDApplication, true));
    // Signatures carry their set unordered; only the leaf's place is fixed.
    const std::vector<Bytes> unordered = {current[0], current[2], current[1]};
    const TrustAnchors ours = c.anchors(), unrelated = SigningChain::unrelated().anchors(),
                       apple = TrustAnchors::appleRoots();
    const std::vector<Bytes> noIntermediate = {c.leaf(LeafKind::MacAppStore).certificateDer, current[2]};
    const std::tuple<const char*, std::vector<Bytes>, const TrustAnchors*, std::time_t, bool, std::size_t> rows[] = {
        {"current", current, &ours, now, true, 3},
        {"carried out of order", unordered, &ours, now, true, 3},
        {"another root", current, &unrelated, now, false, 3},
        {"Apple's root", current, &apple, now, false, 3},
        {"expired, now", expired, &ours, now, false, 3},
        {"expired, two years ago", expired, &ours, now - 2 * kYear, true, 3},
        {"current, before it was issued", current, &ours, now - kYear, false, 3},
        {"no intermediate", noIntermediate, &ours, now, false, 2},
        {"no certificates", {}, &ours, now, false, 0},
        {"garbage", {Bytes{1, 2, 3}}, &ours, now, false, 0},
    };
    using K = CertificateKind;
    for (const auto& [what, chain, anchors, at, trusted, listed] : rows) {
        SCOPED_TRACE(what);
        ChainVerdict v = verifyChain(chain, *anchors, at);
        EXPECT_EQ(v.trusted, trusted) << v.failure;
        EXPECT_EQ(v.failure.empty(), trusted);
        if (listed != 3) continue;
        EXPECT_EQ(test::kinds(v.chain),
                  (std::vector{K::DeveloperIDApplication, K::DeveloperIDIntermediate, K::Unknown}));
        EXPECT_EQ(v.chain.back().der, c.root().certificateDer);
    }
    EXPECT_NE(verifyChain(expired, ours, now).failure.find("expired"), std::string::npos);
}
