// The one escape for item bytes that are shown as text.
#include "DisplayText.h"

#include <cstddef>

#include "tools/print/Printable.h"

namespace tessarin {

namespace {

// The length of the well-formed UTF-8 sequence at `i`, or 0 when the byte there does not begin
// one (overlong forms, surrogates and values past U+10FFFF are ill-formed).
std::size_t sequenceLength(const unsigned char* s, std::size_t n, std::size_t i) {
    const unsigned char c = s[i];
    if (c < 0x80) return 1;
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c == 0xE0) { length = 3; lo = 0xA0; }
    else if (c >= 0xE1 && c <= 0xEC) length = 3;
    else if (c == 0xED) { length = 3; hi = 0x9F; }
    else if (c >= 0xEE && c <= 0xEF) length = 3;
    else if (c == 0xF0) { length = 4; lo = 0x90; }
    else if (c >= 0xF1 && c <= 0xF3) length = 4;
    else if (c == 0xF4) { length = 4; hi = 0x8F; }
    if (length == 0 || i + length > n) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char lower = k == 1 ? lo : 0x80, upper = k == 1 ? hi : 0xBF;
        if (s[i + k] < lower || s[i + k] > upper) return 0;
    }
    return length;
}

void appendEscape(std::string& out, unsigned char byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
}

}  // namespace

std::string displayText(std::string_view bytes, DisplayAs as) {
    const std::string printed = as == DisplayAs::Name ? printable(bytes) : std::string(bytes);
    const auto* s = reinterpret_cast<const unsigned char*>(printed.data());
    const std::size_t n = printed.size();
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        const std::size_t length = sequenceLength(s, n, i);
        const bool control = (c < 0x20 || c == 0x7F) && c != '\n' && c != '\t';
        if (length == 0 || control) {
            appendEscape(out, c);
            ++i;
        } else {
            out.append(printed, i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace tessarin
