// Reads localized strings tables. The text form is the old property list syntax; its reader is a
// small recursive-descent parser with a bounded nesting depth.
#include "plist/StringsFile.h"

#include <string_view>

#include "base/Bytes.h"
#include "base/MappedFile.h"
#include "base/Unicode.h"

namespace tessarin {

namespace {

constexpr std::size_t kMaxDepth = 512;
// Real tables are a few kilobytes; each byte of text can become some 25 bytes of table, and the
// table is read each time a localized value is asked for.
constexpr std::size_t kMaxTableBytes = 1024 * 1024;

class TextParser {
public:
    explicit TextParser(std::string_view s) : s_(s) {}

    Result<PlistDict> table() {
        if (!skipSpace()) return fail(error_);
        PlistDict dict;
        if (i_ < s_.size() && s_[i_] == '{') {
            PlistValue v;
            if (!value(v, 0)) return fail(error_);
            if (!skipSpace()) return fail(error_);
            if (i_ != s_.size()) return fail(where() + "unexpected text after the closing '}'");
            return std::move(*std::get_if<PlistDict>(&v.value));
        }
        if (!entries(dict, 0, false)) return fail(error_);
        return dict;
    }

private:
    std::string where() const {
        std::size_t line = 1;
        for (std::size_t k = 0; k < i_ && k < s_.size(); ++k)
            if (s_[k] == '\n') ++line;
        return "line " + std::to_string(line) + ": ";
    }
    bool failHere(const std::string& message) {
        error_ = where() + message;
        return false;
    }

    // Skips blanks and comments; false for a comment that never ends.
    bool skipSpace() {
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (s_.compare(i_, 2, "//") == 0) {
                std::size_t end = s_.find('\n', i_);
                i_ = end == std::string_view::npos ? s_.size() : end + 1;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                std::size_t end = s_.find("*/", i_ + 2);
                if (end == std::string_view::npos) return failHere("comment is not closed");
                i_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    static bool unquotedChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
               c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
    }
    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // A string at i_, quoted or not; false with an error if there is none.
    bool string(std::string& out) {
        out.clear();
        if (i_ >= s_.size()) return failHere("expected a string, found the end of the text");
        char quote = s_[i_];
        if (quote != '"' && quote != '\'') {
            std::size_t start = i_;
            while (i_ < s_.size() && unquotedChar(s_[i_])) ++i_;
            if (i_ == start) return failHere(std::string("expected a string, found '") + s_[i_] + "'");
            out.assign(s_.substr(start, i_ - start));
            return true;
        }
        ++i_;
        char16_t pendingHigh = 0;  // a \U high surrogate waiting for its low half
        auto flushHigh = [&] {
            if (pendingHigh) appendUtf8(out, 0xFFFD);
            pendingHigh = 0;
        };
        while (i_ < s_.size() && s_[i_] != quote) {
            char c = s_[i_++];
            if (c != '\\') {
                flushHigh();
                out += c;
                continue;
            }
            if (i_ >= s_.size()) break;
            char e = s_[i_++];
            if (e == 'U' || e == 'u') {
                char32_t unit = 0;
                int digits = 0;
                for (; digits < 4 && i_ < s_.size() && hexDigit(s_[i_]) >= 0; ++digits)
                    unit = unit * 16 + static_cast<char32_t>(hexDigit(s_[i_++]));
                if (digits == 0) return failHere("\\U needs hexadecimal digits");
                if (unit >= 0xDC00 && unit <= 0xDFFF && pendingHigh) {
                    appendUtf8(out, 0x10000 + ((char32_t(pendingHigh) - 0xD800) << 10) + (unit - 0xDC00));
                    pendingHigh = 0;
                } else {
                    flushHigh();
                    if (unit >= 0xD800 && unit <= 0xDBFF)
                        pendingHigh = static_cast<char16_t>(unit);
                    else
                        appendUtf8(out, unit);
                }
                continue;
            }
            flushHigh();
            if (e >= '0' && e <= '7') {
                char32_t v = static_cast<char32_t>(e - '0');
                for (int k = 1; k < 3 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k)
                    v = v * 8 + static_cast<char32_t>(s_[i_++] - '0');
                appendUtf8(out, v);
                continue;
            }
            switch (e) {
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'v': out += '\v'; break;
            default: out += e; break;  // \" \' \\ and any other character stand for themselves
            }
        }
        flushHigh();
        if (i_ >= s_.size()) return failHere("string is not closed");
        ++i_;
        return true;
    }

    bool data(PlistValue& out) {
        ++i_;  // '<'
        PlistData d;
        int high = -1;
        while (i_ < s_.size() && s_[i_] != '>') {
            char c = s_[i_++];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
            int h = hexDigit(c);
            if (h < 0) return failHere("data holds a character that is no hexadecimal digit");
            if (high < 0) {
                high = h;
            } else {
                d.bytes.push_back(static_cast<std::uint8_t>(high * 16 + h));
                high = -1;
            }
        }
        if (i_ >= s_.size()) return failHere("data is not closed with '>'");
        if (high >= 0) return failHere("data has an odd number of hexadecimal digits");
        ++i_;
        out = PlistValue(std::move(d));
        return true;
    }

    bool value(PlistValue& out, std::size_t depth) {
        if (depth > kMaxDepth) return failHere("nests deeper than " + std::to_string(kMaxDepth) + " levels");
        if (i_ >= s_.size()) return failHere("expected a value, found the end of the text");
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            PlistDict dict;
            if (!entries(dict, depth + 1, true)) return false;
            out = PlistValue(std::move(dict));
            return true;
        }
        if (c == '(') {
            ++i_;
            PlistArray array;
            for (;;) {
                if (!skipSpace()) return false;
                if (i_ < s_.size() && s_[i_] == ')') {
                    ++i_;
                    break;
                }
                PlistValue item;
                if (!value(item, depth + 1)) return false;
                array.push_back(std::move(item));
                if (!skipSpace()) return false;
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < s_.size() && s_[i_] == ')') {
                    ++i_;
                    break;
                }
                return failHere("expected ',' or ')' in an array");
            }
            out = PlistValue(std::move(array));
            return true;
        }
        if (c == '<') return data(out);
        std::string s;
        if (!string(s)) return false;
        out = PlistValue(std::move(s));
        return true;
    }

    // `key = value;` pairs up to '}' (braced) or the end of the text (the table's top level).
    bool entries(PlistDict& dict, std::size_t depth, bool braced) {
        for (;;) {
            if (!skipSpace()) return false;
            if (i_ >= s_.size()) {
                if (braced) return failHere("dictionary is not closed with '}'");
                return true;
            }
            if (braced && s_[i_] == '}') {
                ++i_;
                return true;
            }
            std::string key;
            if (!string(key)) return false;
            if (!skipSpace()) return false;
            if (i_ < s_.size() && s_[i_] == ';') {
                ++i_;
                dict.insert_or_assign(key, PlistValue(key));
                continue;
            }
            if (i_ >= s_.size() || s_[i_] != '=') return failHere("expected '=' after the key \"" + key + "\"");
            ++i_;
            if (!skipSpace()) return false;
            PlistValue v;
            if (!value(v, depth + 1)) return false;
            if (!skipSpace()) return false;
            if (i_ >= s_.size() || s_[i_] != ';') return failHere("expected ';' after the value of \"" + key + "\"");
            ++i_;
            dict.insert_or_assign(std::move(key), std::move(v));
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::string error_;
};

bool looksLikeXml(std::string_view text) {
    std::size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string_view::npos) return false;
    text.remove_prefix(at);
    return text.starts_with("<?xml") || text.starts_with("<plist") || text.starts_with("<!DOCTYPE");
}

Result<PlistDict> fromPlist(ByteSpan bytes) {
    auto parsed = parsePlist(bytes, kSmallPlistLimits);
    if (!parsed) return fail(parsed.error());
    if (!parsed->dict()) return fail("strings table is a property list but not a dictionary");
    return std::move(*std::get_if<PlistDict>(&parsed->value));
}

}  // namespace

Result<PlistDict> parseStringsText(std::string_view utf8) { return TextParser(utf8).table(); }

Result<PlistDict> parseStringsFile(ByteSpan bytes) {
    if (bytes.size() > kMaxTableBytes)
        return fail("strings table is larger than " + std::to_string(kMaxTableBytes / (1024 * 1024)) + " MB");
    std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (raw.substr(0, 8) == "bplist00") return fromPlist(bytes);

    std::string text;
    auto b = [&](std::size_t k) { return k < raw.size() ? static_cast<unsigned char>(raw[k]) : 0x100u; };
    if (b(0) == 0xFF && b(1) == 0xFE)
        text = utf16ToUtf8(raw.substr(2), false);
    else if (b(0) == 0xFE && b(1) == 0xFF)
        text = utf16ToUtf8(raw.substr(2), true);
    else if (raw.size() >= 2 && b(0) != 0 && b(0) < 0x80 && b(1) == 0)
        text = utf16ToUtf8(raw, false);
    else if (raw.size() >= 2 && b(0) == 0 && b(1) != 0 && b(1) < 0x80)
        text = utf16ToUtf8(raw, true);
    else if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF)
        text = raw.substr(3);
    else
        text = raw;
    if (!isValidUtf8(text)) return fail("strings table is not valid UTF-8 or UTF-16 text");

    if (looksLikeXml(text)) return fromPlist(ByteSpan(reinterpret_cast<const std::byte*>(text.data()), text.size()));
    return parseStringsText(text);
}

Result<PlistDict> readStringsFile(const std::string& path) {
    auto file = MappedFile::open(path);
    if (!file) return fail(file.error());
    auto parsed = parseStringsFile(file->bytes());
    if (!parsed) return fail("'" + path + "': " + parsed.error());
    return parsed;
}

}  // namespace tessarin
