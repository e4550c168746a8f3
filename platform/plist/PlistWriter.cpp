// Writing property lists, XML or binary, through libplist.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <plist/plist.h>

#include "plist/LibplistHandle.h"
#include "plist/Plist.h"

namespace tessarin {

namespace {

// Values with no plist form (the empty value) are left out of arrays and dictionaries.
plist_t toNode(const PlistValue& v) {
    struct Visitor {
        plist_t operator()(std::monostate) const { return nullptr; }
        plist_t operator()(bool b) const { return plist_new_bool(b ? 1 : 0); }
        plist_t operator()(std::int64_t i) const { return plist_new_uint(static_cast<std::uint64_t>(i)); }
        plist_t operator()(double d) const { return plist_new_real(d); }
        plist_t operator()(const std::string& s) const { return plist_new_string(s.c_str()); }
        plist_t operator()(const PlistData& d) const {
            return plist_new_data(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size());
        }
        plist_t operator()(const PlistDate& d) const {
            // libplist takes 32-bit seconds: dates beyond some 68 years either side of 2001 (or
            // not a number) are written as the nearest it can hold.
            constexpr double lowest = std::numeric_limits<std::int32_t>::min();
            constexpr double highest = std::numeric_limits<std::int32_t>::max();
            const double t = std::isnan(d.secondsSince2001) ? 0 : d.secondsSince2001;
            if (t < lowest || t >= highest)
                return plist_new_date(static_cast<std::int32_t>(t < lowest ? lowest : highest), 0);
            const double whole = std::floor(t);
            return plist_new_date(static_cast<std::int32_t>(whole), static_cast<std::int32_t>((t - whole) * 1e6));
        }
        plist_t operator()(const PlistArray& a) const {
            plist_t node = plist_new_array();
            for (const auto& item : a)
                if (plist_t child = toNode(item)) plist_array_append_item(node, child);
            return node;
        }
        plist_t operator()(const PlistDict& d) const {
            plist_t node = plist_new_dict();
            for (const auto& [key, item] : d)
                if (plist_t child = toNode(item)) plist_dict_set_item(node, key.c_str(), child);
            return node;
        }
    };
    return std::visit(Visitor{}, v.value);
}

PlistPtr rootNode(const PlistValue& value) {
    plist_t node = toNode(value);
    return PlistPtr(node ? node : plist_new_dict());
}

}  // namespace

std::string toXmlPlist(const PlistValue& value) {
    PlistPtr root = rootNode(value);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string out(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return out;
}

Bytes toBinaryPlist(const PlistValue& value) {
    PlistPtr root = rootNode(value);
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bin, &length);
    Bytes out;
    if (bin) out.assign(reinterpret_cast<std::uint8_t*>(bin), reinterpret_cast<std::uint8_t*>(bin) + length);
    plist_to_bin_free(bin);
    return out;
}

}  // namespace tessarin
