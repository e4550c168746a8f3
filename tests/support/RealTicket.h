// A genuine notarization ticket issued by Apple, for tests and fuzz inputs that need the real thing.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

namespace tessarin::test {

using Bytes = std::vector<std::uint8_t>;

Bytes realTicket();
inline constexpr std::time_t kRealTicketIssued = 1541307799;  // 2018-11-04 05:03:19 UTC
// The eleven CDHashes (first 20 bytes) it names, in its order.
std::vector<Bytes> realTicketCdhashes();

}  // namespace tessarin::test
