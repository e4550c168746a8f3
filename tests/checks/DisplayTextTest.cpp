// Item bytes shown as text: names that are not UTF-8 are escaped, never substituted, and no two
// different names ever show the same.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/DisplayText.h"
#include "base/Unicode.h"

using namespace tessarin;

TEST(DisplayText, InvalidBytesAndControlsAreEscapedAndValidTextIsKept) {
    struct Row {
        std::string bytes, shown;
        DisplayAs as = DisplayAs::Name;
    };
    const Row rows[] = {
        {"Sample.app", "Sample.app"},
        {"Caf\xC3\xA9 \xE2\x9C\x85.app", "Caf\xC3\xA9 \xE2\x9C\x85.app"},
        {"evil\xFF.app", "evil\\xFF.app"},
        // A typed backslash is doubled, as the tools print it, so it never passes for an escape.
        {"evil\\xFF.app", "evil\\\\xFF.app"},
        // A truncated sequence: each of its bytes, then the next character as it is. Overlong forms,
        // surrogates and values past U+10FFFF are no characters either.
        {"\xE2\x9C\x41", "\\xE2\\x9CA"},
        {"\xE2\x9C", "\\xE2\\x9C"},
        {"\xC0\xAF", "\\xC0\\xAF"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {std::string("a\0b", 3), "a\\x00b"},
        // A name cannot start a line of its own in the log or the report, nor turn the text around it.
        {"x\n\xE2\x9C\x85 It has been notarized.\tz\r\x7F", "x\\n\xE2\x9C\x85 It has been notarized.\\tz\\r\\x7f"},
        {"a\xE2\x80\xAEppa.exe", "a\\u202eppa.exe"},
        // An overlong line feed is no line feed: its bytes are escaped one by one.
        {"a\xE0\x80\x8A\x62", "a\\xE0\\x80\\x8Ab"},
        // The tools escape what they echo from the item themselves; their own lines stay lines.
        {"Executable=/a/evil\xFF.app\n\tok\\n\r\n", "Executable=/a/evil\\xFF.app\n\tok\\n\\x0d\n", DisplayAs::Lines},
    };
    for (const Row& row : rows) EXPECT_EQ(displayText(row.bytes, row.as), row.shown) << row.shown;
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
}
