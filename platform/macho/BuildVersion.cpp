// Reads a slice's build version from its load commands, in the slice's own byte order.
#include "macho/BuildVersion.h"

namespace tessarin {

std::optional<BuildVersion> buildVersionOf(ByteSpan fileBytes, const MachOSlice& slice) {
    if (!slice.machO) return std::nullopt;
    auto commands = parseLoadCommands(fileBytes, slice);
    if (!commands) return std::nullopt;
    const ByteReader r(fileBytes);
    auto u32 = [&](std::uint64_t at) {
        return slice.bigEndian ? r.u32be(slice.offset + at) : r.u32le(slice.offset + at);
    };
    for (const LoadCommand& lc : *commands) {
        std::uint32_t platform = 0;
        switch (lc.cmd) {
        case LC_BUILD_VERSION: {
            auto p = u32(lc.offset + 8), minos = u32(lc.offset + 12), sdk = u32(lc.offset + 16);
            if (lc.cmdsize < 24 || !p || !minos || !sdk) return std::nullopt;
            return BuildVersion{*p, *minos, *sdk};
        }
        case LC_VERSION_MIN_MACOSX: platform = PLATFORM_MACOS; break;
        case LC_VERSION_MIN_IPHONEOS: platform = PLATFORM_IOS; break;
        case LC_VERSION_MIN_TVOS: platform = PLATFORM_TVOS; break;
        case LC_VERSION_MIN_WATCHOS: platform = PLATFORM_WATCHOS; break;
        default: continue;
        }
        auto version = u32(lc.offset + 8), sdk = u32(lc.offset + 12);
        if (lc.cmdsize < 16 || !version || !sdk) return std::nullopt;
        return BuildVersion{platform, *version, *sdk};
    }
    return std::nullopt;
}

}  // namespace tessarin
