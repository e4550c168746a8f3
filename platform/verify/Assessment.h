// Gatekeeper-style assessment: whether code or a package would be allowed to run or install, and on
// what grounds ("source"), judged offline from the signature, its chain and any stapled ticket.
#pragma once

#include <string>
#include <vector>

#include "verify/CodeSignVerifier.h"
#include "crypto/Trust.h"
#include "notary/Ticket.h"

namespace tessarin {

enum class AssessmentType { Execute, Install };

struct Assessment {
    bool accepted = false;
    std::string reason;              // for rejections; printed in parentheses after "rejected"
    std::string source;              // "Notarized Developer ID", "Developer ID", "Apple System", ...
    std::string origin;              // the leaf certificate's common name; empty when none
    // Developer ID, where notarization decides between "Notarized Developer ID" and "Developer ID":
    // the stapled ticket as checked (default when none). The tool that prints words the note.
    bool notarizationConsidered = false;
    bool package = false;            // assessed as an installer package (else as code)
    TicketCheck ticket;
};

// The policy applied to a code verdict made against the anchors the caller trusts; a stapled ticket
// counts only when it verifies against `ticketAnchors` and names one of the code's CDHashes.
Assessment assessCodeVerdict(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors);

// The code's stapled ticket checked against every CDHash of the code.
TicketCheck checkTicketForCode(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors);

// Assesses the item at `path`: code for Execute, a flat installer package for Install.
Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors);

}  // namespace tessarin
