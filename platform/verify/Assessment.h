// Gatekeeper-style assessment: whether code or a package would be allowed to run, install or open, and
// on what grounds, judged from the signature, its chain, any stapled ticket and, when asked, a ticket
// looked up online. Plain data: the spctl stand-in words it (tools/print/AssessmentText.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "crypto/Trust.h"
#include "notary/Ticket.h"
#include "notary/TicketService.h"
#include "verify/CodeSignVerifier.h"

namespace tessarin {

struct ComponentTree;

// Each type has its own rules: Open is how documents and disk images are judged by their own signature.
enum class AssessmentType { Execute, Install, Open };

// The rule that decided ("source=").
enum class AssessmentSource {
    None,
    NoUsableSignature,
    AppleSystem,
    MacAppStore,
    DeveloperID,
    NotarizedDeveloperID,
    UnnotarizedDeveloperID,  // a Developer ID signature the policy turns away for want of notarization
};

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

// What the stapled ticket said about notarization.
enum class NotarizationNote {
    None,
    TicketNamesItem,  // a verified ticket names the item: notarized
    NoTicket,
    TicketNotValid,         // a ticket is stapled but fails verification (ticket.failure says which step)
    TicketDoesNotNameItem,  // a verified ticket names other items only
};

// Why Developer ID code without a ticket could never have been notarized: since 2020-02-03 the notary
// service takes only code signed with the hardened runtime. Said only when a secure timestamp dates
// the signing from then on, and never beside a ticket that verifies.
enum class NotarizationObstacle { None, NoHardenedRuntime };

// What asking the ticket service found, for the slice (or package) judged.
struct OnlineLookup {
    enum class Outcome {
        NotMade,   // offline, or not needed: a stapled ticket names the item, or it is not Developer ID
        Verified,  // a returned ticket verifies and names the item
        NotFound,  // the service has no ticket for any of the item's digests
        Failed,    // no usable answer (detail says why)
        Forged,    // a ticket came back that fails verification or names other items only (ticket says which)
    };
    Outcome outcome = Outcome::NotMade;
    std::string detail;  // the service's sentence when Failed
    TicketCheck ticket;  // the returned ticket as checked, when Verified or Forged
};

struct Assessment {
    bool accepted = false;
    AssessmentSource source = AssessmentSource::None;
    RejectionReason reason = RejectionReason::None;
    ProblemKind codeCause = ProblemKind::None;  // for CodeInvalid
    std::string detail;                         // a lower layer's own sentence, where the reason carries one
    std::string origin;                         // the leaf certificate's common name; empty when none
    NotarizationNote notarization = NotarizationNote::None;
    TicketCheck ticket;                                          // the stapled ticket as checked, for Developer ID
    OnlineLookup lookup;                                         // for Developer ID without a stapled ticket naming it
    NotarizationObstacle obstacle = NotarizationObstacle::None;  // for Developer ID code not notarized
    bool package = false;                                        // a flat package was judged, not code
    std::string decidingSlice;  // the slice whose weaker signature decided, when not the first

    // An app's store receipt: shown, never deciding.
    std::optional<MasReceiptInfo> receipt;
};

// The policy of `type` applied to a code verdict made against the anchors the caller trusts, in
// Apple's order: the verdict's validation, then Gatekeeper's rule list with notarization among its
// rules. A few strict-validation errors (Apple's evaluateCode lists them) let the rules speak first.
// A stapled ticket counts only when it verifies against `ticketAnchors` and names the CDHashes of the
// slice judged. `service` (null: offline) is asked for a ticket when none stapled names the item;
// what it returns is checked exactly like a stapled ticket. Whether the code is an app is the item's
// to say: assessPath asks it for execution. `stapledCheck`: what checkTicketFor(verdict.ticket, {},
// ticketAnchors) gave, when the caller has already checked those very bytes.
Assessment assessCodeVerdict(const CodeVerdict& verdict, AssessmentType type, const TicketAnchors& ticketAnchors,
                             TicketService* service = nullptr, const TicketCheck* stapledCheck = nullptr);
// The execution policy.
Assessment assessCodeVerdict(const CodeVerdict& verdict, const TicketAnchors& ticketAnchors,
                             TicketService* service = nullptr);

// Assesses the item at `path`: code for Execute, which must also be an app (an APPL bundle with a
// main executable) or be refused once the rules allow it; a flat installer package (or a bare tool
// or a disk image, by its code signature) for Install; for Open, whichever signature the item
// carries, a package's or code's. With `tree`, the item's component tree is built from the same
// verification, so nothing is hashed twice.
Assessment assessPath(const std::string& path, AssessmentType type, const TrustAnchors& anchors,
                      TicketService* service = nullptr, ComponentTree* tree = nullptr);

}  // namespace tessarin
