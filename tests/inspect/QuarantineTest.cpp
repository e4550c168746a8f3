// Quarantine flags: from attribute values and from real attributes on the test file system.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "Quarantine.h"
#include "TempDir.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {
namespace {

std::string flagsOf(const std::string& value) {
    return quarantineFlagsFromValue(std::vector<unsigned char>(value.begin(), value.end()));
}

// The flags are the value's first four user-perceived characters once it has eleven, and only
// valid UTF-8 has any; they are set when the third scalar (not character) is an 8.
TEST(QuarantineFlags, FirstFourCharactersOfElevenAndTheirThirdScalar) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one character of five scalars
    const std::string flag = "\U0001F1E9\U0001F1EA";
    const std::pair<std::string, std::string> values[] = {
        {"0083;5e1c00", "0083"},  // eleven
        {"0083;5e1c0", ""},       // ten
        {"0083;5e1c0000;Safari;6A2A2BCE-3BB6-4AF8-9B3D-1B2A8F1E8C30", "0083"},
        {"", ""},
        {"0083;5e1c0000;\xFF\xFEzz", ""},
        {std::string("\xC0\xB0") + "083;5e1c0000;", ""},
        {"e\u0301e\u0301e\u0301e\u0301;abcdef", "e\u0301e\u0301e\u0301e\u0301"},
        {"0083;5e1c0\u0301", ""},  // eleven scalars, but the combining mark joins the tenth
        {family + "083;5e1c000", family + "083"},
        {flag + "0\u00e98;5e1c0000", flag + "0\u00e98"},
    };
    for (const auto& [value, flags] : values) EXPECT_EQ(flagsOf(value), flags) << value;
    const std::pair<const char*, bool> set[] = {
        {"0083", true},        {"0081", true}, {"00c1", false},      {"0003", false},
        {"", false},           {"008", false}, {"a\u030183b", true},  // four characters whose third scalar is the 8
        {"0a\u030188", false},  // the third character is an 8, the third scalar the accent
        {"0a\u03018", false},   // four scalars, three characters
    };
    for (const auto& [flags, expected] : set) EXPECT_EQ(quarantineFlagIsSet(flags), expected) << flags;
}

TEST(QuarantineRecord, ValuesAreDecodedOrSaidToBeMalformed) {
    struct Row {
        const char* value;
        const char* text;  // quarantineText, whole
    };
    // clang-format off
    const Row rows[] = {
        {"0083;5e1c0000;Safari;5B3C2F1A-0D4E-4C8B-9A71-2E5F6B7C8D9E",
         "Quarantine flags=0083 (downloaded, sandboxed, unknown 0x0080)\nQuarantined=2020-01-13 05:28:32 UTC\n"
         "Agent=Safari\nEvent=5B3C2F1A-0D4E-4C8B-9A71-2E5F6B7C8D9E\n"},
        {"00c1;607842eb;Brave;",
         "Quarantine flags=00c1 (downloaded, user approved, unknown 0x0080)\nQuarantined=2021-04-15 13:43:07 UTC\n"
         "Agent=Brave\n"},
        // An agent may hold a semicolon; the last field is still the event.
        {"0004;0;A;B;", "Quarantine flags=0004 (hard)\nQuarantined=1970-01-01 00:00:00 UTC\nAgent=A;B\n"},
        // High bits are named whole, not cut to fit.
        {"90000000;0;;", "Quarantine flags=90000000 (unknown 0x10000000, unknown 0x80000000)\n"
                         "Quarantined=1970-01-01 00:00:00 UTC\nAgent=not named\n"},
        {"0000;ffffffffffffffff;;", "Quarantine flags=0000\nQuarantined=0xffffffffffffffff seconds after 1970\nAgent=not named\n"},
        {"0083;5e1c", "Quarantine attribute malformed (fewer than three fields): 0083;5e1c\n"},
        {"zz83;5e1c0000;x;", "Quarantine attribute malformed (the flags are not hexadecimal): zz83;5e1c0000;x;\n"},
        {"0083;;x;", "Quarantine attribute malformed (the time is not hexadecimal): 0083;;x;\n"},
        {"0083;5e1c0000;x;not-a-uuid\n", "Quarantine attribute malformed (the event identifier is not a UUID): 0083;5e1c0000;x;not-a-uuid\\n\n"},
    };
    // clang-format on
    for (const Row& r : rows) {
        const QuarantineRecord record = decodeQuarantine(r.value);
        EXPECT_EQ(quarantineText(record), r.text) << r.value;
        EXPECT_EQ(record.raw, r.value);
    }
}

class QuarantineAttribute : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeFile(dir_ / "probe", "x");
        if (::setxattr((dir_ / "probe").c_str(), "user.tessarin.probe", "1", 1, 0) != 0)
            GTEST_SKIP() << "this file system takes no user extended attributes: " << std::strerror(errno);
    }
    void quarantine(const std::string& path, const std::string& value) {
        ASSERT_EQ(::setxattr(path.c_str(), "user.com.apple.quarantine", value.data(), value.size(), 0), 0);
    }
    test::TempDir dir_;
};

TEST_F(QuarantineAttribute, FlagsOfFilesFoldersAndLinksWithAndWithoutTheAttribute) {
    test::writeFile(dir_ / "downloaded", "x");
    test::writeFile(dir_ / "local", "x");
    quarantine(dir_ / "downloaded", "0083;5e1c0000;Safari;6A2A2BCE-3BB6-4AF8-9B3D-1B2A8F1E8C30");
    EXPECT_EQ(quarantineFlags(fileURLForPath(dir_ / "downloaded")), "0083");
    EXPECT_EQ(quarantineFlags(fileURLForPath(dir_ / "local")), "");
    EXPECT_EQ(quarantineFlags(fileURLForPath(dir_ / "missing")), "");
    auto record = quarantineRecord(fileURLForPath(dir_ / "downloaded"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->agent, "Safari");
    EXPECT_FALSE(quarantineRecord(fileURLForPath(dir_ / "local")));
    // A folder given with a trailing slash, and a link to it.
    test::makeDirectories(dir_ / "Tool.app");
    quarantine(dir_ / "Tool.app", "00c1;5e1c0000;Mail;");
    ASSERT_EQ(::symlink("Tool.app", (dir_ / "Link").c_str()), 0);
    EXPECT_EQ(quarantineFlags(FileURL{dir_ / "Tool.app/", true}), "00c1");
    EXPECT_EQ(quarantineFlags(fileURLForPath(dir_ / "Link")), "00c1");
    // Empty, short and binary values give nothing.
    for (auto [name, value] : {std::pair<const char*, std::string>{"empty", ""},
                               {"short", "0083;5e1c0"},
                               {"binary", std::string("0083;\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12)}}) {
        test::writeFile(dir_ / name, "x");
        quarantine(dir_ / name, value);
        EXPECT_EQ(quarantineFlags(fileURLForPath(dir_ / name)), "") << name;
    }
}

}  // namespace
}  // namespace tessarin
