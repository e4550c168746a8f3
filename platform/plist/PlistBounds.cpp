// The limits property lists are held to: nesting and value counts in XML text, and a binary list's
// object graph walked once through the bounded reader.
#include "plist/PlistBounds.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/ByteCursor.h"
#include "base/ByteReader.h"

namespace tessarin {

namespace {

bool startsWith(std::string_view s, std::size_t at, std::string_view prefix) {
    return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

}  // namespace

Error tooManyPlistValues(std::uint64_t limit) {
    return fail("property list holds more than " + std::to_string(limit) + " values");
}

Status checkXmlNesting(std::string_view xml, std::uint64_t maxValues) {
    std::size_t depth = 0;
    std::uint64_t elements = 0;
    std::size_t i = 0;
    auto skipPast = [&](std::string_view end) {
        std::size_t at = xml.find(end, i);
        i = at == std::string_view::npos ? xml.size() : at + end.size();
    };
    while ((i = xml.find('<', i)) != std::string_view::npos) {
        if (startsWith(xml, i, "<!--")) {
            i += 4;
            skipPast("-->");
            continue;
        }
        if (startsWith(xml, i, "<![CDATA[")) {
            i += 9;
            skipPast("]]>");
            continue;
        }
        if (startsWith(xml, i, "<?")) {
            i += 2;
            skipPast("?>");
            continue;
        }
        if (startsWith(xml, i, "<!")) {
            i += 2;
            skipPast(">");
            continue;
        }
        bool closing = startsWith(xml, i, "</");
        std::size_t nameStart = i + (closing ? 2 : 1);
        std::size_t gt = xml.find('>', nameStart);
        if (gt == std::string_view::npos) break;
        std::string_view tag = xml.substr(nameStart, gt - nameStart);
        std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
        if (!closing && ++elements > maxValues) return tooManyPlistValues(maxValues);
        bool container = name == "array" || name == "dict";
        if (container) {
            if (closing) {
                if (depth > 0) --depth;
            } else if (tag.empty() || tag.back() != '/') {
                if (++depth > kPlistMaxDepth)
                    return fail("property list nests arrays and dictionaries deeper than " +
                                std::to_string(kPlistMaxDepth) + " levels");
            }
        }
        i = gt + 1;
    }
    return Ok{};
}

Status checkBinaryGraph(ByteSpan bytes, std::uint64_t maxValues) {
    ByteReader r(bytes);
    if (r.size() < 8 + 32) return Ok{};
    const std::uint64_t trailer = r.size() - 32;
    ByteCursor t(r, trailer + 6);  // past the unused bytes and the sort version
    const unsigned offsetSize = t.u8();
    const unsigned refSize = t.u8();
    const std::uint64_t objects = t.u64be();
    const std::uint64_t top = t.u64be();
    const std::uint64_t table = t.u64be();
    if (!t) return Ok{};
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return Ok{};
    if (objects == 0 || top >= objects || objects > r.size() / offsetSize || !r.contains(table, objects * offsetSize))
        return Ok{};
    // The walk keeps a few bytes per object: a table of millions is refused before it is sized.
    if (objects > maxValues) return tooManyPlistValues(maxValues);

    auto readUInt = [&](std::uint64_t at, unsigned size) -> std::optional<std::uint64_t> {
        ByteCursor c(r, at);
        const std::uint64_t v = c.uintBE(size);
        if (!c) return std::nullopt;
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
        ByteCursor c(r, e->at);
        for (std::uint64_t k = 0; k < e->count; ++k) {
            const unsigned character = unit == 1 ? c.u8() : c.u16be();
            if (!c) return false;
            if (character == 0) return true;
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
        std::uint32_t nodes = 0;  // saturates at maxValues + 1
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
                if (keyHoldsNul(*child)) return fail("binary property list has a dictionary key with a NUL character");
                info[*child].keyChecked = true;
            }
            Info& c = info[*child];
            if (c.state == 1) return fail("binary property list refers to itself in a cycle");
            if (c.state == 2) {
                f.nodes += c.nodes;
            } else {
                if (stack.size() >= kPlistMaxDepth)
                    return fail("property list nests arrays and dictionaries deeper than " +
                                std::to_string(kPlistMaxDepth) + " levels");
                c.state = 1;
                stack.push_back({*child, refsOf(*child), 0, 1});
                continue;
            }
        } else {
            Info& done = info[f.object];
            done.state = 2;
            done.nodes = static_cast<std::uint32_t>(std::min<std::uint64_t>(f.nodes, maxValues + 1));
            std::uint64_t nodes = done.nodes;
            stack.pop_back();
            if (!stack.empty())
                stack.back().nodes += nodes;
            else if (nodes > maxValues)
                return fail("binary property list expands to more than " + std::to_string(maxValues) + " values");
            continue;
        }
        if (f.nodes > maxValues)
            return fail("binary property list expands to more than " + std::to_string(maxValues) + " values");
    }
    return Ok{};
}

}  // namespace tessarin
