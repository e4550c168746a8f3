// What the stand-in tools say about a stapled notarization ticket that failed verification.
#pragma once

#include <string>

#include "notary/Ticket.h"

namespace tessarin {

// The step a ticket failed, as a clause ("its signature does not verify"); empty for None.
std::string ticketFailureText(TicketFailure failure);

}  // namespace tessarin
