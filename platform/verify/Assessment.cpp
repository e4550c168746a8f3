// The assessment policy: Apple's own code, the Mac App Store and Developer ID are judged by Gatekeeper's
// rules for each assessment type, tried from the highest priority down; the first that matches decides.
#include "verify/Assessment.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "base/FileRead.h"
#include "bundle/Bundle.h"
#include "codesign/CodeSignatureConstants.h"
#include "crypto/AccountCreation.h"
#include "package/Package.h"
#include "verify/ComponentTree.h"

namespace tessarin {
namespace {

// Accounts created from this day on must notarize to run.
constexpr std::time_t kExecuteCutoff = 1554681600;  // 2019-04-08 00:00 GMT
// "Legacy" Developer ID: an account older than this, signing with a secure timestamp before kLegacySigning.
constexpr std::time_t kLegacyAccountCutoff = 1554595200;  // 2019-04-07 00:00 GMT
constexpr std::time_t kLegacySigning = 1559347200;        // 2019-06-01 00:00 GMT
// Until this day the notary service still took code without the hardened runtime: only code signed
// (by its secure timestamp) from then on cannot have been notarized without it.
constexpr std::time_t kHardenedRuntimeRequired = 1580688000;  // 2020-02-03 00:00 GMT

// When the developer account was made, by the leaf's extension: none named, a date, or an error for
// an unreadable or repeated one, which the rules take as the newest account.
using AccountCreated = Result<std::optional<std::time_t>>;

// Signed by an account old enough, before notarization was required: the install and open rules'
// only way past it. Offline, Apple's own list of legacy signers cannot be asked, so anything later is not.
bool legacy(const AccountCreated& created, std::optional<std::time_t> secureTimestamp) {
    if (!created || (*created && **created >= kLegacyAccountCutoff)) return false;
    return secureTimestamp && *secureTimestamp < kLegacySigning;
}

// The Developer ID rule below notarization: whether this type still allows the signature without it.
bool allowedUnnotarized(AssessmentType type, const AccountCreated& created,
                        std::optional<std::time_t> secureTimestamp) {
    if (type == AssessmentType::Execute) return created && (!*created || **created < kExecuteCutoff);
    return legacy(created, secureTimestamp);
}

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

// A digest the ticket service can be asked about, with the record type it is filed under.
struct LookupDigest {
    Bytes digest;
    std::uint8_t hashType = 0;
};

// Asks the service about each digest until a ticket that verifies and names the item comes back.
// Otherwise the most telling answer is kept: a bad ticket, then a failure, then "not found".
OnlineLookup lookUpTicket(TicketService& service, const std::vector<LookupDigest>& digests,
                          const std::vector<Bytes>& itemDigests, const TicketAnchors& anchors) {
    OnlineLookup result;
    auto rank = [](OnlineLookup::Outcome o) {
        switch (o) {
        case OnlineLookup::Outcome::Forged: return 3;
        case OnlineLookup::Outcome::Failed: return 2;
        case OnlineLookup::Outcome::NotFound: return 1;
        default: return 0;
        }
    };
    for (const auto& d : digests) {
        TicketLookup answer = service.lookUp(d.digest, d.hashType);
        OnlineLookup one;
        switch (answer.status) {
        case TicketLookup::Status::Found:
            one.ticket = checkTicketFor(asByteSpan(answer.ticket), itemDigests, anchors);
            one.outcome = one.ticket.notarized() ? OnlineLookup::Outcome::Verified : OnlineLookup::Outcome::Forged;
            break;
        case TicketLookup::Status::NotFound: one.outcome = OnlineLookup::Outcome::NotFound; break;
        case TicketLookup::Status::Failed:
            one.outcome = OnlineLookup::Outcome::Failed;
            one.detail = answer.detail;
            break;
        }
        if (one.outcome == OnlineLookup::Outcome::Verified) return one;
        const bool failed = one.outcome == OnlineLookup::Outcome::Failed;
        if (rank(one.outcome) > rank(result.outcome)) result = std::move(one);
        // A service that cannot be reached now will not be reached for the next digest either: one
        // wait of the lookup's time limit is all an assessment spends on it.
        if (failed) break;
    }
    if (result.outcome == OnlineLookup::Outcome::NotMade && !digests.empty())
        result.outcome = OnlineLookup::Outcome::NotFound;
    return result;
}

// What the Developer ID rules need from the item beyond its leaf.
struct DeveloperIdItem {
    AccountCreated accountCreated = fail("no leaf certificate");  // the cautious answer
    std::optional<std::time_t> secureTimestamp;
    TicketCheck stapled;
    std::vector<LookupDigest> lookupDigests;  // what an online lookup would ask for
    std::vector<Bytes> itemDigests;           // what a ticket must name
    NotarizationObstacle obstacle = NotarizationObstacle::None;
};

// P5 allows notarized Developer ID; P4 allows it unnotarized where the type's rule lets it; P0 denies
// the rest. Only a verified ticket that names the item, stapled or fetched, makes it notarized.
void judgeDeveloperId(Assessment& a, AssessmentType type, const DeveloperIdItem& item, const TicketAnchors& anchors,
                      TicketService* service) {
    a.ticket = item.stapled;
    a.notarization = item.stapled.notarized() ? NotarizationNote::TicketNamesItem
                     : !item.stapled.present  ? NotarizationNote::NoTicket
                     : !item.stapled.verified ? NotarizationNote::TicketNotValid
                                              : NotarizationNote::TicketDoesNotNameItem;
    bool notarized = item.stapled.notarized();
    if (!notarized && service) {
        a.lookup = lookUpTicket(*service, item.lookupDigests, item.itemDigests, anchors);
        notarized = a.lookup.outcome == OnlineLookup::Outcome::Verified;
    }
    if (notarized) {
        a.accepted = true;
        a.source = AssessmentSource::NotarizedDeveloperID;
        return;
    }
    // A genuine ticket at hand, even one for other items, shows Apple notarized the upload it came
    // from: no note may then say the code could not have been.
    const bool genuineTicket = item.stapled.verified || a.lookup.ticket.verified;
    a.obstacle = genuineTicket ? NotarizationObstacle::None : item.obstacle;
    a.accepted = allowedUnnotarized(type, item.accountCreated, item.secureTimestamp);
    a.source = a.accepted ? AssessmentSource::DeveloperID : AssessmentSource::UnnotarizedDeveloperID;
}

// Gatekeeper validates strictly and judges nested code too.
CodeVerifyOptions assessmentOptions() {
    CodeVerifyOptions options;
    options.strict = true;
    options.deep = true;
    return options;
}

Assessment assessPackage(const std::string& path, AssessmentType type, const TrustAnchors& anchors,
                         TicketService* service, std::optional<PackageSignatureCheck>& checked) {
    auto check = checkPackageSignature(path, anchors, std::time(nullptr));
    if (!check) return rejected(RejectionReason::PackageInvalid, check.error());
    const PackageSignatureCheck& c = checked.emplace(std::move(*check));
    Assessment a;
    a.package = true;
    if (!c.chain.empty()) a.origin = c.chain.front().commonName;
    switch (c.status) {
    case PackageSignatureStatus::AppleSoftware:
        a.accepted = true;
        a.source = AssessmentSource::AppleSystem;
        break;
    case PackageSignatureStatus::AppleDistribution: {
        DeveloperIdItem item;
        if (!c.chain.empty()) item.accountCreated = developerAccountCreation(c.chain.front().der);
        item.secureTimestamp = c.trustedTimestamp;
        item.stapled = c.ticket;
        item.itemDigests = {c.tocDigest};
        // Records are filed under the checksum's own algorithm; other algorithms have none.
        if (c.tocDigest.size() == 20) item.lookupDigests.push_back({c.tocDigest, TICKET_HASH_SHA1});
        if (c.tocDigest.size() == 32) item.lookupDigests.push_back({c.tocDigest, TICKET_HASH_SHA256});
        judgeDeveloperId(a, type, item, anchors.tickets, service);
        break;
    }
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

// The stapled ticket's signature and chain, checked once for the whole file: only what it names
// differs from slice to slice.
TicketCheck stapledTicketFor(const CodeVerdict& verdict, const std::optional<TicketCheck>& verified,
                             const std::vector<Bytes>& cdhashes) {
    if (!verdict.ticketStapled || !verified) return {};
    TicketCheck check = *verified;
    auto ticket = parseTicket(asByteSpan(verdict.ticket));
    check.namesItem = ticket && std::any_of(cdhashes.begin(), cdhashes.end(),
                                            [&](const Bytes& d) { return ticketNames(*ticket, d); });
    return check;
}

// One slice's signature by the policy. A Mac runs the slice of its own architecture, so each must
// stand on its own; the ticket must name this slice's code.
Assessment assessSlice(const CodeVerdict& verdict, const SliceVerdict& slice, AssessmentType type,
                       const TicketAnchors& ticketAnchors, TicketService* service,
                       const std::optional<TicketCheck>& stapled) {
    if (slice.adhoc || !slice.cms) return rejected(RejectionReason::Unsigned);
    const CmsSignatureInfo& cms = *slice.cms;
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
    case CertificateKind::DeveloperIDApplication: {
        if (!hasKind(cms.certificates, CertificateKind::DeveloperIDIntermediate)) break;
        DeveloperIdItem item;
        item.accountCreated = developerAccountCreation(leaf.der);
        item.secureTimestamp = cms.timestampTime;
        item.stapled = stapledTicketFor(verdict, stapled, slice.cdhashes);
        item.itemDigests = slice.cdhashes;
        for (std::size_t i = 0; i < slice.cdhashes.size(); ++i) {
            const std::uint8_t codeHash = i < slice.hashTypes.size() ? slice.hashTypes[i] : 0;
            // SHA-1 directories are filed as SHA-1 records; the SHA-256 kinds' CDHashes as SHA-256.
            if (codeHash == CS_HASHTYPE_SHA1) item.lookupDigests.push_back({slice.cdhashes[i], TICKET_HASH_SHA1});
            if (codeHash == CS_HASHTYPE_SHA256 || codeHash == CS_HASHTYPE_SHA256_TRUNCATED)
                item.lookupDigests.push_back({slice.cdhashes[i], TICKET_HASH_SHA256});
        }
        // Only a proven signing date can rule notarization out: the secure timestamp, not the claimed time.
        // The runtime is asked of code that runs; a disk image is notarized without it.
        if (cms.timestampTime && *cms.timestampTime >= kHardenedRuntimeRequired && (slice.flags & CS_RUNTIME) == 0 &&
            verdict.kind != CodeKind::DiskImage)
            item.obstacle = NotarizationObstacle::NoHardenedRuntime;
        judgeDeveloperId(a, type, item, ticketAnchors, service);
        return a;
    }
    default: break;
    }
    Assessment r = rejected(RejectionReason::NotForDistribution);
    r.origin = leaf.commonName;
    return r;
}

// How much an outcome vouches for: no usable signature least, then a Developer ID signature turned
// away for want of notarization, Apple's own code most.
int strength(const Assessment& a) {
    switch (a.source) {
    case AssessmentSource::UnnotarizedDeveloperID: return 1;
    case AssessmentSource::DeveloperID: return a.accepted ? 2 : 0;
    case AssessmentSource::NotarizedDeveloperID: return a.accepted ? 3 : 0;
    case AssessmentSource::MacAppStore: return a.accepted ? 4 : 0;
    case AssessmentSource::AppleSystem: return a.accepted ? 5 : 0;
    default: return 0;
    }
}

// The slice codesign describes, from the verdict's own fields: a hand-made verdict may list no slices.
SliceVerdict describedSlice(const CodeVerdict& verdict) {
    SliceVerdict s;
    s.architecture = verdict.architecture;
    s.adhoc = verdict.adhoc;
    s.cms = verdict.cms;
    s.flags = verdict.flags;
    for (const auto& cd : verdict.codeDirectories) {
        s.cdhashes.push_back(cd.cdhash);
        s.hashTypes.push_back(cd.hashType);
    }
    return s;
}

// The validation errors after which Apple's evaluateCode still consults the rule list: a rule that
// turns the code away speaks first, and only code the rules would allow is refused with the error
// itself. Every other failure ends the assessment with the code's own error.
bool rulesConsultedDespite(ProblemKind cause) {
    switch (cause) {
    case ProblemKind::ObsoleteEnvelope:       // errSecCSWeakResourceEnvelope
    case ProblemKind::LinkInBundleStructure:  // errSecCSRegularFile
    case ProblemKind::StrayBytes:             // errSecCSBadMainExecutable
    case ProblemKind::BadFrameworkVersion:    // errSecCSBadFrameworkVersion
    case ProblemKind::UnsealedBundleRoot:     // errSecCSUnsealedAppRoot
    case ProblemKind::UnsealedFrameworkRoot:  // errSecCSUnsealedFrameworkRoot
    case ProblemKind::SymlinkOutside:         // errSecCSInvalidSymlink
        return true;
    default: return false;
    }
}

// Apple's BundleDiskRep calls a bundle app-like when its Info.plist says CFBundlePackageType APPL, it
// has a main executable and it is not versioned like a framework; no single file is (DiskRep).
bool appLike(const CodeVerdict& verdict) {
    if (verdict.kind != CodeKind::AppBundle || verdict.codeless || verdict.executablePath.empty()) return false;
    auto bundle = Bundle::open(verdict.path);
    if (!bundle || bundle->layout() == Bundle::Layout::Framework) return false;
    const PlistDict* info = bundle->infoDictionary();
    if (!info) return false;
    auto type = info->find("CFBundlePackageType");
    return type != info->end() && type->second.string() && *type->second.string() == "APPL";
}

// Apple's PolicyEngine::evaluateCode over a verdict made with its flags (strict, every architecture,
// nested code): validation, in which execution also asks for an app (kSecCSRestrictToAppLike); then
// Gatekeeper's rule list, highest priority first, notarization being part of its rules. What
// validation found that the rules are consulted over is held until they have spoken.
Assessment evaluateCode(const CodeVerdict& verdict, AssessmentType type, bool restrictToAppLike,
                        const TicketAnchors& ticketAnchors, TicketService* service,
                        const TicketCheck* stapledCheck = nullptr) {
    RejectionReason held = RejectionReason::None;
    if (verdict.kind == CodeKind::Missing || (verdict.isSigned && !verdict.valid)) {
        if (verdict.kind == CodeKind::Missing || !rulesConsultedDespite(verdict.cause)) {
            Assessment a = rejected(RejectionReason::CodeInvalid);
            a.codeCause = verdict.cause;
            return a;
        }
        held = RejectionReason::CodeInvalid;
    }
    if (!verdict.isSigned) return rejected(RejectionReason::Unsigned);
    // Strict validation asks for an app after the bundle's own structure and before the main
    // executable's (BundleDiskRep::strictValidate, MachORep::strictValidate).
    if (restrictToAppLike && (held == RejectionReason::None || verdict.cause == ProblemKind::StrayBytes) &&
        !appLike(verdict))
        held = RejectionReason::NotAnApp;
    // Intact code that is not what its designated requirement names is no one's to vouch for.
    if (!verdict.adhoc && verdict.cms && !verdict.designatedRequirementSatisfied)
        return rejected(RejectionReason::RequirementNotSatisfied);

    std::optional<TicketCheck> stapled;
    if (verdict.ticketStapled)
        stapled = stapledCheck ? *stapledCheck : checkTicketFor(asByteSpan(verdict.ticket), {}, ticketAnchors);
    Assessment weakest = assessSlice(verdict, describedSlice(verdict), type, ticketAnchors, service, stapled);
    // Every slice answers; the weakest speaks for the file and says which slice it was.
    for (std::size_t i = 1; i < verdict.slices.size(); ++i) {
        const SliceVerdict& s = verdict.slices[i];
        Assessment a = assessSlice(verdict, s, type, ticketAnchors, service, stapled);
        if (strength(a) < strength(weakest)) {
            weakest = std::move(a);
            weakest.decidingSlice = s.architecture;
        }
    }
    if (held == RejectionReason::None || !weakest.accepted) return weakest;
    // Allowed by the rules, refused for what validation found: no rule is named, only the signer.
    Assessment refused;
    refused.reason = held;
    if (held == RejectionReason::CodeInvalid) refused.codeCause = verdict.cause;
    refused.origin = weakest.origin;
    return refused;
}

// A package's own row in its tree: its signature as the assessment judged it; what it installs is
// added by whoever expands it.
ComponentTree packageTree(const std::string& path, const Assessment& a, const std::optional<PackageSignatureCheck>& c) {
    ComponentTree tree;
    CodeItem& item = tree.root;
    item.kind = CodeItemKind::InstallerPackage;
    item.path = path;
    if (!c || c->status == PackageSignatureStatus::NoSignature) return tree;
    item.signature = SignatureKind::Certificate;
    item.valid = c->status != PackageSignatureStatus::Invalid;
    item.chain = c->chain;
    for (CertificateInfo& info : item.chain) info.der.clear();
    item.chainTrusted = isTrustedPackageStatus(c->status);
    // Only a Developer ID Installer certificate from Apple's roots establishes a team.
    if (c->status == PackageSignatureStatus::AppleDistribution && !c->chain.empty())
        item.teamId = c->chain.front().organizationalUnit;
    item.timestamp = c->trustedTimestamp;
    item.source = a.source;
    item.notarization = notarizationStatusOf(a);
    return tree;
}

}  // namespace

Assessment assessCodeVerdict(const CodeVerdict& verdict, AssessmentType type, const TicketAnchors& ticketAnchors,
                             TicketService* service, const TicketCheck* stapledCheck) {
    return evaluateCode(verdict, type, false, ticketAnchors, service, stapledCheck);
}

Assessment assessCodeVerdict(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors, TicketService* service) {
    return assessCodeVerdict(verdict, AssessmentType::Execute, ticketAnchors, service);
}

Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors, TicketService* service,
                      ComponentTree* tree) {
    const bool flatPackage = regularFileStartsWith(path, "xar!");
    if (flatPackage && type != AssessmentType::Execute) {
        std::optional<PackageSignatureCheck> check;
        Assessment a = assessPackage(path, type, anchors, service, check);
        if (tree) *tree = packageTree(path, a, check);
        return a;
    }
    // The tree's verification is the assessment's (componentTreeOptions() asks what Gatekeeper asks),
    // so one pass over the item serves both.
    CodeVerdict verdict = verifyCode(path, assessmentOptions(), anchors);
    if (type == AssessmentType::Install && verdict.kind != CodeKind::MachO && verdict.kind != CodeKind::DiskImage) {
        // The install policy judges signed code by its signature (PolicyEngine::evaluateInstall falls
        // back to evaluateCode), which is how a command-line tool's or a disk image's notarization is
        // checked; anything else offered for installation is no package.
        if (tree) *tree = buildComponentTree(std::move(verdict), anchors, service);
        return rejected(RejectionReason::NotAPackage);
    }
    // Execution is for apps: a tool, a plug-in or a framework is turned away once the rules allow it.
    Assessment a = evaluateCode(verdict, type, type == AssessmentType::Execute, anchors.tickets, service);
    a.receipt = verdict.receipt;
    if (tree) *tree = buildComponentTree(std::move(verdict), anchors, service);
    return a;
}

}  // namespace tessarin
