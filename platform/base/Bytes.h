// The byte vocabulary of the platform layer: owned bytes and views of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessarin {

using Bytes = std::vector<std::uint8_t>;      // owned: digests, DER, file contents read whole
using ByteSpan = std::span<const std::byte>;  // a view into bytes someone else owns

inline ByteSpan asByteSpan(const Bytes& bytes) { return std::as_bytes(std::span<const std::uint8_t>(bytes)); }
inline Bytes toBytes(ByteSpan span) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(span.data());
    return Bytes(p, p + span.size());
}

}  // namespace tessarin
