// Notarization tickets: the one place that decides whether a ticket names a piece of code or a package.
#pragma once

#include <vector>

#include "base/Bytes.h"

namespace tessarin {

// Whether a ticket names `digest`: it must begin with the ticket magic and hold the digest's first 20
// bytes (the form in which notarization records name a digest). The ticket's own signature by Apple
// is not verified here.
bool ticketNamesDigest(const Bytes& ticket, const Bytes& digest);

// Whether it names any of `digests` (every CDHash of a piece of code).
bool ticketNamesAnyDigest(const Bytes& ticket, const std::vector<Bytes>& digests);

}  // namespace tessarin
