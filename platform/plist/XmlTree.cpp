// A recursive-descent XML reader, strict about structure and bounded in depth and size.
#include "plist/XmlTree.h"

#include <array>

#include "base/Bytes.h"
#include "base/Unicode.h"

namespace tessarin {

const XmlElement* XmlElement::child(std::string_view childName) const {
    for (const auto& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

std::vector<const XmlElement*> XmlElement::childrenNamed(std::string_view childName) const {
    std::vector<const XmlElement*> found;
    for (const auto& c : children)
        if (c.name == childName) found.push_back(&c);
    return found;
}

std::optional<std::string> XmlElement::attribute(std::string_view attributeName) const {
    for (const auto& [key, value] : attributes)
        if (key == attributeName) return value;
    return std::nullopt;
}

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool endsName(char c) { return isSpace(c) || c == '/' || c == '>' || c == '=' || c == '<'; }

std::string localName(std::string name) {
    auto colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

class Parser {
public:
    Parser(std::string_view text, const XmlLimits& limits) : s_(text), limits_(limits) {}

    Result<XmlElement> document() {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        if (!misc(true)) return fail(error_);
        if (pos_ >= s_.size() || s_[pos_] != '<') return malformed("no root element");
        XmlElement root;
        if (!element(root, 1)) return fail(error_);
        if (!misc(false)) return fail(error_);
        if (pos_ != s_.size()) return malformed("content after the root element");
        return root;
    }

private:
    bool malformedAt(const std::string& what) {
        error_ = "malformed XML (" + what + " at byte " + std::to_string(pos_) + ")";
        return false;
    }
    Error malformed(const std::string& what) {
        malformedAt(what);
        return fail(error_);
    }

    bool startsWith(std::string_view prefix) const { return s_.substr(pos_, prefix.size()) == prefix; }

    void skipSpace() {
        while (pos_ < s_.size() && isSpace(s_[pos_])) ++pos_;
    }

    bool skipPast(std::string_view terminator, const char* what) {
        auto end = s_.find(terminator, pos_);
        if (end == std::string_view::npos) return malformedAt(std::string("unterminated ") + what);
        pos_ = end + terminator.size();
        return true;
    }

    bool misc(bool prolog) {
        auto skipped = skipXmlMisc(s_, pos_, prolog);
        return skipped || malformedAt(skipped.error());
    }

    bool name(std::string& out) {
        std::size_t start = pos_;
        while (pos_ < s_.size() && !endsName(s_[pos_])) ++pos_;
        if (pos_ == start) return malformedAt("missing name");
        out.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool reference(std::string& out) {
        auto read = readXmlReference(s_, pos_, out);
        return read || malformedAt(read.error());
    }

    bool attributeValue(std::string& out) {
        if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) return malformedAt("unquoted attribute value");
        char quote = s_[pos_++];
        while (pos_ < s_.size() && s_[pos_] != quote) {
            if (s_[pos_] == '<') return malformedAt("'<' in an attribute value");
            if (s_[pos_] == '&') {
                if (!reference(out)) return false;
            } else {
                out += s_[pos_++];
            }
        }
        if (pos_ >= s_.size()) return malformedAt("unterminated attribute value");
        ++pos_;
        return true;
    }

    bool element(XmlElement& e, std::uint32_t depth) {
        if (depth > limits_.maxDepth) return malformedAt("elements nested too deeply");
        if (++elements_ > limits_.maxElements) return malformedAt("too many elements");
        ++pos_;  // '<'
        std::string qname;
        if (!name(qname)) return false;
        e.name = localName(qname);
        for (;;) {
            bool spaced = pos_ < s_.size() && isSpace(s_[pos_]);
            skipSpace();
            if (pos_ >= s_.size()) return malformedAt("unterminated start tag <" + qname + ">");
            if (startsWith("/>")) {
                pos_ += 2;
                return true;
            }
            if (s_[pos_] == '>') {
                ++pos_;
                break;
            }
            if (!spaced) return malformedAt("attributes run together in <" + qname + ">");
            std::string key, value;
            if (!name(key)) return false;
            skipSpace();
            if (pos_ >= s_.size() || s_[pos_] != '=') return malformedAt("attribute without a value");
            ++pos_;
            skipSpace();
            if (!attributeValue(value)) return false;
            if (e.attributes.size() >= limits_.maxAttributes) return malformedAt("too many attributes on one element");
            if (++elements_ > limits_.maxElements) return malformedAt("too many elements and attributes");
            if (e.attribute(key)) return malformedAt("repeated attribute " + key);
            e.attributes.emplace_back(std::move(key), std::move(value));
        }
        // Content up to the matching end tag.
        for (;;) {
            if (pos_ >= s_.size()) return malformedAt("unclosed element <" + qname + ">");
            char c = s_[pos_];
            if (c == '&') {
                if (!reference(e.text)) return false;
            } else if (c != '<') {
                auto end = s_.find_first_of("<&", pos_);
                if (end == std::string_view::npos) end = s_.size();
                e.text.append(s_.substr(pos_, end - pos_));
                pos_ = end;
            } else if (startsWith("</")) {
                pos_ += 2;
                std::string closing;
                if (!name(closing)) return false;
                if (closing != qname) return malformedAt("</" + closing + "> closes <" + qname + ">");
                skipSpace();
                if (pos_ >= s_.size() || s_[pos_] != '>') return malformedAt("unterminated end tag");
                ++pos_;
                return true;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->", "comment")) return false;
            } else if (startsWith("<![CDATA[")) {
                pos_ += 9;
                auto end = s_.find("]]>", pos_);
                if (end == std::string_view::npos) return malformedAt("unterminated CDATA section");
                e.text.append(s_.substr(pos_, end - pos_));
                pos_ = end + 3;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "processing instruction")) return false;
            } else if (startsWith("<!")) {
                return malformedAt("declaration inside an element");
            } else {
                e.children.emplace_back();
                if (!element(e.children.back(), depth + 1)) return false;
            }
        }
    }

    std::string_view s_;
    XmlLimits limits_;
    std::size_t pos_ = 0;
    std::uint64_t elements_ = 0;
    std::string error_;
};

}  // namespace

Result<XmlElement> parseXml(std::string_view text, const XmlLimits& limits) { return Parser(text, limits).document(); }

Status readXmlReference(std::string_view s, std::size_t& pos, std::string& out) {
    const auto end = s.find(';', pos);
    if (end == std::string_view::npos || end - pos > 12) return fail("unterminated character reference");
    const std::string_view ref = s.substr(pos + 1, end - pos - 1);
    if (ref == "lt")
        out += '<';
    else if (ref == "gt")
        out += '>';
    else if (ref == "amp")
        out += '&';
    else if (ref == "quot")
        out += '"';
    else if (ref == "apos")
        out += '\'';
    else if (ref.size() > 1 && ref[0] == '#') {
        const bool hex = ref[1] == 'x';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) return fail("empty character reference");
        std::uint32_t value = 0;
        for (char c : digits) {
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0) return fail("bad character reference");
            value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            if (value > 0x10FFFF) return fail("character reference out of range");
        }
        if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return fail("character reference out of range");
        appendUtf8(out, static_cast<char32_t>(value));
    } else {
        return fail("unknown entity &" + std::string(ref) + ";");
    }
    pos = end + 1;
    return Ok{};
}

Status skipXmlMisc(std::string_view s, std::size_t& pos, bool prolog) {
    auto startsWith = [&](std::string_view prefix) { return s.substr(pos, prefix.size()) == prefix; };
    auto skipPast = [&](std::string_view terminator, const char* what) -> Status {
        const auto end = s.find(terminator, pos);
        if (end == std::string_view::npos) return fail(std::string("unterminated ") + what);
        pos = end + terminator.size();
        return Ok{};
    };
    for (;;) {
        while (pos < s.size() && isSpace(s[pos])) ++pos;
        Status skipped = Ok{};
        if (startsWith("<!--")) {
            skipped = skipPast("-->", "comment");
        } else if (startsWith("<?")) {
            skipped = skipPast("?>", "processing instruction");
        } else if (prolog && startsWith("<!DOCTYPE")) {
            int brackets = 0;
            std::size_t at = pos;
            for (; at < s.size(); ++at) {
                if (s[at] == '[')
                    ++brackets;
                else if (s[at] == ']')
                    --brackets;
                else if (s[at] == '>' && brackets <= 0)
                    break;
            }
            pos = at;
            if (at >= s.size()) return fail("unterminated document type declaration");
            ++pos;
        } else {
            return Ok{};
        }
        if (!skipped) return skipped;
    }
}

namespace {

// Each byte's base64 value; a seal holds tens of thousands of digests, so a lookup beats a chain of
// comparisons.
constexpr std::int8_t kSpace = -1, kPad = -2, kInvalid = -3;
constexpr std::array<std::int8_t, 256> kBase64 = [] {
    std::array<std::int8_t, 256> t{};
    t.fill(kInvalid);
    for (int i = 0; i < 26; ++i) {
        t['A' + i] = static_cast<std::int8_t>(i);
        t['a' + i] = static_cast<std::int8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<std::int8_t>(52 + i);
    t['+'] = 62;
    t['/'] = 63;
    t['='] = kPad;
    for (unsigned char c : {' ', '\t', '\n', '\r'}) t[c] = kSpace;
    return t;
}();

}  // namespace

std::optional<Bytes> decodeXmlBase64(std::string_view text, bool strict) {
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    bool padded = false;
    for (char c : text) {
        const int v = kBase64[static_cast<unsigned char>(c)];
        if (v == kSpace) continue;
        if (v == kPad) {
            padded = true;
            continue;
        }
        if (padded || v == kInvalid) return std::nullopt;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
        }
    }
    if (strict && bits >= 6) return std::nullopt;
    return out;
}

}  // namespace tessarin
