// Judges Installer packages' signatures: the xar checksum, the RSA signature over it, the chain the
// archive carries, an optional CMS signature's timestamp, and a stapled ticket.
#include "package/Package.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "base/Bytes.h"
#include "base/MappedFile.h"
#include "crypto/CertificateDer.h"
#include "crypto/Cms.h"
#include "notary/Ticket.h"
#include "package/Xar.h"

namespace tessarin {

namespace {

using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// xar signs the checksum as a PKCS #1 v1.5 signature of a precomputed digest of that algorithm.
bool signatureMatches(const Bytes& leafDer, const Bytes& signature, const Bytes& digest, const std::string& style) {
    ossl::X509Ptr leaf = certificateFromDer(leafDer);
    if (!leaf) return false;
    EVP_PKEY* key = X509_get0_pubkey(leaf.get());
    const EVP_MD* md = EVP_get_digestbyname(style.c_str());
    if (!key || !md || static_cast<std::size_t>(EVP_MD_get_size(md)) != digest.size()) return false;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return false;
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return false;
    if (EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) return false;
    return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(), digest.size()) == 1;
}

std::vector<CertificateInfo> describeAll(const std::vector<Bytes>& ders) {
    std::vector<CertificateInfo> infos;
    for (const auto& der : ders) {
        auto info = describeCertificate(der);
        if (info) infos.push_back(std::move(*info));
    }
    return infos;
}

PackageSignatureStatus trustedStatus(const CertificateInfo& leaf) {
    switch (leaf.kind) {
    case CertificateKind::DeveloperIDInstaller: return PackageSignatureStatus::AppleDistribution;
    case CertificateKind::AppleSoftwareSigning: return PackageSignatureStatus::AppleSoftware;
    default: return PackageSignatureStatus::Trusted;
    }
}

PackageSignatureCheck invalid(PackageSignatureCheck check, std::string why) {
    check.status = PackageSignatureStatus::Invalid;
    check.failure = std::move(why);
    check.chain.clear();
    return check;
}

}  // namespace

bool isTrustedPackageStatus(PackageSignatureStatus status) {
    return status == PackageSignatureStatus::AppleDistribution || status == PackageSignatureStatus::AppleSoftware ||
           status == PackageSignatureStatus::Trusted;
}

Result<PackageSignatureCheck> checkFlatPackageSignature(const ByteReader& bytes, const TrustAnchors& anchors,
                                                        std::time_t now) {
    auto parsed = parseXar(bytes);
    if (!parsed) return fail(parsed.error());
    const XarArchive& archive = *parsed;
    PackageSignatureCheck check;
    check.kind = PackageKind::Flat;

    // The ticket is looked for whatever the signature says: it is shown only beside a trusted one.
    if (auto ticket = findStapledTicket(bytes, archive.archiveEnd); ticket && *ticket) {
        std::vector<Bytes> digests;
        if (auto digest = computeXarTocDigest(bytes, archive)) digests.push_back(std::move(*digest));
        check.ticket = checkTicketFor(asByteSpan((*ticket)->ticket), digests, anchors.tickets);
    }

    const XarSignature* main = archive.signature      ? &*archive.signature
                               : archive.cmsSignature ? &*archive.cmsSignature
                                                      : nullptr;
    if (!main) {
        check.status = PackageSignatureStatus::NoSignature;
        return check;
    }
    if (!archive.checksum) return invalid(check, "the package is signed but has no checksum of its table of contents");
    auto digest = verifyXarChecksum(bytes, archive);
    if (!digest) return invalid(check, digest.error());
    check.tocDigest = *digest;
    if (main->certificates.empty()) return invalid(check, "the signature carries no certificates");
    auto signature = xarHeapBytes(bytes, archive, main->range);
    if (!signature) return invalid(check, signature.error());

    // The certificate that made the signature is the leaf whose chain is judged and named: the list
    // in the table of contents is the builder's word, and may only supply its issuers.
    std::optional<std::time_t> timestamp;
    std::vector<Bytes> carried;
    if (archive.signature) {
        if (main->style != "RSA") return invalid(check, "the signature's style " + main->style + " is not known");
        if (!signatureMatches(main->certificates.front(), *signature, *digest, archive.checksumStyle))
            return invalid(check, "the signature does not match the checksum of the table of contents");
        carried = main->certificates;
        // A CMS signature beside it counts only for its timestamp, and only when it verifies and was
        // made by the same certificate.
        if (archive.cmsSignature) {
            if (auto cms = xarHeapBytes(bytes, archive, archive.cmsSignature->range)) {
                CmsVerdict v = verifyDetachedCms(asByteSpan(*cms), asByteSpan(*digest), anchors,
                                                 archive.cmsSignature->certificates);
                if (v.signatureValid && v.timestampTime && v.signerCertificate == main->certificates.front())
                    timestamp = v.timestampTime;
            }
        }
    } else {
        CmsVerdict v = verifyDetachedCms(asByteSpan(*signature), asByteSpan(*digest), anchors, main->certificates);
        if (!v.signatureValid)
            return invalid(check, v.failure.empty()
                                      ? "the CMS signature does not match the checksum of the table of contents"
                                      : v.failure);
        if (v.signerCertificate != main->certificates.front())
            return invalid(check, "the certificate the package names as its signer did not make its signature");
        timestamp = v.timestampTime;
        carried = v.signerChain;
    }
    check.trustedTimestamp = timestamp;

    ChainVerdict chain = verifyChain(carried, anchors, timestamp.value_or(now));
    if (chain.trusted && !chain.chain.empty()) {
        check.chain = chain.chain;
        check.status = trustedStatus(chain.chain.front());
        return check;
    }
    check.chain = chain.chain.empty() ? describeAll(carried) : chain.chain;
    check.status = PackageSignatureStatus::Untrusted;
    check.failure = chain.failure.empty() ? "the certificate chain is not trusted" : chain.failure;
    // Without a timestamp, a chain that held until its first certificate expired is reported as
    // expired rather than as untrusted.
    if (!timestamp) {
        std::vector<CertificateInfo> infos = describeAll(carried);
        if (!infos.empty()) {
            std::time_t firstExpiry = infos.front().notAfter;
            for (const auto& i : infos) firstExpiry = std::min(firstExpiry, i.notAfter);
            if (firstExpiry < now) {
                ChainVerdict then = verifyChain(carried, anchors, firstExpiry - 1);
                if (then.trusted) {
                    check.status = PackageSignatureStatus::Expired;
                    check.failure = "a certificate of the chain has expired";
                    if (!then.chain.empty()) check.chain = then.chain;
                }
            }
        }
    }
    return check;
}

bool isBundlePackage(const std::string& path) {
    auto isKind = [](const std::string& p, mode_t kind) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
    };
    if (!isKind(path, S_IFDIR)) return false;
    return isKind(path + "/Contents/Archive.bom", S_IFREG) || isKind(path + "/Contents/Archive.pax.gz", S_IFREG) ||
           isKind(path + "/Contents/Packages", S_IFDIR);
}

Result<PackageSignatureCheck> checkPackageSignature(const std::string& path, const TrustAnchors& anchors,
                                                    std::time_t now) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail("The item " + path + " does not exist.");
    if (S_ISDIR(st.st_mode)) {
        if (!isBundlePackage(path)) return fail("The item " + path + " is not an Installer package.");
        // A bundle-style package has no place for a signature.
        PackageSignatureCheck check;
        check.kind = PackageKind::Bundle;
        check.status = PackageSignatureStatus::NoSignature;
        return check;
    }
    auto mapped = MappedFile::open(path);
    if (!mapped) return fail(mapped.error());
    if (!looksLikeXar(mapped->reader())) return fail("The item " + path + " is not an Installer package.");
    auto check = checkFlatPackageSignature(mapped->reader(), anchors, now);
    if (!check) return fail("The package " + path + " cannot be read: " + check.error() + ".");
    return check;
}

}  // namespace tessarin
