// UTF-8 / UTF-16 handling and user-perceived characters, on ICU: its UTF-8 macros decode, and its
// character break iterator segments extended grapheme clusters with Unicode's own data.
#include "base/Unicode.h"

#include <cstdint>
#include <memory>

#include <unicode/ubrk.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace tessarin {

namespace {

const std::uint8_t* bytesOf(std::string_view s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

struct BreakIteratorCloser {
    void operator()(UBreakIterator* b) const { ubrk_close(b); }
};
struct TextCloser {
    void operator()(UText* t) const { utext_close(t); }
};
using BreakIteratorPtr = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;

// Opening an iterator loads the rules; one is opened per process and each caller works on a clone,
// so threads never share an iterator's position.
BreakIteratorPtr characterBreaks() {
    static const BreakIteratorPtr prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        BreakIteratorPtr b(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
        if (U_FAILURE(status)) b.reset();
        return b;
    }();
    if (!prototype) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    BreakIteratorPtr clone(ubrk_clone(prototype.get(), &status));
    if (U_FAILURE(status)) clone.reset();
    return clone;
}

// Where each scalar begins: what is left when ICU's break data cannot be had, so that callers still
// get boundaries in order, never a failure.
std::vector<std::size_t> scalarBoundaries(std::string_view utf8) {
    std::vector<std::size_t> bounds;
    for (std::size_t i = 0; i < utf8.size();) {
        bounds.push_back(i);
        UChar32 c;
        U8_NEXT_OR_FFFD(bytesOf(utf8), i, utf8.size(), c);
    }
    bounds.push_back(utf8.size());
    return bounds;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    // U8_NEXT refuses overlong forms, surrogates and anything past U+10FFFF with a negative value.
    for (std::size_t i = 0; i < bytes.size();) {
        UChar32 c;
        U8_NEXT(bytesOf(bytes), i, bytes.size(), c);
        if (c < 0) return false;
    }
    return true;
}

std::vector<char32_t> unicodeScalars(std::string_view utf8) {
    std::vector<char32_t> out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        UChar32 c;
        U8_NEXT_OR_FFFD(bytesOf(utf8), i, utf8.size(), c);
        out.push_back(static_cast<char32_t>(c));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || U_IS_SURROGATE(c)) c = 0xFFFD;
    std::uint8_t buffer[U8_MAX_LENGTH];
    std::size_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    out.append(reinterpret_cast<const char*>(buffer), length);
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t k) -> char16_t {
        auto a = static_cast<unsigned char>(bytes[2 * k]);
        auto b = static_cast<unsigned char>(bytes[2 * k + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t k = 0; k < units; ++k) {
        char16_t u = unit(k);
        if (U16_IS_LEAD(u) && k + 1 < units) {
            char16_t low = unit(k + 1);
            if (U16_IS_TRAIL(low)) {
                appendUtf8(out, static_cast<char32_t>(U16_GET_SUPPLEMENTARY(u, low)));
                ++k;
                continue;
            }
        }
        appendUtf8(out, U16_IS_SURROGATE(u) ? char32_t(0xFFFD) : char32_t(u));
    }
    if (bytes.size() % 2) appendUtf8(out, 0xFFFD);
    return out;
}

std::vector<std::size_t> graphemeClusterBoundaries(std::string_view utf8) {
    if (utf8.empty()) return {0};
    BreakIteratorPtr breaks = characterBreaks();
    UErrorCode status = U_ZERO_ERROR;
    // UTF-8 text is read in place; ICU's offsets are then byte offsets into it.
    std::unique_ptr<UText, TextCloser> text(
        utext_openUTF8(nullptr, utf8.data(), static_cast<std::int64_t>(utf8.size()), &status));
    if (breaks && U_SUCCESS(status)) ubrk_setUText(breaks.get(), text.get(), &status);
    if (!breaks || U_FAILURE(status)) return scalarBoundaries(utf8);
    std::vector<std::size_t> bounds;
    for (std::int32_t at = ubrk_first(breaks.get()); at != UBRK_DONE; at = ubrk_next(breaks.get()))
        bounds.push_back(static_cast<std::size_t>(at));
    return bounds;
}

std::size_t graphemeClusterCount(std::string_view utf8) { return graphemeClusterBoundaries(utf8).size() - 1; }

std::string_view firstGraphemeClusters(std::string_view utf8, std::size_t count) {
    auto bounds = graphemeClusterBoundaries(utf8);
    std::size_t clusters = bounds.size() - 1;
    if (count >= clusters) return utf8;
    return utf8.substr(0, bounds[count]);
}

}  // namespace tessarin
