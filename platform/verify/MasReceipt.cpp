// The Mac App Store receipt: whether its PKCS #7 signature is Apple's receipt signer's, under Apple's
// developer relations authority, reaching the anchors.
#include "crypto/Cms.h"
#include "verify/Verifier.h"

namespace tessarin::detail {

namespace {
constexpr const char* kReceiptSigner = "Mac App Store and iTunes Store Receipt Signing";
}

MasReceiptInfo checkMasReceipt(ByteSpan der, const TrustAnchors& anchors) {
    MasReceiptInfo info;
    CmsVerdict cms = verifyAttachedCms(der, anchors);
    info.signatureValid = cms.parsed && cms.signatureValid;
    const ChainVerdict& chain = cms.chain;
    if (!chain.chain.empty()) info.signer = chain.chain.front().commonName;
    if (!info.signatureValid) {
        info.detail = cms.failure;
        return info;
    }
    if (!chain.trusted) {
        info.detail = chain.failure;
        return info;
    }
    // Anything under the anchors may sign something; only Apple's receipt signer signs receipts.
    if (chain.chain.size() < 3 || chain.chain[0].commonName != kReceiptSigner ||
        chain.chain[1].kind != CertificateKind::WWDRIntermediate) {
        info.detail = "the receipt is not signed by Apple's receipt signing certificate";
        return info;
    }
    info.chainsToApple = true;
    return info;
}

}  // namespace tessarin::detail
