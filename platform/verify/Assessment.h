// Gatekeeper-style assessment: whether code or a package would be allowed to run or install, and on
// what grounds ("source"), judged offline from the signature, its chain and any stapled ticket.
#pragma once

#include <string>
#include <vector>

#include "verify/CodeSignVerifier.h"
#include "crypto/Trust.h"

namespace tessarin {

enum class AssessmentType { Execute, Install };

struct Assessment {
    bool accepted = false;
    std::string reason;              // for rejections; printed in parentheses after "rejected"
    std::string source;              // "Notarized Developer ID", "Developer ID", "Apple System", ...
    std::string origin;              // the leaf certificate's common name; empty when none
    std::vector<std::string> notes;  // plain lines on what could not be confirmed offline
};

// The policy applied to a code verdict made against the anchors the caller trusts.
Assessment assessCodeVerdict(const CodeVerdict& verdict);

// Whether a stapled ticket names one of the code's CDHashes. Only the presence of the hash is
// checked: the ticket's own signature by Apple is not verified.
bool ticketNamesCode(const Bytes& ticket, const CodeVerdict& verdict);

// Assesses the item at `path`: code for Execute, a flat installer package for Install.
Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors);

}  // namespace tessarin
