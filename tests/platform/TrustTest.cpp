// Certificate facts and chain verification: kinds told by Apple's OIDs, the built-in Apple root, and
// chains judged against anchors at a given time.
#include <gtest/gtest.h>

#include "SigningChain.h"
#include "crypto/Cms.h"
#include "crypto/Trust.h"

using namespace tessarin;
using tessarin::test::LeafKind;
using tessarin::test::SigningChain;

namespace {

constexpr std::time_t kYear = 365 * 24 * 60 * 60;

std::vector<Bytes> chainOf(const SigningChain& c, const test::TestIdentity& leaf) {
    return {leaf.certificateDer, c.intermediate().certificateDer, c.root().certificateDer};
}

CertificateKind kindOf(const Bytes& der) {
    auto info = describeCertificate(der);
    EXPECT_TRUE(info.ok());
    return info ? info->kind : CertificateKind::Unknown;
}

}  // namespace

TEST(CertificateFacts, KindsComeFromApplesMarkerExtensions) {
    const auto& c = SigningChain::shared();
    EXPECT_EQ(kindOf(c.intermediate().certificateDer), CertificateKind::DeveloperIDIntermediate);
    EXPECT_EQ(kindOf(c.leaf(LeafKind::DeveloperIDApplication).certificateDer), CertificateKind::DeveloperIDApplication);
    EXPECT_EQ(kindOf(c.leaf(LeafKind::DeveloperIDInstaller).certificateDer), CertificateKind::DeveloperIDInstaller);
    EXPECT_EQ(kindOf(c.leaf(LeafKind::MacAppStore).certificateDer), CertificateKind::MacAppStoreApplication);
    EXPECT_EQ(kindOf(c.leaf(LeafKind::SoftwareSigning).certificateDer), CertificateKind::AppleSoftwareSigning);
    // A test root is no Apple root, however it is named.
    EXPECT_EQ(kindOf(c.root().certificateDer), CertificateKind::Unknown);
    EXPECT_EQ(kindOf(c.timestampAuthority().certificateDer), CertificateKind::Unknown);
}

TEST(CertificateFacts, NamesValidityAndFingerprintOfALeaf) {
    const auto& leaf = SigningChain::shared().leaf(LeafKind::DeveloperIDApplication, true);
    auto info = describeCertificate(leaf.certificateDer);
    ASSERT_TRUE(info.ok()) << info.error();
    EXPECT_EQ(info->commonName, "Developer ID Application: Test Corp (" + SigningChain::teamId() + ")");
    EXPECT_EQ(info->organizationalUnit, SigningChain::teamId());
    EXPECT_EQ(info->organization, "Test Corp");
    EXPECT_LT(info->notAfter, std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(info->notAfter - info->notBefore), 2.0 * kYear, 60.0);
    EXPECT_EQ(info->sha256Fingerprint.size(), 64u);
    EXPECT_EQ(info->sha256Fingerprint.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(info->der, leaf.certificateDer);
}

TEST(CertificateFacts, GarbageAndTrailingBytesAreErrors) {
    EXPECT_FALSE(describeCertificate(Bytes{0x30, 0x03, 0x02, 0x01}).ok());
    EXPECT_FALSE(describeCertificate(Bytes{}).ok());
    Bytes padded = SigningChain::shared().root().certificateDer;
    padded.push_back(0);
    EXPECT_FALSE(describeCertificate(padded).ok());
}

TEST(AppleRoots, TheBuiltInAnchorIsAppleRootCA) {
    const auto& roots = TrustAnchors::appleRoots();
    ASSERT_EQ(roots.rootsDer.size(), 1u);
    auto info = describeCertificate(roots.rootsDer[0]);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->commonName, "Apple Root CA");
    EXPECT_EQ(info->organization, "Apple Inc.");
    EXPECT_EQ(info->sha256Fingerprint, "B0B1730ECBC7FF4505142C49F1295E6EDA6BCAED7E2C68C5BE91B5A11001F024");
    EXPECT_EQ(info->kind, CertificateKind::AppleRoot);
}

TEST(ChainVerification, ReachesItsOwnRootInAnyCarriedOrder) {
    const auto& c = SigningChain::shared();
    const auto& leaf = c.leaf(LeafKind::DeveloperIDApplication);
    // Signatures carry their set unordered; only the leaf's place is fixed.
    ChainVerdict v = verifyChain({leaf.certificateDer, c.root().certificateDer, c.intermediate().certificateDer},
                                 c.anchors(), std::time(nullptr));
    EXPECT_TRUE(v.trusted) << v.failure;
    ASSERT_EQ(v.chain.size(), 3u);
    EXPECT_EQ(v.chain[0].kind, CertificateKind::DeveloperIDApplication);
    EXPECT_EQ(v.chain[1].kind, CertificateKind::DeveloperIDIntermediate);
    EXPECT_EQ(v.chain[2].der, c.root().certificateDer);
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
// untrusted one is still listed as carried.
TEST(ChainVerification, TrustedOnlyWhenCompleteUnderTheGivenRootsAtTheGivenTime) {
    const auto& c = SigningChain::shared();
    const std::time_t now = std::time(nullptr);
    const auto current = chainOf(c, c.leaf(LeafKind::DeveloperIDApplication));
    const auto expired = chainOf(c, c.leaf(LeafKind::DeveloperIDApplication, true));
    const TrustAnchors ours = c.anchors(), unrelated = SigningChain::unrelated().anchors(),
                       apple = TrustAnchors::appleRoots();
    const std::tuple<const char*, std::vector<Bytes>, const TrustAnchors*, std::time_t, bool, std::size_t> rows[] = {
        {"current", current, &ours, now, true, 3},
        {"another root", current, &unrelated, now, false, 3},
        {"Apple's root", current, &apple, now, false, 3},
        {"expired, now", expired, &ours, now, false, 3},
        {"expired, two years ago", expired, &ours, now - 2 * kYear, true, 3},
        {"current, before it was issued", current, &ours, now - kYear, false, 3},
        {"no intermediate",
         {c.leaf(LeafKind::MacAppStore).certificateDer, c.root().certificateDer},
         &ours,
         now,
         false,
         2},
        {"no certificates", {}, &ours, now, false, 0},
        {"garbage", {Bytes{1, 2, 3}}, &ours, now, false, 0},
    };
    for (const auto& [what, chain, anchors, at, trusted, listed] : rows) {
        SCOPED_TRACE(what);
        ChainVerdict v = verifyChain(chain, *anchors, at);
        EXPECT_EQ(v.trusted, trusted) << v.failure;
        EXPECT_EQ(v.failure.empty(), trusted);
        EXPECT_TRUE(listed != 3 || (v.chain.size() == 3 && v.chain.back().der == c.root().certificateDer));
    }
    EXPECT_NE(verifyChain(expired, ours, now).failure.find("expired"), std::string::npos);
}
