// Property lists. XML is read by our own bounded reader straight into values (libplist's inserts
// each dictionary key in time that grows with the dictionary, so a long one took minutes); binary
// lists go through libplist once its known weak spots are closed: more values than the limits
// allow, shared references that would expand into an unbounded tree or never end, and dictionary
// keys holding a NUL (on which libplist aborts). Writing is libplist's.
#include "plist/Plist.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include <plist/plist.h>

#include "base/ByteCursor.h"
#include "base/ByteReader.h"
#include "base/MappedFile.h"
#include "base/Unicode.h"
#include "plist/XmlTree.h"
#include "base/Bytes.h"

namespace tessarin {

namespace {

constexpr std::size_t kMaxDepth = 512;                       // arrays and dictionaries within one another
Error tooManyValues(std::uint64_t limit) {
    return fail("property list holds more than " + std::to_string(limit) + " values");
}

struct PlistFree {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

bool startsWith(std::string_view s, std::size_t at, std::string_view prefix) {
    return s.size() - at >= prefix.size() && s.compare(at, prefix.size(), prefix) == 0;
}

// Depth of <array> and <dict> elements and the number of elements, skipping comments, CDATA,
// processing instructions and declarations the way an XML reader would.
Status checkXmlNesting(std::string_view xml, std::uint64_t maxValues) {
    std::size_t depth = 0;
    std::uint64_t elements = 0;
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
        if (!closing && ++elements > maxValues) return tooManyValues(maxValues);
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
    if (objects == 0 || top >= objects || objects > r.size() / offsetSize ||
        !r.contains(table, objects * offsetSize))
        return Ok{};
    // The walk keeps a few bytes per object: a table of millions is refused before it is sized.
    if (objects > maxValues) return tooManyValues(maxValues);

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
            done.nodes = static_cast<std::uint32_t>(std::min<std::uint64_t>(f.nodes, maxValues + 1));
            std::uint64_t nodes = done.nodes;
            stack.pop_back();
            if (!stack.empty()) stack.back().nodes += nodes;
            else if (nodes > maxValues)
                return fail("binary property list expands to more than " + std::to_string(maxValues) +
                            " values");
            continue;
        }
        if (f.nodes > maxValues)
            return fail("binary property list expands to more than " + std::to_string(maxValues) +
                        " values");
    }
    return Ok{};
}

// Binary lists store ASCII strings as bytes, which libplist passes on as they are: a list is valid
// only when every string and key is text. The tree is at most kMaxDepth deep.
bool allTextIsUtf8(const PlistValue& v) {
    if (const std::string* s = v.string()) return isValidUtf8(*s);
    if (const PlistArray* a = v.array())
        return std::all_of(a->begin(), a->end(), [](const PlistValue& item) { return allTextIsUtf8(item); });
    if (const PlistDict* d = v.dict())
        return std::all_of(d->begin(), d->end(),
                           [](const auto& entry) { return isValidUtf8(entry.first) && allTextIsUtf8(entry.second); });
    return true;
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
    default:
        return PlistValue();
    }
}

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Decimal or 0x-hexadecimal, optionally signed; unsigned values above INT64_MAX keep their bits, as
// libplist keeps them.
std::optional<std::int64_t> xmlInteger(std::string_view t) {
    t = trimmed(t);
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    if (negative) {
        if (v > std::uint64_t{1} << 63) return std::nullopt;
        return static_cast<std::int64_t>(~v + 1);
    }
    return static_cast<std::int64_t>(v);
}

std::optional<double> xmlReal(std::string_view t) {
    t = trimmed(t);
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return d;
}

// "2001-01-01T00:00:00Z", as seconds since Apple's reference date.
std::optional<double> xmlDate(std::string_view t) {
    t = trimmed(t);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    auto field = [&](std::size_t at, std::size_t length, int& out) {
        if (at + length > t.size()) return false;
        auto [end, ec] = std::from_chars(t.data() + at, t.data() + at + length, out);
        return ec == std::errc() && end == t.data() + at + length;
    };
    if (t.size() != 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' || t[19] != 'Z' ||
        !field(0, 4, year) || !field(5, 2, month) || !field(8, 2, day) || !field(11, 2, hour) ||
        !field(14, 2, minute) || !field(17, 2, second))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<double>(timegm(&tm)) - 978307200.0;
}


// Reads XML property lists straight into values, with no document tree in between: a seal of
// a hundred thousand files is mostly small elements, and a tree of them cost as much again.
class XmlPlistReader {
public:
    XmlPlistReader(std::string_view text, std::uint64_t maxValues) : s_(text), maxValues_(maxValues) {}

    Result<PlistValue> document() {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
        if (!misc(true)) return failure();
        Tag tag;
        if (!startTag(tag)) return failure();
        PlistValue value;
        if (tag.name == "plist") {
            if (tag.empty) return fail("property list holds no value");
            if (!misc(false)) return failure();
            if (startsWith("</")) return fail("property list holds no value");
            Tag inner;
            if (!startTag(inner) || !element(inner, value, 1) || !misc(false) || !endTag("plist")) return failure();
        } else if (!element(tag, value, 1)) {
            return failure();
        }
        if (!misc(false)) return failure();
        if (i_ != s_.size()) {
            error("content after the property list");
            return failure();
        }
        return value;
    }

private:
    struct Tag {
        std::string_view name;
        bool empty = false;  // <name/>
    };

    Error failure() const { return fail("not a property list (" + error_ + ")"); }
    bool error(const std::string& what) {
        if (error_.empty()) error_ = what + " at byte " + std::to_string(i_);
        return false;
    }
    bool startsWith(std::string_view p) const { return s_.substr(i_, p.size()) == p; }
    void skipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool skipPast(std::string_view end, const char* what) {
        auto at = s_.find(end, i_);
        if (at == std::string_view::npos) return error(std::string("unterminated ") + what);
        i_ = at + end.size();
        return true;
    }

    bool misc(bool prolog) {
        auto skipped = skipXmlMisc(s_, i_, prolog);
        return skipped || error(skipped.error());
    }

    std::string_view name() {
        const std::size_t start = i_;
        while (i_ < s_.size() && std::string_view(" \t\r\n/>=<").find(s_[i_]) == std::string_view::npos) ++i_;
        return s_.substr(start, i_ - start);
    }

    // A start tag at i_; attributes are read past (plists give them no meaning).
    bool startTag(Tag& tag) {
        if (!startsWith("<") || startsWith("</")) return error("expected an element");
        ++i_;
        tag.name = name();
        if (tag.name.empty()) return error("element without a name");
        for (;;) {
            skipSpace();
            if (i_ >= s_.size()) return error("unterminated start tag");
            if (startsWith("/>")) {
                i_ += 2;
                tag.empty = true;
                return true;
            }
            if (s_[i_] == '>') {
                ++i_;
                return true;
            }
            if (name().empty()) return error("malformed attribute");
            skipSpace();
            if (i_ >= s_.size() || s_[i_] != '=') return error("attribute without a value");
            ++i_;
            skipSpace();
            if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) return error("unquoted attribute value");
            const auto close = s_.find(s_[i_], i_ + 1);
            if (close == std::string_view::npos) return error("unterminated attribute value");
            i_ = close + 1;
        }
    }

    bool endTag(std::string_view expected) {
        if (!startsWith("</")) return error("expected </" + std::string(expected) + ">");
        i_ += 2;
        if (name() != expected) return error("end tag does not close <" + std::string(expected) + ">");
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != '>') return error("unterminated end tag");
        ++i_;
        return true;
    }

    bool reference(std::string& out) {
        auto read = readXmlReference(s_, i_, out);
        return read || error(read.error());
    }

    // The character data of a leaf element up to its end tag; a child element is an error.
    bool text(const Tag& tag, std::string& out) {
        if (tag.empty) return true;
        for (;;) {
            const auto at = s_.find_first_of("<&", i_);
            if (at == std::string_view::npos) return error("unclosed <" + std::string(tag.name) + ">");
            out.append(s_.substr(i_, at - i_));
            i_ = at;
            if (s_[i_] == '&') {
                if (!reference(out)) return false;
            } else if (startsWith("<![CDATA[")) {
                const auto close = s_.find("]]>", i_ + 9);
                if (close == std::string_view::npos) return error("unterminated CDATA section");
                out.append(s_.substr(i_ + 9, close - i_ - 9));
                i_ = close + 3;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->", "comment")) return false;
            } else if (startsWith("</")) {
                return endTag(tag.name);
            } else {
                return error("<" + std::string(tag.name) + "> holds other elements");
            }
        }
    }

    // The element whose start tag was just read, as a value.
    bool element(const Tag& tag, PlistValue& out, std::size_t depth) {
        if (++values_ > maxValues_) return error("more than " + std::to_string(maxValues_) + " values");
        if (depth > kMaxDepth + 1) return error("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        const std::string_view n = tag.name;
        if (n == "dict") {
            PlistDict dict;
            if (!tag.empty) {
                for (;;) {
                    if (!misc(false)) return false;
                    if (startsWith("</")) break;
                    Tag keyTag;
                    if (!startTag(keyTag)) return false;
                    if (keyTag.name != "key") return error("dictionary holds <" + std::string(keyTag.name) + "> where a key belongs");
                    ++values_;
                    std::string key;
                    if (!text(keyTag, key) || !misc(false)) return false;
                    if (startsWith("</")) return error("dictionary key without a value");
                    Tag valueTag;
                    PlistValue value;
                    if (!startTag(valueTag) || !element(valueTag, value, depth + 1)) return false;
                    // A repeated key keeps its last value.
                    dict.insert_or_assign(std::move(key), std::move(value));
                }
                if (!endTag("dict")) return false;
            }
            out = PlistValue(std::move(dict));
            return true;
        }
        if (n == "array") {
            PlistArray array;
            if (!tag.empty) {
                for (;;) {
                    if (!misc(false)) return false;
                    if (startsWith("</")) break;
                    Tag itemTag;
                    PlistValue item;
                    if (!startTag(itemTag) || !element(itemTag, item, depth + 1)) return false;
                    array.push_back(std::move(item));
                }
                if (!endTag("array")) return false;
            }
            out = PlistValue(std::move(array));
            return true;
        }
        std::string t;
        if (!text(tag, t)) return false;
        if (n == "string" || n == "key") {
            out = PlistValue(std::move(t));
        } else if (n == "true" || n == "false") {
            out = PlistValue(n == "true");
        } else if (n == "integer") {
            auto v = xmlInteger(t);
            if (!v) return error("integer that is not a number");
            out = PlistValue(*v);
        } else if (n == "real") {
            auto v = xmlReal(t);
            if (!v) return error("real that is not a number");
            out = PlistValue(*v);
        } else if (n == "date") {
            auto v = xmlDate(t);
            if (!v) return error("date not of the form 2001-01-01T00:00:00Z");
            out = PlistValue(PlistDate{*v});
        } else if (n == "data") {
            auto v = decodeXmlBase64(t, false);
            if (!v) return error("data that is not base64");
            out = PlistValue(PlistData{std::move(*v)});
        } else {
            return error("unknown element <" + std::string(n) + ">");
        }
        return true;
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::uint64_t values_ = 0;
    std::uint64_t maxValues_;
    std::string error_;
};

Result<PlistValue> parseXmlPlist(std::string_view text, std::uint64_t maxValues) {
    // XML property lists are UTF-8 throughout; bytes that are not would reach every reader of keys.
    if (!isValidUtf8(text)) return fail("not a property list (XML text that is not UTF-8)");
    return XmlPlistReader(text, maxValues).document();
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
            // libplist takes 32-bit seconds: dates beyond some 68 years either side of 2001 (or
            // not a number) are written as the nearest it can hold.
            constexpr double lowest = std::numeric_limits<std::int32_t>::min();
            constexpr double highest = std::numeric_limits<std::int32_t>::max();
            const double t = std::isnan(d.secondsSince2001) ? 0 : d.secondsSince2001;
            if (t < lowest || t >= highest) return plist_new_date(static_cast<std::int32_t>(t < lowest ? lowest : highest), 0);
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

const PlistValue* PlistValue::find(const std::string& key) const {
    const PlistDict* d = dict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Result<PlistValue> parsePlist(ByteSpan bytes, const PlistLimits& limits) {
    if (bytes.size() > limits.maxBytes)
        return fail("property list is larger than " + std::to_string(limits.maxBytes / (1024 * 1024)) + " MB");
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    bool binary = text.substr(0, 8) == "bplist00";
    Status checked = binary ? checkBinaryGraph(bytes, limits.maxValues) : checkXmlNesting(text, limits.maxValues);
    if (!checked) return fail(checked.error());
    if (!binary) return parseXmlPlist(text, limits.maxValues);
    plist_t root = nullptr;
    plist_from_bin(text.data(), static_cast<std::uint32_t>(text.size()), &root);
    if (!root) return fail("malformed binary property list");
    PlistPtr owner(root);
    PlistValue value = convert(root);
    if (!allTextIsUtf8(value)) return fail("binary property list holds a string that is not text");
    return value;
}

Result<PlistValue> readPlistFile(const std::string& path, const PlistLimits& limits) {
    auto file = MappedFile::open(path);
    if (!file) return fail(file.error());
    auto parsed = parsePlist(file->bytes(), limits);
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
