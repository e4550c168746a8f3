// The assessment policy: Apple's own code, the Mac App Store and Developer ID are accepted when their
// signature is intact and reaches the anchors; anything else has no usable signature.
#include "verify/Assessment.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "notary/Ticket.h"
#include "package/Package.h"

namespace tessarin {
namespace {

constexpr const char* kNoUsableSignature = "no usable signature";

Assessment rejected(std::string reason) {
    Assessment a;
    a.source = kNoUsableSignature;
    a.reason = std::move(reason);
    return a;
}

bool hasKind(const std::vector<CertificateInfo>& chain, CertificateKind kind) {
    return std::any_of(chain.begin(), chain.end(), [&](const CertificateInfo& c) { return c.kind == kind; });
}

// Only a regular file is read: opening a FIFO without O_NONBLOCK would wait for a writer forever.
bool startsWithXar(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    char magic[4] = {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::read(fd, magic, 4) == 4;
    ::close(fd);
    return read && std::memcmp(magic, "xar!", 4) == 0;
}

Assessment assessPackage(const std::string& path, const TrustAnchors& anchors) {
    auto check = checkPackageSignature(path, anchors, std::time(nullptr));
    if (!check) return rejected(check.error());
    const PackageSignatureCheck& c = *check;
    Assessment a;
    if (!c.chain.empty()) a.origin = c.chain.front().commonName;
    switch (c.status) {
    case PackageSignatureStatus::AppleSoftware:
        a.accepted = true;
        a.source = "Apple System";
        break;
    case PackageSignatureStatus::AppleDistribution:
        a.accepted = true;
        if (c.ticketStapled && c.ticketNamesPackage) {
            a.source = "Notarized Developer ID";
            a.notes.push_back("note: the stapled ticket names this package's digest; the ticket's own signature was not verified");
        } else {
            a.source = "Developer ID";
            a.notes.push_back(c.ticketStapled
                                  ? "note: notarization could not be confirmed offline (the stapled ticket does not name this package)"
                                  : "note: notarization could not be confirmed offline (no stapled ticket)");
        }
        break;
    case PackageSignatureStatus::Trusted:
        if (!c.chain.empty() && c.chain.front().kind == CertificateKind::MacAppStoreInstaller) {
            a.accepted = true;
            a.source = "Mac App Store";
        } else {
            a = rejected("the signing certificate is not for distribution outside the App Store");
            if (!c.chain.empty()) a.origin = c.chain.front().commonName;
        }
        break;
    default:
        a = rejected(c.failure);
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
    if (verdict.kind == CodeKind::Missing) return rejected(verdict.failure);
    if (!verdict.isSigned || verdict.adhoc || !verdict.cms) return rejected("");
    if (!verdict.valid) return rejected(verdict.failure);
    // Intact code that is not what its designated requirement names is no one's to vouch for.
    if (!verdict.designatedRequirementSatisfied) return rejected("the code does not satisfy its designated requirement");
    const CmsSignatureInfo& cms = *verdict.cms;
    if (!cms.signatureValid || !cms.cdhashesMatch) return rejected(cms.failure);
    if (!cms.chainTrusted) {
        Assessment a = rejected(cms.failure.empty() ? "the certificates do not reach a trusted root" : cms.failure);
        if (!cms.certificates.empty()) a.origin = cms.certificates.front().commonName;
        return a;
    }
    const CertificateInfo& leaf = cms.certificates.front();
    Assessment a;
    a.origin = leaf.commonName;
    switch (leaf.kind) {
    case CertificateKind::AppleSoftwareSigning:
        a.accepted = true;
        a.source = "Apple System";
        return a;
    case CertificateKind::MacAppStoreApplication:
        a.accepted = true;
        a.source = "Mac App Store";
        return a;
    case CertificateKind::DeveloperIDApplication:
        if (!hasKind(cms.certificates, CertificateKind::DeveloperIDIntermediate)) break;
        a.accepted = true;
        if (verdict.ticketStapled && ticketNamesCode(verdict.ticket, verdict)) {
            a.source = "Notarized Developer ID";
            a.notes.push_back("note: the stapled ticket names this code's CDHash; the ticket's own signature was not verified");
        } else {
            a.source = "Developer ID";
            a.notes.push_back(verdict.ticketStapled
                                  ? "note: notarization could not be confirmed offline (the stapled ticket does not name this code)"
                                  : "note: notarization could not be confirmed offline (no stapled ticket)");
        }
        return a;
    default:
        break;
    }
    Assessment r = rejected("the signing certificate is not for distribution");
    r.origin = leaf.commonName;
    return r;
}

Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors) {
    if (type == AssessmentType::Install && !startsWithXar(path)) {
        // The install policy judges signed code by its signature, which is how a command-line tool's
        // notarization is checked; anything else offered for installation is no package.
        CodeVerifyOptions options;
        CodeVerdict verdict = verifyCode(path, options, anchors);
        if (verdict.kind != CodeKind::MachO) return rejected("not a flat installer package");
        return assessCodeVerdict(verdict);
    }
    if (type == AssessmentType::Install) return assessPackage(path, anchors);
    CodeVerifyOptions options;
    CodeVerdict verdict = verifyCode(path, options, anchors);
    Assessment a = assessCodeVerdict(verdict);
    if (a.accepted && verdict.kind == CodeKind::MachO) {
        // Execution is granted to apps; a bare tool with a good signature is turned away for what it is.
        Assessment tool;
        tool.reason = "the code is valid but does not seem to be an app";
        tool.origin = a.origin;
        return tool;
    }
    return a;
}

}  // namespace tessarin
