// Constants of what a flat package's Payload and Scripts hold: cpio archives (odc and newc), gzip or
// Apple's pbzx stream around them, under the names the formats' own headers and manuals use.
#pragma once

#include <cstdint>

namespace tessarin {

// cpio(5): the portable ASCII ("odc") header of octal fields, as pkgbuild writes it, and the "new"
// ASCII header of hexadecimal fields with its CRC variant.
inline constexpr char CPIO_ODC_MAGIC[] = "070707";
inline constexpr char CPIO_NEWC_MAGIC[] = "070701";
inline constexpr char CPIO_NEWC_CRC_MAGIC[] = "070702";
inline constexpr std::uint32_t CPIO_MAGIC_SIZE = 6;
inline constexpr std::uint32_t CPIO_ODC_HEADER_SIZE = 76;
inline constexpr std::uint32_t CPIO_NEWC_HEADER_SIZE = 110;
inline constexpr char CPIO_TRAILER[] = "TRAILER!!!";

// File types in a cpio entry's mode, as <sys/stat.h> numbers them.
inline constexpr std::uint32_t C_ISMASK = 0170000;
inline constexpr std::uint32_t C_ISDIR = 0040000;
inline constexpr std::uint32_t C_ISREG = 0100000;
inline constexpr std::uint32_t C_ISLNK = 0120000;

// pbzx: "pbzx", a big-endian u64 chunk size, then chunks of a big-endian u64 uncompressed size, a
// big-endian u64 stored size and that many bytes: an xz stream, or the bytes themselves when the two
// sizes are equal.
inline constexpr std::uint32_t PBZX_MAGIC = 0x70627a78;  // "pbzx"
inline constexpr std::uint32_t PBZX_HEADER_SIZE = 12;
inline constexpr std::uint32_t PBZX_CHUNK_HEADER_SIZE = 16;

inline constexpr std::uint8_t GZIP_MAGIC[] = {0x1f, 0x8b};
inline constexpr std::uint8_t XZ_MAGIC[] = {0xfd, '7', 'z', 'X', 'Z', 0x00};

// liblzma's own allocations for one xz stream: pbzx chunks are made with small dictionaries (8 MiB at
// xz's default preset); a header asking for more than this is refused rather than honoured.
inline constexpr std::uint64_t kXzMemoryLimit = 128ull << 20;
// A symbolic link's target is its entry's data; macOS paths are at most 1024 bytes.
inline constexpr std::uint64_t kCpioMaxLinkTarget = 4096;

}  // namespace tessarin
