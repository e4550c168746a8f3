// Installer packages' signatures: a flat package's xar signature checked against its checksum and its
// certificate chain, a stapled ticket verified and matched to the package, and old bundle-style packages.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Result.h"
#include "crypto/Trust.h"
#include "notary/Ticket.h"

namespace tessarin {

enum class PackageKind { Flat, Bundle };

enum class PackageSignatureStatus {
    NoSignature,        // unsigned flat package, or a bundle-style package (which cannot carry one)
    Invalid,            // a signature is there but the archive or the signature does not hold up
    Untrusted,          // intact, but the chain reaches none of the anchors
    Expired,            // intact and trusted once, but a certificate has since expired (no timestamp)
    AppleDistribution,  // Developer ID Installer chain to an anchor
    AppleSoftware,      // Apple's own installer signing
    Trusted,            // any other chain to an anchor (App Store, development)
};

struct PackageSignatureCheck {
    PackageKind kind = PackageKind::Flat;
    PackageSignatureStatus status = PackageSignatureStatus::NoSignature;
    std::string failure;                          // one sentence for Invalid, Untrusted and Expired
    std::vector<CertificateInfo> chain;           // as verified (leaf first), else as the package carries it
    std::optional<std::time_t> trustedTimestamp;  // from a verified timestamp in the CMS signature
    Bytes tocDigest;                              // the checksum the signature covers
    TicketCheck ticket;  // the stapled ticket; notarized() only for a genuine one naming the package
};

// True for the statuses the real tool reports with success.
bool isTrustedPackageStatus(PackageSignatureStatus status);

// Judges the package at `path` (a flat package file or a bundle-style package directory). Errors,
// one sentence naming the item, are for missing items, items that are no package and damaged archives.
Result<PackageSignatureCheck> checkPackageSignature(const std::string& path, const TrustAnchors& anchors,
                                                    std::time_t now);
// The same for a flat package already in memory.
Result<PackageSignatureCheck> checkFlatPackageSignature(const ByteReader& bytes, const TrustAnchors& anchors,
                                                        std::time_t now);

// A directory laid out as an old bundle-style package (Contents/Archive.bom, Archive.pax.gz or
// Packages/).
bool isBundlePackage(const std::string& path);

}  // namespace tessarin
