// What a flat package installs: payload and scripts archives in every compression and cpio format,
// hostile archives refused with one sentence, component packages of a product archive, the
// pkgutil stand-in's --payload-files, --scripts and --contents-json, and payloads expanded into a
// private folder with modes and links as they were, hostile names refused and limits kept.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "MachOBuilder.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "XarBuilder.h"
#include "package/PackageContents.h"
#include "package/PackageExpansion.h"
#include "package/Payload.h"
#include "tools/print/PackageContentsText.h"

using namespace tessarin;
using namespace tessarin::test;

namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<CpioBuildEntry> sampleTree() {
    return {{".", 040755, {}, 0, 80, {}},
            {"./Example.app", 040755, {}, 0, 80, {}},
            {"./Example.app/Contents/MacOS/Example", 0100755, text("\xcf\xfa\xed\xfe binary"), 501, 20, {}},
            {"./Example.app/Contents/Current", 0120755, text("../Versions/A"), 0, 0, {}}};
}

// An app as a payload holds it, with a link, a read-only file and a file under two names (odc keeps
// the data with each name, newc with the last).
std::vector<CpioBuildEntry> appTree(CpioBuildFormat format) {
    const bool odc = format == CpioBuildFormat::Odc;
    return {{".", 040755, {}, 0, 80, {}},
            {"./Example.app", 040755, {}, 0, 80, {}},
            {"./Example.app/Contents", 040755, {}, 0, 80, {}},
            {"./Example.app/Contents/Info.plist", 0100644, text("<plist><dict/></plist>"), 0, 80, {}},
            {"./Example.app/Contents/MacOS/Example", 0100755, thinMachO(0x01000007, 3), 0, 80, {}},
            {"./Example.app/Contents/Resources/Info link", 0120755, text("../Info.plist"), 0, 80, {}},
            {"./Example.app/Contents/Resources/readme", 0100444, text("read only\n"), 0, 80, {}},
            {"./Example.app/Contents/Resources/one", 0100644, odc ? text("shared") : Bytes{}, 0, 80, {}, 7},
            {"./Example.app/Contents/Resources/two", 0100644, text("shared"), 0, 80, {}, 7}};
}

Bytes flatPackage(const Bytes& payload, const Bytes& scripts = {}) {
    XarBuildOptions o;
    o.files = componentFiles("", "com.example.app", "1.0", payload, scripts);
    return buildXar(o).bytes;
}

struct Component {
    std::string folder, identifier, version;
    Bytes payload, scripts = {};
};

// A product archive of the components given, its Distribution naming each.
Bytes productArchive(const std::vector<Component>& components) {
    XarBuildOptions o;
    std::vector<std::string> folders;
    for (const auto& c : components) folders.push_back(c.folder);
    o.files = {distributionFile(folders)};
    for (const auto& c : components)
        for (auto& f : componentFiles(c.folder, c.identifier, c.version, c.payload, c.scripts)) o.files.push_back(f);
    return buildXar(o).bytes;
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

Result<PayloadListing> list(const Bytes& archive, const PayloadLimits& limits = {}) {
    return listPayload(asByteSpan(archive), limits);
}

}  // namespace

TEST(PackagePayload, ListsCpioOfEitherFormatInEveryCompression) {
    const Bytes odc = buildCpio(sampleTree(), CpioBuildFormat::Odc);
    const Bytes newc = buildCpio(sampleTree(), CpioBuildFormat::Newc);
    const std::tuple<const char*, Bytes, PayloadCompression, CpioFormat> rows[] = {
        {"plain odc", odc, PayloadCompression::None, CpioFormat::Odc},
        {"gzip odc", gzipCompress(odc), PayloadCompression::Gzip, CpioFormat::Odc},
        {"gzip members one after another",
         [&] {
             Bytes a = gzipCompress(Bytes(odc.begin(), odc.begin() + 100));
             Bytes b = gzipCompress(Bytes(odc.begin() + 100, odc.end()));
             a.insert(a.end(), b.begin(), b.end());
             return a;
         }(),
         PayloadCompression::Gzip, CpioFormat::Odc},
        {"xz newc", xzCompress(newc), PayloadCompression::Xz, CpioFormat::Newc},
        {"pbzx xz chunks odc", buildPbzx(odc, 64), PayloadCompression::Pbzx, CpioFormat::Odc},
        {"pbzx stored chunks newc", buildPbzx(newc, 100, true), PayloadCompression::Pbzx, CpioFormat::Newc},
    };
    for (const auto& [name, archive, compression, format] : rows) {
        SCOPED_TRACE(name);
        auto l = list(archive);
        ASSERT_TRUE(l) << l.error();
        EXPECT_EQ(std::tuple(l->compression, l->format), std::tuple(compression, format));
        ASSERT_EQ(l->entries.size(), 4u);
        EXPECT_EQ(l->entries[0].path, ".");
        const PayloadEntry& exe = l->entries[2];
        EXPECT_EQ(std::tuple(exe.path, exe.mode, exe.size, exe.uid, exe.gid),
                  std::tuple(std::string("./Example.app/Contents/MacOS/Example"), 0100755u, 11u, 501u, 20u));
        EXPECT_TRUE(exe.data.empty());  // a payload's file data is skipped, never kept
        EXPECT_EQ(l->entries[3].linkTarget, "../Versions/A");
    }
}

TEST(PackagePayload, HostileArchivesFailWithOneSentence) {
    PayloadLimits small;
    small.maxEntries = 10;
    small.maxNameLength = 64;
    small.maxPathDepth = 4;
    small.ratioFloor = 1 << 20;
    small.maxExpandedBytes = 8 << 20;
    const Bytes odc = buildCpio(sampleTree());
    Bytes lyingChunk = buildPbzx(odc, 1 << 20);
    putU64be(lyingChunk, 20, 1ull << 40);  // the first chunk's stored size
    Bytes overfullChunk = buildPbzx(odc, 1 << 20);
    putU64be(overfullChunk, 12, 10);  // the first chunk's expanded size
    std::vector<CpioBuildEntry> many(11, {"./f", 0100644, {}, 0, 0, {}});
    Bytes malformedField = odc;
    malformedField[20] = '9';  // in c_mode of the first header: not an octal digit
    const std::tuple<const char*, Bytes, const char*> rows[] = {
        {"an entry claiming 4 GB", gzipCompress(buildCpio({{"./big", 0100644, text("x"), 0, 0, 4ull << 30}})),
         "the cpio entry ./big declares 4294967296 bytes, more than the payload holds"},
        {"a pbzx chunk whose length lies", lyingChunk, "pbzx chunk 1 declares 1099511627776 bytes, more than the"},
        {"a pbzx chunk that expands past its size", overfullChunk,
         "pbzx chunk 1 expands to more than the 10 bytes it declares"},
        {"a gzip bomb", gzipCompress(buildCpio({{"./zeros", 0100644, Bytes(4 << 20, 0), 0, 0, {}}})),
         "the payload expands more than 250 times its compressed size, as only a decompression bomb does"},
        {"past the total", buildPbzx(buildCpio({{"./ones", 0100644, Bytes(9 << 20, 1), 0, 0, {}}}), 4 << 20, true),
         "the payload expands to more than 8388608 bytes, the most accepted"},
        {"too many entries", buildCpio(many), "the payload holds more than 10 entries, the most accepted"},
        {"a name that climbs out", buildCpio({{"./a/../../etc/passwd", 0100644, {}, 0, 0, {}}}),
         "the payload names ./a/../../etc/passwd, a path that climbs out with \"..\""},
        {"an absolute name", buildCpio({{"/etc/passwd", 0100644, {}, 0, 0, {}}}, CpioBuildFormat::Newc),
         "the payload names /etc/passwd, an absolute path"},
        {"a name too long", buildCpio({{"./" + std::string(70, 'n'), 0100644, {}, 0, 0, {}}}),
         "has a name of 72 bytes, more than the 64 accepted"},
        {"a path too deep", buildCpio({{"./a/b/c/d/e", 0100644, {}, 0, 0, {}}}),
         "the payload names a path deeper than 4 folders"},
        {"a link target too long", buildCpio({{"./l", 0120755, Bytes(5000, 'a'), 0, 0, {}}}),
         "the link ./l has a target of 5000 bytes"},
        {"a malformed header field", malformedField, "has a malformed c_mode field"},
        {"no trailer", buildCpio(sampleTree(), CpioBuildFormat::Odc, false),
         "the payload ends before its cpio trailer"},
        {"truncated gzip",
         [&] {
             Bytes g = gzipCompress(odc);
             g.resize(g.size() / 2);
             return g;
         }(),
         "the gzip data ends before its end of stream"},
        {"truncated xz",
         [&] {
             Bytes x = xzCompress(odc);
             x.resize(x.size() - 9);
             return x;
         }(),
         "the xz data ends before its xz stream does"},
        {"truncated pbzx header", Bytes{'p', 'b', 'z', 'x', 0, 0}, "the pbzx stream is shorter than its header"},
        {"not cpio", gzipCompress(text("<html>hello</html>")), "the payload is not a cpio archive"},
        {"empty", Bytes{}, "the payload is empty"},
    };
    for (const auto& [name, archive, sentence] : rows) {
        SCOPED_TRACE(name);
        auto l = list(archive, small);
        ASSERT_FALSE(l);
        EXPECT_NE(l.error().find(sentence), std::string::npos) << l.error();
    }
}

TEST(PackageContents, ProductArchiveListsEachComponentWithItsPayloadAndScripts) {
    const std::string preinstall = "#!/bin/sh\necho \"caf\xe9\"\n";  // Latin-1, not UTF-8
    const std::string postinstall = "#!/bin/sh\n" + std::string(100, '#') + "\n";
    PayloadLimits limits;
    limits.maxScriptBytes = 40;
    const Bytes scripts = gzipCompress(buildCpio({{".", 040755, {}, 0, 0, {}},
                                                  {"./preinstall", 0100755, text(preinstall), 0, 0, {}},
                                                  {"./postinstall", 0100755, text(postinstall), 0, 0, {}}}));
    const Bytes second = gzipCompress(
        buildCpio({{".", 040755, {}, 0, 0, {}}, {"./Library/Example.plist", 0100644, text("<plist/>"), 0, 0, {}}},
                  CpioBuildFormat::Newc));
    const Bytes pkg =
        productArchive({{"First.pkg", "com.example.first", "1.0", buildPbzx(buildCpio(sampleTree()), 64), scripts},
                        {"Second One.pkg", "com.example.second", "2.1", second}});
    auto contents = readPackageContents(ByteReader(asByteSpan(pkg)), limits);
    ASSERT_TRUE(contents) << contents.error();
    EXPECT_TRUE(contents->isDistribution);
    ASSERT_EQ(contents->components.size(), 2u);
    const ComponentPackage& first = contents->components[0];
    EXPECT_EQ(
        std::tuple(first.path, first.identifier, first.version, first.installLocation, first.hasBom, first.failure),
        std::tuple("First.pkg", "com.example.first", "1.0", "/Applications", true, ""));
    ASSERT_EQ(first.scripts.size(), 2u);
    EXPECT_EQ(first.scripts[0].text, preinstall);  // as it is; only the printed text escapes it
    EXPECT_EQ(contents->components[1].identifier, "com.example.second");

    EXPECT_EQ(payloadFilesText(*contents),
              ".\n./Example.app\n./Example.app/Contents/MacOS/Example\n./Example.app/Contents/Current\n"
              ".\n./Library/Example.plist\n");
    EXPECT_EQ(scriptsText(*contents),
              "==> First.pkg (com.example.first 1.0): preinstall (22 bytes)\n#!/bin/sh\necho \"caf\\xE9\"\n"
              "==> First.pkg (com.example.first 1.0): postinstall (111 bytes)\n#!/bin/sh\n" +
                  std::string(30, '#') + "\n[... the first 40 of 111 bytes shown]\n");
    auto json = nlohmann::json::parse(packageContentsJson("/tmp/Example.pkg", *contents));
    EXPECT_EQ(json["components"][0]["payload"][3]["linkTarget"], "../Versions/A");
    EXPECT_EQ(json["components"][0]["scripts"][0]["text"], "#!/bin/sh\necho \"caf\\xE9\"\n");
    EXPECT_EQ(json["components"][1]["folder"], "Second One.pkg");
}

TEST(PackageContents, DamagedComponentCarriesItsSentenceAndTheToolSaysSo) {
    TempDir dir;
    XarBuildOptions root;
    root.files = componentFiles("", "com.example.root", "3.0", xzCompress(buildCpio(sampleTree())), {});
    writeFile(dir / "root.pkg", buildXar(root).bytes);
    Bytes bad = gzipCompress(buildCpio(sampleTree()));
    bad.resize(bad.size() - 20);
    // A payload changed after the table of contents vouched for it is not listed.
    const Bytes marked = buildCpio({{"./marker-file-name", 0100644, {}, 0, 0, {}}});
    Bytes archive = productArchive({{"Good.pkg", "com.example.good", "1", gzipCompress(buildCpio(sampleTree()))},
                                    {"Bad.pkg", "com.example.bad", "1", bad},
                                    {"Changed.pkg", "com.example.changed", "1", marked}});
    const std::string marker = "marker-file-name";
    auto at = std::search(archive.begin(), archive.end(), marker.begin(), marker.end());
    ASSERT_NE(at, archive.end());
    *at = 'M';
    writeFile(dir / "damaged.pkg", archive);

    ToolRun files = runStandin("pkgutil", {"--payload-files", dir / "root.pkg"});
    EXPECT_EQ(files.status, 0);
    EXPECT_EQ(files.out, ".\n./Example.app\n./Example.app/Contents/MacOS/Example\n./Example.app/Contents/Current\n");
    EXPECT_EQ(runStandin("pkgutil", {"--scripts", dir / "root.pkg"}).out, "The package has no scripts.\n");

    ToolRun partial = runStandin("pkgutil", {"--contents-json", dir / "damaged.pkg"});
    EXPECT_EQ(partial.status, 1);
    auto json = nlohmann::json::parse(partial.out);
    EXPECT_EQ(json["components"][0]["payload"].size(), 4u);
    EXPECT_TRUE(json["components"][0]["failure"].is_null());
    EXPECT_EQ(partial.err, "pkgutil: The package " + (dir / "damaged.pkg") +
                               ": Bad.pkg (com.example.bad 1): its Payload cannot be read: the gzip data ends before "
                               "its end of stream.\n"
                               "pkgutil: The package " +
                               (dir / "damaged.pkg") +
                               ": Changed.pkg (com.example.changed 1): its Payload cannot be read: the archived "
                               "checksum of Changed.pkg/Payload does not match.\n");
    EXPECT_EQ(json["components"][2]["payload"].size(), 0u);

    XarBuildOptions plainXar;
    plainXar.files = {{"notes.txt", text("hello"), true}};
    writeFile(dir / "plain.xar", buildXar(plainXar).bytes);
    EXPECT_EQ(runStandin("pkgutil", {"--scripts", dir / "plain.xar"}).err,
              "pkgutil: The package " + (dir / "plain.xar") +
                  " cannot be read: the archive holds no Distribution, PackageInfo or Payload.\n");

    writeFile(dir / "notes.txt", "hello");
    ToolRun notPackage = runStandin("pkgutil", {"--payload-files", dir / "notes.txt"});
    EXPECT_EQ(notPackage.status, 1);
    EXPECT_EQ(notPackage.err, "pkgutil: The item " + (dir / "notes.txt") + " is not an Installer package.\n");
}

TEST(PackageExpansion, FlatPackageLandsWithModesAndLinksInEveryCompression) {
    const Bytes odc = buildCpio(appTree(CpioBuildFormat::Odc), CpioBuildFormat::Odc);
    const Bytes newc = buildCpio(appTree(CpioBuildFormat::Newc), CpioBuildFormat::Newc);
    const Bytes scripts = gzipCompress(
        buildCpio({{".", 040755, {}, 0, 0, {}}, {"./postinstall", 0100755, text("#!/bin/sh\n"), 0, 0, {}}}));
    const Bytes macho = thinMachO(0x01000007, 3);
    const std::pair<const char*, Bytes> rows[] = {
        {"gzip odc", gzipCompress(odc)},
        {"pbzx xz chunks odc", buildPbzx(odc, 64)},
        {"pbzx stored chunks newc", buildPbzx(newc, 100, true)},
        {"xz newc", xzCompress(newc)},
    };
    for (const auto& [name, payload] : rows) {
        SCOPED_TRACE(name);
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder) << folder.error();
        auto x = expandPackage(ByteReader(asByteSpan(flatPackage(payload, scripts))), *folder);
        ASSERT_TRUE(x) << x.error();
        EXPECT_EQ(x->stopSentence, "");
        ASSERT_EQ(x->parts.size(), 1u);
        const PackagePart& part = x->parts[0];
        EXPECT_EQ(std::tuple(part.name, part.folder, part.installLocation),
                  std::tuple("", folder->path(), "/Applications"));
        ASSERT_EQ(part.scripts.size(), 1u);
        EXPECT_EQ(part.scripts[0].name, "postinstall");
        EXPECT_TRUE(part.expansion.complete()) << part.expansion.stopSentence;
        EXPECT_TRUE(part.expansion.refusals.empty()) << part.expansion.refusals[0].reason;
        EXPECT_NE(part.expansion.format.find("cpio"), std::string::npos) << part.expansion.format;

        const std::string contents = folder->path() + "/Example.app/Contents/";
        const ArchiveEntry* exe = part.expansion.find("Example.app/Contents/MacOS/Example");
        ASSERT_NE(exe, nullptr);
        EXPECT_EQ(exe->mode, 0755u);
        EXPECT_EQ(modeOf(contents + "MacOS/Example"), 0755u);
        EXPECT_EQ(test::readFile(contents + "MacOS/Example"), std::string(macho.begin(), macho.end()));
        EXPECT_TRUE(part.expansion.find("Example.app/Contents/MacOS")->implied);
        EXPECT_EQ(test::readFile(contents + "Info.plist"), "<plist><dict/></plist>");
        EXPECT_EQ(modeOf(contents + "Resources/readme"), 0444u);

        const ArchiveEntry* link = part.expansion.find("Example.app/Contents/Resources/Info link");
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(std::tuple(link->kind, link->linkLeavesFolder), std::tuple(EntryKind::SymbolicLink, false));
        EXPECT_EQ(std::filesystem::read_symlink(contents + "Resources/Info link"), "../Info.plist");

        const ArchiveEntry* two = part.expansion.find("Example.app/Contents/Resources/two");
        ASSERT_NE(two, nullptr);
        EXPECT_EQ(std::tuple(two->kind, two->linkTarget),
                  std::tuple(EntryKind::HardLink, "Example.app/Contents/Resources/one"));
        EXPECT_EQ(part.expansion.find("Example.app/Contents/Resources/one")->size, 6u);
        EXPECT_EQ(test::readFile(contents + "Resources/one"), "shared");
        EXPECT_TRUE(std::filesystem::equivalent(contents + "Resources/one", contents + "Resources/two"));
    }
}

TEST(PackageExpansion, ProductArchiveLandsEachComponentInAFolderOfItsOwn) {
    const Bytes scripts = gzipCompress(buildCpio({{"./preinstall", 0100755, text("#!/bin/sh\n"), 0, 0, {}}}));
    const Bytes pkg = productArchive(
        {{"First.pkg", "com.example.first", "1.0", buildPbzx(buildCpio(appTree(CpioBuildFormat::Odc)), 4096), scripts},
         {"../Second.pkg", "com.example.second", "2.0",
          gzipCompress(buildCpio({{"./Library/Example.plist", 0100600, text("<plist/>"), 0, 0, {}}}))},
         {"Empty.pkg", "com.example.empty", "3.0", {}, scripts}});
    auto folder = PrivateFolder::create();
    ASSERT_TRUE(folder) << folder.error();
    auto x = expandPackage(ByteReader(asByteSpan(pkg)), *folder);
    ASSERT_TRUE(x) << x.error();
    ASSERT_EQ(x->parts.size(), 3u);
    EXPECT_EQ(x->parts[0].name, "First.pkg");
    EXPECT_EQ(x->parts[0].folder, folder->path() + "/First.pkg");
    ASSERT_EQ(x->parts[0].scripts.size(), 1u);
    EXPECT_EQ(x->parts[0].scripts[0].name, "preinstall");
    EXPECT_NE(x->parts[0].expansion.find("Example.app/Contents/MacOS/Example"), nullptr);
    // The component's name never leads out: it becomes one plain name in the folder.
    EXPECT_EQ(x->parts[1].name, "../Second.pkg");
    EXPECT_EQ(x->parts[1].folder, folder->path() + "/_.._Second.pkg");
    EXPECT_EQ(modeOf(x->parts[1].folder + "/Library/Example.plist"), 0600u);
    EXPECT_EQ(x->parts[2].folder, "");  // scripts only: nothing to expand
    std::vector<std::string> top;
    for (const auto& e : std::filesystem::directory_iterator(folder->path())) top.push_back(e.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"First.pkg", "_.._Second.pkg"}));
}

TEST(PackageExpansion, HostilePayloadsAreRefusedByNameOrStopped) {
    ExpansionLimits small;
    small.maxBytes = 1 << 20;
    Bytes truncated = gzipCompress(
        buildCpio({{"./a", 0100644, text("a"), 0, 0, {}}, {"./b", 0100644, Bytes(100000, 'b'), 0, 0, {}}}));
    truncated.resize(truncated.size() - 20);
    // A limit reached in the first component leaves the second unexpanded.
    const Bytes big = buildCpio({{"./big", 0100644, Bytes(2 << 20, 'x'), 0, 0, {}}});
    const Bytes twoParts = productArchive(
        {{"Big.pkg", "com.example.big", "1", buildPbzx(big, 1 << 20)},
         {"After.pkg", "com.example.after", "1", gzipCompress(buildCpio({{"./after", 0100644, {}, 0, 0, {}}}))}});
    struct Row {
        const char* name;
        Bytes pkg;
        const char* refused;  // the entry refused, by its name in the payload, or null
        const char* sentence;
        std::size_t parts = 1;
    } rows[] = {
        {"a name that climbs out",
         flatPackage(gzipCompress(buildCpio({{"./a/../../etc/passwd", 0100644, {}, 0, 0, {}}}))),
         "./a/../../etc/passwd", "\"./a/../../etc/passwd\" is refused: its name climbs out of the folder"},
        {"an absolute name",
         flatPackage(xzCompress(buildCpio({{"/etc/passwd", 0100644, {}, 0, 0, {}}}, CpioBuildFormat::Newc))),
         "/etc/passwd", "\"/etc/passwd\" is refused: it is an absolute name."},
        {"a file through a link",
         flatPackage(gzipCompress(
             buildCpio({{"./l", 0120755, text("/etc"), 0, 0, {}}, {"./l/passwd", 0100644, text("x"), 0, 0, {}}}))),
         "./l/passwd", "it lies under the symbolic link \"l\""},
        {"past the most bytes", twoParts, nullptr,
         "Expansion of \"Big.pkg/Payload\" stopped at \"./big\": the content would exceed 1 MiB"},
        {"a payload cut short", flatPackage(truncated), nullptr,
         "\"Payload\" is damaged or cut short after 2 entries: the gzip data ends before its end of stream."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder) << folder.error();
        auto x = expandPackage(ByteReader(asByteSpan(row.pkg)), *folder, small);
        ASSERT_TRUE(x) << x.error();
        ASSERT_EQ(x->parts.size(), row.parts);
        const Expansion& e = x->parts[0].expansion;
        if (row.refused) {
            ASSERT_EQ(e.refusals.size(), 1u);
            EXPECT_EQ(e.refusals[0].path, row.refused);
            EXPECT_NE(e.refusals[0].reason.find(row.sentence), std::string::npos) << e.refusals[0].reason;
            EXPECT_TRUE(e.complete());
        } else {
            EXPECT_NE(e.stopSentence.find(row.sentence), std::string::npos) << e.stopSentence;
            // A damaged component leaves the others to be expanded; a limit ends the package.
            EXPECT_EQ(x->stopSentence, e.stop == ExpansionStop::Damaged ? "" : e.stopSentence);
        }
    }
    // From a file, sentences name the package; what is no package is said to be none.
    test::TempDir dir;
    writeFile(dir / "cut.pkg", flatPackage(truncated));
    writeFile(dir / "notes.txt", "hello");
    auto folder = PrivateFolder::create();
    ASSERT_TRUE(folder) << folder.error();
    auto cut = expandPackage(dir / "cut.pkg", *folder);
    ASSERT_TRUE(cut) << cut.error();
    EXPECT_EQ(cut->parts[0].expansion.stopSentence.rfind("\"cut.pkg/Payload\" is damaged", 0), 0u);
    auto notes = expandPackage(dir / "notes.txt", *folder);
    ASSERT_FALSE(notes);
    EXPECT_EQ(notes.error(), "The item \"notes.txt\" is not an Installer package.");
}
