// Describes one slice's signature and checks its code pages, special slots and CMS signature, on bytes.
#include "verify/SliceCheck.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "base/Unicode.h"
#include "codesign/AppleDeveloperChain.h"
#include "codesign/CodeSignature.h"
#include "crypto/CertificateFields.h"
#include "crypto/Cms.h"
#include "macho/MachO.h"

namespace tessarin {
namespace {

// A ticket kept in a signature is read no further than this.
constexpr std::size_t kMaxTicket = 64u << 20;

bool allZero(ByteSpan b) {
    return std::all_of(b.begin(), b.end(), [](std::byte x) { return x == std::byte{0}; });
}

bool equalBytes(ByteSpan a, const Bytes& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), b.size()) == 0;
}

Problem problem(ProblemKind kind, std::uint32_t slot = 0, Bytes expected = {}, Bytes actual = {}) {
    Problem p;
    p.kind = kind;
    p.slot = slot;
    p.expected = std::move(expected);
    p.actual = std::move(actual);
    return p;
}

CodeDirectoryInfo infoOf(const CodeDirectory& cd) {
    CodeDirectoryInfo info;
    info.slot = cd.slot;
    info.version = cd.version;
    info.flags = cd.flags;
    info.length = static_cast<std::uint32_t>(cd.blob.size());
    info.hashType = cd.hashType;
    info.hashSize = cd.hashSize;
    info.platform = cd.platform;
    info.pageSize = cd.pageSize();
    info.nCodeSlots = cd.nCodeSlots;
    info.nSpecialSlots = cd.nSpecialSlots;
    info.codeLimit = cd.codeLimit();
    info.identifier = cd.identifier;
    info.teamId = cd.teamId;
    if (cd.runtimeVersion.value_or(0) != 0) info.runtimeVersion = cd.runtimeVersion;
    if (cd.execSegment) {
        info.execSegBase = cd.execSegment->base;
        info.execSegLimit = cd.execSegment->limit;
        info.execSegFlags = cd.execSegment->flags;
    }
    info.cdhashFull = codeDirectoryHashFull(cd);
    info.cdhash = codeDirectoryHash(cd);
    return info;
}

CmsSignatureInfo judgeCms(ByteSpan cmsDer, const CodeDirectory& primary, const std::vector<Bytes>& cdhashes,
                          const TrustAnchors& anchors) {
    CmsVerdict cms = verifyDetachedCms(cmsDer, primary.blob, anchors);
    CmsSignatureInfo info;
    info.size = static_cast<std::uint32_t>(cmsDer.size());
    info.signatureValid = cms.parsed && cms.signatureValid;
    info.chainTrusted = cms.chain.trusted;
    info.chainValid = cms.chain.trusted;
    info.certificates = cms.chain.chain;
    if (!info.chainTrusted && !info.certificates.empty()) {
        // Does the set chain to its own last certificate? That is all the real tool's verification
        // asks; trust in the root is the assessment's question.
        std::vector<Bytes> ders;
        for (const auto& c : info.certificates) ders.push_back(c.der);
        TrustAnchors own;
        own.rootsDer.push_back(info.certificates.back().der);
        // Dates count as for the anchors' verdict: at the proven time, else now with expiry tolerated.
        info.chainValid = cms.timestampTime ? verifyChain(ders, own, *cms.timestampTime).trusted
                                            : verifyChain(ders, own, std::time(nullptr), ExpiryRule::Tolerated).trusted;
        if (!info.chainValid && cms.timestampTime)
            info.chainExpired = verifyChain(ders, own, *cms.timestampTime, ExpiryRule::Tolerated).trusted;
    }
    info.signingTime = cms.signingTime;
    info.timestampTime = cms.timestampTime;
    if (cms.signedCdhashes.empty()) {
        info.cdhashesMatch = true;  // older signatures carry no CDHash list
    } else {
        info.cdhashesMatch = cms.signedCdhashes.size() == cdhashes.size();
        for (std::size_t i = 0; info.cdhashesMatch && i < cdhashes.size(); ++i) {
            Bytes signedHash = cms.signedCdhashes[i];
            if (signedHash.size() > CS_CDHASH_LEN) signedHash.resize(CS_CDHASH_LEN);
            info.cdhashesMatch = signedHash == cdhashes[i];
        }
    }
    info.failure = cms.failure;
    if (info.failure.empty() && !info.cdhashesMatch)
        info.failure = "the CDHashes the signature lists do not match the code directories";
    if (info.failure.empty() && !info.chainTrusted) info.failure = cms.chain.failure;
    return info;
}

// Apple's verifySignature, once the CMS signature holds: a leaf Apple issued to a developer names its
// team in its first organizational unit, and code it signs must name the same team. Without this, a
// genuine certificate of one team would vouch for code that claims another's.
ProblemKind teamProblemOf(const CmsSignatureInfo& cms, const SignatureFacts& f, const TrustAnchors& anchors) {
    if (!f.teamIdSet || !cms.signatureValid || !cms.cdhashesMatch || cms.certificates.empty()) return ProblemKind::None;
    std::vector<CertificateFields> chain;
    for (const auto& cert : cms.certificates) {
        auto fields = certificateFields(cert.der);
        if (!fields) return ProblemKind::None;  // a chain not read whole is no developer chain
        chain.push_back(std::move(*fields));
    }
    // The check comes before the chain's dates are judged: an expired chain is still asked.
    if (!isAppleDeveloperChain(chain, cms.chainValid || cms.chainExpired, anchors.rootsDer)) return ProblemKind::None;
    const std::string* unit = chain.front().subjectValue("OU");
    if (!unit) return ProblemKind::None;
    if (!isValidUtf8(f.teamId)) return ProblemKind::TeamIdentifierInvalid;
    return *unit == f.teamId ? ProblemKind::None : ProblemKind::TeamIdentifierWrong;
}

// The signature's place inside a thin slice; a problem when there is none or it is broken.
struct Located {
    std::optional<SignatureLocation> location;
    std::optional<Problem> problem;
};

Located locate(ByteSpan slice) {
    auto macho = parseMachO(slice);
    if (!macho || macho->fat || macho->slices.size() != 1) return {std::nullopt, problem(ProblemKind::NotSigned)};
    auto location = findCodeSignature(slice, macho->slices.front());
    if (!location) return {std::nullopt, problem(ProblemKind::SignatureMalformed)};
    if (!*location) return {std::nullopt, problem(ProblemKind::NotSigned)};
    return {**location, std::nullopt};
}

// Checks every CodeDirectory of `sig` against `code`, whose first `codeEnd` bytes the directories may
// cover. The signature covers none of the code itself, so one missed directory would let a page be
// swapped. Apple's order: the special slots the signature carries or the bundle binds, then the code,
// then the resource seal.
void checkDirectories(const EmbeddedSignature& sig, ByteSpan code, std::uint64_t codeEnd, const SliceContext& context,
                      std::vector<Problem>& problems) {
    std::map<std::pair<std::uint8_t, std::uint32_t>, Bytes> fileDigests;
    auto fileDigest = [&](std::uint8_t type, std::uint32_t which, ByteSpan bytes) -> const Bytes& {
        auto key = std::make_pair(type, which);
        auto it = fileDigests.find(key);
        if (it == fileDigests.end()) it = fileDigests.emplace(key, codeSignatureDigest(type, bytes)).first;
        return it->second;
    };
    for (const auto& cd : sig.codeDirectories) {
        auto blobSlot = [&](std::uint32_t k, const std::optional<ByteSpan>& blob) {
            const bool bound = k <= cd.nSpecialSlots && !allZero(cd.specialSlot(k));
            if (!blob) {
                if (bound) problems.push_back(problem(ProblemKind::SpecialSlotModified, k, toBytes(cd.specialSlot(k))));
                return;
            }
            // A blob the directory does not vouch for was slipped in.
            if (!bound) {
                problems.push_back(problem(ProblemKind::UnboundBlob, k));
                return;
            }
            Bytes digest = codeSignatureDigest(cd.hashType, *blob);
            if (!equalBytes(cd.specialSlot(k), digest))
                problems.push_back(problem(ProblemKind::SpecialSlotModified, k, toBytes(cd.specialSlot(k)), digest));
        };
        blobSlot(CSSLOT_REQUIREMENTS, sig.requirements);
        blobSlot(CSSLOT_ENTITLEMENTS, sig.entitlements);
        blobSlot(CSSLOT_DER_ENTITLEMENTS, sig.entitlementsDer);

        auto fileSlot = [&](std::uint32_t k, const std::optional<ByteSpan>& bytes, ProblemKind absent,
                            ProblemKind differs) {
            if (k > cd.nSpecialSlots || allZero(cd.specialSlot(k))) return;  // not bound
            if (!bytes) {
                problems.push_back(problem(absent, k, toBytes(cd.specialSlot(k))));
                return;
            }
            const Bytes& digest = fileDigest(cd.hashType, k, *bytes);
            if (!equalBytes(cd.specialSlot(k), digest))
                problems.push_back(problem(differs, k, toBytes(cd.specialSlot(k)), digest));
        };
        // A disk image has no Info.plist: a directory that binds one names what is not there.
        if (context.inBundle || context.repSpecific)
            fileSlot(CSSLOT_INFOSLOT, context.infoPlist, ProblemKind::SpecialSlotModified,
                     ProblemKind::InfoPlistModified);
        // The trailer is always there to compare, so a directory that reaches slot -6 binds it even
        // with a zero hash there (SecStaticCode::validateComponent compares whatever the form supplies).
        if (context.repSpecific && CSSLOT_REP_SPECIFIC <= cd.nSpecialSlots) {
            const Bytes& digest = fileDigest(cd.hashType, CSSLOT_REP_SPECIFIC, *context.repSpecific);
            if (!equalBytes(cd.specialSlot(CSSLOT_REP_SPECIFIC), digest))
                problems.push_back(problem(ProblemKind::SpecialSlotModified, CSSLOT_REP_SPECIFIC,
                                           toBytes(cd.specialSlot(CSSLOT_REP_SPECIFIC)), digest));
        }

        const std::uint64_t limit = cd.codeLimit();
        if (limit > codeEnd || limit > code.size()) {
            problems.push_back(problem(ProblemKind::CodeLimitOutOfRange, cd.slot));
        } else {
            // Page size 0: one hash over all the code up to the limit.
            const std::uint64_t page = cd.pageSize() ? cd.pageSize() : limit;
            for (std::uint32_t i = 0; i < cd.nCodeSlots; ++i) {
                const std::uint64_t start = std::uint64_t(i) * page;
                const std::uint64_t end = std::min(start + page, limit);
                if (start > end) {
                    problems.push_back(problem(ProblemKind::CodeLimitOutOfRange, cd.slot));
                    break;
                }
                Bytes digest = codeSignatureDigest(cd.hashType, code.subspan(start, end - start));
                if (!equalBytes(cd.codeSlot(i), digest))
                    problems.push_back(problem(ProblemKind::CodePageModified, i, toBytes(cd.codeSlot(i)), digest));
            }
        }

        fileSlot(CSSLOT_RESOURCEDIR, context.codeResources, ProblemKind::ResourcesAbsent,
                 ProblemKind::ResourceSealModified);
    }
}

// The CMS signature's own problems, after the directories'.
void checkCms(SignatureDescription& d) {
    if (const auto& cms = d.facts.cms) {
        if (!cms->signatureValid)
            d.problems.push_back(problem(ProblemKind::CmsSignatureInvalid));
        else if (!cms->cdhashesMatch)
            d.problems.push_back(problem(ProblemKind::CdhashListMismatch));
        else if (d.facts.teamProblem != ProblemKind::None)
            d.problems.push_back(problem(d.facts.teamProblem));
        if (!cms->chainValid)
            d.problems.push_back(problem(cms->chainExpired ? ProblemKind::ChainExpired : ProblemKind::ChainNotValid));
    }
}

}  // namespace

SignatureDescription describeSignature(ByteSpan superBlob, const TrustAnchors& anchors) {
    SignatureDescription d;
    auto sig = parseEmbeddedSignature(superBlob);
    if (!sig) {
        d.problems.push_back(problem(ProblemKind::SignatureMalformed));
        return d;
    }
    SignatureFacts& f = d.facts;
    const CodeDirectory& primary = *sig->primary();
    f.isSigned = true;
    f.adhoc = (primary.flags & CS_ADHOC) != 0 || !sig->cms || sig->cms->empty();
    int bestStrength = -1;
    for (const auto& cd : sig->codeDirectories) {
        CodeDirectoryInfo info = infoOf(cd);
        f.cdhashes.push_back(info.cdhash);
        if (hashTypeStrength(cd.hashType) > bestStrength) {
            bestStrength = hashTypeStrength(cd.hashType);
            f.bestCodeDirectory = f.codeDirectories.size();
        }
        f.codeDirectories.push_back(std::move(info));
    }
    f.infoPlistBound = primary.nSpecialSlots >= CSSLOT_INFOSLOT && !allZero(primary.specialSlot(CSSLOT_INFOSLOT));
    f.resourcesBound = primary.nSpecialSlots >= CSSLOT_RESOURCEDIR && !allZero(primary.specialSlot(CSSLOT_RESOURCEDIR));
    f.identifier = primary.identifier;
    // Apple reads the team from the directory it prefers, the strongest, and checks that one.
    const CodeDirectory& best = sig->codeDirectories[f.bestCodeDirectory];
    f.teamId = best.teamId;
    f.teamIdSet = best.teamOffset.value_or(0) != 0;
    f.flags = primary.flags;
    f.runtimeVersion = f.codeDirectories[f.bestCodeDirectory].runtimeVersion;
    f.requirementsCount = sig->requirementsCount;
    f.requirementsSize = sig->requirements ? static_cast<std::uint32_t>(sig->requirements->size()) : 0;
    if (auto payload = sig->entitlementsPayload()) {
        f.hasEntitlements = true;
        f.entitlementsXml.assign(reinterpret_cast<const char*>(payload->data()), payload->size());
    }
    if (sig->entitlementsDer) f.entitlementsDer = toBytes(sig->entitlementsDer->subspan(8));
    if (sig->ticket) f.ticket = toBytes(sig->ticket->subspan(0, std::min(sig->ticket->size(), kMaxTicket)));
    // The CMS signature is judged for display too: its certificates and times are what is shown.
    if (!f.adhoc) {
        f.cms = judgeCms(*sig->cms, primary, f.cdhashes, anchors);
        f.teamProblem = teamProblemOf(*f.cms, f, anchors);
    }
    return d;
}

SignatureDescription describeSlice(ByteSpan slice, const TrustAnchors& anchors) {
    Located at = locate(slice);
    if (at.problem) {
        SignatureDescription d;
        d.problems.push_back(*at.problem);
        return d;
    }
    SignatureDescription d = describeSignature(slice.subspan(at.location->offset, at.location->size), anchors);
    d.facts.signatureEnd = at.location->offset + at.location->size;
    return d;
}

SignatureDescription checkSlice(ByteSpan slice, const SliceContext& context, const TrustAnchors& anchors) {
    Located at = locate(slice);
    if (at.problem) {
        SignatureDescription d;
        d.problems.push_back(*at.problem);
        return d;
    }
    ByteSpan superBlob = slice.subspan(at.location->offset, at.location->size);
    SignatureDescription d = describeSignature(superBlob, anchors);
    d.facts.signatureEnd = at.location->offset + at.location->size;
    if (!d.problems.empty()) return d;
    auto sig = parseEmbeddedSignature(superBlob);  // described above, so it parses
    checkDirectories(*sig, slice, at.location->offset, context, d.problems);
    checkCms(d);
    return d;
}

SignatureDescription checkSeparateSignature(ByteSpan code, ByteSpan superBlob, const SliceContext& context,
                                            const TrustAnchors& anchors) {
    SignatureDescription d = describeSignature(superBlob, anchors);
    if (!d.problems.empty()) return d;
    auto sig = parseEmbeddedSignature(superBlob);  // described above, so it parses
    // What follows the code limit is signed by nothing; strict validation counts it as stray.
    d.facts.signatureEnd = std::min<std::uint64_t>(sig->primary()->codeLimit(), code.size());
    checkDirectories(*sig, code, code.size(), context, d.problems);
    checkCms(d);
    return d;
}

bool sameTeam(const SignatureFacts& a, const SignatureFacts& b) {
    return a.teamIdSet == b.teamIdSet && (!a.teamIdSet || a.teamId == b.teamId);
}

bool carriesSignature(ByteSpan slice) {
    Located at = locate(slice);
    return at.location || !at.problem || at.problem->kind != ProblemKind::NotSigned;
}

}  // namespace tessarin
