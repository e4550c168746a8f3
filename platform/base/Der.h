// DER's tag-length-value frames read through the bounded reader, for formats that wrap DER in a
// layout of their own (certificate lists inside tickets). The contents are left to OpenSSL.
#pragma once

#include <cstdint>
#include <optional>

#include "base/ByteReader.h"

namespace tessarin {

inline constexpr std::uint8_t DER_SEQUENCE = 0x30;

struct DerElement {
    std::uint8_t tag = 0;
    std::uint64_t offset = 0;        // of the tag
    std::uint64_t headerLength = 0;  // tag and length octets
    std::uint64_t contentLength = 0;
    std::uint64_t contentOffset() const { return offset + headerLength; }
    std::uint64_t end() const { return offset + headerLength + contentLength; }
};

// The element starting at `offset`, when its header is DER (one-octet tag, definite length of at
// most four octets) and its contents lie inside the bytes; nothing otherwise.
inline std::optional<DerElement> readDerElement(const ByteReader& bytes, std::uint64_t offset) {
    auto tag = bytes.u8(offset);
    auto first = bytes.u8(offset + 1);
    if (!tag || !first || (*tag & 0x1f) == 0x1f) return std::nullopt;
    DerElement e;
    e.tag = *tag;
    e.offset = offset;
    if (*first < 0x80) {
        e.headerLength = 2;
        e.contentLength = *first;
    } else {
        const unsigned octets = *first & 0x7fu;
        if (octets == 0 || octets > 4) return std::nullopt;  // indefinite, or longer than any blob we read
        for (unsigned i = 0; i < octets; ++i) {
            auto b = bytes.u8(offset + 2 + i);
            if (!b) return std::nullopt;
            e.contentLength = (e.contentLength << 8) | *b;
        }
        e.headerLength = 2 + octets;
    }
    if (!bytes.contains(e.contentOffset(), e.contentLength)) return std::nullopt;
    return e;
}

}  // namespace tessarin
