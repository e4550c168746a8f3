// Mach-O and fat header constants, under the names the format's published headers give them.
#pragma once

#include <cstdint>

namespace tessarin {

// Magic numbers as read in the file's own byte order (fat headers are always big-endian).
inline constexpr std::uint32_t MH_MAGIC = 0xfeedface;
inline constexpr std::uint32_t MH_CIGAM = 0xcefaedfe;
inline constexpr std::uint32_t MH_MAGIC_64 = 0xfeedfacf;
inline constexpr std::uint32_t MH_CIGAM_64 = 0xcffaedfe;
inline constexpr std::uint32_t FAT_MAGIC = 0xcafebabe;
inline constexpr std::uint32_t FAT_CIGAM = 0xbebafeca;
inline constexpr std::uint32_t FAT_MAGIC_64 = 0xcafebabf;
inline constexpr std::uint32_t FAT_CIGAM_64 = 0xbfbafeca;

inline constexpr std::uint64_t MACH_HEADER_SIZE = 28;
inline constexpr std::uint64_t MACH_HEADER_64_SIZE = 32;
inline constexpr std::uint64_t FAT_HEADER_SIZE = 8;
inline constexpr std::uint64_t FAT_ARCH_SIZE = 20;
inline constexpr std::uint64_t FAT_ARCH_64_SIZE = 32;
inline constexpr std::uint64_t LOAD_COMMAND_SIZE = 8;  // cmd, cmdsize
// The largest slice alignment the tools accept: 2^15.
inline constexpr std::uint32_t MAXSECTALIGN = 15;

// CPU types.
inline constexpr std::int32_t CPU_ARCH_MASK = static_cast<std::int32_t>(0xff000000);
inline constexpr std::int32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr std::int32_t CPU_ARCH_ABI64_32 = 0x02000000;
inline constexpr std::int32_t CPU_TYPE_ANY = -1;
inline constexpr std::int32_t CPU_TYPE_VAX = 1;
inline constexpr std::int32_t CPU_TYPE_MC680x0 = 6;
inline constexpr std::int32_t CPU_TYPE_X86 = 7;
inline constexpr std::int32_t CPU_TYPE_I386 = CPU_TYPE_X86;
inline constexpr std::int32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr std::int32_t CPU_TYPE_MC98000 = 10;
inline constexpr std::int32_t CPU_TYPE_HPPA = 11;
inline constexpr std::int32_t CPU_TYPE_ARM = 12;
inline constexpr std::int32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr std::int32_t CPU_TYPE_ARM64_32 = CPU_TYPE_ARM | CPU_ARCH_ABI64_32;
inline constexpr std::int32_t CPU_TYPE_MC88000 = 13;
inline constexpr std::int32_t CPU_TYPE_SPARC = 14;
inline constexpr std::int32_t CPU_TYPE_I860 = 15;
inline constexpr std::int32_t CPU_TYPE_POWERPC = 18;
inline constexpr std::int32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;
inline constexpr std::int32_t CPU_TYPE_VEO = 255;

// CPU subtypes. The top byte holds capability bits, which are not part of the subtype proper.
inline constexpr std::int32_t CPU_SUBTYPE_MASK = static_cast<std::int32_t>(0xff000000);
inline constexpr std::int32_t CPU_SUBTYPE_LIB64 = static_cast<std::int32_t>(0x80000000);
inline constexpr std::int32_t CPU_SUBTYPE_PTRAUTH_ABI = static_cast<std::int32_t>(0x80000000);

constexpr std::int32_t CPU_SUBTYPE_INTEL(std::int32_t family, std::int32_t model) { return family + (model << 4); }
inline constexpr std::int32_t CPU_SUBTYPE_I386_ALL = CPU_SUBTYPE_INTEL(3, 0);
inline constexpr std::int32_t CPU_SUBTYPE_386 = CPU_SUBTYPE_INTEL(3, 0);
inline constexpr std::int32_t CPU_SUBTYPE_486 = CPU_SUBTYPE_INTEL(4, 0);
inline constexpr std::int32_t CPU_SUBTYPE_486SX = CPU_SUBTYPE_INTEL(4, 8);
inline constexpr std::int32_t CPU_SUBTYPE_586 = CPU_SUBTYPE_INTEL(5, 0);
inline constexpr std::int32_t CPU_SUBTYPE_PENT = CPU_SUBTYPE_INTEL(5, 0);
inline constexpr std::int32_t CPU_SUBTYPE_PENTPRO = CPU_SUBTYPE_INTEL(6, 1);
inline constexpr std::int32_t CPU_SUBTYPE_PENTII_M3 = CPU_SUBTYPE_INTEL(6, 3);
inline constexpr std::int32_t CPU_SUBTYPE_PENTII_M5 = CPU_SUBTYPE_INTEL(6, 5);
inline constexpr std::int32_t CPU_SUBTYPE_PENTIUM_4 = CPU_SUBTYPE_INTEL(10, 0);
inline constexpr std::int32_t CPU_SUBTYPE_X86_64_ALL = 3;
inline constexpr std::int32_t CPU_SUBTYPE_X86_64_H = 8;

inline constexpr std::int32_t CPU_SUBTYPE_ARM_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V4T = 5;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V6 = 6;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V5TEJ = 7;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_XSCALE = 8;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7 = 9;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7F = 10;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7S = 11;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7K = 12;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V8 = 13;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V6M = 14;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7M = 15;
inline constexpr std::int32_t CPU_SUBTYPE_ARM_V7EM = 16;
inline constexpr std::int32_t CPU_SUBTYPE_ARM64_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_ARM64_V8 = 1;
inline constexpr std::int32_t CPU_SUBTYPE_ARM64E = 2;
inline constexpr std::int32_t CPU_SUBTYPE_ARM64_32_V8 = 1;

inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_601 = 1;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_602 = 2;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_603 = 3;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_603e = 4;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_603ev = 5;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_604 = 6;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_604e = 7;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_620 = 8;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_750 = 9;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_7400 = 10;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_7450 = 11;
inline constexpr std::int32_t CPU_SUBTYPE_POWERPC_970 = 100;

inline constexpr std::int32_t CPU_SUBTYPE_MC680x0_ALL = 1;
inline constexpr std::int32_t CPU_SUBTYPE_MC68040 = 2;
inline constexpr std::int32_t CPU_SUBTYPE_MC68030_ONLY = 3;
inline constexpr std::int32_t CPU_SUBTYPE_HPPA_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_HPPA_7100LC = 1;
inline constexpr std::int32_t CPU_SUBTYPE_MC88000_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_SPARC_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_I860_ALL = 0;
inline constexpr std::int32_t CPU_SUBTYPE_VEO_1 = 1;
inline constexpr std::int32_t CPU_SUBTYPE_VEO_2 = 2;
inline constexpr std::int32_t CPU_SUBTYPE_VEO_3 = 3;
inline constexpr std::int32_t CPU_SUBTYPE_VEO_4 = 4;
inline constexpr std::int32_t CPU_SUBTYPE_VEO_ALL = CPU_SUBTYPE_VEO_2;

// File types.
inline constexpr std::uint32_t MH_OBJECT = 0x1;
inline constexpr std::uint32_t MH_EXECUTE = 0x2;
inline constexpr std::uint32_t MH_DYLIB = 0x6;
inline constexpr std::uint32_t MH_BUNDLE = 0x8;

// Load commands.
inline constexpr std::uint32_t LC_REQ_DYLD = 0x80000000;
inline constexpr std::uint32_t LC_SEGMENT = 0x1;
inline constexpr std::uint32_t LC_SYMTAB = 0x2;
inline constexpr std::uint32_t LC_UNIXTHREAD = 0x5;
inline constexpr std::uint32_t LC_DYSYMTAB = 0xb;
inline constexpr std::uint32_t LC_LOAD_DYLIB = 0xc;
inline constexpr std::uint32_t LC_ID_DYLIB = 0xd;
inline constexpr std::uint32_t LC_LOAD_DYLINKER = 0xe;
inline constexpr std::uint32_t LC_SEGMENT_64 = 0x19;
inline constexpr std::uint32_t LC_UUID = 0x1b;
inline constexpr std::uint32_t LC_RPATH = 0x1c | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_CODE_SIGNATURE = 0x1d;
inline constexpr std::uint32_t LC_ENCRYPTION_INFO = 0x21;
inline constexpr std::uint32_t LC_DYLD_INFO = 0x22;
inline constexpr std::uint32_t LC_DYLD_INFO_ONLY = 0x22 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_VERSION_MIN_MACOSX = 0x24;
inline constexpr std::uint32_t LC_VERSION_MIN_IPHONEOS = 0x25;
inline constexpr std::uint32_t LC_FUNCTION_STARTS = 0x26;
inline constexpr std::uint32_t LC_MAIN = 0x28 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_DATA_IN_CODE = 0x29;
inline constexpr std::uint32_t LC_SOURCE_VERSION = 0x2a;
inline constexpr std::uint32_t LC_ENCRYPTION_INFO_64 = 0x2c;
inline constexpr std::uint32_t LC_VERSION_MIN_TVOS = 0x2f;
inline constexpr std::uint32_t LC_VERSION_MIN_WATCHOS = 0x30;
inline constexpr std::uint32_t LC_BUILD_VERSION = 0x32;
inline constexpr std::uint32_t LC_DYLD_EXPORTS_TRIE = 0x33 | LC_REQ_DYLD;
inline constexpr std::uint32_t LC_DYLD_CHAINED_FIXUPS = 0x34 | LC_REQ_DYLD;

// Whether a file's first four bytes are a thin Mach-O's magic (either byte order, 32 or 64 bits) or
// a universal file's.
inline bool startsWithMachOMagic(const unsigned char* p) {
    const std::uint32_t be = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    return be == MH_MAGIC || be == MH_CIGAM || be == MH_MAGIC_64 || be == MH_CIGAM_64 || be == FAT_MAGIC ||
           be == FAT_MAGIC_64;
}

}  // namespace tessarin
