// Words for ticket verdicts: the notary layer returns steps, the tools say them.
#include "tools/print/NotarizationText.h"

namespace tessarin {

std::string ticketFailureText(TicketFailure failure) {
    switch (failure) {
        case TicketFailure::None: return {};
        case TicketFailure::Malformed: return "it is not a well-formed notarization ticket";
        case TicketFailure::ChainUntrusted:
            return "its certificates do not reach Apple's ticket root at the time it was issued";
        case TicketFailure::NotTicketSigningLeaf: return "it is not signed by a ticket-signing certificate";
        case TicketFailure::SignatureInvalid: return "its signature does not verify";
    }
    return "it could not be verified";
}

std::vector<std::string> assessmentNotes(const Assessment& a) {
    if (!a.notarizationConsidered || a.ticket.notarized()) return {};
    const std::string item = a.package ? "package" : "code";
    std::string why;
    if (!a.ticket.present) why = "no stapled ticket";
    else if (!a.ticket.verified) why = "the stapled ticket was not accepted: " + ticketFailureText(a.ticket.failure);
    else why = "the stapled ticket does not name this " + item;
    return {"note: notarization could not be confirmed offline (" + why + ")"};
}

}  // namespace tessarin
