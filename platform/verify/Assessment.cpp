// The assessment policy: Apple's own code, the Mac App Store and Developer ID are accepted when their
// signature is intact and reaches the anchors; anything else has no usable signature.
#include "verify/Assessment.h"

#include <algorithm>
#include <ctime>

#include "base/FileRead.h"
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

// Developer ID is accepted either way; only a verified ticket that names the item makes it notarized.
void acceptDeveloperId(Assessment& a, const TicketCheck& ticket) {
    a.accepted = true;
    a.ticket = ticket;
    if (ticket.notarized()) {
        a.source = AssessmentSource::NotarizedDeveloperID;
        a.notarization = NotarizationNote::TicketNamesItem;
        return;
    }
    a.source = AssessmentSource::DeveloperID;
    a.notarization = !ticket.present    ? NotarizationNote::NoTicket
                     : !ticket.verified ? NotarizationNote::TicketNotValid
                                        : NotarizationNote::TicketDoesNotNameItem;
}

// Gatekeeper validates strictly and judges nested code too.
CodeVerifyOptions assessmentOptions() {
    CodeVerifyOptions options;
    options.strict = true;
    options.deep = true;
    return options;
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
    case PackageSignatureStatus::AppleDistribution: acceptDeveloperId(a, c.ticket); break;
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

// One slice's signature by the policy. A Mac runs the slice of its own architecture, so each must
// stand on its own; the ticket must name this slice's code.
Assessment assessSlice(const CodeVerdict& verdict, bool adhoc, const std::optional<CmsSignatureInfo>& slice,
                       const std::vector<Bytes>& cdhashes, const TicketAnchors& ticketAnchors) {
    if (adhoc || !slice) return rejected(RejectionReason::Unsigned);
    const CmsSignatureInfo& cms = *slice;
    if (!cms.signatureValid || !cms.cdhashesMatch) return rejected(RejectionReason::SignatureInvalid, cms.failure);
    if (!cms.chainTrusted || cms.certificates.empty()) {
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
        acceptDeveloperId(a, verdict.ticketStapled ? checkTicketFor(asByteSpan(verdict.ticket), cdhashes, ticketAnchors)
                                                   : TicketCheck{});
        return a;
    default: break;
    }
    Assessment r = rejected(RejectionReason::NotForDistribution);
    r.origin = leaf.commonName;
    return r;
}

// How much an outcome vouches for: a rejection least, Apple's own code most.
int strength(const Assessment& a) {
    if (!a.accepted) return 0;
    switch (a.source) {
    case AssessmentSource::DeveloperID: return 1;
    case AssessmentSource::NotarizedDeveloperID: return 2;
    case AssessmentSource::MacAppStore: return 3;
    case AssessmentSource::AppleSystem: return 4;
    default: return 0;
    }
}

}  // namespace

Assessment assessCodeVerdict(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors,
                             TicketService* /*service*/) {
    if (verdict.kind == CodeKind::Missing || (verdict.isSigned && !verdict.valid)) {
        Assessment a = rejected(RejectionReason::CodeInvalid);
        a.codeCause = verdict.cause;
        return a;
    }
    if (!verdict.isSigned) return rejected(RejectionReason::Unsigned);
    // Intact code that is not what its designated requirement names is no one's to vouch for.
    if (!verdict.adhoc && verdict.cms && !verdict.designatedRequirementSatisfied)
        return rejected(RejectionReason::RequirementNotSatisfied);
    std::vector<Bytes> cdhashes;
    for (const auto& cd : verdict.codeDirectories) cdhashes.push_back(cd.cdhash);
    Assessment weakest = assessSlice(verdict, verdict.adhoc, verdict.cms, cdhashes, ticketAnchors);
    // Every slice answers; the weakest speaks for the file and says which slice it was.
    for (std::size_t i = 1; i < verdict.slices.size(); ++i) {
        const SliceVerdict& s = verdict.slices[i];
        Assessment a = assessSlice(verdict, s.adhoc, s.cms, s.cdhashes, ticketAnchors);
        if (strength(a) < strength(weakest)) {
            weakest = std::move(a);
            weakest.decidingSlice = s.architecture;
        }
    }
    return weakest;
}

Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors,
                      TicketService* service) {
    if (type == AssessmentType::Install && !regularFileStartsWith(path, "xar!")) {
        // The install policy judges signed code by its signature, which is how a command-line tool's
        // notarization is checked; anything else offered for installation is no package.
        CodeVerdict verdict = verifyCode(path, assessmentOptions(), anchors);
        if (verdict.kind != CodeKind::MachO) return rejected(RejectionReason::NotAPackage);
        return assessCodeVerdict(verdict, anchors.tickets, service);
    }
    if (type == AssessmentType::Install) return assessPackage(path, anchors);
    CodeVerdict verdict = verifyCode(path, assessmentOptions(), anchors);
    Assessment a = assessCodeVerdict(verdict, anchors.tickets, service);
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
