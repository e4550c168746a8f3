// The designated requirement of one slice: read from its requirements set or derived as codesign
// derives it, and evaluated against what verification established about the slice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "codesign/CodeSignature.h"
#include "codesign/Requirement.h"
#include "crypto/Trust.h"

namespace tessarin {

struct SliceRequirementFacts {
    const EmbeddedSignature* signature = nullptr;
    bool adhoc = false;
    // The CMS signature's chain (leaf first) and whether each certificate is signed by the next.
    const std::vector<CertificateInfo>* certificates = nullptr;
    bool chainValid = false;
    // Every architecture's CDHashes, for the requirement ad hoc code is given.
    std::vector<Bytes> allCdhashes;
    const std::optional<Bytes>* infoPlist = nullptr;  // the bundle's, when the slice binds it
    const TrustAnchors* appleRoots = nullptr;
    bool notarized = false;
};

struct DesignatedRequirementVerdict {
    std::optional<RequirementSet> set;  // nothing when the signature has none or it is malformed
    std::string setProblem;             // why the set could not be read
    std::optional<Requirement> requirement;
    bool implicit = false;              // derived, not carried by the signature
    bool satisfied = false;
    std::string failure;                // why it could not be judged (malformed, not derivable)
};

// Reads the set and picks or derives the designated requirement; evaluates it when `evaluate`.
DesignatedRequirementVerdict judgeDesignatedRequirement(const SliceRequirementFacts& facts, bool evaluate);

}  // namespace tessarin
