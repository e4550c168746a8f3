// Text operations the platform's string type would supply: UTF-8 checks, UTF-16 conversion and
// user-perceived characters (extended grapheme clusters).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);

// The Unicode scalars of well-formed UTF-8 text (call isValidUtf8 first; each maximal ill-formed
// part becomes one U+FFFD).
std::vector<char32_t> unicodeScalars(std::string_view utf8);

// UTF-16 code units (in the given byte order) as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

void appendUtf8(std::string& out, char32_t scalar);

// Byte offsets in `utf8` at which user-perceived characters begin, plus the text's size at the end,
// so that character i spans [result[i], result[i + 1]). Unicode's extended grapheme clusters, as
// ICU's character break iterator finds them.
std::vector<std::size_t> graphemeClusterBoundaries(std::string_view utf8);

// The number of user-perceived characters.
std::size_t graphemeClusterCount(std::string_view utf8);

// The first `count` user-perceived characters (all of the text when it has fewer).
std::string_view firstGraphemeClusters(std::string_view utf8, std::size_t count);

}  // namespace tessarin
