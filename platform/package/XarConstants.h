// Constants of the xar archive format (flat Installer packages) and of the stapled-ticket trailer,
// under the names xar's own headers give them.
#pragma once

#include <cstdint>

namespace tessarin {

inline constexpr std::uint32_t XAR_HEADER_MAGIC = 0x78617221;  // "xar!"
inline constexpr std::uint16_t XAR_HEADER_SIZE = 28;           // without a checksum name
inline constexpr std::uint16_t XAR_HEADER_VERSION = 1;

inline constexpr std::uint32_t XAR_CKSUM_NONE = 0;
inline constexpr std::uint32_t XAR_CKSUM_SHA1 = 1;
inline constexpr std::uint32_t XAR_CKSUM_MD5 = 2;
inline constexpr std::uint32_t XAR_CKSUM_OTHER = 3;  // the algorithm's name follows the fixed header

// A stapled notarization ticket follows the archive between two 16-byte little-endian trailers.
inline constexpr std::uint32_t TICKET_TRAILER_MAGIC = 0x726c3874;  // "t8lr" read little-endian
inline constexpr std::uint16_t TICKET_TRAILER_VERSION = 1;
inline constexpr std::uint16_t TICKET_TRAILER_TERMINATOR = 1;
inline constexpr std::uint16_t TICKET_TRAILER_TICKET = 2;
inline constexpr std::uint32_t TICKET_TRAILER_SIZE = 16;

// Limits that keep a hostile archive from sizing our allocations.
// Real tables of contents are kilobytes; this bounds what a hostile one costs in time and memory.
inline constexpr std::uint64_t kXarMaxTocSize = 16ull << 20;  // inflated table of contents
inline constexpr std::uint64_t kXarMaxTocElements = 250000;
inline constexpr std::uint32_t kXarMaxTocDepth = 128;
inline constexpr std::uint64_t kXarMaxPathBytes = 16ull << 20;  // all file paths together
inline constexpr std::uint64_t kXarMaxTicketSize = 1ull << 20;

}  // namespace tessarin
