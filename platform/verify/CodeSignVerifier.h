// Judges the embedded code signature of a Mach-O file or a bundle: what it says (display) and whether
// the code, its special slots, its CMS signature and a bundle's sealed resources still match it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "codesign/Requirement.h"
#include "crypto/Trust.h"
#include "verify/CodeVerdict.h"

namespace tessarin {

struct CodeVerifyOptions {
    // Display only: parse, compute CDHashes and judge the CMS signature, but hash no code pages and
    // no sealed resources (what `codesign -d` needs; cheap even for large bundles).
    bool checkContents = true;
    // Nested code in a bundle is verified recursively by its own signature. Without it, nested code's
    // signature is still read and every slice checked against the requirement its container sealed.
    bool deep = false;
    // Also check the weaker digest where a seal gives two (SHA-1 beside SHA-256), in the same pass
    // over the bytes; and refuse symbolic links that point out of the bundle.
    bool strict = false;
    // A slice by lipo's name ("x86_64", "arm64"); empty: for display the host's slice else the first,
    // for verification every slice.
    std::string architecture;
    // Sealed files are hashed on up to this many threads when a bundle holds many (0: the machine's
    // cores, at most 4).
    unsigned threads = 0;
    // A requirement the code must also satisfy (codesign -R); its verdict is testRequirementSatisfied.
    std::optional<Requirement> testRequirement;
};

// Judges the code at `path` (a Mach-O file, thin or universal, or a bundle directory). Never throws;
// every failure is a verdict. The shipped tools pass TrustAnchors::appleRoots(); tests their own.
CodeVerdict verifyCode(const std::string& path, const CodeVerifyOptions& options, const TrustAnchors& anchors);

}  // namespace tessarin
