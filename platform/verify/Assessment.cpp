// The assessment policy: Apple's own code, the Mac App Store and Developer ID are accepted when their
// signature is intact and reaches the anchors; anything else has no usable signature.
#include "verify/Assessment.h"

#include <algorithm>
#include <ctime>

#include "base/FileRead.h"
#include "notary/Ticket.h"
#include "package/Package.h"

namespace tessarin {
namespace {

Assessment rejected(RejectionReason reason, std::string detail = {}) {
    Assessment a;
    a.source = AssessmentSource::NoUsableSignature;
    a.reason = reason;
    a.detail = std::move(detail);
    return a;
}

bool hasKind(const std::vector<CertificateInfo>& chain, CertificateKind kind) {
    return std::any_of(chain.begin(), chain.end(), [&](const CertificateInfo& c) { return c.kind == kind; });
}

// Developer ID is accepted either way; a ticket that names the item makes it notarized.
void acceptDeveloperId(Assessment& a, bool ticketStapled, bool ticketNamesItem) {
    a.accepted = true;
    if (ticketStapled && ticketNamesItem) {
        a.source = AssessmentSource::NotarizedDeveloperID;
        a.notarization = NotarizationNote::TicketNamesItem;
    } else {
        a.source = AssessmentSource::DeveloperID;
        a.notarization = ticketStapled ? NotarizationNote::TicketDoesNotNameItem : NotarizationNote::NoTicket;
    }
}

Assessment assessPackage(const std::string& path, const TrustAnchors& anchors) {
    auto check = checkPackageSignature(path, anchors, std::time(nullptr));
    if (!check) return rejected(RejectionReason::PackageInvalid, check.error());
    const PackageSignatureCheck& c = *check;
    Assessment a;
    a.package = true;
    if (!c.chain.empty()) a.origin = c.chain.front().commonName;
    switch (c.status) {
    case PackageSignatureStatus::AppleSoftware:
        a.accepted = true;
        a.source = AssessmentSource::AppleSystem;
        break;
    case PackageSignatureStatus::AppleDistribution:
        acceptDeveloperId(a, c.ticketStapled, c.ticketNamesPackage);
        break;
    case PackageSignatureStatus::Trusted:
        if (!c.chain.empty() && c.chain.front().kind == CertificateKind::MacAppStoreInstaller) {
            a.accepted = true;
            a.source = AssessmentSource::MacAppStore;
        } else {
            a = rejected(RejectionReason::NotForDistributionOutsideStore);
            a.package = true;
            if (!c.chain.empty()) a.origin = c.chain.front().commonName;
        }
        break;
    default:
        a = rejected(RejectionReason::PackageInvalid, c.failure);
        a.package = true;
        break;
    }
    return a;
}

}  // namespace

bool ticketNamesCode(const Bytes& ticket, const CodeVerdict& verdict) {
    std::vector<Bytes> cdhashes;
    for (const auto& cd : verdict.codeDirectories)
        if (!cd.cdhash.empty()) cdhashes.push_back(cd.cdhash);
    return ticketNamesAnyDigest(ticket, cdhashes);
}

Assessment assessCodeVerdict(const CodeVerdict& verdict) {
    if (verdict.kind == CodeKind::Missing) {
        Assessment a = rejected(RejectionReason::CodeInvalid);
        a.codeCause = verdict.cause;
        return a;
    }
    if (!verdict.isSigned || verdict.adhoc || !verdict.cms) return rejected(RejectionReason::Unsigned);
    if (!verdict.valid) {
        Assessment a = rejected(RejectionReason::CodeInvalid);
        a.codeCause = verdict.cause;
        return a;
    }
    if (!verdict.designatedRequirementSatisfied) return rejected(RejectionReason::RequirementNotSatisfied);
    const CmsSignatureInfo& cms = *verdict.cms;
    if (!cms.signatureValid || !cms.cdhashesMatch) return rejected(RejectionReason::SignatureInvalid, cms.failure);
    if (!cms.chainTrusted) {
        Assessment a = rejected(RejectionReason::UntrustedRoot, cms.failure);
        if (!cms.certificates.empty()) a.origin = cms.certificates.front().commonName;
        return a;
    }
    const CertificateInfo& leaf = cms.certificates.front();
    Assessment a;
    a.origin = leaf.commonName;
    switch (leaf.kind) {
    case CertificateKind::AppleSoftwareSigning:
        a.accepted = true;
        a.source = AssessmentSource::AppleSystem;
        return a;
    case CertificateKind::MacAppStoreApplication:
        a.accepted = true;
        a.source = AssessmentSource::MacAppStore;
        return a;
    case CertificateKind::DeveloperIDApplication:
        if (!hasKind(cms.certificates, CertificateKind::DeveloperIDIntermediate)) break;
        acceptDeveloperId(a, verdict.ticketStapled, verdict.ticketStapled && ticketNamesCode(verdict.ticket, verdict));
        return a;
    default:
        break;
    }
    Assessment r = rejected(RejectionReason::NotForDistribution);
    r.origin = leaf.commonName;
    return r;
}

Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors) {
    if (type == AssessmentType::Install && !regularFileStartsWith(path, "xar!")) {
        // The install policy judges signed code by its signature, which is how a command-line tool's
        // notarization is checked; anything else offered for installation is no package.
        CodeVerifyOptions options;
        CodeVerdict verdict = verifyCode(path, options, anchors);
        if (verdict.kind != CodeKind::MachO) return rejected(RejectionReason::NotAPackage);
        return assessCodeVerdict(verdict);
    }
    if (type == AssessmentType::Install) return assessPackage(path, anchors);
    CodeVerifyOptions options;
    CodeVerdict verdict = verifyCode(path, options, anchors);
    Assessment a = assessCodeVerdict(verdict);
    if (a.accepted && verdict.kind == CodeKind::MachO) {
        // Execution is granted to apps; a bare tool with a good signature is turned away for what it is.
        Assessment tool;
        tool.reason = RejectionReason::NotAnApp;
        tool.origin = a.origin;
        return tool;
    }
    return a;
}

}  // namespace tessarin
