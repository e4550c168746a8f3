// Detached CMS verification: signature over content, the time a timestamp proves for the chain, and
// Apple's signed CDHash list.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/err.h>

#include <algorithm>
#include <memory>
#include <optional>

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

// Altered content, an altered signature value and bytes that are no CMS all fail, with a reason.
TEST(CmsSignature, TamperedContentOrSignatureAndGarbageFail) {
    const auto& c = SigningChain::shared();
    const Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication), kCdhashes, 0, false);
    Bytes other = kContent;
    other[0] ^= 1;
    Bytes broken = cms;  // in the last part of the DER, the signature value
    broken[broken.size() - 5] ^= 0x40;
    const std::tuple<const char*, Bytes, const Bytes*, bool> rows[] = {
        {"content altered", cms, &other, true},
        {"signature value altered", broken, &kContent, true},
        {"garbage", Bytes{0x30, 0x80, 0x00}, &kContent, false},
        {"nothing", Bytes{}, &kContent, false},
    };
    for (const auto& [what, bytes, content, parsed] : rows) {
        SCOPED_TRACE(what);
        CmsVerdict v = verify(bytes, *content);
        EXPECT_EQ(v.parsed, parsed);
        EXPECT_FALSE(v.signatureValid);
        EXPECT_FALSE(v.failure.empty());
    }
}

// Which time a chain is judged at: the one a genuine token from a trusted authority proves over this
// signature, else now with expiry forgiven; a claimed signing time proves nothing.
TEST(CmsTimestamp, OnlyAGenuineTokenSetsTheTimeTheChainIsJudgedAt) {
    const std::time_t now = std::time(nullptr), then = now - 2 * kYear;
    auto options = [&](bool timestamp, std::optional<std::time_t> at = std::nullopt, bool byLeaf = false,
                       bool wrongImprint = false) {
        CmsOptions o;
        o.signingTime = then;
        o.timestamp = timestamp;
        o.timestampTime = at;
        o.timestampByLeaf = byLeaf;
        o.timestampWrongImprint = wrongImprint;
        return o;
    };
    struct Row {
        const char* what;
        bool expired, unrelatedRoot;
        CmsOptions options;
        std::optional<std::time_t> proven;
        bool trusted, tolerated;
    };
    const Row rows[] = {
        {"valid leaf, token from an hour ago", false, false, options(true, now - 3600), now - 3600, true, false},
        {"expired leaf, token from while it was valid", true, false, options(true), then, true, false},
        {"expired leaf, no token", true, false, options(false), std::nullopt, true, true},
        {"expired leaf, no token, another root", true, true, options(false), std::nullopt, false, false},
        // The expired leaf dates its own signature back into its validity: that proves nothing.
        {"expired leaf, token signed by the leaf", true, false, options(true, std::nullopt, true), std::nullopt, true,
         true},
        {"expired leaf, token over other bytes", true, false, options(true, std::nullopt, false, true), std::nullopt,
         true, true},
        {"expired leaf, token from before it was issued", true, false, options(true, now - 4 * kYear), now - 4 * kYear,
         false, false},
        {"expired leaf, token from after it expired", true, false, options(true, now - kYear / 2), now - kYear / 2,
         false, false},
        // Its authority is not trusted under another root either.
        {"valid leaf, token, another root", false, true, options(true), std::nullopt, false, false},
    };
    const auto& c = SigningChain::shared();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes cms = c.signCms(kContent, c.leaf(LeafKind::DeveloperIDApplication, row.expired), kCdhashes, row.options);
        CmsVerdict v = verify(cms, kContent, (row.unrelatedRoot ? SigningChain::unrelated() : c).anchors());
        EXPECT_TRUE(v.signatureValid) << v.failure;
        EXPECT_EQ(v.signingTime, then);
        EXPECT_EQ(v.signedCdhashes, kCdhashes);
        EXPECT_EQ(v.timestampTime, row.proven);
        EXPECT_EQ(v.chain.trusted, row.trusted) << v.chain.failure;
        EXPECT_EQ(v.chain.expiryTolerated, row.tolerated);
        EXPECT_EQ(v.failure.empty(), row.trusted) << v.failure;
        EXPECT_EQ(v.chain.chain.size(), 3u);
    }
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
