// Property lists in both encodings, hostile lists, and the three forms of strings tables.
#include <gtest/gtest.h>

#include <string>

#include "BundleBuilder.h"
#include "plist/Plist.h"
#include "plist/StringsFile.h"

namespace tessarin {
namespace {

std::span<const std::byte> asBytes(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}
std::span<const std::byte> asBytes(const std::vector<std::uint8_t>& v) {
    return {reinterpret_cast<const std::byte*>(v.data()), v.size()};
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

TEST(PropertyList, XmlRoundTripKeepsEveryType) {
    auto parsed = parsePlist(asBytes(toXmlPlist(sampleInfo())));
    ASSERT_TRUE(parsed) << parsed.error();
    expectSample(*parsed);
}

TEST(PropertyList, BinaryRoundTripKeepsEveryType) {
    auto bin = toBinaryPlist(sampleInfo());
    ASSERT_EQ(std::string(bin.begin(), bin.begin() + 8), "bplist00");
    auto parsed = parsePlist(asBytes(bin));
    ASSERT_TRUE(parsed) << parsed.error();
    expectSample(*parsed);
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

TEST(PropertyList, GarbageAndEmptyInputAreErrors) {
    EXPECT_FALSE(parsePlist(asBytes(std::string("hello, world"))));
    EXPECT_FALSE(parsePlist(asBytes(std::string())));
    EXPECT_FALSE(parsePlist(asBytes(std::string("bplist00\x01\x02", 10))));
}

TEST(PropertyList, DeeplyNestedXmlIsRefusedWithoutCrashing) {
    std::string xml = "<plist>";
    for (int i = 0; i < 200000; ++i) xml += "<array>";
    auto parsed = parsePlist(asBytes(xml));
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("deeper"), std::string::npos) << parsed.error();
}

TEST(PropertyList, NestingWithinTheLimitStillParses) {
    std::string xml = "<plist>";
    for (int i = 0; i < 100; ++i) xml += "<array>";
    for (int i = 0; i < 100; ++i) xml += "</array>";
    xml += "</plist>";
    EXPECT_TRUE(parsePlist(asBytes(xml)));
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

TEST(PropertyList, BinaryCycleIsAnError) {
    auto parsed = parsePlist(asBytes(chainedBinaryPlist(3, 1, true)));
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("cycle"), std::string::npos) << parsed.error();
}

TEST(PropertyList, SharedReferencesThatExpandWithoutBoundAreRefused) {
    // 40 levels of two references each would expand to 2^40 values.
    auto parsed = parsePlist(asBytes(chainedBinaryPlist(40, 2)));
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("expands"), std::string::npos) << parsed.error();
}

TEST(PropertyList, BinaryDictionaryKeyWithANulIsRefused) {
    // { "a\0" = "x" }: objects 0 (dict), 1 (key), 2 (value); one-byte offsets and references.
    std::string s = "bplist00";
    s += std::string("\xD1\x01\x02", 3);  // at 8
    s += std::string(
        "\x52"
        "a\0",
        3);  // at 11
    s += std::string(
        "\x51"
        "x",
        2);                               // at 14
    s += std::string("\x08\x0B\x0E", 3);  // offset table at 16
    std::string trailer(32, '\0');
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 3;   // objects
    trailer[31] = 16;  // offset table
    auto parsed = parsePlist(asBytes(s + trailer));
    ASSERT_FALSE(parsed);
    EXPECT_NE(parsed.error().find("NUL"), std::string::npos) << parsed.error();
}

TEST(PropertyList, DeepBinaryNestingIsRefused) {
    EXPECT_FALSE(parsePlist(asBytes(chainedBinaryPlist(5000, 1))));
    EXPECT_TRUE(parsePlist(asBytes(chainedBinaryPlist(50, 1))));
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

TEST(StringsTable, EveryEncodingTheBuilderWrites) {
    test::StringsEntries entries = {{"CFBundleShortVersionString", "3.1 \u00fc\U0001F600"}, {"Quote", "say \"hi\""}};
    for (auto format : {test::StringsFormat::Text, test::StringsFormat::TextUtf16LE, test::StringsFormat::TextUtf16BE,
                        test::StringsFormat::XmlPlist, test::StringsFormat::BinaryPlist}) {
        auto t = strings(test::stringsTable(entries, format));
        EXPECT_EQ(valueOf(t, "CFBundleShortVersionString"), "3.1 \u00fc\U0001F600") << static_cast<int>(format);
        EXPECT_EQ(valueOf(t, "Quote"), "say \"hi\"") << static_cast<int>(format);
    }
}

TEST(StringsTable, Utf8ByteOrderMarkAndUtf16WithoutMark) {
    EXPECT_EQ(valueOf(strings("\xEF\xBB\xBFk = \"v\";"), "k"), "v");
    EXPECT_EQ(valueOf(strings(test::utf8ToUtf16("k = \"v\";", false)), "k"), "v");
    EXPECT_EQ(valueOf(strings(test::utf8ToUtf16("k = \"v\";", true)), "k"), "v");
}

TEST(StringsTable, MalformedTextIsAnErrorNamingTheLine) {
    auto missingSemicolon = strings("a = \"1\";\nb = \"2\"\nc = \"3\";");
    ASSERT_FALSE(missingSemicolon);
    EXPECT_NE(missingSemicolon.error().find("line 3"), std::string::npos) << missingSemicolon.error();
    EXPECT_FALSE(strings("a = \"unterminated;"));
    EXPECT_FALSE(strings("/* never closed"));
    EXPECT_FALSE(strings("a = ;"));
    EXPECT_FALSE(strings("\xFF\xFF\xFF"));  // neither UTF-8 nor UTF-16 with a mark
}

TEST(StringsTable, PropertyListThatIsNoDictionaryIsAnError) {
    EXPECT_FALSE(strings(toXmlPlist(PlistValue(PlistArray{PlistValue("x")}))));
}

TEST(StringsTable, DeepNestingIsRefused) {
    std::string deep = "k = ";
    for (int i = 0; i < 100000; ++i) deep += "(";
    EXPECT_FALSE(strings(deep));
}

TEST(StringsTable, EmptyTextIsAnEmptyTable) {
    auto t = strings("  // nothing here\n");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->empty());
}

}  // namespace
}  // namespace tessarin
