// DER's tag-length-value frames read through the bounded reader, for formats that wrap DER in a
// layout of their own (certificate lists inside tickets). The contents are left to OpenSSL.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/ByteReader.h"

namespace tessarin {

inline constexpr std::uint8_t DER_SEQUENCE = 0x30;

struct DerElement {
    std::uint8_t tag = 0;
    std::uint64_t offset = 0;         // of the tag
    std::uint64_t headerLength = 0;   // tag and length octets
    std::uint64_t contentLength = 0;  // without the end-of-contents octets of an indefinite length
    bool indefinite = false;
    std::uint64_t contentOffset() const { return offset + headerLength; }
    std::uint64_t end() const { return offset + headerLength + contentLength + (indefinite ? 2 : 0); }
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

// The same for BER, which signers wrote before DER took over: a constructed element may have an
// indefinite length, ended by two zero octets, and its end is found by reading its children, at most
// `depth` levels down.
inline std::optional<DerElement> readBerElement(const ByteReader& bytes, std::uint64_t offset, unsigned depth = 32) {
    auto tag = bytes.u8(offset);
    auto first = bytes.u8(offset + 1);
    if (!tag || !first || (*tag & 0x1f) == 0x1f) return std::nullopt;
    if (*first != 0x80) return readDerElement(bytes, offset);
    if (!(*tag & 0x20) || depth == 0) return std::nullopt;  // only constructed elements may be indefinite
    DerElement e;
    e.tag = *tag;
    e.offset = offset;
    e.headerLength = 2;
    e.indefinite = true;
    for (std::uint64_t at = e.contentOffset();;) {
        auto a = bytes.u8(at);
        auto b = bytes.u8(at + 1);
        if (!a || !b) return std::nullopt;
        if (*a == 0 && *b == 0) {
            e.contentLength = at - e.contentOffset();
            return e;
        }
        auto child = readBerElement(bytes, at, depth - 1);
        if (!child) return std::nullopt;
        at = child->end();
    }
}

// The elements directly inside `parent`, at most `maxChildren` of them; nothing when one cannot be
// read or there are more.
inline std::optional<std::vector<DerElement>> readBerChildren(const ByteReader& bytes, const DerElement& parent,
                                                              std::size_t maxChildren) {
    std::vector<DerElement> children;
    const std::uint64_t end = parent.contentOffset() + parent.contentLength;
    for (std::uint64_t at = parent.contentOffset(); at < end;) {
        if (children.size() == maxChildren) return std::nullopt;
        auto child = readBerElement(bytes, at);
        if (!child || child->end() > end) return std::nullopt;
        children.push_back(*child);
        at = child->end();
    }
    return children;
}

}  // namespace tessarin
