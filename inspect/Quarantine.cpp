// Quarantine flags: the attribute value as UTF-8, counted in user-perceived characters; and the
// value's fields decoded.
#include "Quarantine.h"

#include <cstdio>
#include <string_view>

#include "base/DisplayText.h"
#include "base/ExtendedAttributes.h"
#include "base/Hex.h"
#include "base/Unicode.h"

namespace tessarin {

namespace {
constexpr const char* kQuarantineAttribute = "com.apple.quarantine";
constexpr std::size_t kShortestValue = 11;  // characters; anything shorter is no real value
constexpr std::size_t kFlagsLength = 4;
}  // namespace

std::string quarantineFlagsFromValue(const std::vector<unsigned char>& value) {
    std::string_view text(reinterpret_cast<const char*>(value.data()), value.size());
    if (!isValidUtf8(text)) return {};
    auto bounds = graphemeClusterBoundaries(text);
    if (bounds.size() - 1 < kShortestValue) return {};
    return std::string(text.substr(0, bounds[kFlagsLength]));
}

std::string quarantineFlags(const FileURL& url) {
    const std::string path = url.path();
    // A path with a NUL cannot be handed to the system.
    if (path.empty() || path.find('\0') != std::string::npos) return {};
    XattrResult read = readExtendedAttribute(path.c_str(), kQuarantineAttribute);
    if (!read.ok) return {};
    return quarantineFlagsFromValue(read.value);
}

bool quarantineFlagIsSet(const std::string& flags) {
    if (graphemeClusterCount(flags) < kFlagsLength) return false;
    auto scalars = unicodeScalars(flags);
    return scalars.size() >= 3 && scalars[2] == U'8';
}

namespace {

// Hex digits only, at most `maxDigits` of them (the value's own widths are 4 and 8).
std::optional<std::uint64_t> hexField(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<std::uint64_t>(d);
    }
    return v;
}

bool uuidShaped(std::string_view s) {
    if (s.size() != 36) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (s[i] == '-')) return false;
        if (!dash && !hexField(s.substr(i, 1), 1)) return false;
    }
    return true;
}

}  // namespace

QuarantineRecord decodeQuarantine(std::string_view value) {
    QuarantineRecord r;
    r.raw = std::string(value);
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t semi = value.find(';', start);
        fields.push_back(value.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start));
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    if (fields.size() < 3) {
        r.problem = "fewer than three fields";
        return r;
    }
    auto flags = hexField(fields[0], 8);
    auto time = hexField(fields[1], 16);
    if (!flags) {
        r.problem = "the flags are not hexadecimal";
        return r;
    }
    if (!time) {
        r.problem = "the time is not hexadecimal";
        return r;
    }
    r.flags = static_cast<std::uint32_t>(*flags);
    r.time = *time;
    // An agent's name may itself hold a semicolon: the last field is the event when there are four or more.
    const std::size_t agentEnd = fields.size() >= 4 ? fields.size() - 1 : fields.size();
    const std::size_t agentStart = static_cast<std::size_t>(fields[2].data() - value.data());
    const std::size_t agentStop =
        static_cast<std::size_t>(fields[agentEnd - 1].data() - value.data()) + fields[agentEnd - 1].size();
    r.agent = std::string(value.substr(agentStart, agentStop - agentStart));
    if (fields.size() >= 4) {
        r.eventId = std::string(fields.back());
        if (!r.eventId.empty() && !uuidShaped(r.eventId)) r.problem = "the event identifier is not a UUID";
    }
    return r;
}

std::optional<QuarantineRecord> quarantineRecord(const FileURL& url) {
    const std::string path = url.path();
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    XattrResult read = readExtendedAttribute(path.c_str(), kQuarantineAttribute);
    if (!read.ok) return std::nullopt;
    return decodeQuarantine(std::string_view(reinterpret_cast<const char*>(read.value.data()), read.value.size()));
}

std::vector<std::string> quarantineFlagNames(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> known[] = {{QTN_FLAG_DOWNLOAD, "downloaded"},
                                                                  {QTN_FLAG_SANDBOX, "sandboxed"},
                                                                  {QTN_FLAG_HARD, "hard"},
                                                                  {QTN_FLAG_USER_APPROVED, "user approved"}};
    std::vector<std::string> names;
    std::uint32_t rest = flags;
    for (const auto& [bit, name] : known) {
        if (flags & bit) names.emplace_back(name);
        rest &= ~bit;
    }
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if (!(rest & bit)) continue;
        char text[24];  // "unknown 0x80000000" and its end
        std::snprintf(text, sizeof text, "unknown 0x%04x", bit);
        names.emplace_back(text);
    }
    return names;
}

std::string quarantineText(const QuarantineRecord& r) {
    if (!r.wellFormed()) return "Quarantine attribute malformed (" + r.problem + "): " + displayText(r.raw) + "\n";
    char flags[16];
    std::snprintf(flags, sizeof flags, "%04x", r.flags);
    std::string out = std::string("Quarantine flags=") + flags;
    const auto names = quarantineFlagNames(r.flags);
    for (std::size_t i = 0; i < names.size(); ++i) out += (i ? ", " : " (") + names[i];
    out += names.empty() ? "\n" : ")\n";
    std::tm tm{};
    char date[40];
    // Beyond what a date can say (year 9999), the seconds are shown as they stand.
    const std::time_t t = static_cast<std::time_t>(r.time);
    if (r.time <= 253402300799u && ::gmtime_r(&t, &tm) &&
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", &tm))
        out += std::string("Quarantined=") + date + "\n";
    else
        out += "Quarantined=" + hexNumber(r.time) + " seconds after 1970\n";
    out += "Agent=" + (r.agent.empty() ? std::string("not named") : displayText(r.agent)) + "\n";
    if (!r.eventId.empty()) out += "Event=" + displayText(r.eventId) + "\n";
    return out;
}

}  // namespace tessarin
