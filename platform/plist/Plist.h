// Property lists (XML and binary, through libplist) as a plain value tree.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

struct PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDict = std::map<std::string, PlistValue>;
struct PlistData {
    Bytes bytes;
};
struct PlistDate {
    double secondsSince2001 = 0;  // Apple's reference date, as plists store it
};

struct PlistValue {
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, PlistData, PlistDate,
                                 PlistArray, PlistDict>;
    Storage value;

    PlistValue() = default;
    template <class T>
    PlistValue(T v) : value(std::move(v)) {}
    PlistValue(const char* s) : value(std::string(s)) {}

    const std::string* string() const { return std::get_if<std::string>(&value); }
    const PlistDict* dict() const { return std::get_if<PlistDict>(&value); }
    const PlistArray* array() const { return std::get_if<PlistArray>(&value); }
    const PlistData* data() const { return std::get_if<PlistData>(&value); }
    const bool* boolean() const { return std::get_if<bool>(&value); }
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&value); }
    const double* real() const { return std::get_if<double>(&value); }

    // A dictionary member, or null when this is no dictionary or has no such key.
    const PlistValue* find(const std::string& key) const;
};

// How much a list may hold before it is refused. A resource seal names every file of a bundle (a
// seal of 60,000 files holds about half a million values in some 16 MB of XML, and the largest
// seal accepted is read in under a second at a peak near 120 MB); an Info.plist, a strings table or
// entitlements hold a few hundred.
struct PlistLimits {
    std::size_t maxBytes = 32u << 20;
    std::uint64_t maxValues = 1u << 19;  // binary lists: counted after shared references expand
};
inline constexpr PlistLimits kSmallPlistLimits{4u << 20, 1u << 16};

// Parses an XML or binary property list; a clear error for anything else.
Result<PlistValue> parsePlist(ByteSpan bytes, const PlistLimits& limits = {});
Result<PlistValue> readPlistFile(const std::string& path, const PlistLimits& limits = {});

// Serialises as an XML property list (what CodeResources files and test fixtures use).
std::string toXmlPlist(const PlistValue& value);
// Serialises as a binary property list (for test fixtures).
Bytes toBinaryPlist(const PlistValue& value);

}  // namespace tessarin
