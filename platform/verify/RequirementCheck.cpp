// Gathers a slice's requirement context (identifier, CDHashes, chain facts, Info.plist, entitlements)
// and judges its designated requirement.
#include "verify/RequirementCheck.h"

#include "codesign/DesignatedRequirement.h"
#include "codesign/RequirementEvaluator.h"
#include "plist/Plist.h"

namespace tessarin {

namespace {

std::optional<PlistDict> dictionaryOf(ByteSpan bytes) {
    auto value = parsePlist(bytes, kSmallPlistLimits);
    if (!value || !value->dict()) return std::nullopt;
    return *value->dict();
}

}  // namespace

DesignatedRequirementVerdict judgeDesignatedRequirement(const SliceRequirementFacts& facts, bool evaluate) {
    DesignatedRequirementVerdict out;
    const EmbeddedSignature& sig = *facts.signature;
    const CodeDirectory& primary = *sig.primary();

    if (sig.requirements) {
        auto set = parseRequirementSet(*sig.requirements);
        if (set) out.set = std::move(*set);
        else out.setProblem = set.error();
    }
    std::vector<CertificateFields> chain;
    if (facts.certificates) {
        for (const auto& cert : *facts.certificates) {
            auto fields = certificateFields(cert.der);
            if (!fields) break;  // the chain is judged up to what can be read
            chain.push_back(std::move(*fields));
        }
    }
    const std::vector<Bytes> noRoots;
    const std::vector<Bytes>& appleRoots = facts.appleRoots ? facts.appleRoots->rootsDer : noRoots;

    if (!out.setProblem.empty()) {
        out.failure = "the requirements set is malformed: " + out.setProblem;
    } else if (const Requirement* explicitOne = out.set ? out.set->find(kSecDesignatedRequirementType) : nullptr) {
        out.requirement = *explicitOne;
    } else {
        ImplicitRequirementInput input;
        input.identifier = primary.identifier;
        input.adhoc = facts.adhoc;
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

    RequirementContext context;
    context.identifier = primary.identifier;
    context.teamId = primary.teamId;
    context.platform = primary.platform;
    for (const auto& cd : sig.codeDirectories) {
        context.cdhashes.push_back(codeDirectoryHash(cd));
        context.cdhashes.push_back(codeDirectoryHashFull(cd));
    }
    context.chain = std::move(chain);
    context.chainValid = facts.chainValid && facts.certificates &&
                         context.chain.size() == facts.certificates->size();
    context.appleRootsDer = appleRoots;
    // An Info.plist the directory does not bind is anyone's to write: it answers no requirement.
    bool infoBound = false;
    if (primary.nSpecialSlots >= CSSLOT_INFOSLOT) {
        for (std::byte b : primary.specialSlot(CSSLOT_INFOSLOT)) infoBound = infoBound || b != std::byte{0};
    }
    if (infoBound && facts.infoPlist && *facts.infoPlist) context.info = dictionaryOf(asByteSpan(**facts.infoPlist));
    if (auto payload = sig.entitlementsPayload()) context.entitlements = dictionaryOf(*payload);
    context.notarized = facts.notarized;
    auto result = tessarin::evaluate(*out.requirement, context);
    out.satisfied = result.holds;
    if (!result.error.empty()) out.failure = result.error;
    return out;
}

}  // namespace tessarin
