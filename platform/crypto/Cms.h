// CMS (PKCS #7 SignedData) signatures as code signatures and packages carry them, checked with OpenSSL.
#pragma once

#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "crypto/Trust.h"

namespace tessarin {

struct CmsVerdict {
    bool parsed = false;
    bool signatureValid = false;               // the signer's signature over the signed attributes and content
    std::string failure;                       // one sentence when anything failed
    ChainVerdict chain;                        // the certificate set, ordered leaf first and checked
    std::optional<std::time_t> signingTime;    // signed attribute (not proof)
    std::optional<std::time_t> timestampTime;  // from a verified RFC 3161 token
    std::vector<Bytes> signedCdhashes;         // from the 1.2.840.113635.100.9.1 plist attribute
    Bytes signerCertificate;                   // DER of the certificate that made the signature, when it holds
    std::vector<Bytes> signerChain;            // the signer's certificate first, then every other one offered
};

// Verifies a detached CMS signature over `content` against `anchors`: the signer's signature over its
// signed attributes as they are encoded, and their digest of the content. The chain is judged at the
// timestamp's time when a valid timestamp token is present, else now with expiry tolerated
// (ExpiryRule::Tolerated). `moreCertificates` (a package lists its own) may hold the signer's
// certificate or its issuers, but never make another certificate the signer.
CmsVerdict verifyDetachedCms(ByteSpan cmsDer, ByteSpan content, const TrustAnchors& anchors,
                             const std::vector<Bytes>& moreCertificates = {});

// Verifies SignedData that carries its own content (as a purchase receipt does) against `anchors`,
// judged now with expiry tolerated; `content` receives what it signs when the signature holds.
CmsVerdict verifyAttachedCms(ByteSpan cmsDer, const TrustAnchors& anchors, Bytes* content = nullptr);

}  // namespace tessarin
