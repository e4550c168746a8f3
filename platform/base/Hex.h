// Lower-case hexadecimal text of bytes and numbers: digests, CDHashes, flags.
#pragma once

#include <cstdint>
#include <string>

#include "base/Bytes.h"

namespace tessarin {

inline std::string hex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s += kDigits[data[i] >> 4];
        s += kDigits[data[i] & 0xf];
    }
    return s;
}
inline std::string hex(const Bytes& bytes) { return hex(bytes.data(), bytes.size()); }
inline std::string hex(ByteSpan bytes) {
    return hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A number's lower-case hex digits, no padding ("20500").
inline std::string hexDigits(std::uint64_t v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[v & 0xf]);
        v >>= 4;
    } while (v);
    return digits;
}
// The same with "0x" before it ("0x20500").
inline std::string hexNumber(std::uint64_t v) { return "0x" + hexDigits(v); }

}  // namespace tessarin
