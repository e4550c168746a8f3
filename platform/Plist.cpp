// Property lists through libplist. Before libplist sees the bytes, its known weak spots are closed:
// XML nesting deep enough to exhaust its recursive parser's stack, binary lists whose shared
// references would expand into an unbounded tree or never end, and binary dictionary keys holding
// a NUL (on which libplist aborts).
#include "Plist.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include <plist/plist.h>

#include "ByteReader.h"
#include "MappedFile.h"

namespace tessarin {

namespace {

constexpr std::size_t kMaxDepth = 512;                       // arrays and dictionaries within one another
constexpr std::uint64_t kMaxBinaryNodes = 8u * 1024 * 1024;  // values after shared references expand
constexpr std::size_t kMaxPlistBytes = 64u * 1024 * 1024;

struct PlistFree {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bool startsWith(std::string_view s, std::size_t at, std::string_view prefix) {
    return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

// Depth of <array> and <dict> elements, skipping comments, CDATA, processing instructions and
// declarations the way an XML reader would.
Status checkXmlNesting(std::string_view xml) {
    std::size_t depth = 0;
    std::size_t i = 0;
    auto skipPast = [&](std::string_view end) {
        std::size_t at = xml.find(end, i);
        i = at == std::string_view::npos ? xml.size() : at + end.size();
    };
    while ((i = xml.find('<', i)) != std::string_view::npos) {
        if (startsWith(xml, i, "<!--")) { i += 4; skipPast("-->"); continue; }
        if (startsWith(xml, i, "<![CDATA[")) { i += 9; skipPast("]]>"); continue; }
        if (startsWith(xml, i, "<?")) { i += 2; skipPast("?>"); continue; }
        if (startsWith(xml, i, "<!")) { i += 2; skipPast(">"); continue; }
        bool closing = startsWith(xml, i, "</");
        std::size_t nameStart = i + (closing ? 2 : 1);
        std::size_t gt = xml.find('>', nameStart);
        if (gt == std::string_view::npos) break;
        std::string_view tag = xml.substr(nameStart, gt - nameStart);
        std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
        bool container = name == "array" || name == "dict";
        if (container) {
            if (closing) {
                if (depth > 0) --depth;
            } else if (tag.empty() || tag.back() != '/') {
                if (++depth > kMaxDepth)
                    return fail("property list nests arrays and dictionaries deeper than " +
                                std::to_string(kMaxDepth) + " levels");
            }
        }
        i = gt + 1;
    }
    return Ok{};
}

// Walks the object graph of a binary list once, each object once, to find cycles, the depth and
// the size of the tree the references expand into. Malformed tables are left to libplist, which
// rejects them.
Status checkBinaryGraph(std::span<const std::byte> bytes) {
    ByteReader r(bytes);
    if (r.size() < 8 + 32) return Ok{};
    const std::uint64_t trailer = r.size() - 32;
    const unsigned offsetSize = *r.u8(trailer + 6);
    const unsigned refSize = *r.u8(trailer + 7);
    const std::uint64_t objects = *r.u64be(trailer + 8);
    const std::uint64_t top = *r.u64be(trailer + 16);
    const std::uint64_t table = *r.u64be(trailer + 24);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return Ok{};
    if (objects == 0 || top >= objects || objects > r.size() / offsetSize ||
        !r.contains(table, objects * offsetSize))
        return Ok{};

    auto readUInt = [&](std::uint64_t at, unsigned size) -> std::optional<std::uint64_t> {
        if (!r.contains(at, size)) return std::nullopt;
        std::uint64_t v = 0;
        for (unsigned k = 0; k < size; ++k) v = (v << 8) | *r.u8(at + k);
        return v;
    };
    // Where an object's references start and how many there are; nothing for a leaf or an
    // unreadable object.
    struct Refs {
        std::uint64_t at = 0;
        std::uint64_t count = 0;
        std::uint64_t keys = 0;  // the first `keys` references of a dictionary are its keys
    };
    // Where an object starts and its element count, for an object whose marker has one.
    struct Extent {
        unsigned type = 0;
        std::uint64_t at = 0;
        std::uint64_t count = 0;
    };
    auto extentOf = [&](std::uint64_t object) -> std::optional<Extent> {
        auto offset = readUInt(table + object * offsetSize, offsetSize);
        if (!offset) return std::nullopt;
        auto marker = r.u8(*offset);
        if (!marker) return std::nullopt;
        Extent e{static_cast<unsigned>(*marker >> 4), *offset + 1, static_cast<std::uint64_t>(*marker & 0x0F)};
        if (e.count == 0x0F) {
            auto intMarker = r.u8(e.at);
            if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0x0F) > 3) return std::nullopt;
            unsigned size = 1u << (*intMarker & 0x0F);
            auto n = readUInt(e.at + 1, size);
            if (!n) return std::nullopt;
            e.count = *n;
            e.at += 1 + size;
        }
        return e;
    };
    // libplist aborts on a dictionary key that holds a NUL character.
    auto keyHoldsNul = [&](std::uint64_t object) {
        auto e = extentOf(object);
        if (!e) return false;
        const std::uint64_t unit = e->type == 0x5 ? 1 : e->type == 0x6 ? 2 : 0;
        if (unit == 0 || e->count > r.size() / unit || !r.contains(e->at, e->count * unit)) return false;
        for (std::uint64_t k = 0; k < e->count; ++k) {
            std::uint64_t at = e->at + k * unit;
            if (unit == 1 ? *r.u8(at) == 0 : *r.u16be(at) == 0) return true;
        }
        return false;
    };
    auto refsOf = [&](std::uint64_t object) -> Refs {
        auto e = extentOf(object);
        if (!e || (e->type != 0xA && e->type != 0xC && e->type != 0xD)) return {};
        std::uint64_t count = e->count;
        if (e->type == 0xD) {
            if (count > std::numeric_limits<std::uint64_t>::max() / 2) return {};
            count *= 2;
        }
        if (count > r.size() / refSize || !r.contains(e->at, count * refSize)) return {};
        return {e->at, count, e->type == 0xD ? count / 2 : 0};
    };

    struct Info {
        std::uint32_t nodes = 0;  // saturates at kMaxBinaryNodes + 1
        std::uint8_t state = 0;   // 0 unseen, 1 on the current path, 2 done
        bool keyChecked = false;
    };
    std::vector<Info> info(objects);
    struct Frame {
        std::uint64_t object;
        Refs refs;
        std::uint64_t next;
        std::uint64_t nodes;
    };
    std::vector<Frame> stack;
    stack.push_back({top, refsOf(top), 0, 1});
    info[top].state = 1;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next < f.refs.count) {
            auto child = readUInt(f.refs.at + f.next * refSize, refSize);
            ++f.next;
            if (!child || *child >= objects) continue;
            if (f.next <= f.refs.keys && !info[*child].keyChecked) {
                if (keyHoldsNul(*child))
                    return fail("binary property list has a dictionary key with a NUL character");
                info[*child].keyChecked = true;
            }
            Info& c = info[*child];
            if (c.state == 1) return fail("binary property list refers to itself in a cycle");
            if (c.state == 2) {
                f.nodes += c.nodes;
            } else {
                if (stack.size() >= kMaxDepth)
                    return fail("property list nests arrays and dictionaries deeper than " +
                                std::to_string(kMaxDepth) + " levels");
                c.state = 1;
                stack.push_back({*child, refsOf(*child), 0, 1});
                continue;
            }
        } else {
            Info& done = info[f.object];
            done.state = 2;
            done.nodes = static_cast<std::uint32_t>(std::min<std::uint64_t>(f.nodes, kMaxBinaryNodes + 1));
            std::uint64_t nodes = done.nodes;
            stack.pop_back();
            if (!stack.empty()) stack.back().nodes += nodes;
            else if (nodes > kMaxBinaryNodes)
                return fail("binary property list expands to more than " + std::to_string(kMaxBinaryNodes) +
                            " values");
            continue;
        }
        if (f.nodes > kMaxBinaryNodes)
            return fail("binary property list expands to more than " + std::to_string(kMaxBinaryNodes) +
                        " values");
    }
    return Ok{};
}

// The parsed tree is at most kMaxDepth deep (checked above), so recursion here is bounded.
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
        if (p) data.bytes.assign(reinterpret_cast<const std::uint8_t*>(p),
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
        std::uint32_t n = plist_array_get_size(node);
        array.reserve(n);
        for (std::uint32_t k = 0; k < n; ++k) array.push_back(convert(plist_array_get_item(node, k)));
        return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
        PlistDict dict;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            if (key) dict.insert_or_assign(key, convert(value));
            std::free(key);
        }
        std::free(it);
        return PlistValue(std::move(dict));
    }
    default:
        return PlistValue();
    }
}

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
            double whole = static_cast<double>(static_cast<std::int64_t>(d.secondsSince2001));
            if (whole > d.secondsSince2001) whole -= 1;
            auto usec = static_cast<std::int32_t>((d.secondsSince2001 - whole) * 1e6);
            return plist_new_date(static_cast<std::int32_t>(whole), usec);
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

const PlistValue* PlistValue::find(const std::string& key) const {
    const PlistDict* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Result<PlistValue> parsePlist(std::span<const std::byte> bytes) {
    if (bytes.size() > kMaxPlistBytes)
        return fail("property list is larger than " + std::to_string(kMaxPlistBytes / (1024 * 1024)) + " MB");
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bool binary = text.substr(0, 8) == "bplist00";
    Status checked = binary ? checkBinaryGraph(bytes) : checkXmlNesting(text);
    if (!checked) return fail(checked.error());
    // A private NUL-terminated copy: the XML reader must not run past the caller's bytes.
    std::string copy(text);
    plist_t root = nullptr;
    plist_from_memory(copy.c_str(), static_cast<std::uint32_t>(copy.size()), &root);
    if (!root)
        return fail(binary ? "malformed binary property list" : "not a property list (neither XML nor binary)");
    PlistPtr owner(root);
    return convert(root);
}

Result<PlistValue> readPlistFile(const std::string& path) {
    auto file = MappedFile::open(path);
    if (!file) return fail(file.error());
    auto parsed = parsePlist(file->bytes());
    if (!parsed) return fail("'" + path + "': " + parsed.error());
    return parsed;
}

std::string toXmlPlist(const PlistValue& value) {
    PlistPtr root = rootNode(value);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string out(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return out;
}

std::vector<std::uint8_t> toBinaryPlist(const PlistValue& value) {
    PlistPtr root = rootNode(value);
    char* bin = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bin, &length);
    std::vector<std::uint8_t> out;
    if (bin) out.assign(reinterpret_cast<std::uint8_t*>(bin), reinterpret_cast<std::uint8_t*>(bin) + length);
    plist_to_bin_free(bin);
    return out;
}

}  // namespace tessarin
