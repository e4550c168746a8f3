// The quarantine attribute of an item: its flags text, as the design tests it, and the whole value
// decoded ("flags;hex time;agent;UUID").
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/FileURL.h"

namespace tessarin {

// Empty when the attribute is missing, unreadable, not UTF-8 or shorter than 11 characters.
std::string quarantineFlags(const FileURL& url);

// The flags text of an attribute value already read (the decoding and length rules alone).
std::string quarantineFlagsFromValue(const std::vector<unsigned char>& value);

// Whether a flags text counts as set: four or more characters and a third scalar of "8".
bool quarantineFlagIsSet(const std::string& flags);

// QTN_FLAG_* bits whose meaning Apple's headers give.
inline constexpr std::uint32_t QTN_FLAG_DOWNLOAD = 0x0001;
inline constexpr std::uint32_t QTN_FLAG_SANDBOX = 0x0002;
inline constexpr std::uint32_t QTN_FLAG_HARD = 0x0004;
inline constexpr std::uint32_t QTN_FLAG_USER_APPROVED = 0x0040;

// The attribute value decoded. A malformed value keeps its raw text and says what was wrong.
struct QuarantineRecord {
    std::string raw;      // the value as read
    std::string problem;  // empty when well formed
    std::uint32_t flags = 0;
    std::uint64_t time = 0;  // seconds since 1970, as the value gives them
    std::string agent;       // the application that set it; may be empty
    std::string eventId;     // a UUID, or empty
    bool wellFormed() const { return problem.empty(); }
};

QuarantineRecord decodeQuarantine(std::string_view value);
// The item's attribute decoded; nothing when it has none or it cannot be read.
std::optional<QuarantineRecord> quarantineRecord(const FileURL& url);

// "downloaded", "sandboxed", "hard", "user approved", then "unknown 0x0080" for each other bit.
std::vector<std::string> quarantineFlagNames(std::uint32_t flags);
// Lines for people: the flags with their meaning, the date, the agent and the event; for a malformed
// value what is wrong and the raw text, escaped.
std::string quarantineText(const QuarantineRecord& record);

}  // namespace tessarin
