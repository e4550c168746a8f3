// Gathers a slice's requirement context (identifier, CDHashes, chain facts, Info.plist, entitlements)
// and judges its designated requirement.
#include "verify/RequirementCheck.h"

#include <algorithm>

#include "codesign/CodeSignature.h"
#include "codesign/DesignatedRequirement.h"
#include "codesign/RequirementEvaluator.h"
#include "macho/MachO.h"
#include "plist/Plist.h"

namespace tessarin {

namespace {

std::optional<EmbeddedSignature> signatureOf(ByteSpan slice) {
    auto macho = parseMachO(slice);
    if (!macho || macho->fat || macho->slices.size() != 1) return std::nullopt;
    auto location = findCodeSignature(slice, macho->slices.front());
    if (!location || !*location) return std::nullopt;
    auto sig = parseEmbeddedSignature(slice.subspan((*location)->offset, (*location)->size));
    if (!sig || !sig->primary()) return std::nullopt;
    return std::move(*sig);
}

// The signature the facts are about: a slice's embedded one, or code-less code's own.
std::optional<EmbeddedSignature> signatureFor(const SliceRequirementFacts& facts) {
    if (!facts.superBlob) return signatureOf(facts.slice);
    auto parsed = parseEmbeddedSignature(*facts.superBlob);
    if (!parsed || !parsed->primary()) return std::nullopt;
    return std::move(*parsed);
}

std::optional<PlistDict> dictionaryOf(ByteSpan bytes) {
    auto value = parsePlist(bytes, kSmallPlistLimits);
    if (!value || !value->dict()) return std::nullopt;
    return *value->dict();
}

bool bound(const CodeDirectory& cd, std::uint32_t slot, ByteSpan bytes) {
    if (slot > cd.nSpecialSlots) return false;
    const ByteSpan expected = cd.specialSlot(slot);
    const Bytes digest = codeSignatureDigest(cd.hashType, bytes);
    return !expected.empty() && expected.size() == digest.size() &&
           std::equal(expected.begin(), expected.end(), reinterpret_cast<const std::byte*>(digest.data()));
}

std::vector<CertificateFields> chainFields(const std::optional<CmsSignatureInfo>& cms) {
    std::vector<CertificateFields> chain;
    if (!cms) return chain;
    for (const auto& cert : cms->certificates) {
        auto fields = certificateFields(cert.der);
        if (!fields) break;  // the chain is judged up to what can be read
        chain.push_back(std::move(*fields));
    }
    return chain;
}

}  // namespace

RequirementResult evaluateOnSlice(const SliceRequirementFacts& facts, const Requirement& requirement) {
    auto sig = signatureFor(facts);
    if (!sig || !facts.facts) return {false, "the code has no readable signature"};
    const CodeDirectory& primary = *sig->primary();
    const std::optional<CmsSignatureInfo>& cms = facts.facts->cms;
    RequirementContext context;
    context.identifier = primary.identifier;
    context.teamId = primary.teamId;
    context.platform = primary.platform;
    for (const auto& cd : sig->codeDirectories) {
        context.cdhashes.push_back(codeDirectoryHash(cd));
        context.cdhashes.push_back(codeDirectoryHashFull(cd));
    }
    context.chain = chainFields(cms);
    context.chainValid =
        cms && cms->signatureValid && cms->chainValid && context.chain.size() == cms->certificates.size();
    if (facts.appleRoots) context.appleRootsDer = facts.appleRoots->rootsDer;
    // An Info.plist or entitlements blob the directory does not bind is anyone's to write: it
    // answers no requirement. Nested code is only described, not checked, so the binding is
    // checked here.
    if (facts.infoPlist && bound(primary, CSSLOT_INFOSLOT, *facts.infoPlist))
        context.info = dictionaryOf(*facts.infoPlist);
    if (sig->entitlements && bound(primary, CSSLOT_ENTITLEMENTS, *sig->entitlements))
        if (auto payload = sig->entitlementsPayload()) context.entitlements = dictionaryOf(*payload);
    context.notarized = facts.notarized;
    return tessarin::evaluate(requirement, context);
}

std::vector<Bytes> sliceCdhashes(ByteSpan slice) {
    std::vector<Bytes> out;
    if (auto sig = signatureOf(slice))
        for (const auto& cd : sig->codeDirectories) out.push_back(codeDirectoryHash(cd));
    return out;
}

DesignatedRequirementVerdict judgeDesignatedRequirement(const SliceRequirementFacts& facts, bool evaluate) {
    DesignatedRequirementVerdict out;
    auto sig = signatureFor(facts);
    if (!sig || !facts.facts) {
        out.failure = "the code has no readable signature";
        return out;
    }
    const CodeDirectory& primary = *sig->primary();
    const std::optional<CmsSignatureInfo>& cms = facts.facts->cms;

    if (sig->requirements) {
        auto set = parseRequirementSet(*sig->requirements);
        if (set)
            out.set = std::move(*set);
        else
            out.setProblem = set.error();
    }
    const std::vector<Bytes> noRoots;
    const std::vector<Bytes>& appleRoots = facts.appleRoots ? facts.appleRoots->rootsDer : noRoots;
    std::vector<CertificateFields> chain = chainFields(cms);

    if (!out.setProblem.empty()) {
        out.failure = "the requirements set is malformed: " + out.setProblem;
    } else if (const Requirement* explicitOne = out.set ? out.set->find(kSecDesignatedRequirementType) : nullptr) {
        out.requirement = *explicitOne;
    } else {
        ImplicitRequirementInput input;
        input.identifier = primary.identifier;
        input.adhoc = facts.facts->adhoc;
        input.cdhashes = facts.allCdhashes;
        input.chain = chain;
        input.appleRootsDer = appleRoots;
        auto derived = implicitDesignatedRequirement(input);
        if (derived) {
            out.requirement = std::move(*derived);
            out.implicit = true;
        } else {
            out.failure = derived.error();
        }
    }
    if (!evaluate || !out.requirement) return out;

    auto result = evaluateOnSlice(facts, *out.requirement);
    out.satisfied = result.holds;
    if (!result.error.empty()) out.failure = result.error;
    return out;
}

}  // namespace tessarin
