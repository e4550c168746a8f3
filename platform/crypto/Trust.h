// Trust anchors and certificate facts: which roots a chain must reach, and what Apple's OIDs say
// about each certificate.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// Kinds told apart by Apple's certificate extension OIDs (and, for Apple's own code, by the leaf).
enum class CertificateKind {
    Unknown,
    AppleRoot,
    DeveloperIDIntermediate,  // 1.2.840.113635.100.6.2.6
    WWDRIntermediate,         // 1.2.840.113635.100.6.2.1
    DeveloperIDApplication,   // 1.2.840.113635.100.6.1.13
    DeveloperIDInstaller,     // 1.2.840.113635.100.6.1.14
    MacAppStoreApplication,   // 1.2.840.113635.100.6.1.9
    MacAppStoreInstaller,     // 1.2.840.113635.100.6.1.10
    AppleSoftwareSigning,     // Apple's own code ("Software Signing")
    AppleDevelopment,         // 1.2.840.113635.100.6.1.12 and kin: not for distribution
};

struct CertificateInfo {
    Bytes der;
    std::string commonName;
    std::string organizationalUnit;  // the Team ID on Apple-issued leaves
    std::string organization;
    std::time_t notBefore = 0;
    std::time_t notAfter = 0;
    std::string sha256Fingerprint;  // upper-case hex, no separators
    CertificateKind kind = CertificateKind::Unknown;
};

// The roots a notarization ticket's signer must reach. Apple signs tickets under another root than
// code, so these are kept apart: neither set vouches for what the other signs. Compared by DER bytes.
struct TicketAnchors {
    std::vector<Bytes> rootsDer;
    static const TicketAnchors& apple();  // Apple Root CA - G3
};

// The roots a chain may end in, and the roots for the tickets stapled to what it signs. The shipped
// tools use appleRoots(); tests pass their own.
struct TrustAnchors {
    std::vector<Bytes> rootsDer;
    TicketAnchors tickets;
    static const TrustAnchors& appleRoots();  // Apple Root CA; tickets: TicketAnchors::apple()
};

Result<CertificateInfo> describeCertificate(const Bytes& der);

// How certificate validity dates count. A time a timestamp proves is held against every certificate
// (Enforced). Code judged now, for want of such a time, is not failed for a certificate that has since
// expired or is not yet valid (Tolerated): when that is the first fault found, the chain is judged
// again without dates, and any other fault still fails it.
enum class ExpiryRule { Enforced, Tolerated };

// Whether `chain` (leaf first, as a signature carries it) reaches one of the anchors, with every
// certificate valid at `atTime` (the signing time a timestamp proves, else now) unless `rule` excuses it.
struct ChainVerdict {
    bool trusted = false;
    bool expiryTolerated = false;        // trusted only because dates were not held against it
    std::string failure;                 // one sentence when not trusted
    std::vector<CertificateInfo> chain;  // leaf first, ending in the anchor when trusted
};
ChainVerdict verifyChain(const std::vector<Bytes>& certificatesDer, const TrustAnchors& anchors, std::time_t atTime,
                         ExpiryRule rule = ExpiryRule::Enforced);

}  // namespace tessarin
