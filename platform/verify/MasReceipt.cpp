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
    ChainVerdict chain = cms.chain;
    if (!chain.chain.empty()) info.signer = chain.chain.front().commonName;
    if (!info.signatureValid) {
        info.detail = cms.failure;
        return info;
    }
    if (!chain.trusted && !chain.chain.empty()) {
        // A receipt outlives its signer's certificate: what matters is that the chain held while it was valid.
        std::vector<Bytes> ders;
        for (const auto& c : chain.chain) ders.push_back(c.der);
        ChainVerdict then = verifyChain(ders, anchors, chain.chain.front().notBefore);
        if (then.trusted) chain = std::move(then);
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
