// Escaping of item-supplied text for the tools' output.
#include "tools/print/Printable.h"

#include <cstdint>
#include <cstdio>

namespace tessarin {
namespace {

// Code points that move text to a new line or reorder it on screen.
bool disruptive(std::uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202a && cp <= 0x202e) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200e || cp == 0x200f || cp == 0x061c;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char buf[16];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else if (c >= 0xc2 && c <= 0xdf && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xc0) == 0x80) {
            const std::uint32_t cp = ((c & 0x1fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3fu);
            if (disruptive(cp)) {
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text.substr(i, 2));
            }
            i += 2;
            continue;
        } else if (c >= 0xe0 && c <= 0xef && i + 2 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xc0) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) & 0xc0) == 0x80) {
            const std::uint32_t cp = ((c & 0x0fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3fu) << 6) |
                                     (static_cast<unsigned char>(text[i + 2]) & 0x3fu);
            if (disruptive(cp)) {
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text.substr(i, 3));
            }
            i += 3;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

}  // namespace tessarin
