// The one bounds-checked reader through which all format code reads untrusted bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include "base/Bytes.h"

namespace tessarin {

// Every read checks its range; a failed read returns nothing and leaves the reader usable.
// Offsets are 64-bit so that offset + size arithmetic from a file's own fields cannot wrap.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(ByteSpan bytes) : bytes_(bytes) {}
    ByteReader(const void* data, std::size_t size) : bytes_(static_cast<const std::byte*>(data), size) {}

    std::uint64_t size() const { return bytes_.size(); }
    ByteSpan all() const { return bytes_; }

    // True when [offset, offset + length) lies inside the bytes, without overflow.
    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    std::optional<std::uint8_t> u8(std::uint64_t offset) const {
        if (!contains(offset, 1)) return std::nullopt;
        return static_cast<std::uint8_t>(bytes_[offset]);
    }
    std::optional<std::uint16_t> u16be(std::uint64_t offset) const { return be<std::uint16_t>(offset); }
    std::optional<std::uint16_t> u16le(std::uint64_t offset) const { return le<std::uint16_t>(offset); }
    std::optional<std::uint32_t> u32be(std::uint64_t offset) const { return be<std::uint32_t>(offset); }
    std::optional<std::uint32_t> u32le(std::uint64_t offset) const { return le<std::uint32_t>(offset); }
    std::optional<std::uint64_t> u64be(std::uint64_t offset) const { return be<std::uint64_t>(offset); }
    std::optional<std::uint64_t> u64le(std::uint64_t offset) const { return le<std::uint64_t>(offset); }
    std::optional<std::uint32_t> u32(std::uint64_t offset, bool bigEndian) const {
        return bigEndian ? u32be(offset) : u32le(offset);
    }
    std::optional<std::uint64_t> u64(std::uint64_t offset, bool bigEndian) const {
        return bigEndian ? u64be(offset) : u64le(offset);
    }

    std::optional<ByteSpan> bytes(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length)) return std::nullopt;
        return bytes_.subspan(offset, length);
    }
    std::optional<ByteReader> sub(std::uint64_t offset, std::uint64_t length) const {
        auto b = bytes(offset, length);
        if (!b) return std::nullopt;
        return ByteReader(*b);
    }

    // A NUL-terminated string starting at offset, at most maxLength bytes before its NUL;
    // nothing when no NUL is found in range.
    std::optional<std::string> cstring(std::uint64_t offset, std::uint64_t maxLength) const {
        if (offset >= bytes_.size()) return std::nullopt;
        std::uint64_t limit = bytes_.size() - offset;
        if (maxLength < limit) limit = maxLength + 1;
        for (std::uint64_t i = 0; i < limit; ++i) {
            if (bytes_[offset + i] == std::byte{0})
                return std::string(reinterpret_cast<const char*>(bytes_.data() + offset), i);
        }
        return std::nullopt;
    }

    std::optional<std::string_view> text(std::uint64_t offset, std::uint64_t length) const {
        auto b = bytes(offset, length);
        if (!b) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(b->data()), b->size());
    }

private:
    template <class T>
    std::optional<T> be(std::uint64_t offset) const {
        if (!contains(offset, sizeof(T))) return std::nullopt;
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v = static_cast<T>((v << 8) | static_cast<std::uint8_t>(bytes_[offset + i]));
        return v;
    }
    template <class T>
    std::optional<T> le(std::uint64_t offset) const {
        if (!contains(offset, sizeof(T))) return std::nullopt;
        T v = 0;
        for (std::size_t i = sizeof(T); i-- > 0;)
            v = static_cast<T>((v << 8) | static_cast<std::uint8_t>(bytes_[offset + i]));
        return v;
    }

    ByteSpan bytes_;
};

}  // namespace tessarin
