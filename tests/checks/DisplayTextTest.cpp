// Item bytes shown as text: names that are not UTF-8 are escaped, never substituted, and no two
// different names ever show the same.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/DisplayText.h"
#include "base/Unicode.h"

using namespace tessarin;

TEST(DisplayText, InvalidBytesShowAsHexEscapesAndValidTextIsKept) {
    EXPECT_EQ(displayText("Sample.app"), "Sample.app");
    EXPECT_EQ(displayText("Caf\xC3\xA9 \xE2\x9C\x85.app"), "Caf\xC3\xA9 \xE2\x9C\x85.app");
    EXPECT_EQ(displayText("evil\xFF.app"), "evil\\xFF.app");
    // A truncated sequence: each of its bytes, then the next character as it is.
    EXPECT_EQ(displayText("\xE2\x9C"
                          "A"),
              "\\xE2\\x9CA");
    EXPECT_EQ(displayText("\xE2\x9C"), "\\xE2\\x9C");
    // Overlong forms, surrogates and values past U+10FFFF are no characters either.
    EXPECT_EQ(displayText("\xC0\xAF"), "\\xC0\\xAF");
    EXPECT_EQ(displayText("\xED\xA0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(displayText("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
    EXPECT_EQ(displayText(std::string("a\0b", 3)), "a\\x00b");
}

TEST(DisplayText, NamesThatDifferOnlyInTheirBytesNeverShowTheSame) {
    const std::string names[] = {
        "evil\xFF.app",          // the byte 0xFF
        "evil\xEF\xBF\xBD.app",  // U+FFFD, what a lossy decoding makes of it
        "evil\\xFF.app",         // a backslash, an x and two hex digits, typed
        "evil\\\\xFF.app",      "evil\n.app", "evil\\n.app", "evil\\x0A.app", "evil\\.app",
    };
    std::set<std::string> shown;
    for (const std::string& name : names) {
        const std::string text = displayText(name);
        EXPECT_TRUE(isValidUtf8(text)) << text;
        EXPECT_TRUE(shown.insert(text).second) << "shown alike: " << text;
    }
    // A typed backslash is doubled, as the tools print it, so it never passes for an escape.
    EXPECT_EQ(displayText("evil\\xFF.app"), "evil\\\\xFF.app");
}

TEST(DisplayText, ANameIsOneLineButAToolsOutputKeepsItsLines) {
    // A name cannot start a line of its own in the log or the report, nor turn the text around it.
    EXPECT_EQ(displayText("x\n\xE2\x9C\x85 It has been notarized.\tz\r\x7F"),
              "x\\n\xE2\x9C\x85 It has been notarized.\\tz\\r\\x7f");
    EXPECT_EQ(displayText("a\xE2\x80\xAEppa.exe"), "a\\u202eppa.exe");
    // An overlong line feed is no line feed: its bytes are escaped one by one.
    EXPECT_EQ(displayText("a\xE0\x80\x8A"
                          "b"),
              "a\\xE0\\x80\\x8Ab");
    // The tools escape what they echo from the item themselves; their own lines stay lines.
    EXPECT_EQ(displayText("Executable=/a/evil\xFF.app\n\tok\\n\r\n", DisplayAs::Lines),
              "Executable=/a/evil\\xFF.app\n\tok\\n\\x0d\n");
}
