// Constants of Apple's disk image formats: the UDIF trailer ("koly") and its block tables ("mish"),
// and the headers that mark encrypted and sparse images. All fields are big-endian.
#pragma once

#include <cstdint>

namespace tessarin {

// The trailer: the last 512 bytes of a UDIF image.
inline constexpr std::uint32_t UDIF_SIGNATURE = 0x6b6f6c79;  // "koly"
inline constexpr std::uint32_t UDIF_VERSION = 4;             // the only version Apple's code signing reads
inline constexpr std::uint32_t UDIF_TRAILER_SIZE = 512;

// Field offsets within the trailer.
inline constexpr std::uint32_t UDIF_OFF_VERSION = 4;
inline constexpr std::uint32_t UDIF_OFF_HEADER_SIZE = 8;
inline constexpr std::uint32_t UDIF_OFF_FLAGS = 12;
inline constexpr std::uint32_t UDIF_OFF_RUNNING_DATA_FORK = 16;
inline constexpr std::uint32_t UDIF_OFF_DATA_FORK_OFFSET = 24;
inline constexpr std::uint32_t UDIF_OFF_DATA_FORK_LENGTH = 32;
inline constexpr std::uint32_t UDIF_OFF_RSRC_FORK_OFFSET = 40;
inline constexpr std::uint32_t UDIF_OFF_RSRC_FORK_LENGTH = 48;
inline constexpr std::uint32_t UDIF_OFF_SEGMENT_NUMBER = 56;
inline constexpr std::uint32_t UDIF_OFF_SEGMENT_COUNT = 60;
inline constexpr std::uint32_t UDIF_OFF_SEGMENT_ID = 64;  // 16 bytes
inline constexpr std::uint32_t UDIF_OFF_DATA_CHECKSUM = 80;
inline constexpr std::uint32_t UDIF_OFF_XML_OFFSET = 216;
inline constexpr std::uint32_t UDIF_OFF_XML_LENGTH = 224;
inline constexpr std::uint32_t UDIF_OFF_CODESIGN_OFFSET = 296;  // in what older headers call reserved
inline constexpr std::uint32_t UDIF_OFF_CODESIGN_LENGTH = 304;
inline constexpr std::uint32_t UDIF_OFF_MASTER_CHECKSUM = 352;
inline constexpr std::uint32_t UDIF_OFF_IMAGE_VARIANT = 488;
inline constexpr std::uint32_t UDIF_OFF_SECTOR_COUNT = 492;

// A checksum: type, size in bits, 128 bytes of value.
inline constexpr std::uint32_t UDIF_CHECKSUM_SIZE = 136;
inline constexpr std::uint32_t UDIF_CHECKSUM_CRC32 = 2;

inline constexpr std::uint64_t UDIF_SECTOR_SIZE = 512;

// A block table ("mish" in the plist's resource-fork/blkx entries): a 204-byte header, then
// 40-byte chunk entries.
inline constexpr std::uint32_t BLKX_SIGNATURE = 0x6d697368;  // "mish"
inline constexpr std::uint32_t BLKX_HEADER_SIZE = 204;
inline constexpr std::uint32_t BLKX_CHUNK_SIZE = 40;

// Chunk entry types.
inline constexpr std::uint32_t BLKX_CHUNK_ZERO = 0x00000000;
inline constexpr std::uint32_t BLKX_CHUNK_RAW = 0x00000001;
inline constexpr std::uint32_t BLKX_CHUNK_IGNORE = 0x00000002;
inline constexpr std::uint32_t BLKX_CHUNK_ADC = 0x80000004;
inline constexpr std::uint32_t BLKX_CHUNK_ZLIB = 0x80000005;
inline constexpr std::uint32_t BLKX_CHUNK_BZIP2 = 0x80000006;
inline constexpr std::uint32_t BLKX_CHUNK_LZFSE = 0x80000007;
inline constexpr std::uint32_t BLKX_CHUNK_LZMA = 0x80000008;
inline constexpr std::uint32_t BLKX_CHUNK_COMMENT = 0x7ffffffe;
inline constexpr std::uint32_t BLKX_CHUNK_TERMINATOR = 0xffffffff;

// Encrypted images: version 2 starts with "encrcdsa"; version 1 ends with "cdsaencr".
inline constexpr std::uint64_t ENCRYPTED_V2_MAGIC = 0x656e637263647361;  // "encrcdsa"
inline constexpr std::uint64_t ENCRYPTED_V1_MAGIC = 0x63647361656e6372;  // "cdsaencr"
// Sparse images (.sparseimage) start with "sprs".
inline constexpr std::uint32_t SPARSE_MAGIC = 0x73707273;

}  // namespace tessarin
