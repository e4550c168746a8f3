// Gatekeeper-style assessment: whether code or a package would be allowed to run or install, and on
// what grounds, judged offline from the signature, its chain and any stapled ticket. Plain data: the
// spctl stand-in words it (tools/print/AssessmentText.h).
#pragma once

#include <string>
#include <vector>

#include "crypto/Trust.h"
#include "notary/Ticket.h"
#include "notary/TicketService.h"
#include "verify/CodeSignVerifier.h"

namespace tessarin {

enum class AssessmentType { Execute, Install };

// The rule that decided ("source=").
enum class AssessmentSource { None, NoUsableSignature, AppleSystem, MacAppStore, DeveloperID, NotarizedDeveloperID };

// Why an item was rejected.
enum class RejectionReason {
    None,
    Unsigned,                        // unsigned or ad hoc: no reason is given
    CodeInvalid,                     // the code fails verification (codeCause says how)
    RequirementNotSatisfied,         // intact code that is not what its designated requirement names
    SignatureInvalid,                // the CMS signature or its chain fails (detail: the signature's own account)
    UntrustedRoot,                   // intact, but the chain reaches no trusted root (detail, when the chain says more)
    NotForDistribution,              // a certificate kind Gatekeeper does not accept
    NotForDistributionOutsideStore,  // a package signed for the App Store only
    NotAPackage,                     // offered for installation, neither a flat package nor code
    NotAnApp,                        // valid code that execution turns away for not being an app
    PackageInvalid,                  // the package could not be judged (detail says why)
};

// What the assessment could say about notarization offline.
enum class NotarizationNote {
    None,
    TicketNamesItem,  // a verified ticket names the item: notarized
    NoTicket,
    TicketNotValid,         // a ticket is stapled but fails verification (ticket.failure says which step)
    TicketDoesNotNameItem,  // a verified ticket names other items only
};

struct Assessment {
    bool accepted = false;
    AssessmentSource source = AssessmentSource::None;
    RejectionReason reason = RejectionReason::None;
    ProblemKind codeCause = ProblemKind::None;  // for CodeInvalid
    std::string detail;                         // a lower layer's own sentence, where the reason carries one
    std::string origin;                         // the leaf certificate's common name; empty when none
    NotarizationNote notarization = NotarizationNote::None;
    TicketCheck ticket;         // the stapled ticket as checked, for Developer ID
    bool package = false;       // a flat package was judged, not code
    std::string decidingSlice;  // the slice whose weaker signature decided, when not the first
};

// The policy applied to a code verdict made against the anchors the caller trusts; a stapled ticket
// counts only when it verifies against `ticketAnchors` and names the CDHashes of the slice judged.
// `service` (null: offline) is asked for a ticket when none stapled names the item; what it returns is
// checked exactly like a stapled ticket.
Assessment assessCodeVerdict(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors,
                             TicketService* service = nullptr);

// Assesses the item at `path`: code for Execute, a flat installer package for Install.
Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors,
                      TicketService* service = nullptr);

}  // namespace tessarin
