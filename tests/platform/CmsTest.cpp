// Detached CMS verification: signature over content, the time a timestamp proves for the chain, and
// Apple's signed CDHash list.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/err.h>

#include <algorithm>
#include <memory>

#include "SigningChain.h"
#include "base/Der.h"
#include "crypto/Cms.h"

using namespace tessarin;
using tessarin::test::CmsOptions;
using tessarin::test::LeafKind;
using tessarin::test::SigningChain;

namespace {

constexpr std::time_t kYear = 365 * 24 * 60 * 60;

std::span<const std::byte> view(const Bytes& b) { return {reinterpret_cast<const std::byte*>(b.data()), b.size()}; }

const Bytes kContent = {'c', 'o', 'd', 'e', ' ', 'd', 'i', 'r', 'e', 'c', 't', 'o', 'r', 'y'};
const std::vector<Bytes> kCdhashes = {Bytes(20, 0x11), Bytes(32, 0x22)};

CmsVerdict verify(const Bytes& cms, const Bytes& content = kContent,
                  const TrustAnchors& anchors = SigningChain::shared().anchors()) {
    return verifyDetachedCms(view(cms), view(content), anchors);
}

}  // namespace

TEST(CmsSignature, IntactSignatureVerifiesAndCarriesItsAttributes) {
    const auto& c = SigningChain::shared();
    std::time_t signedAt = std::time(nullptr) - 3600;
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, signedAt, true);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.parsed);
    EXPECT_TRUE(v.signatureValid) << v.failure;
    EXPECT_TRUE(v.chain.trusted) << v.chain.failure;
    EXPECT_TRUE(v.failure.empty()) << v.failure;
    EXPECT_EQ(v.signingTime, signedAt);
    EXPECT_EQ(v.timestampTime, signedAt);
    EXPECT_EQ(v.signedCdhashes, kCdhashes);
    ASSERT_EQ(v.chain.chain.size(), 3u);
    EXPECT_EQ(v.chain.chain[0].kind, CertificateKind::DeveloperIDApplication);
}

TEST(CmsSignature, TamperedContentOrSignatureFails) {
    const auto& c = SigningChain::shared();
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, 0, false);
    Bytes other = kContent;
    other[0] ^= 1;
    CmsVerdict v = verify(cms, other);
    EXPECT_TRUE(v.parsed);
    EXPECT_FALSE(v.signatureValid);
    EXPECT_FALSE(v.failure.empty());
    // A flipped byte in the last part of the DER (the signature value) breaks it too.
    Bytes broken = cms;
    broken[broken.size() - 5] ^= 0x40;
    EXPECT_FALSE(verify(broken).signatureValid);
}

TEST(CmsSignature, GarbageIsNotParsed) {
    CmsVerdict v = verify(Bytes{0x30, 0x80, 0x00});
    EXPECT_FALSE(v.parsed);
    EXPECT_FALSE(v.signatureValid);
    EXPECT_FALSE(v.failure.empty());
    EXPECT_FALSE(verify(Bytes{}).parsed);
}

TEST(CmsSignature, WrongRootKeepsTheSignatureButNotTheTrust) {
    const auto& c = SigningChain::shared();
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, 0, true);
    CmsVerdict v = verify(cms, kContent, SigningChain::unrelated().anchors());
    EXPECT_TRUE(v.signatureValid);
    EXPECT_FALSE(v.chain.trusted);
    EXPECT_FALSE(v.timestampTime);  // its authority is not trusted either
    EXPECT_FALSE(v.failure.empty());
    EXPECT_FALSE(v.chain.chain.empty());
}

TEST(CmsTimestamp, ExpiredLeafVerifiesAtTheTimeATimestampProves) {
    const auto& c = SigningChain::shared();
    std::time_t then = std::time(nullptr) - 2 * kYear;
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, true), kCdhashes, then, true);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid);
    EXPECT_EQ(v.timestampTime, then);
    EXPECT_TRUE(v.chain.trusted) << v.chain.failure;
}

TEST(CmsTimestamp, TokenSignedByACertificateThatIsNoTimestampAuthorityIsIgnored) {
    const auto& c = SigningChain::shared();
    std::time_t then = std::time(nullptr) - 2 * kYear;
    CmsOptions o;
    o.signingTime = then;
    o.timestampByLeaf = true;
    // The expired leaf dates its own signature back into its validity: that proves nothing.
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, true), kCdhashes, o);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid);
    EXPECT_FALSE(v.timestampTime);
    EXPECT_TRUE(v.chain.expiryTolerated);  // judged now, as if it had no timestamp
}

TEST(CmsTimestamp, ExpiredLeafWithoutTimestampIsJudgedNowWithItsExpiryForgiven) {
    const auto& c = SigningChain::shared();
    std::time_t then = std::time(nullptr) - 2 * kYear;
    // The signingTime attribute claims a good time, but it proves nothing.
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, true), kCdhashes, then, false);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid);
    EXPECT_EQ(v.signingTime, then);
    EXPECT_FALSE(v.timestampTime);
    EXPECT_TRUE(v.chain.trusted) << v.chain.failure;
    EXPECT_TRUE(v.chain.expiryTolerated);
    EXPECT_TRUE(v.failure.empty()) << v.failure;
    // Not under another root.
    EXPECT_FALSE(verify(cms, kContent, SigningChain::unrelated().anchors()).chain.trusted);
}

TEST(CmsTimestamp, TokenOverOtherBytesIsIgnored) {
    const auto& c = SigningChain::shared();
    CmsOptions o;
    o.signingTime = std::time(nullptr) - 2 * kYear;
    o.timestampWrongImprint = true;
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, true), kCdhashes, o);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid);
    EXPECT_FALSE(v.timestampTime);
    EXPECT_TRUE(v.chain.expiryTolerated);
}

TEST(CmsTimestamp, ProvenTimeOutsideTheLeafsValidityFailsWithNothingForgiven) {
    const auto& c = SigningChain::shared();
    // Before the expired leaf was issued, and after it expired.
    for (std::time_t at : {std::time(nullptr) - 4 * kYear, std::time(nullptr) - kYear / 2}) {
        CmsOptions o;
        o.signingTime = std::time(nullptr) - 2 * kYear;
        o.timestampTime = at;
        Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, true), kCdhashes, o);
        CmsVerdict v = verify(cms);
        EXPECT_EQ(v.timestampTime, o.timestampTime);
        EXPECT_FALSE(v.chain.trusted);
        EXPECT_FALSE(v.chain.expiryTolerated);
    }
}

TEST(CmsAttributes, EmptyCdhashListGivesNone) {
    const auto& c = SigningChain::shared();
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::SoftwareSigning), {}, 0, false);
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid);
    EXPECT_TRUE(v.signedCdhashes.empty());
    EXPECT_EQ(v.chain.chain.front().kind, CertificateKind::AppleSoftwareSigning);
}

TEST(CmsSignature, IsCheckedOverItsAttributesAsEncoded) {
    const auto& c = SigningChain::shared();
    CmsOptions o;
    o.timestamp = false;
    o.attributeValuesOutOfOrder = true;
    Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, o);
    {  // The fixture is what it claims: a check over a DER re-encoding of the attributes fails it.
        const unsigned char* p = cms.data();
        std::unique_ptr<CMS_ContentInfo, decltype(&CMS_ContentInfo_free)> parsed(
            d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(cms.size())), CMS_ContentInfo_free);
        BIO* content = BIO_new_mem_buf(kContent.data(), static_cast<int>(kContent.size()));
        EXPECT_NE(CMS_verify(parsed.get(), nullptr, nullptr, content, nullptr,
                             CMS_BINARY | CMS_DETACHED | CMS_NO_SIGNER_CERT_VERIFY),
                  1);
        BIO_free(content);
        ERR_clear_error();
    }
    CmsVerdict v = verify(cms);
    EXPECT_TRUE(v.signatureValid) << v.failure;
    EXPECT_TRUE(v.chain.trusted) << v.chain.failure;
    EXPECT_EQ(v.signedCdhashes, kCdhashes);

    Bytes other = kContent;
    other.back() ^= 1;
    EXPECT_FALSE(verify(cms, other).signatureValid);
    // One bit of a hash inside CDHashes2 (its SHA-256 value, now written first).
    Bytes tampered = cms;
    const Bytes mark(32, 0xa5);
    auto at = std::search(tampered.begin(), tampered.end(), mark.begin(), mark.end());
    ASSERT_NE(at, tampered.end());
    *at ^= 1;
    EXPECT_FALSE(verify(tampered).signatureValid);
}

TEST(CmsSignature, CertificatesOfferedBesideItNeverMakeAnotherSigner) {
    const auto& c = SigningChain::shared();
    const auto& leaf = c.leaf(LeafKind::SelfSigned);
    Bytes cms = c.signCms(kContent, leaf, {}, 0, false);
    const std::vector<Bytes> listed = {c.leaf(LeafKind::SoftwareSigning).certificateDer,
                                       c.intermediate().certificateDer, c.root().certificateDer};
    CmsVerdict v = verifyDetachedCms(view(cms), view(kContent), c.anchors(), listed);
    EXPECT_TRUE(v.signatureValid) << v.failure;
    EXPECT_EQ(v.signerCertificate, leaf.certificateDer);
    EXPECT_FALSE(v.chain.trusted);
    ASSERT_FALSE(v.chain.chain.empty());
    EXPECT_NE(v.chain.chain.front().kind, CertificateKind::AppleSoftwareSigning);
}

TEST(CmsSignature, OuterLayersOfIndefiniteLengthAreRead) {
    // Older signers wrote ContentInfo, its [0] and SignedData with BER's indefinite lengths.
    const auto& c = SigningChain::shared();
    Bytes der = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, 0, false);
    const ByteReader r(view(der));
    auto contentInfo = readDerElement(r, 0);
    ASSERT_TRUE(contentInfo);
    auto type = readDerElement(r, contentInfo->contentOffset());
    ASSERT_TRUE(type);
    auto wrapper = readDerElement(r, type->end());
    ASSERT_TRUE(wrapper);
    auto signedData = readDerElement(r, wrapper->contentOffset());
    ASSERT_TRUE(signedData);
    Bytes ber{0x30, 0x80};
    ber.insert(ber.end(), der.begin() + long(type->offset), der.begin() + long(type->end()));
    ber.insert(ber.end(), {0xA0, 0x80, 0x30, 0x80});
    ber.insert(ber.end(), der.begin() + long(signedData->contentOffset()), der.begin() + long(signedData->end()));
    ber.insert(ber.end(), 6, 0x00);
    CmsVerdict v = verify(ber);
    EXPECT_TRUE(v.signatureValid) << v.failure;
    EXPECT_EQ(v.signedCdhashes, kCdhashes);
    // Without its end-of-contents octets it is no signature at all.
    ber.resize(ber.size() - 2);
    EXPECT_FALSE(verify(ber).signatureValid);
}
