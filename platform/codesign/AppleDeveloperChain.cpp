// Asks Apple's own requirement for developer certificates of a chain, as the verifier does before it
// compares the leaf's team with the code's.
#include "codesign/AppleDeveloperChain.h"

#include <string_view>

#include "codesign/RequirementEvaluator.h"
#include "codesign/RequirementParser.h"

namespace tessarin {

namespace {

// Apple's five kinds, or'ed: Mac and iOS development (6.1.2, 6.1.12), Developer ID (6.1.13 under an
// intermediate marked 6.2.6), Mac and iOS distribution (6.1.7, 6.1.4). Mac App Store (6.1.9) and
// Apple's own code are not among them.
constexpr std::string_view kAppleDeveloper =
    "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.2] exists) or "
    "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.12] exists) or "
    "(anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists"
    " and certificate leaf[field.1.2.840.113635.100.6.1.13] exists) or "
    "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.7] exists) or "
    "(anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.4] exists)";

}  // namespace

bool isAppleDeveloperChain(const std::vector<CertificateFields>& chain, bool chainValid,
                           const std::vector<Bytes>& appleRootsDer) {
    static const Result<Requirement> requirement = parseRequirementText(kAppleDeveloper);
    if (!requirement) return false;
    RequirementContext context;
    context.chain = chain;
    context.chainValid = chainValid;
    context.appleRootsDer = appleRootsDer;
    return evaluate(*requirement, context).holds;
}

}  // namespace tessarin
