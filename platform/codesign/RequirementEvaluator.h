// Evaluates a code requirement against what the verifier learned about the code: its identifier,
// CDHashes, certificate chain, Info.plist and entitlements. Plain data in, a verdict out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "codesign/Requirement.h"
#include "crypto/CertificateFields.h"
#include "plist/Plist.h"

namespace tessarin {

struct RequirementContext {
    std::string identifier;
    std::string teamId;
    std::vector<Bytes> cdhashes;  // each CodeDirectory's CDHash (20 bytes), and its full digest
    std::uint8_t platform = 0;    // the CodeDirectory's platform field
    // Leaf first, anchor last, as the verifier built it. Nothing about a certificate holds unless
    // chainValid: each certificate is signed by the next, up to the last.
    std::vector<CertificateFields> chain;
    bool chainValid = false;
    // Apple's roots as shipped (tests inject their own). "anchor apple" and "anchor apple generic"
    // hold only when the chain's last certificate is byte for byte one of these: never by its names.
    std::vector<Bytes> appleRootsDer;
    std::optional<PlistDict> info;          // the bound Info.plist
    std::optional<PlistDict> entitlements;  // the entitlements blob's dictionary
    bool notarized = false;                 // filled by the caller; false offline
    bool legacy = false;                    // pre-notarization Developer ID policy: not judged yet

    const CertificateFields* certificate(std::int32_t index) const;
    bool anchoredInAppleRoot() const;
};

struct RequirementResult {
    bool holds = false;
    std::string error;  // non-empty: the requirement itself is malformed; it does not hold
};

RequirementResult evaluate(const Requirement& requirement, const RequirementContext& context);
}  // namespace tessarin
