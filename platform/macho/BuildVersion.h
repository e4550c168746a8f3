// The platform a slice was built for, with its minimum OS and SDK: LC_BUILD_VERSION, or the older
// LC_VERSION_MIN_* commands that imply the platform.
#pragma once

#include <cstdint>
#include <optional>

#include "base/ByteReader.h"
#include "macho/MachO.h"

namespace tessarin {

// PLATFORM_* as <mach-o/loader.h> numbers them.
inline constexpr std::uint32_t PLATFORM_MACOS = 1;
inline constexpr std::uint32_t PLATFORM_IOS = 2;
inline constexpr std::uint32_t PLATFORM_TVOS = 3;
inline constexpr std::uint32_t PLATFORM_WATCHOS = 4;
inline constexpr std::uint32_t PLATFORM_BRIDGEOS = 5;
inline constexpr std::uint32_t PLATFORM_MACCATALYST = 6;
inline constexpr std::uint32_t PLATFORM_IOSSIMULATOR = 7;
inline constexpr std::uint32_t PLATFORM_TVOSSIMULATOR = 8;
inline constexpr std::uint32_t PLATFORM_WATCHOSSIMULATOR = 9;
inline constexpr std::uint32_t PLATFORM_DRIVERKIT = 10;
inline constexpr std::uint32_t PLATFORM_VISIONOS = 11;
inline constexpr std::uint32_t PLATFORM_VISIONOSSIMULATOR = 12;

struct BuildVersion {
    std::uint32_t platform = 0;  // PLATFORM_*
    std::uint32_t minos = 0;     // xxxx.yy.zz nibbles, as the command stores it
    std::uint32_t sdk = 0;       // 0 when the command names none
};

// The first build version command of the slice; nothing when it has none or its load commands are
// malformed (the slice's own parse says why).
std::optional<BuildVersion> buildVersionOf(ByteSpan fileBytes, const MachOSlice& slice);

}  // namespace tessarin
