// spctl's lines: the verdict, the deciding rule, the signer and what the assessment could not tell
// about notarization, offline or online.
#include "tools/print/AssessmentText.h"
#include "tools/print/Printable.h"

#include "tools/print/CodeText.h"
#include "tools/print/NotarizationText.h"

namespace tessarin {

std::string assessmentSource(const Assessment& a) {
    switch (a.source) {
    case AssessmentSource::None: return "";
    case AssessmentSource::NoUsableSignature: return "no usable signature";
    case AssessmentSource::AppleSystem: return "Apple System";
    case AssessmentSource::MacAppStore: return "Mac App Store";
    case AssessmentSource::DeveloperID: return "Developer ID";
    case AssessmentSource::NotarizedDeveloperID: return "Notarized Developer ID";
    case AssessmentSource::UnnotarizedDeveloperID: return "Unnotarized Developer ID";
    }
    return "";
}

std::string assessmentReason(const Assessment& a) {
    switch (a.reason) {
    case RejectionReason::None:
    case RejectionReason::Unsigned: return "";
    case RejectionReason::CodeInvalid: {
        CodeVerdict cause;
        cause.cause = a.codeCause;
        return codeFailureSentence(cause);
    }
    case RejectionReason::SignatureInvalid:
    case RejectionReason::PackageInvalid: return a.detail;
    case RejectionReason::UntrustedRoot:
        return a.detail.empty() ? "the certificates do not reach a trusted root" : a.detail;
    case RejectionReason::RequirementNotSatisfied: return "the code does not satisfy its designated requirement";
    case RejectionReason::NotForDistribution: return "the signing certificate is not for distribution";
    case RejectionReason::NotForDistributionOutsideStore:
        return "the signing certificate is not for distribution outside the App Store";
    case RejectionReason::NotAPackage: return "not a flat installer package";
    case RejectionReason::NotAnApp: return "the code is valid but does not seem to be an app";
    }
    return "";
}

namespace {

std::string stapledTicketClause(const Assessment& a, const char* item) {
    switch (a.notarization) {
    case NotarizationNote::NoTicket: return "no stapled ticket";
    case NotarizationNote::TicketNotValid:
        return "the stapled ticket was not accepted: " + ticketFailureText(a.ticket.failure);
    case NotarizationNote::TicketDoesNotNameItem: return std::string("the stapled ticket does not name this ") + item;
    default: return "";
    }
}

std::vector<std::string> notarizationNotes(const Assessment& a) {
    const std::string item = a.package ? "package" : "code";
    if (a.lookup.outcome == OnlineLookup::Outcome::Verified)
        return {"note: notarized by a ticket the online lookup returned (" + stapledTicketClause(a, item.c_str()) +
                ")"};
    if (a.notarization == NotarizationNote::None || a.notarization == NotarizationNote::TicketNamesItem) return {};
    const bool online = a.lookup.outcome != OnlineLookup::Outcome::NotMade;
    std::vector<std::string> notes{std::string("note: notarization could not be confirmed") +
                                   (online ? "" : " offline") + " (" + stapledTicketClause(a, item.c_str()) + ")"};
    switch (a.lookup.outcome) {
    case OnlineLookup::Outcome::NotMade:
        if (!a.accepted) notes.push_back("note: no online lookup was made");
        break;
    case OnlineLookup::Outcome::Verified: break;
    case OnlineLookup::Outcome::NotFound:
        notes.push_back("note: the online lookup found no ticket for this " + item);
        break;
    case OnlineLookup::Outcome::Failed:
        notes.push_back("note: the online lookup failed" +
                        (a.lookup.detail.empty() ? std::string() : ": " + printable(a.lookup.detail)));
        break;
    case OnlineLookup::Outcome::Forged:
        notes.push_back(a.lookup.ticket.verified
                            ? "note: the online lookup returned a ticket that does not name this " + item
                            : "note: the online lookup returned a ticket that was not accepted: " +
                                  ticketFailureText(a.lookup.ticket.failure));
        break;
    }
    switch (a.obstacle) {
    case NotarizationObstacle::None: break;
    case NotarizationObstacle::NoHardenedRuntime:
        notes.push_back("note: this code cannot have been notarized: it does not use the hardened runtime");
        break;
    }
    return notes;
}

}  // namespace

std::vector<std::string> assessmentNotes(const Assessment& a) {
    std::vector<std::string> notes = notarizationNotes(a);
    if (!a.decidingSlice.empty())
        notes.push_back("note: judged by its " + printable(a.decidingSlice) + " slice, the weakest in the file");
    if (a.receipt) {
        if (a.receipt->chainsToApple)
            notes.push_back("note: Mac App Store receipt present, signed by " + printable(a.receipt->signer));
        else
            notes.push_back("note: Mac App Store receipt present, not signed by Apple (" +
                            printable(a.receipt->detail) + ")");
    }
    return notes;
}

std::string assessmentText(const std::string& path, const Assessment& a, int verbosity) {
    std::string out = printable(path) + ": " + (a.accepted ? "accepted" : "rejected");
    const std::string reason = assessmentReason(a);
    if (!a.accepted && !reason.empty()) out += " (" + printable(reason) + ")";
    out += '\n';
    const std::string source = assessmentSource(a);
    if (verbosity >= 1 && !source.empty()) out += "source=" + source + '\n';
    if (verbosity >= 2 && !a.origin.empty()) out += "origin=" + printable(a.origin) + '\n';
    if (verbosity >= 1)
        for (const auto& note : assessmentNotes(a)) out += note + '\n';
    return out;
}

}  // namespace tessarin
