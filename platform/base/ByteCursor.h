// A cursor over a ByteReader with a sticky error: read a run of fields, then test the cursor once,
// so that no field read can drift from the size check that guards it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/ByteReader.h"
#include "base/Bytes.h"

namespace tessarin {

// A read that leaves the reader's bytes yields 0 (or an empty span), marks the cursor failed and
// leaves its position where the read was tried; every later read fails the same way, so the
// failure the cursor reports is always the first one.
class ByteCursor {
public:
    ByteCursor(const ByteReader& reader, std::uint64_t offset) : reader_(reader), offset_(offset) {}

    explicit operator bool() const { return !failedAt_; }
    bool ok() const { return !failedAt_; }
    // Where the next read starts.
    std::uint64_t offset() const { return offset_; }
    // Where the first failed read started; nothing while every read has succeeded.
    std::optional<std::uint64_t> failedAt() const { return failedAt_; }
    // A plain sentence about the first failed read, for callers that have no better one.
    std::string error() const {
        if (!failedAt_) return {};
        return "a read of " + std::to_string(failedLength_) + " bytes at offset " + std::to_string(*failedAt_) +
               " extends past the end of " + std::to_string(reader_.size()) + " bytes";
    }

    std::uint8_t u8() { return static_cast<std::uint8_t>(read(1, true)); }
    std::uint16_t u16be() { return static_cast<std::uint16_t>(read(2, true)); }
    std::uint16_t u16le() { return static_cast<std::uint16_t>(read(2, false)); }
    std::uint32_t u32be() { return static_cast<std::uint32_t>(read(4, true)); }
    std::uint32_t u32le() { return static_cast<std::uint32_t>(read(4, false)); }
    std::uint64_t u64be() { return read(8, true); }
    std::uint64_t u64le() { return read(8, false); }
    std::uint32_t u32(bool bigEndian) { return static_cast<std::uint32_t>(read(4, bigEndian)); }
    std::uint64_t u64(bool bigEndian) { return read(8, bigEndian); }
    // A big-endian unsigned integer of 1 to 8 bytes (binary property lists size theirs per file);
    // other sizes fail the cursor.
    std::uint64_t uintBE(unsigned size) {
        if (size < 1 || size > 8) {
            markFailed(size);
            return 0;
        }
        return read(size, true);
    }

    ByteSpan bytes(std::uint64_t length) {
        if (failedAt_) return {};
        auto span = reader_.bytes(offset_, length);
        if (!span) {
            markFailed(length);
            return {};
        }
        offset_ += length;
        return *span;
    }
    void skip(std::uint64_t length) { bytes(length); }

private:
    std::uint64_t read(unsigned size, bool bigEndian) {
        if (failedAt_) return 0;
        auto span = reader_.bytes(offset_, size);
        if (!span) {
            markFailed(size);
            return 0;
        }
        std::uint64_t v = 0;
        for (unsigned i = 0; i < size; ++i)
            v = (v << 8) | static_cast<std::uint8_t>((*span)[bigEndian ? i : size - 1 - i]);
        offset_ += size;
        return v;
    }
    void markFailed(std::uint64_t length) {
        if (failedAt_) return;
        failedAt_ = offset_;
        failedLength_ = length;
    }

    ByteReader reader_;
    std::uint64_t offset_ = 0;
    std::optional<std::uint64_t> failedAt_;
    std::uint64_t failedLength_ = 0;
};

}  // namespace tessarin
