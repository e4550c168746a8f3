// The one escape for item bytes shown as text, by the application and by the stand-in tools alike, so
// that a name reads the same in a window's title as in the tools' lines below it.
#include "base/DisplayText.h"

#include <cstddef>
#include <cstdio>

namespace tessarin {

namespace {

// The length of the well-formed UTF-8 sequence at `i`, or 0 when the byte there does not begin
// one (overlong forms, surrogates and values past U+10FFFF are ill-formed).
std::size_t sequenceLength(const unsigned char* s, std::size_t n, std::size_t i) {
    const unsigned char c = s[i];
    if (c < 0x80) return 1;
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF)
        length = 2;
    else if (c == 0xE0) {
        length = 3;
        lo = 0xA0;
    } else if (c >= 0xE1 && c <= 0xEC)
        length = 3;
    else if (c == 0xED) {
        length = 3;
        hi = 0x9F;
    } else if (c >= 0xEE && c <= 0xEF)
        length = 3;
    else if (c == 0xF0) {
        length = 4;
        lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3)
        length = 4;
    else if (c == 0xF4) {
        length = 4;
        hi = 0x8F;
    }
    if (length == 0 || i + length > n) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char lower = k == 1 ? lo : 0x80, upper = k == 1 ? hi : 0xBF;
        if (s[i + k] < lower || s[i + k] > upper) return 0;
    }
    return length;
}

char32_t scalarOf(const unsigned char* s, std::size_t length) {
    if (length == 1) return s[0];
    char32_t scalar = s[0] & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) scalar = (scalar << 6) | (s[k] & 0x3F);
    return scalar;
}

// Characters that move text to a new line or reorder it on screen: C1 controls, the line and
// paragraph separators, the bidirectional marks, embeddings, overrides and isolates.
bool disruptive(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F || c == 0x061C;
}

void appendFormatted(std::string& out, const char* format, unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

}  // namespace

std::string displayText(std::string_view bytes, DisplayAs as) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const bool name = as == DisplayAs::Name;
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        const std::size_t length = sequenceLength(s, n, i);
        if (length == 0) {
            appendFormatted(out, "\\x%02X", c);
            ++i;
            continue;
        }
        const char32_t scalar = scalarOf(s + i, length);
        if (c == '\n' || c == '\t') {
            if (name)
                out += c == '\n' ? "\\n" : "\\t";
            else
                out += static_cast<char>(c);
        } else if (name && c == '\\') {
            out += "\\\\";
        } else if (name && c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            appendFormatted(out, "\\x%02x", c);
        } else if (name && disruptive(scalar)) {
            appendFormatted(out, "\\u%04x", static_cast<unsigned>(scalar));
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    return out;
}

}  // namespace tessarin
