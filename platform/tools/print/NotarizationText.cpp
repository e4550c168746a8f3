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

}  // namespace tessarin
