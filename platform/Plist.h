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

#include "Result.h"

namespace tessarin {

struct PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDict = std::map<std::string, PlistValue>;
struct PlistData {
    std::vector<std::uint8_t> bytes;
};
struct PlistDate {
    double secondsSince2001 = 0;  // Apple's reference date, as plists store it
};

struct PlistValue {
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, PlistData,
                                 PlistDate, PlistArray, PlistDict>;
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

// Parses an XML or binary property list; a clear error for anything else.
Result<PlistValue> parsePlist(std::span<const std::byte> bytes);
Result<PlistValue> readPlistFile(const std::string& path);

// Serialises as an XML property list (what CodeResources files and test fixtures use).
std::string toXmlPlist(const PlistValue& value);
// Serialises as a binary property list (for test fixtures).
std::vector<std::uint8_t> toBinaryPlist(const PlistValue& value);

}  // namespace tessarin
