// Constants of the embedded code signature, under the names the format's own headers give them.
#pragma once

#include <cstdint>

namespace tessarin {

// Blob magics (big-endian on disk).
inline constexpr std::uint32_t CSMAGIC_REQUIREMENT = 0xfade0c00;
inline constexpr std::uint32_t CSMAGIC_REQUIREMENTS = 0xfade0c01;
inline constexpr std::uint32_t CSMAGIC_CODEDIRECTORY = 0xfade0c02;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_SIGNATURE = 0xfade0cc0;
inline constexpr std::uint32_t CSMAGIC_DETACHED_SIGNATURE = 0xfade0cc1;
inline constexpr std::uint32_t CSMAGIC_BLOBWRAPPER = 0xfade0b01;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_ENTITLEMENTS = 0xfade7171;
inline constexpr std::uint32_t CSMAGIC_EMBEDDED_DER_ENTITLEMENTS = 0xfade7172;

// SuperBlob index slot types.
inline constexpr std::uint32_t CSSLOT_CODEDIRECTORY = 0;
inline constexpr std::uint32_t CSSLOT_INFOSLOT = 1;
inline constexpr std::uint32_t CSSLOT_REQUIREMENTS = 2;
inline constexpr std::uint32_t CSSLOT_RESOURCEDIR = 3;
inline constexpr std::uint32_t CSSLOT_APPLICATION = 4;
inline constexpr std::uint32_t CSSLOT_ENTITLEMENTS = 5;
inline constexpr std::uint32_t CSSLOT_REP_SPECIFIC = 6;  // what the code's form binds: a disk image's trailer
inline constexpr std::uint32_t CSSLOT_DER_ENTITLEMENTS = 7;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORIES = 0x1000;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORY_MAX = 5;
inline constexpr std::uint32_t CSSLOT_ALTERNATE_CODEDIRECTORY_LIMIT =
    CSSLOT_ALTERNATE_CODEDIRECTORIES + CSSLOT_ALTERNATE_CODEDIRECTORY_MAX;
inline constexpr std::uint32_t CSSLOT_SIGNATURESLOT = 0x10000;
inline constexpr std::uint32_t CSSLOT_IDENTIFICATIONSLOT = 0x10001;
inline constexpr std::uint32_t CSSLOT_TICKETSLOT = 0x10002;

// CodeDirectory versions at which fields were added.
inline constexpr std::uint32_t CS_SUPPORTSSCATTER = 0x20100;
inline constexpr std::uint32_t CS_SUPPORTSTEAMID = 0x20200;
inline constexpr std::uint32_t CS_SUPPORTSCODELIMIT64 = 0x20300;
inline constexpr std::uint32_t CS_SUPPORTSEXECSEG = 0x20400;
inline constexpr std::uint32_t CS_SUPPORTSRUNTIME = 0x20500;
inline constexpr std::uint32_t CS_SUPPORTSLINKAGE = 0x20600;

// CodeDirectory flags.
inline constexpr std::uint32_t CS_VALID = 0x00000001;
inline constexpr std::uint32_t CS_ADHOC = 0x00000002;
inline constexpr std::uint32_t CS_GET_TASK_ALLOW = 0x00000004;
inline constexpr std::uint32_t CS_INSTALLER = 0x00000008;
inline constexpr std::uint32_t CS_FORCED_LV = 0x00000010;
inline constexpr std::uint32_t CS_INVALID_ALLOWED = 0x00000020;
inline constexpr std::uint32_t CS_HARD = 0x00000100;
inline constexpr std::uint32_t CS_KILL = 0x00000200;
inline constexpr std::uint32_t CS_CHECK_EXPIRATION = 0x00000400;
inline constexpr std::uint32_t CS_RESTRICT = 0x00000800;
inline constexpr std::uint32_t CS_ENFORCEMENT = 0x00001000;
inline constexpr std::uint32_t CS_REQUIRE_LV = 0x00002000;
inline constexpr std::uint32_t CS_RUNTIME = 0x00010000;
inline constexpr std::uint32_t CS_LINKER_SIGNED = 0x00020000;

// Hash types of CodeDirectories.
inline constexpr std::uint8_t CS_HASHTYPE_SHA1 = 1;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256 = 2;
inline constexpr std::uint8_t CS_HASHTYPE_SHA256_TRUNCATED = 3;
inline constexpr std::uint8_t CS_HASHTYPE_SHA384 = 4;

inline constexpr std::uint32_t CS_SHA1_LEN = 20;
inline constexpr std::uint32_t CS_SHA256_LEN = 32;
inline constexpr std::uint32_t CS_SHA256_TRUNCATED_LEN = 20;
inline constexpr std::uint32_t CS_SHA384_LEN = 48;
inline constexpr std::uint32_t CS_CDHASH_LEN = 20;

// Executable segment flags (CodeDirectory v0x20400).
inline constexpr std::uint64_t CS_EXECSEG_MAIN_BINARY = 0x1;

}  // namespace tessarin
