// Property lists in both encodings, hostile lists, and the three forms of strings tables.
#include <gtest/gtest.h>

#include <string>

#include "BundleBuilder.h"
#include "TempDir.h"
#include "plist/Plist.h"
#include "plist/StringsFile.h"

namespace tessarin {
namespace {

using test::repeat;

std::span<const std::byte> asBytes(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

PlistValue sampleInfo() {
    PlistDict d;
    d["CFBundleIdentifier"] = PlistValue("com.example.Tool & <Co>");
    d["Count"] = PlistValue(std::int64_t{-42});
    d["Big"] = PlistValue(std::int64_t{1} << 40);
    d["Ratio"] = PlistValue(2.5);
    d["Flag"] = PlistValue(true);
    d["Blob"] = PlistValue(PlistData{{0, 1, 2, 255}});
    d["When"] = PlistValue(PlistDate{600000000});
    d["List"] = PlistValue(PlistArray{PlistValue("a"), PlistValue(PlistDict{{"k", PlistValue("v")}})});
    d["Name"] = PlistValue("Caf\u00e9 \U0001F600");
    return PlistValue(d);
}

void expectSample(const PlistValue& v) {
    ASSERT_TRUE(v.dict());
    EXPECT_EQ(*v.find("CFBundleIdentifier")->string(), "com.example.Tool & <Co>");
    EXPECT_EQ(*v.find("Count")->integer(), -42);
    EXPECT_EQ(*v.find("Big")->integer(), std::int64_t{1} << 40);
    EXPECT_DOUBLE_EQ(*v.find("Ratio")->real(), 2.5);
    EXPECT_TRUE(*v.find("Flag")->boolean());
    EXPECT_EQ(v.find("Blob")->data()->bytes, (std::vector<std::uint8_t>{0, 1, 2, 255}));
    EXPECT_DOUBLE_EQ(std::get<PlistDate>(v.find("When")->value).secondsSince2001, 600000000);
    const PlistArray* list = v.find("List")->array();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ(*(*list)[1].find("k")->string(), "v");
    EXPECT_EQ(*v.find("Name")->string(), "Caf\u00e9 \U0001F600");
}

TEST(PropertyList, RoundTripInEitherEncodingKeepsEveryType) {
    auto bin = toBinaryPlist(sampleInfo());
    ASSERT_EQ(std::string(bin.begin(), bin.begin() + 8), "bplist00");
    for (const std::string& bytes : {toXmlPlist(sampleInfo()), std::string(bin.begin(), bin.end())}) {
        auto parsed = parsePlist(asBytes(bytes));
        ASSERT_TRUE(parsed) << parsed.error();
        expectSample(*parsed);
    }
}

TEST(PropertyList, HandWrittenXmlWithEntitiesAndComments) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><dict><!-- <dict> in a comment -->\n"
        "<key>DTSDKName</key><string>macosx11.0</string>\n"
        "<key>Empty</key><array/>\n"
        "<key>Esc</key><string>a&amp;b&lt;c</string>\n"
        "</dict></plist>\n";
    auto parsed = parsePlist(asBytes(xml));
    ASSERT_TRUE(parsed) << parsed.error();
    EXPECT_EQ(*parsed->find("DTSDKName")->string(), "macosx11.0");
    EXPECT_TRUE(parsed->find("Empty")->array()->empty());
    EXPECT_EQ(*parsed->find("Esc")->string(), "a&b<c");
}

// A binary list of `count` arrays, array i holding `refs` references to array i + 1.
std::string chainedBinaryPlist(unsigned count, unsigned refs, bool loopBack = false) {
    std::string s = "bplist00";
    std::vector<unsigned> offsets;
    for (unsigned i = 0; i < count; ++i) {
        offsets.push_back(static_cast<unsigned>(s.size()));
        bool last = i + 1 == count;
        unsigned n = last && !loopBack ? 0 : refs;
        s += static_cast<char>(0xA0 | n);
        for (unsigned k = 0; k < n; ++k) {
            unsigned target = last ? 0 : i + 1;
            s += static_cast<char>(target >> 8);
            s += static_cast<char>(target & 0xFF);
        }
    }
    unsigned table = static_cast<unsigned>(s.size());
    for (unsigned o : offsets)
        for (int shift : {24, 16, 8, 0}) s += static_cast<char>(o >> shift);
    std::string trailer(32, '\0');
    trailer[6] = 4;  // offset size
    trailer[7] = 2;  // reference size
    auto put = [&](int at, unsigned long long v) {
        for (int k = 0; k < 8; ++k) trailer[at + k] = static_cast<char>(v >> (56 - 8 * k));
    };
    put(8, count);
    put(16, 0);
    put(24, table);
    return s + trailer;
}

// { "a\0" = "x" }: objects 0 (dict), 1 (key), 2 (value); one-byte offsets and references.
std::string binaryKeyWithANul() {
    std::string s = "bplist00";
    s += std::string("\xD1\x01\x02", 3);  // at 8
    s += std::string("\122a\0", 3);       // at 11: "a\0" (0x52: a two-byte ASCII string)
    s += std::string("\121x", 2);         // at 14: "x"
    s += std::string("\x08\x0B\x0E", 3);  // offset table at 16
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 3;   // objects
    trailer[31] = 16;  // offset table
    return s + trailer;
}

// Each list is refused with its reason (where one is given), or read: nothing hostile crashes it.
TEST(PropertyList, HostileListsAreRefusedAndBoundedOnesRead) {
    const std::pair<std::string, const char*> rows[] = {
        {"hello, world", "?"},
        {"", "?"},
        {std::string("bplist00\x01\x02", 10), "?"},
        {"<plist>" + repeat("<array>", 200000), "deeper"},
        {"<plist>" + repeat("<array>", 100) + repeat("</array>", 100) + "</plist>", nullptr},
        {chainedBinaryPlist(3, 1, true), "cycle"},
        // 40 levels of two references each would expand to 2^40 values.
        {chainedBinaryPlist(40, 2), "expands"},
        {chainedBinaryPlist(5000, 1), "?"},
        {chainedBinaryPlist(50, 1), nullptr},
        {binaryKeyWithANul(), "NUL"},
    };
    for (const auto& [bytes, reason] : rows) {
        SCOPED_TRACE(bytes.substr(0, 20));
        auto parsed = parsePlist(asBytes(bytes));
        EXPECT_EQ(parsed.ok(), reason == nullptr);
        if (parsed.ok() || *reason == '?') continue;
        EXPECT_NE(parsed.error().find(reason), std::string::npos) << parsed.error();
    }
}

TEST(PropertyList, ReadingAMissingFileNamesIt) {
    auto r = readPlistFile("/nonexistent/Info.plist");
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find("/nonexistent/Info.plist"), std::string::npos);
}

Result<PlistDict> strings(const std::string& bytes) { return parseStringsFile(asBytes(bytes)); }

std::string valueOf(const Result<PlistDict>& table, const std::string& key) {
    if (!table) return "<error: " + table.error() + ">";
    auto it = table->find(key);
    if (it == table->end() || !it->second.string()) return "<missing>";
    return *it->second.string();
}

TEST(StringsTable, TextFormWithCommentsEscapesAndUnquotedKeys) {
    auto t = strings(
        "/* Block comment with \"quotes\" = nonsense; */\n"
        "// line comment\n"
        "CFBundleName = \"Outil\";\n"
        "\"CFBundleShortVersionString\" = \"2.0 \\\"b\\\"\";\n"
        "\"Lines\" = \"one\\ntwo\\tand \\\\ backslash\";\n"
        "\"Unicode\" = \"\\U00e9\\UD83D\\UDE00\";\n"
        "\"Octal\" = \"\\101\";\n"
        "'Single' = 'quoted';\n"
        "\"Bare\";\n"
        "path = /usr/local/bin-1.0;\n");
    EXPECT_EQ(valueOf(t, "CFBundleName"), "Outil");
    EXPECT_EQ(valueOf(t, "CFBundleShortVersionString"), "2.0 \"b\"");
    EXPECT_EQ(valueOf(t, "Lines"), "one\ntwo\tand \\ backslash");
    EXPECT_EQ(valueOf(t, "Unicode"), "\u00e9\U0001F600");
    EXPECT_EQ(valueOf(t, "Octal"), "A");
    EXPECT_EQ(valueOf(t, "Single"), "quoted");
    EXPECT_EQ(valueOf(t, "Bare"), "Bare");
    EXPECT_EQ(valueOf(t, "path"), "/usr/local/bin-1.0");
}

TEST(StringsTable, BracedTableAndNestedValues) {
    auto t = strings("{ a = \"1\"; list = (x, \"y z\", ); blob = <00ff 10>; inner = { k = v; }; }");
    ASSERT_TRUE(t) << t.error();
    EXPECT_EQ(valueOf(t, "a"), "1");
    EXPECT_EQ(t->at("list").array()->size(), 2u);
    EXPECT_EQ(t->at("blob").data()->bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
    EXPECT_EQ(*t->at("inner").find("k")->string(), "v");
}

// Every encoding the builder writes; encodings told by their marks, or by their bytes; what is
// malformed, too deep or no dictionary.
TEST(StringsTable, EncodingsAndMalformedTables) {
    const std::string kv = "k = \"v\";";
    const test::StringsEntries entries = {{"k", "3.1 \u00fc\U0001F600 say \"hi\""}};
    const std::string v = entries[0].second;
    const std::pair<std::string, std::string> rows[] = {
        {test::stringsTable(entries, test::StringsFormat::Text), v},
        {test::stringsTable(entries, test::StringsFormat::TextUtf16LE), v},
        {test::stringsTable(entries, test::StringsFormat::TextUtf16BE), v},
        {test::stringsTable(entries, test::StringsFormat::XmlPlist), v},
        {test::stringsTable(entries, test::StringsFormat::BinaryPlist), v},
        {"\xEF\xBB\xBF" + kv, "v"},
        {test::utf8ToUtf16(kv, false), "v"},
        {test::utf8ToUtf16(kv, true), "v"},
        {"  // nothing here\n", "<missing>"},
        {"a = \"1\";\nb = \"2\"\nc = \"3\";", "<error"},
        {"a = \"unterminated;", "<error"},
        {"/* never closed", "<error"},
        {"a = ;", "<error"},
        {"\xFF\xFF\xFF", "<error"},  // neither UTF-8 nor UTF-16 with a mark
        {toXmlPlist(PlistValue(PlistArray{PlistValue("x")})), "<error"},
        {"k = " + repeat("(", 100000), "<error"},
    };
    for (const auto& [text, value] : rows) {
        const std::string got = valueOf(strings(text), "k");
        EXPECT_EQ(value == "<error" ? got.substr(0, value.size()) : got, value) << text.substr(0, 40) << " -> " << got;
    }
    EXPECT_TRUE(strings("  // nothing here\n")->empty());
    EXPECT_NE(strings("a = \"1\";\nb = \"2\"\nc = \"3\";").error().find("line 3"), std::string::npos);
}

}  // namespace
}  // namespace tessarin
