// spctl's lines: the verdict, the deciding rule, the signer and what offline assessment cannot tell.
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

std::vector<std::string> notarizationNotes(const Assessment& a) {
    const char* item = a.package ? "package" : "code";
    switch (a.notarization) {
    case NotarizationNote::None:
    case NotarizationNote::TicketNamesItem: return {};
    case NotarizationNote::NoTicket: return {"note: notarization could not be confirmed offline (no stapled ticket)"};
    case NotarizationNote::TicketNotValid:
        return {"note: notarization could not be confirmed offline (the stapled ticket was not accepted: " +
                ticketFailureText(a.ticket.failure) + ")"};
    case NotarizationNote::TicketDoesNotNameItem:
        return {
            std::string("note: notarization could not be confirmed offline (the stapled ticket does not name this ") +
            item + ")"};
    }
    return {};
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
