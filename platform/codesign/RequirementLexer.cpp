// The requirement language's lexer: whitespace and the three comment forms skipped, quoted strings
// unescaped, hashes and 0x values decoded to bytes; and the readers of date and OID literals.
#include "codesign/RequirementLexer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "codesign/RequirementParser.h"

namespace tessarin {

namespace {

constexpr const char* kKeywords[] = {
    "guest",  "host",   "designated", "library",     "plugin",    "or",       "and",       "always",
    "true",   "never",  "false",      "identifier",  "cdhash",    "platform", "notarized", "legacy",
    "anchor", "apple",  "generic",    "certificate", "cert",      "trusted",  "info",      "entitlement",
    "exists", "absent", "leaf",       "root",        "timestamp",
};

}  // namespace

bool isRequirementKeyword(std::string_view word) {
    for (const char* k : kKeywords)
        if (word == k) return true;
    return false;
}

namespace requirement_text {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string at(std::size_t offset) { return " (at byte " + std::to_string(offset) + ")"; }

Result<std::vector<Token>> lex(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    auto hexRun = [&](std::size_t from, std::size_t& end, std::string& bytes) -> bool {
        end = from;
        while (end < s.size() && hexValue(s[end]) >= 0) ++end;
        if (end == from || (end - from) % 2) return false;
        for (std::size_t k = from; k < end; k += 2)
            bytes += static_cast<char>(hexValue(s[k]) * 16 + hexValue(s[k + 1]));
        return true;
    };
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#' || (c == '/' && i + 1 < s.size() && s[i + 1] == '/')) {
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            auto end = s.find("*/", i + 2);
            if (end == std::string_view::npos) return fail("a comment is never closed" + at(i));
            i = end + 2;
            continue;
        }
        Token t;
        t.at = i;
        if (c == 'H' && i + 1 < s.size() && s[i + 1] == '"') {
            std::size_t end = 0;
            if (!hexRun(i + 2, end, t.text) || end >= s.size() || s[end] != '"')
                return fail("a hash must be an even number of hexadecimal digits inside H\"...\"" + at(i));
            t.kind = Tok::Hash;
            i = end + 1;
        } else if (isLetter(c)) {
            std::size_t end = i;
            while (end < s.size() && (isLetter(s[end]) || isDigit(s[end]) || s[end] == '.')) ++end;
            t.kind = Tok::Word;
            t.text.assign(s.substr(i, end - i));
            i = end;
        } else if (c == '0' && i + 1 < s.size() && s[i + 1] == 'x') {
            std::size_t end = 0;
            if (!hexRun(i + 2, end, t.text))
                return fail("0x must be followed by an even number of hexadecimal digits" + at(i));
            t.kind = Tok::Hex;
            i = end;
        } else if (isDigit(c)) {
            std::size_t end = i;
            while (end < s.size() && isDigit(s[end])) ++end;
            t.kind = Tok::Integer;
            t.text.assign(s.substr(i, end - i));
            i = end;
        } else if (c == '"') {
            std::size_t k = i + 1;
            for (;; ++k) {
                if (k >= s.size()) return fail("a quoted string is never closed" + at(i));
                if (s[k] == '"') break;
                if (s[k] == '\\' && ++k >= s.size()) return fail("a quoted string is never closed" + at(i));
                t.text += s[k];
            }
            t.kind = Tok::String;
            i = k + 1;
        } else if (c == '<' && i + 1 < s.size() && (isDigit(s[i + 1]) || s[i + 1] == '-')) {
            // A date; "<" before anything else is the operator.
            auto end = s.find('>', i + 1);
            if (end == std::string_view::npos || end - i > 48) return fail("a date is never closed with >" + at(i));
            t.kind = Tok::Date;
            t.text.assign(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            auto two = [&](char second) { return i + 1 < s.size() && s[i + 1] == second; };
            std::size_t len = 1;
            switch (c) {
            case '=':
                if (two('>')) {
                    t.kind = Tok::Arrow;
                    len = 2;
                } else {
                    t.kind = Tok::Equal;
                    if (two('=')) len = 2;
                }
                break;
            case '<':
                t.kind = two('=') ? Tok::LessEqual : Tok::Less;
                len = two('=') ? 2 : 1;
                break;
            case '>':
                t.kind = two('=') ? Tok::GreaterEqual : Tok::Greater;
                len = two('=') ? 2 : 1;
                break;
            case ';': t.kind = Tok::Semi; break;
            case '(': t.kind = Tok::LParen; break;
            case ')': t.kind = Tok::RParen; break;
            case '[': t.kind = Tok::LBrack; break;
            case ']': t.kind = Tok::RBrack; break;
            case '~': t.kind = Tok::Tilde; break;
            case '-': t.kind = Tok::Minus; break;
            case '!': t.kind = Tok::Not; break;
            case '*': t.kind = Tok::Star; break;
            default: {
                const unsigned char u = static_cast<unsigned char>(c);
                std::string shown = u >= 0x21 && u < 0x7f ? "'" + std::string(1, c) + "'" : "byte " + std::to_string(u);
                return fail("the requirement text holds " + shown + ", which the language does not use" + at(i));
            }
            }
            i += len;
        }
        out.push_back(std::move(t));
    }
    Token end;
    end.at = s.size();
    out.push_back(end);
    return out;
}

std::optional<std::int64_t> dateSeconds(const std::string& text) {
    constexpr std::int64_t k2001 = 978307200;
    std::size_t digitsFrom = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (!text.empty() && text.size() <= 20 &&
        std::all_of(text.begin() + static_cast<long>(digitsFrom), text.end(), isDigit)) {
        if (digitsFrom == text.size()) return std::nullopt;
        try {
            return std::stoll(text);
        } catch (...) {
            return std::nullopt;
        }
    }
    long long year = 0;
    int month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    const int fields =
        std::sscanf(text.c_str(), "%lld-%d-%d %d:%d:%d +0000%n", &year, &month, &day, &hour, &minute, &second, &used);
    if (fields != 6 || static_cast<std::size_t>(used) != text.size()) return std::nullopt;
    if (year < -100000 || year > 100000) return std::nullopt;
    std::tm tm{};
    tm.tm_year = static_cast<int>(year - 1900);
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::tm asked = tm;
    const std::time_t t = ::timegm(&tm);
    // timegm carries 31 April into May; a date that does not come back as written is not a date.
    if (tm.tm_year != asked.tm_year || tm.tm_mon != asked.tm_mon || tm.tm_mday != asked.tm_mday ||
        tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec)
        return std::nullopt;
    return static_cast<std::int64_t>(t) - k2001;
}

std::optional<Bytes> oidBytes(std::string_view text) {
    Bytes out;
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        text.remove_prefix(2);
        if (text.size() % 2) return std::nullopt;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        return out;
    }
    std::vector<std::uint64_t> arcs;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = text.find('.', i);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view arc = text.substr(i, end - i);
        if (arc.empty() || arc.size() > 18 || !std::all_of(arc.begin(), arc.end(), isDigit)) return std::nullopt;
        if (arc.size() > 1 && arc[0] == '0') return std::nullopt;
        arcs.push_back(std::stoull(std::string(arc)));
        i = end + 1;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return std::nullopt;
    auto put = [&](std::uint64_t v) {
        std::uint8_t groups[10];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(v & 0x7f);
            v >>= 7;
        } while (v);
        while (n > 1) out.push_back(groups[--n] | 0x80);
        out.push_back(groups[0]);
    };
    put(arcs[0] * 40 + arcs[1]);
    for (std::size_t k = 2; k < arcs.size(); ++k) put(arcs[k]);
    return out;
}

}  // namespace requirement_text

}  // namespace tessarin
