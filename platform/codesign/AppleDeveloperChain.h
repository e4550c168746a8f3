// Whether a certificate chain is one Apple issues to developers: the chains whose leaf's
// organizational unit is the team the signed code must name.
#pragma once

#include <vector>

#include "base/Bytes.h"
#include "crypto/CertificateFields.h"

namespace tessarin {

// True when the chain (leaf first, anchor last) satisfies any of Apple's developer requirements: a
// development, distribution or Developer ID leaf under an Apple root. `chainValid`: each certificate
// is signed by the next; `appleRootsDer` are what "anchor apple generic" means (tests give their own).
bool isAppleDeveloperChain(const std::vector<CertificateFields>& chain, bool chainValid,
                           const std::vector<Bytes>& appleRootsDer);

}  // namespace tessarin
