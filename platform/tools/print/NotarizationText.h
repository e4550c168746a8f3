// What the stand-in tools say about a stapled notarization ticket: the failed step in words, and
// spctl's note on notarization.
#pragma once

#include <string>
#include <vector>

#include "notary/Ticket.h"
#include "verify/Assessment.h"

namespace tessarin {

// The step a ticket failed, as a clause ("its signature does not verify"); empty for None.
std::string ticketFailureText(TicketFailure failure);

// The lines spctl adds after "source=" when notarization could not be confirmed offline.
std::vector<std::string> assessmentNotes(const Assessment& assessment);

}  // namespace tessarin
