// The XML property list reader: values straight from the text, with no document tree in between
// (libplist's inserts each dictionary key in time that grows with the dictionary).
#include "plist/XmlPlist.h"

#include <charconv>
#include <ctime>
#include <optional>
#include <string>

#include "base/Unicode.h"
#include "plist/PlistBounds.h"
#include "plist/XmlTree.h"

namespace tessarin {

namespace {

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

    static bool endsName(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=' || c == '<';
    }

    std::string_view name() {
        const std::size_t start = i_;
        while (i_ < s_.size() && !endsName(s_[i_])) ++i_;
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
            // A plain loop: find_first_of looks each character up in the set with a call of its own.
            std::size_t at = i_;
            while (at < s_.size() && s_[at] != '<' && s_[at] != '&') ++at;
            if (at == s_.size()) return error("unclosed <" + std::string(tag.name) + ">");
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
        if (depth > kPlistMaxDepth + 1)
            return error("nesting deeper than " + std::to_string(kPlistMaxDepth) + " levels");
        const std::string_view n = tag.name;
        if (n == "dict") {
            PlistDict dict;
            if (!tag.empty) {
                for (;;) {
                    if (!misc(false)) return false;
                    if (startsWith("</")) break;
                    Tag keyTag;
                    if (!startTag(keyTag)) return false;
                    if (keyTag.name != "key")
                        return error("dictionary holds <" + std::string(keyTag.name) + "> where a key belongs");
                    ++values_;
                    std::string key;
                    if (!text(keyTag, key) || !misc(false)) return false;
                    if (startsWith("</")) return error("dictionary key without a value");
                    Tag valueTag;
                    PlistValue value;
                    if (!startTag(valueTag) || !element(valueTag, value, depth + 1)) return false;
                    // A repeated key keeps its last value. Keys mostly come in order (a seal's
                    // always do), so the end is tried first.
                    dict.insert_or_assign(dict.end(), std::move(key), std::move(value));
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

}  // namespace

Result<PlistValue> parseXmlPlist(std::string_view text, std::uint64_t maxValues) {
    // XML property lists are UTF-8 throughout; bytes that are not would reach every reader of keys.
    if (!isValidUtf8(text)) return fail("not a property list (XML text that is not UTF-8)");
    return XmlPlistReader(text, maxValues).document();
}

}  // namespace tessarin
