// Constants of notarization tickets (all integers little-endian), named as the ticket's own magics read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessarin {

inline constexpr std::uint32_t TICKET_MAGIC = 0x68633873;  // "s8ch" read little-endian
inline constexpr std::uint32_t TICKET_VERSION = 1;
inline constexpr std::uint32_t TICKET_CONTENT_MAGIC = 0x6b743867;  // "g8tk" read little-endian
inline constexpr std::uint16_t TICKET_CONTENT_VERSION = 2;
inline constexpr std::uint16_t TICKET_HASH_LENGTH = 20;  // digests are named by their first 20 bytes
inline constexpr std::uint8_t TICKET_HASH_SHA1 = 1;
inline constexpr std::uint8_t TICKET_HASH_SHA256 = 2;
inline constexpr std::size_t TICKET_HEADER_SIZE = 16;
inline constexpr std::size_t TICKET_CONTENT_HEADER_SIZE = 24;
// The leaf that signs tickets ("Software Ticket Signing") carries this extension.
inline constexpr const char* TICKET_SIGNING_OID = "1.2.840.113635.100.6.1.30";

}  // namespace tessarin
