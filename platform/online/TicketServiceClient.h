// Apple's ticket service over HTTPS: one lookup request per digest, bounded in time and size, its
// answer read as untrusted JSON. Used only when the user asks to look online.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "notary/TicketService.h"

namespace tessarin {

inline constexpr const char* kTicketServiceUrl =
    "https://api.apple-cloudkit.com/database/1/com.apple.gk.ticket-delivery/production/public/records/lookup";

struct TicketServiceEndpoint {
    std::string url = kTicketServiceUrl;  // https://, or http:// on the loopback address only
    long timeoutMs = 10000;               // the whole exchange
    long connectTimeoutMs = 4000;
    std::size_t maxResponseBytes = 1u << 20;
};

// Never reads the environment: no proxy, no certificate bundle and no credentials come from it, and
// redirects are not followed.
class TicketServiceClient : public TicketService {
public:
    TicketServiceClient() = default;
    // Refuses (every lookup Fails, saying why) a URL that is neither https:// nor plain http:// to
    // 127.0.0.1, so a test endpoint can never downgrade a lookup that leaves the machine.
    explicit TicketServiceClient(TicketServiceEndpoint endpoint) : endpoint_(std::move(endpoint)) {}
    TicketLookup lookUp(const Bytes& digest, std::uint8_t hashType) override;

private:
    TicketServiceEndpoint endpoint_;
};

// The tools' service for --online: none when offline (nullptr), Apple's by default, or the endpoint a
// test names with the tools' hidden option (empty: Apple's).
std::unique_ptr<TicketService> ticketServiceFor(bool online, const std::string& testUrl);

// Reads the service's reply for one record: the base64 ticket, a NOT_FOUND or deleted record, or a
// Failed lookup with one sentence.
TicketLookup parseTicketLookupReply(std::string_view body);

}  // namespace tessarin
