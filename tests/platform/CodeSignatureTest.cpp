// The SuperBlob and CodeDirectory reader: what a real signature holds, and clean refusal of
// hostile ones (huge counts, offsets past the end, overlapping and self-referencing blobs).
#include "codesign/CodeSignature.h"

#include <regex.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "TempDir.h"
#include "codesign/CodeResources.h"
#include "codesign/DerEntitlements.h"
#include "macho/MachO.h"

using namespace tessarin;
using tessarin::test::Bytes;

namespace {

constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kX86_64 = 0x01000007;

ByteSpan span(const Bytes& b) { return {reinterpret_cast<const std::byte*>(b.data()), b.size()}; }

void put(Bytes& b, std::size_t at, std::uint32_t v) { test::putU32(b, at, v, true); }

// The signature bytes of a signed thin image.
Bytes signatureOf(const Bytes& image) {
    auto macho = parseMachO(span(image));
    EXPECT_TRUE(macho.ok());
    auto loc = findCodeSignature(span(image), macho->slices[0]);
    EXPECT_TRUE(loc.ok() && loc->has_value());
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>((*loc)->offset),
                 image.begin() + static_cast<std::ptrdiff_t>((*loc)->offset + (*loc)->size));
}

Bytes signedImage(test::SignOptions o = {}) { return test::signMachO(test::thinMachO(kArm64, 0), o); }

// A SuperBlob by hand: entries of (type, offset) and a total size, the rest zero.
Bytes superBlob(std::uint32_t count, std::uint32_t length, std::vector<std::pair<std::uint32_t, std::uint32_t>> entries,
                std::size_t size) {
    Bytes b(size, 0);
    put(b, 0, CSMAGIC_EMBEDDED_SIGNATURE);
    put(b, 4, length);
    put(b, 8, count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        put(b, 12 + i * 8, entries[i].first);
        put(b, 16 + i * 8, entries[i].second);
    }
    return b;
}

}  // namespace

TEST(EmbeddedSignature, ReadsEveryBlobOfASignerWrittenSignature) {
    test::SignOptions o;
    o.identifier = "com.example.reader";
    o.teamId = "ABCDE12345";
    o.flags = CS_RUNTIME;
    o.runtime = 0x000e0000;
    o.entitlementsXml = "<plist><dict/></plist>";
    o.entitlementsDer = Bytes{0x70, 0x00};
    const Bytes sigBytes = signatureOf(signedImage(o));
    auto sig = parseEmbeddedSignature(span(sigBytes));
    ASSERT_TRUE(sig.ok()) << sig.error();
    ASSERT_EQ(sig->codeDirectories.size(), 2u);
    const auto& primary = sig->codeDirectories[0];
    const auto& alternate = sig->codeDirectories[1];
    EXPECT_EQ(std::tuple(primary.slot, primary.hashType, alternate.slot, alternate.hashType),
              std::tuple(CSSLOT_CODEDIRECTORY, CS_HASHTYPE_SHA1, CSSLOT_ALTERNATE_CODEDIRECTORIES, CS_HASHTYPE_SHA256));
    EXPECT_EQ(std::tuple(primary.identifier, alternate.teamId, primary.flags, primary.nSpecialSlots),
              std::tuple("com.example.reader", "ABCDE12345", CS_RUNTIME | CS_ADHOC, 7u));
    EXPECT_EQ(primary.runtimeVersion, 0x000e0000u);
    EXPECT_TRUE(primary.execSegment);
    EXPECT_EQ(sig->requirementsCount, 1u);
    ASSERT_TRUE(sig->entitlementsPayload());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sig->entitlementsPayload()->data()),
                          sig->entitlementsPayload()->size()),
              "<plist><dict/></plist>");
    EXPECT_TRUE(sig->entitlementsDer);
    ASSERT_TRUE(sig->cms);
    EXPECT_TRUE(sig->cms->empty()) << "ad hoc code carries an empty signature wrapper";
}

TEST(EmbeddedSignature, CodeDirectoryFieldsFollowItsVersion) {
    struct Row {
        std::uint32_t version;
        std::string team;  // versions before 0x20200 have no team field
        bool teamField, codeLimit64, execSegment;
    };
    for (const Row& row : {Row{0x20100, "", false, false, false}, Row{0x20400, "TEAM", true, true, true}}) {
        SCOPED_TRACE(row.version);
        test::SignOptions o;
        o.version = row.version;
        o.teamId = row.team.empty() ? "IGNORED" : row.team;
        const Bytes bytes = signatureOf(signedImage(o));
        auto sig = parseEmbeddedSignature(span(bytes));
        ASSERT_TRUE(sig.ok()) << sig.error();
        const CodeDirectory& cd = *sig->primary();
        EXPECT_EQ(std::tuple(cd.teamId, cd.scatterOffset.has_value(), cd.teamOffset.has_value(),
                             cd.codeLimit64.has_value(), cd.execSegment.has_value()),
                  std::tuple(row.team, true, row.teamField, row.codeLimit64, row.execSegment));
        EXPECT_FALSE(cd.runtimeVersion || cd.preEncryptOffset);
        EXPECT_EQ(cd.execSegment ? cd.execSegment->flags : CS_EXECSEG_MAIN_BINARY, CS_EXECSEG_MAIN_BINARY);
    }
}

TEST(EmbeddedSignature, LinkerSignedCodeHasOnlyACodeDirectory) {
    test::SignOptions o;
    o.linkerSigned = true;
    const Bytes sigBytes = signatureOf(signedImage(o));
    auto sig = parseEmbeddedSignature(span(sigBytes));
    ASSERT_TRUE(sig.ok()) << sig.error();
    EXPECT_EQ(std::tuple(sig->codeDirectories.size(), sig->primary()->hashType, sig->primary()->flags),
              std::tuple(1u, CS_HASHTYPE_SHA256, CS_ADHOC | CS_LINKER_SIGNED));
    EXPECT_FALSE(sig->requirements || sig->cms);
}

// Hand-made SuperBlobs and signer-written ones with one word changed: each is refused, and where
// the reason matters, with it.
TEST(HostileSignature, LyingCountsLengthsOffsetsAndSlotsAreRefused) {
    const Bytes real = signatureOf(signedImage());
    auto good = parseEmbeddedSignature(span(real));
    ASSERT_TRUE(good.ok());
    ASSERT_GE(good->index.size(), 2u);
    const std::size_t cd = good->index[0].offset;  // the primary directory
    std::size_t requirements = 0;
    for (const auto& e : good->index)
        if (e.type == CSSLOT_REQUIREMENTS) requirements = e.offset;
    ASSERT_NE(requirements, 0u);
    auto patched = [&](std::size_t at, std::uint32_t value) {
        Bytes b = real;
        put(b, at, value);
        return b;
    };
    Bytes runsPast = superBlob(1, 64, {{0, 20}}, 64);
    put(runsPast, 20, CSMAGIC_CODEDIRECTORY);
    put(runsPast, 24, 0x7FFFFFFF);
    Bytes hashType = real;
    hashType[cd + 37] = 9;

    const std::tuple<const char*, Bytes, std::string> cases[] = {
        {"a count the bytes cannot hold", superBlob(0xF0000000u, 64, {}, 64), "does not fit"},
        {"a length past the bytes given", superBlob(0, 4096, {}, 64), ""},
        {"a blob offset past the end", superBlob(1, 64, {{0, 0xFFFFFFF0u}}, 64), ""},
        {"a blob whose length runs past the end", runsPast, "past the SuperBlob's end"},
        {"a truncated header", Bytes{0xfa, 0xde, 0x0c}, ""},
        {"a blob starting inside another", patched(16 + 8, good->index[0].offset + 8), ""},
        {"a blob that is the SuperBlob itself", patched(16, 0), "index"},
        {"a slot listed twice", patched(12 + 8, good->index[0].type), ""},
        {"code slots in the billions", patched(cd + 28, 0xFFFFFFFFu), ""},
        {"special slots in the billions", patched(cd + 24, 0x40000000u), ""},
        // One slot too few for the code limit: a page would go unchecked.
        {"a code slot short", patched(cd + 28, good->primary()->nCodeSlots - 1), ""},
        {"an unknown hash type", hashType, ""},
        {"an identifier past the directory", patched(cd + 20, good->index[0].length + 100), ""},
        {"a directory version from the future", patched(cd + 8, 0x30000), ""},
        {"requirements counted in the billions", patched(requirements + 8, 3000000000u), ""},
    };
    for (const auto& [what, bytes, reason] : cases) {
        auto r = parseEmbeddedSignature(span(bytes));
        ASSERT_FALSE(r.ok()) << what;
        EXPECT_NE(r.error().find(reason), std::string::npos) << what << ": " << r.error();
    }
}

TEST(HostileSignature, CodeDirectoryCutShortOfItsVersionsFieldsIsRefused) {
    // A directory's version decides which fields follow the first 44 bytes; one cut a byte short of
    // them, or of the 44, is refused whatever its version claims.
    const struct {
        std::uint32_t version;
        std::size_t header;
    } versions[] = {{0x20001, 44}, {0x20100, 48}, {0x20200, 52}, {0x20300, 64}, {0x20400, 88}, {0x20500, 96}};
    for (const auto& v : versions) {
        Bytes blob(v.header - 1, 0);
        put(blob, 0, CSMAGIC_CODEDIRECTORY);
        put(blob, 4, static_cast<std::uint32_t>(blob.size()));
        put(blob, 8, v.version);
        auto cd = parseCodeDirectory(span(blob), CSSLOT_CODEDIRECTORY);
        ASSERT_FALSE(cd.ok()) << std::hex << v.version;
        if (v.header == 44)
            EXPECT_EQ(cd.error(), "truncated code directory (fewer than 44 bytes)");
        else
            EXPECT_NE(cd.error().find("is shorter than its header"), std::string::npos) << cd.error();
    }
}

TEST(SignatureLocation, UnsignedSliceHasNoneAndACommandPointingPastTheSliceIsAnError) {
    const Bytes unsigned_ = test::thinMachO(kX86_64, 3);
    auto loc = findCodeSignature(span(unsigned_), parseMachO(span(unsigned_))->slices[0]);
    ASSERT_TRUE(loc.ok());
    EXPECT_FALSE(loc->has_value());

    Bytes image = signedImage();
    auto macho = parseMachO(span(image));
    ASSERT_TRUE(macho.ok());
    auto commands = parseLoadCommands(span(image), macho->slices[0]);
    ASSERT_TRUE(commands.ok());
    for (const auto& c : *commands)
        if (c.cmd == 0x1d) test::putU32(image, c.offset + 12, 0xFFFFFF00u, false);
    EXPECT_FALSE(findCodeSignature(span(image), parseMachO(span(image))->slices[0]).ok());
}

TEST(ResourceRules, HeaviestMatchingRuleGovernsHoweverLongThePath) {
    auto rules = ResourceRuleSet::compile(test::defaultRules2());
    ASSERT_TRUE(rules.ok());
    const std::string deep = "Resources/" + test::repeat("abcd/", 20000) + ".DS_Store";
    const std::tuple<std::string, bool, bool, bool> rows[] = {
        // path, optional, omitted, nested
        {"Resources/en.lproj/Main.strings", true, false, false},
        {"Resources/en.lproj/locversion.plist", false, true, false},
        {"Resources/deep/.DS_Store", false, true, false},
        {"Frameworks/Foo.framework", false, false, true},
        {"Info.plist", false, true, false},
        {deep, false, true, false},
    };
    for (const auto& [path, optional, omit, nested] : rows) {
        const ResourceRule* r = rules->match(path);
        ASSERT_TRUE(r) << path.substr(0, 40);
        EXPECT_EQ(std::tuple(r->optional, r->omit, r->nested), std::tuple(optional, omit, nested))
            << path.substr(0, 40);
    }
}

TEST(ResourceRules, ExpressionsThatWouldExplodeOrBacktrackAreRefused) {
    // Each of these takes a library matcher gigabytes or minutes; a seal that carries one is refused.
    for (const std::string& pattern :
         {std::string("((a{255}){255}){255}"), std::string("(x{2,3}){9}{9}{9}{9}"),
          std::string(200, '(') + "a" + std::string(200, ')'), std::string("^(a*)*\\1$"), std::string(5000, 'a')}) {
        auto rules = ResourceRuleSet::compile({{pattern, false, false, false, 1}});
        EXPECT_FALSE(rules.ok()) << pattern.substr(0, 40);
    }
    // An expression that does not compile is named in the error.
    auto unclosed = ResourceRuleSet::compile({{"^(unclosed", false, false, false, 1}});
    ASSERT_FALSE(unclosed.ok());
    EXPECT_NE(unclosed.error().find("^(unclosed"), std::string::npos);
    // Stacked operators fold rather than grow, and still match what they should.
    auto stacked = ResourceRuleSet::compile({{"^Info\\.pl" + std::string(2000, '+') + "ist$", false, false, false, 1},
                                             {"^(((((((((((x*)*)*)*)*)*)*)*)*)*)*)$", false, false, false, 2}});
    ASSERT_TRUE(stacked.ok()) << stacked.error();
    EXPECT_TRUE(stacked->match("Info.pllllist"));
    EXPECT_EQ(stacked->match(std::string(50000, 'x'))->weight, 2);
    EXPECT_FALSE(stacked->match(std::string(50000, 'x') + "y"));
}

// The matcher must agree with the C library's on the kind of expression real seals carry.
TEST(ResourceRules, MatchesAsTheSystemMatcherDoes) {
    // clang-format off
    const std::vector<std::string> patterns = {
        "^.*", "^Resources/", "^Resources/.*\\.lproj/", "^Resources/.*\\.lproj/locversion.plist$", "^[^/]+$",
        "^(.*/)?\\.DS_Store$", ".*\\.dSYM($|/)", "^(Frameworks|PlugIns|Library/(Automator|Spotlight))/",
        "(^|/)CVS($|/)", "[[:alpha:]]{2,4}\\.nib$", "^a{2}b?c+$", "x|^y$|", "[]a-c-]z", "[^[:digit:]/]+$",
        "^(ab|a)(bc|c)?$", "\\.(png|jpe?g)$", "^$", "a{0}b", "(a|b){1,3}$", "^[.]x", "[[.-.]]q", "^.{3}$"};
    const std::vector<std::string> paths = {
        "", "Info.plist", "Resources/en.lproj/Main.strings", "Resources/en.lproj/locversion.plist",
        "Resources/x/.DS_Store", ".DS_Store", "a.DS_Store", "Foo.dSYM", "Foo.dSYM/Contents", "Foo.dSYMx",
        "Frameworks/A.framework", "Library/Spotlight/x", "Library/Other/x", "src/CVS/Root", "CVSx", "en.nib",
        "abc.nib", "aabcc", "ab", "abc", "y", "xy", "-z", "]z", "bz", "dz", "abc/def", "12/ab", "img.jpeg", "img.jpg",
        "img.jpgx", "b", "aab", "bab", "cab", ".x", "xx", "-q", "abcd", "a\377\200b.png"};
    // clang-format on
    for (const auto& pattern : patterns) {
        regex_t system;
        ASSERT_EQ(regcomp(&system, pattern.c_str(), REG_EXTENDED | REG_NOSUB), 0) << pattern;
        auto ours = ResourceRuleSet::compile({{pattern, false, false, false, 1}});
        ASSERT_TRUE(ours.ok()) << ours.error();
        for (const auto& path : paths)
            EXPECT_EQ(ours->match(path) != nullptr, regexec(&system, path.c_str(), 0, nullptr, 0) == 0)
                << "pattern " << pattern << " on \"" << path << "\"";
        regfree(&system);
    }
}

TEST(CodeResourcesFile, ReadsBothGenerationsOfSeal) {
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>files</key><dict>
  <key>Resources/a.txt</key><data>AAECAwQFBgcICQoLDA0ODxAREhM=</data>
  <key>Resources/en.lproj/b.strings</key><dict><key>hash</key><data>AAECAwQFBgcICQoLDA0ODxAREhM=</data><key>optional</key><true/></dict>
</dict>
<key>files2</key><dict>
  <key>Resources/link</key><dict><key>symlink</key><string>a.txt</string></dict>
  <key>Frameworks/F.framework</key><dict><key>cdhash</key><data>AAECAwQFBgcICQoLDA0ODxAREhM=</data><key>requirement</key><string>identifier "f"</string></dict>
</dict>
<key>rules</key><dict><key>^Resources/</key><true/></dict>
<key>rules2</key><dict><key>^.*</key><true/><key>^Extras/</key><false/><key>^Info\.plist$</key><dict><key>omit</key><true/><key>weight</key><real>20</real></dict></dict>
</dict></plist>)";
    auto cr = parseCodeResources({reinterpret_cast<const std::byte*>(xml.data()), xml.size()});
    ASSERT_TRUE(cr.ok()) << cr.error();
    EXPECT_EQ(cr->version(), 2);
    EXPECT_EQ(cr->files.size(), 2u);
    EXPECT_TRUE(cr->files.at("Resources/en.lproj/b.strings").optional);
    EXPECT_EQ(cr->files.at("Resources/a.txt").hash->size(), 20u);
    EXPECT_EQ(*cr->files2.at("Resources/link").symlink, "a.txt");
    EXPECT_TRUE(cr->files2.at("Frameworks/F.framework").cdhash);
    ASSERT_EQ(cr->rules2.size(), 3u);
    EXPECT_EQ(cr->rulesInForce().size(), 3u);
    EXPECT_TRUE(cr->rules2[0].bare);
    // A rule set to false omits what it matches, as an omit rule does.
    EXPECT_TRUE(cr->rules2[1].omit && !cr->rules2[1].bare);
    EXPECT_EQ(cr->rules2[2].weight, 20);
    EXPECT_TRUE(cr->rules2[2].omit && !cr->rules2[2].bare);

    // An entry that seals nothing is refused, naming its path.
    const std::string empty = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>files2</key><dict><key>x</key><dict><key>optional</key><true/></dict></dict></dict></plist>)";
    cr = parseCodeResources({reinterpret_cast<const std::byte*>(empty.data()), empty.size()});
    ASSERT_FALSE(cr.ok());
    EXPECT_NE(cr.error().find("\"x\""), std::string::npos);
}

TEST(DerEntitlements, ValuesAreDecodedAndMalformedFormsSayWhere) {
    auto der = [](std::uint8_t tag, const std::vector<Bytes>& parts) {
        Bytes out{tag, 0};
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        out[1] = static_cast<std::uint8_t>(out.size() - 2);
        return out;
    };
    auto str = [&](const std::string& t) { return der(0x0c, {Bytes(t.begin(), t.end())}); };
    auto entry = [&](const std::string& k, const Bytes& v) { return der(0x30, {str(k), v}); };
    auto doc = [&](const std::vector<Bytes>& entries) { return der(0x70, {{0x02, 0x01, 0x01}, der(0xb0, entries)}); };
    auto decode = [](const Bytes& b) { return decodeDerEntitlements(std::as_bytes(std::span(b))); };

    // {"a": (1, "x"), "b": {"c": false}, "n": -2}
    auto v = decode(doc({entry("a", der(0x30, {{0x02, 0x01, 0x01}, str("x")})),
                         entry("b", der(0xb0, {entry("c", {0x01, 0x01, 0x00})})), entry("n", {0x02, 0x01, 0xfe})}));
    ASSERT_TRUE(v) << v.error();
    EXPECT_EQ(*v->find("a")->array()->at(0).integer(), 1);
    EXPECT_EQ(*v->find("a")->array()->at(1).string(), "x");
    EXPECT_FALSE(*v->find("b")->find("c")->boolean());
    EXPECT_EQ(*v->find("n")->integer(), -2);
    EXPECT_TRUE(decode({0x70, 0x03, 0x02, 0x01, 0x01})->dict()->empty());  // a version and nothing else

    Bytes deep = {0x30, 0x00};
    for (int i = 0; i < 40; ++i) deep = der(0x30, {deep});
    const std::pair<Bytes, const char*> bad[] = {
        {{0x71, 0x03, 0x02, 0x01, 0x01}, "no entitlements element"},
        {{0x70, 0x05, 0x02, 0x01, 0x01}, "no entitlements element"},  // runs past the blob
        {{0x70, 0x06, 0x02, 0x01, 0x01, 0x30, 0x01, 0x00}, "no dictionary after the version"},
        {doc({{0x04, 0x01, 0x00}}), "no key-value sequence"},
        {doc({entry("k", {0x05, 0x00})}), "tag 0x5 is no entitlement value"},
        {doc({entry("k", {0x01, 0x02, 0xff, 0xff})}), "a boolean is not one byte"},
        {doc({entry("k", deep)}), "nested too deeply"},
    };
    for (const auto& [bytes, why] : bad) {
        auto r = decode(bytes);
        ASSERT_FALSE(r) << why;
        EXPECT_NE(r.error().find(why), std::string::npos) << r.error();
    }
}
