// Binary property lists through libplist: its nodes converted into values without the quadratic walks
// its own accessors take, and strings that are not text refused.
#include "plist/BinaryPlist.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include <plist/plist.h>

#include "base/Unicode.h"
#include "plist/LibplistHandle.h"
#include "plist/PlistBounds.h"

namespace tessarin {

namespace {

// Binary lists store ASCII strings as bytes, which libplist passes on as they are: a list is valid
// only when every string and key is text. The tree is at most kPlistMaxDepth deep.
bool allTextIsUtf8(const PlistValue& v) {
    if (const std::string* s = v.string()) return isValidUtf8(*s);
    if (const PlistArray* a = v.array())
        return std::all_of(a->begin(), a->end(), [](const PlistValue& item) { return allTextIsUtf8(item); });
    if (const PlistDict* d = v.dict())
        return std::all_of(d->begin(), d->end(),
                           [](const auto& entry) { return isValidUtf8(entry.first) && allTextIsUtf8(entry.second); });
    return true;
}

// The parsed tree is at most kPlistMaxDepth deep (checkBinaryGraph saw to it), so recursion here is
// bounded.
PlistValue convert(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // libplist keeps negative integers in two's complement.
        return PlistValue(static_cast<std::int64_t>(v));
    }
    case PLIST_UID: {
        std::uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return PlistValue(static_cast<std::int64_t>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PlistValue(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return PlistValue(s ? std::string(s, length) : std::string());
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        PlistData data;
        if (p)
            data.bytes.assign(reinterpret_cast<const std::uint8_t*>(p),
                              reinterpret_cast<const std::uint8_t*>(p) + length);
        return PlistValue(std::move(data));
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PlistValue(PlistDate{sec + usec / 1e6});
    }
    case PLIST_ARRAY: {
        PlistArray array;
        array.reserve(plist_array_get_size(node));
        // The iterator steps along the children; plist_array_get_item walks to the k-th child from
        // the first in lists read from binary, which made long arrays quadratic.
        plist_array_iter it = nullptr;
        plist_array_new_iter(node, &it);
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, it, &item);
            if (!item) break;
            array.push_back(convert(item));
        }
        std::free(it);
        return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
        PlistDict dict;
        // libplist finds a dictionary iterator's n-th entry by walking from the first, which made
        // long dictionaries quadratic. So entries are taken from the front and removed once
        // converted (which also frees libplist's copy as ours grows); an entry that cannot be
        // removed by its key leaves the rest to the plain iterator.
        auto frontEntry = [&](char*& key, plist_t& value) {
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(node, &it);
            plist_dict_next_item(node, it, &key, &value);
            std::free(it);
        };
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            frontEntry(key, value);
            if (!value) {
                std::free(key);
                return PlistValue(std::move(dict));
            }
            const bool removable = key && plist_dict_get_item(node, key) == value;
            if (key) dict.insert_or_assign(key, convert(value));
            if (removable) plist_dict_remove_item(node, key);
            std::free(key);
            if (!removable) break;
        }
        // The front entry is converted already; the iterator takes the ones after it.
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (bool first = true;; first = false) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            if (key && !first) dict.insert_or_assign(key, convert(value));
            std::free(key);
        }
        std::free(it);
        return PlistValue(std::move(dict));
    }
    default: return PlistValue();
    }
}

}  // namespace

Result<PlistValue> parseBinaryPlist(ByteSpan bytes) {
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) return fail("malformed binary property list");
    PlistPtr owner(root);
    PlistValue value = convert(root);
    if (!allTextIsUtf8(value)) return fail("binary property list holds a string that is not text");
    return value;
}

}  // namespace tessarin
