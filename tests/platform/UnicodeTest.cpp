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

TEST(GraphemeClusters, AsciiIsOneCharacterPerByte) {
    EXPECT_EQ(graphemeClusterCount(""), 0u);
    EXPECT_EQ(graphemeClusterCount("0083;5e1c0000;Safari;"), 21u);
}

TEST(GraphemeClusters, CombiningMarksJoinTheirBase) {
    EXPECT_EQ(graphemeClusterCount("e\u0301\u0323x"), 2u);  // e + two accents, x
    EXPECT_EQ(graphemeClusterCount("\u0915\u093F"), 1u);    // Devanagari ki (spacing mark)
    EXPECT_EQ(graphemeClusterCount("\u0301"), 1u);          // a lone mark is a character
    EXPECT_EQ(firstGraphemeClusters("a\u0308b\u0308cd", 2), "a\u0308b\u0308");
    // Marks and conjuncts of scripts a hand-made property table once missed.
    EXPECT_EQ(graphemeClusterCount("\u0915\u094D\u0937\u093F"), 1u);  // Devanagari kssi: virama conjunct
    EXPECT_EQ(graphemeClusterCount("\U00011315\U0001133E"), 1u);      // Grantha ka + vowel sign aa
    EXPECT_EQ(graphemeClusterCount("\u0C95\u0CF3"), 1u);              // Kannada mark new in Unicode 15
    EXPECT_EQ(graphemeClusterCount("\U00016F00\U00016F51"), 1u);      // Miao vowel sign
    EXPECT_EQ(graphemeClusterCount("\U00011D46\U00011D0C"), 1u);      // Masaram Gondi repha prepends
}

TEST(GraphemeClusters, EmojiSequencesAreSingleCharacters) {
    EXPECT_EQ(graphemeClusterCount("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1u);  // family
    EXPECT_EQ(graphemeClusterCount("\U0001F44D\U0001F3FD"), 1u);                        // skin tone
    EXPECT_EQ(graphemeClusterCount("\u26A0\uFE0F"), 1u);                                // variation selector
    EXPECT_EQ(graphemeClusterCount("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"), 2u);    // two flags
    EXPECT_EQ(graphemeClusterCount("\U0001F1E9\U0001F1EA\U0001F1EB"), 2u);              // flag + lone indicator
    EXPECT_EQ(graphemeClusterCount("a\u200D\U0001F600"), 2u);  // ZWJ joins only after a pictograph
    EXPECT_EQ(graphemeClusterCount("\U0001F3F4\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F"),
              1u);  // a subdivision flag: black flag and tags
}

TEST(GraphemeClusters, HangulAndLineEnds) {
    EXPECT_EQ(graphemeClusterCount("\u1100\u1161\u11A8"), 1u);  // conjoining jamo L V T
    EXPECT_EQ(graphemeClusterCount("\uAC00\u11A8"), 1u);        // LV + T
    EXPECT_EQ(graphemeClusterCount("\uAC01\u1161"), 2u);        // LVT does not take V
    EXPECT_EQ(graphemeClusterCount("a\r\nb"), 3u);
    EXPECT_EQ(graphemeClusterCount("\n\r"), 2u);
    EXPECT_EQ(graphemeClusterCount("\r\u0301"), 2u);  // no mark joins a control
}

TEST(GraphemeClusters, PrefixOfMoreThanTheTextIsTheWholeText) {
    EXPECT_EQ(firstGraphemeClusters("ab", 4), "ab");
    EXPECT_EQ(firstGraphemeClusters("", 4), "");
}

}  // namespace
}  // namespace tessarin
