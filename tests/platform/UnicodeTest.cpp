// User-perceived characters and UTF-8 / UTF-16 handling.
#include <gtest/gtest.h>

#include "base/Unicode.h"

namespace tessarin {
namespace {

TEST(Utf8Validity, RejectsOverlongSurrogatesAndTruncation) {
    EXPECT_TRUE(isValidUtf8("plain \u00e9 \u20ac \U0001F600 \uFFFD"));
    EXPECT_TRUE(isValidUtf8(std::string("a\0b", 3)));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(isValidUtf8("\x80"));
}

TEST(Utf16, SurrogatePairsAndLoneHalves) {
    EXPECT_EQ(utf16ToUtf8(std::string("\x3D\xD8\x00\xDE", 4), false), "\U0001F600");
    EXPECT_EQ(utf16ToUtf8(std::string("\xD8\x3D\xDE\x00", 4), true), "\U0001F600");
    EXPECT_EQ(utf16ToUtf8(std::string("\x3D\xD8\x41\x00", 4), false),
              "\uFFFD"
              "A");
    EXPECT_EQ(utf16ToUtf8(std::string("A\0B", 3), false), "A\uFFFD");  // odd trailing byte
}

TEST(GraphemeClusters, EachTextCountsAsManyCharactersAsAReaderSees) {
    const std::pair<const char*, std::size_t> rows[] = {
        {"", 0},
        {"0083;5e1c0000;Safari;", 21},
        {"e\u0301\u0323x", 2},  // e + two accents, x
        {"\u0915\u093F", 1},    // Devanagari ki (spacing mark)
        {"\u0301", 1},          // a lone mark is a character
        // Marks and conjuncts of scripts a hand-made property table once missed.
        {"\u0915\u094D\u0937\u093F", 1},                    // Devanagari kssi: virama conjunct
        {"\U00011315\U0001133E", 1},                        // Grantha ka + vowel sign aa
        {"\u0C95\u0CF3", 1},                                // Kannada mark new in Unicode 15
        {"\U00016F00\U00016F51", 1},                        // Miao vowel sign
        {"\U00011D46\U00011D0C", 1},                        // Masaram Gondi repha prepends
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},  // family
        {"\U0001F44D\U0001F3FD", 1},                        // skin tone
        {"\u26A0\uFE0F", 1},                                // variation selector
        {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},    // two flags
        {"\U0001F1E9\U0001F1EA\U0001F1EB", 2},              // flag + lone indicator
        {"a\u200D\U0001F600", 2},                           // ZWJ joins only after a pictograph
        {"\U0001F3F4\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F", 1},  // subdivision flag
        {"\u1100\u1161\u11A8", 1},                                                      // conjoining jamo L V T
        {"\uAC00\u11A8", 1},                                                            // LV + T
        {"\uAC01\u1161", 2},                                                            // LVT does not take V
        {"a\r\nb", 3},
        {"\n\r", 2},
        {"\r\u0301", 2},  // no mark joins a control
    };
    for (const auto& [text, count] : rows) EXPECT_EQ(graphemeClusterCount(text), count) << text;
    EXPECT_EQ(firstGraphemeClusters("a\u0308b\u0308cd", 2), "a\u0308b\u0308");
    EXPECT_EQ(firstGraphemeClusters("ab", 4), "ab");  // a prefix longer than the text is the text
    EXPECT_EQ(firstGraphemeClusters("", 4), "");
}

}  // namespace
}  // namespace tessarin
