// The designated requirement codesign derives for code whose signature carries none.
#pragma once

#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"
#include "codesign/Requirement.h"
#include "crypto/CertificateFields.h"

namespace tessarin {

// For ad hoc code `cdhash H"..."` for every CDHash (of every architecture); otherwise the identifier
// and: for a chain ending in an Apple root (by its bytes), "anchor apple generic" with Developer ID's
// or Apple Development's markers, else "anchor apple"; for any other root, the hash of the highest
// certificate that shares the leaf's organization.
struct ImplicitRequirementInput {
    std::string identifier;
    bool adhoc = false;
    std::vector<Bytes> cdhashes;           // ad hoc: in architecture order, each slice's in slot order
    std::vector<CertificateFields> chain;  // leaf first
    std::vector<Bytes> appleRootsDer;
};
Result<Requirement> implicitDesignatedRequirement(const ImplicitRequirementInput& input);

}  // namespace tessarin
