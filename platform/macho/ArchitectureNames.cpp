// The architecture names lipo prints, by CPU type and subtype; pairs it does not know print as llvm-lipo does.
#include <array>
#include <string_view>

#include "macho/MachO.h"

namespace tessarin {

namespace {

struct ArchitectureName {
    std::int32_t cputype;
    std::int32_t cpusubtype;
    std::string_view name;
};

// Searched in order, so where two names share a pair (pentium and i586, pentpro and i686, veo and
// veo2) the first is the one printed.
constexpr std::array kNames{
    ArchitectureName{CPU_TYPE_POWERPC64, CPU_SUBTYPE_POWERPC_ALL, "ppc64"},
    ArchitectureName{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL, "x86_64"},
    ArchitectureName{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H, "x86_64h"},
    ArchitectureName{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64_ALL, "arm64"},
    ArchitectureName{CPU_TYPE_POWERPC64, CPU_SUBTYPE_POWERPC_970, "ppc970-64"},
    ArchitectureName{CPU_TYPE_ARM64_32, CPU_SUBTYPE_ARM64_32_V8, "arm64_32"},
    ArchitectureName{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E, "arm64e"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_ALL, "ppc"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_I386_ALL, "i386"},
    ArchitectureName{CPU_TYPE_MC680x0, CPU_SUBTYPE_MC680x0_ALL, "m68k"},
    ArchitectureName{CPU_TYPE_HPPA, CPU_SUBTYPE_HPPA_ALL, "hppa"},
    ArchitectureName{CPU_TYPE_SPARC, CPU_SUBTYPE_SPARC_ALL, "sparc"},
    ArchitectureName{CPU_TYPE_MC88000, CPU_SUBTYPE_MC88000_ALL, "m88k"},
    ArchitectureName{CPU_TYPE_I860, CPU_SUBTYPE_I860_ALL, "i860"},
    ArchitectureName{CPU_TYPE_VEO, CPU_SUBTYPE_VEO_ALL, "veo"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_ALL, "arm"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_601, "ppc601"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_603, "ppc603"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_603e, "ppc603e"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_603ev, "ppc603ev"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_604, "ppc604"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_604e, "ppc604e"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_620, "ppc620"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_750, "ppc750"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_7400, "ppc7400"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_7450, "ppc7450"},
    ArchitectureName{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_970, "ppc970"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_486, "i486"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_486SX, "i486SX"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENT, "pentium"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_586, "i586"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENTPRO, "pentpro"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENTPRO, "i686"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENTII_M3, "pentIIm3"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENTII_M5, "pentIIm5"},
    ArchitectureName{CPU_TYPE_I386, CPU_SUBTYPE_PENTIUM_4, "pentium4"},
    ArchitectureName{CPU_TYPE_MC680x0, CPU_SUBTYPE_MC68030_ONLY, "m68030"},
    ArchitectureName{CPU_TYPE_MC680x0, CPU_SUBTYPE_MC68040, "m68040"},
    ArchitectureName{CPU_TYPE_HPPA, CPU_SUBTYPE_HPPA_7100LC, "hppa7100LC"},
    ArchitectureName{CPU_TYPE_VEO, CPU_SUBTYPE_VEO_1, "veo1"},
    ArchitectureName{CPU_TYPE_VEO, CPU_SUBTYPE_VEO_2, "veo2"},
    ArchitectureName{CPU_TYPE_VEO, CPU_SUBTYPE_VEO_3, "veo3"},
    ArchitectureName{CPU_TYPE_VEO, CPU_SUBTYPE_VEO_4, "veo4"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V4T, "armv4t"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V5TEJ, "armv5"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_XSCALE, "xscale"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V6, "armv6"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V6M, "armv6m"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7, "armv7"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7F, "armv7f"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7S, "armv7s"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7K, "armv7k"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7M, "armv7m"},
    ArchitectureName{CPU_TYPE_ARM, CPU_SUBTYPE_ARM_V7EM, "armv7em"},
    ArchitectureName{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64_V8, "arm64v8"},
};

}  // namespace

std::string architectureName(std::int32_t cputype, std::int32_t cpusubtype) {
    const std::int32_t subtype = cpusubtype & ~CPU_SUBTYPE_MASK;
    for (const auto& entry : kNames) {
        if (entry.cputype == cputype && entry.cpusubtype == subtype) return std::string(entry.name);
    }
    // Unknown pairs: the type as an unsigned number, the subtype without its capability bits.
    return "unknown(" + std::to_string(static_cast<std::uint32_t>(cputype)) + "," +
           std::to_string(static_cast<std::uint32_t>(subtype)) + ")";
}

}  // namespace tessarin
