// The designated requirement of one slice: read from its requirements set or derived as codesign
// derives it, and evaluated against what verification established about the slice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "codesign/Requirement.h"
#include "codesign/RequirementEvaluator.h"
#include "crypto/Trust.h"
#include "verify/SliceCheck.h"

namespace tessarin {

struct SliceRequirementFacts {
    ByteSpan slice;                         // a thin slice's bytes
    std::optional<ByteSpan> superBlob;      // or the signature itself, for code that has no slice
    const SignatureFacts* facts = nullptr;  // as describeSlice or checkSlice found them
    // Every architecture's CDHashes, for the requirement ad hoc code is given.
    std::vector<Bytes> allCdhashes;
    std::optional<ByteSpan> infoPlist;         // the bundle's, when there is one
    const TrustAnchors* appleRoots = nullptr;  // what "anchor apple" means: the verifier's anchors
    bool notarized = false;
};

// The CDHashes of a thin slice's CodeDirectories, in slot order; none when it has no readable signature.
std::vector<Bytes> sliceCdhashes(ByteSpan slice);

struct DesignatedRequirementVerdict {
    std::optional<RequirementSet> set;  // nothing when the signature has none or it is malformed
    std::string setProblem;             // why the set could not be read
    std::optional<Requirement> requirement;
    bool implicit = false;  // derived, not carried by the signature
    bool satisfied = false;
    std::string failure;  // why it could not be judged (malformed, not derivable)
};

// Evaluates any requirement against the slice: its own identifier and CDHashes, its chain as the
// facts judged it, the Info.plist when the facts say the directory binds it, its entitlements.
RequirementResult evaluateOnSlice(const SliceRequirementFacts& facts, const Requirement& requirement);

// Reads the set and picks or derives the designated requirement; evaluates it when `evaluate`
// (the chain must then have been judged: its validity is taken from the facts).
DesignatedRequirementVerdict judgeDesignatedRequirement(const SliceRequirementFacts& facts, bool evaluate);

}  // namespace tessarin
