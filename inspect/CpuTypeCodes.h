// The Mach-O CPU type codes that an item's architecture list holds and the views and reports name,
// read as signed integers; kept apart from macho/ so that the views need no format headers.
#pragma once

#include <cstdint>

namespace tessarin {

inline constexpr std::int32_t kCpuType32BitIntel = 7;             // CPU_TYPE_I386
inline constexpr std::int32_t kCpuType32BitPowerPC = 18;          // CPU_TYPE_POWERPC
inline constexpr std::int32_t kCpuType64BitIntel = 0x01000007;    // CPU_TYPE_X86_64, 16777223
inline constexpr std::int32_t kCpuType64BitPowerPC = 0x01000012;  // CPU_TYPE_POWERPC64, 16777234
inline constexpr std::int32_t kCpuTypeArm64 = 0x0100000C;         // CPU_TYPE_ARM64, 16777228

}  // namespace tessarin
