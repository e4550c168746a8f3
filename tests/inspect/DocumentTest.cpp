// Classification of opened items and the architecture listing of single files.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <functional>

#include "BundleBuilder.h"
#include "Document.h"
#include "MachOBuilder.h"
#include "TempDir.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {
namespace {

using test::BundleBuilder;
using Kind = BundleBuilder::Kind;

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kARM64 = 0x0100000C;

// A lipo that notes each run in `log` and answers with `body`.
ToolSet fakeLipo(const test::TempDir& dir, const std::string& body) {
    std::string script =
        test::writeScript(dir / "fake-lipo", "echo \"$1|$2\" >> '" + (dir / "lipo.log") + "'\n" + body);
    ToolSet tools;
    tools.override(kLipoPath, script);
    return tools;
}

Document classify(const std::string& path, const std::string& type, const ToolSet& tools) {
    Document d;
    EXPECT_TRUE(d.readFromURL(fileURLForPath(path), type, tools));
    return d;
}

Document classifyApp(const test::TempDir& dir, BundleBuilder& b) {
    b.build();
    return classify(b.path(), kApplicationBundleType, fakeLipo(dir, "exit 1"));
}

// What an app's information and executable make of its findings, whatever form the values take.
TEST(Classification, AppFindingsFromItsInformationAndExecutable) {
    struct Row {
        const char* what;
        bool is1015, is1016, isCatalyst;
        std::string version;
        std::vector<std::int32_t> arches;
        std::function<void(BundleBuilder&)> edit;
    };
    // clang-format off
    const Row rows[] = {
        {"SDK 10.15, Catalyst, 3 slices", true, false, true, "2.4.1", {kI386, kX86_64, kX86_64}, [](BundleBuilder& b) {
             b.info("DTSDKName", PlistValue("macosx10.15"))
                 .info("CFBundleIdentifier", PlistValue("maccatalyst.com.example.Tool"))
                 .info("CFBundleShortVersionString", PlistValue("2.4.1"))
                 .executable("Tool", test::fatMachO({{kI386, 3}, {kX86_64, 3}, {kX86_64, 8}}));
         }},
        {"values that are not text", false, false, false, "42", {}, [](BundleBuilder& b) {
             b.info("DTSDKName", PlistValue(PlistArray{PlistValue("macosx10.15")}))
                 .info("CFBundleIdentifier", PlistValue(PlistDict{{"maccatalyst.", PlistValue(true)}}))
                 .info("CFBundleShortVersionString", PlistValue(std::int64_t{42}));
         }},
        {"real numbers", true, false, false, "1.5", {}, [](BundleBuilder& b) {
             b.info("DTSDKName", PlistValue(10.15)).info("CFBundleShortVersionString", PlistValue(1.5));
         }},
        {"a Boolean version", false, false, false, "", {}, [](BundleBuilder& b) {
             b.info("CFBundleShortVersionString", PlistValue(true));
         }},
        {"broken information", false, false, false, "", {}, [](BundleBuilder& b) {
             b.rawInfoPlist("<?xml version=\"1.0\"?><plist><dict><key>DTSDKName</key>");
         }},
        {"version localized in the development region", false, false, false, "1.0 (Deutsch)", {}, [](BundleBuilder& b) {
             b.info("CFBundleDevelopmentRegion", PlistValue("de"))
                 .info("CFBundleShortVersionString", PlistValue("1.0"))
                 .localized("de", {{"CFBundleShortVersionString", "1.0 (Deutsch)"}}, test::StringsFormat::TextUtf16LE);
         }},
        {"a script as its executable", false, false, false, "", {}, [](BundleBuilder& b) {
             b.executable("run", std::vector<std::uint8_t>{'#', '!'});
         }},
        {"no executable", false, false, false, "", {}, [](BundleBuilder&) {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::TempDir dir;
        BundleBuilder b(dir / "Tool.app");
        row.edit(b);
        Document d = classifyApp(dir, b);
        EXPECT_TRUE(d.isApp && d.isFolder);
        EXPECT_EQ(d.is1015, row.is1015);
        EXPECT_EQ(d.is1016, row.is1016);
        EXPECT_EQ(d.isCatalyst, row.isCatalyst);
        EXPECT_EQ(d.bundleVer, row.version);
        EXPECT_EQ(d.theArches, row.arches);
        EXPECT_FALSE(d.isPackage || d.isOldPackage);
        EXPECT_FALSE(d.is64Bit || d.is32Bit || d.isARM || d.isMacho);
    }
}

// The SDK's name and the Catalyst identifier (with its full stop, exact in case) are found anywhere in
// their values, in either form of the information.
TEST(Classification, SdkNamesAndTheCatalystIdentifierAreSubstringTests) {
    const std::tuple<const char*, const char*, bool, bool, bool> rows[] = {
        {"macosx10.15", "maccatalyst.com.example.App", true, false, true},
        {"macosx11.0", "com.example.maccatalyst.App", false, true, true},
        {"macosx10.16", "com.example.maccatalyst", false, true, false},
        {"macosx11.1", "com.example.MacCatalyst.App", false, false, false},
        {"macosx12.0", "com.example.App", false, false, false},
        {"macosx10.15.4", "com.example.App", true, false, false},
    };
    for (const auto& [sdk, identifier, is1015, is1016, isCatalyst] : rows) {
        for (auto format : {test::InfoFormat::Xml, test::InfoFormat::Binary}) {
            SCOPED_TRACE(std::string(sdk) + " " + identifier);
            test::TempDir dir;
            BundleBuilder b(dir / "Tool.app");
            b.infoFormat(format).info("DTSDKName", PlistValue(sdk)).info("CFBundleIdentifier", PlistValue(identifier));
            const Document d = classifyApp(dir, b);
            EXPECT_EQ(std::tuple(d.is1015, d.is1016, d.isCatalyst), std::tuple(is1015, is1016, isCatalyst));
        }
    }
}

// Items other than a well-formed app: the path kept (a trailing slash dropped), the kind from the type
// given (exact in case), and lipo asked only about single files.
TEST(Classification, EachKindOfItemFromItsTypeAndPath) {
    enum ItemKind { None, App, Package, OldPackage };
    struct Row {
        const char* what;
        std::function<std::string(const test::TempDir&)> make;  // the path as given
        std::string type;
        ItemKind kind;
        bool folder, lipoRan;
        std::vector<std::int32_t> arches;
        std::string version;
        bool plainUrl = false;  // a URL not marked as a directory's, whatever the path names
    };
    auto file = [](const char* name) {
        return [name](const test::TempDir& d) {
            test::writeFile(d / name, "x");
            return d / name;
        };
    };
    // clang-format off
    const Row rows[] = {
        {"app given without its trailing slash", [](const test::TempDir& d) {
             return BundleBuilder(d / "Tool.app").executable("Tool", test::fatMachO({{kX86_64, 3}, {kARM64, 0}})).build();
         }, kApplicationBundleType, App, true, false, {kX86_64, kARM64}, "", true},
        {"folder with a trailing slash", [](const test::TempDir& d) {
             test::makeDirectories(d / "Folder");
             return d / "Folder/";
         }, "public.folder", None, true, false, {}, "", true},
        // Architectures and version, but SDK and Catalyst flags only for apps.
        {"framework", [](const test::TempDir& d) {
             return BundleBuilder(d / "Kit.framework", Kind::Framework)
                 .info("DTSDKName", PlistValue("macosx10.15"))
                 .info("CFBundleIdentifier", PlistValue("maccatalyst.com.example.Kit"))
                 .info("CFBundleShortVersionString", PlistValue("7.0"))
                 .executable("Kit", test::thinMachO(kARM64, 0)).build();
         }, "com.apple.framework", None, true, false, {kARM64}, "7.0"},
        {"old directory package", [](const test::TempDir& d) {
             return BundleBuilder(d / "Legacy.pkg", Kind::OldPackage)
                 .info("CFBundleShortVersionString", PlistValue("1.1")).info("DTSDKName", PlistValue("macosx10.15")).build();
         }, kPackageType, OldPackage, true, false, {}, "1.1"},
        {"flat package", file("Install.pkg"), kInstallerPackageArchiveType, Package, false, true, {}, ""},
        {"plain folder", [](const test::TempDir& d) {
             test::makeDirectories(d / "Plain/Sub");
             return d / "Plain";
         }, "public.folder", None, true, false, {}, ""},
        {"missing app", [](const test::TempDir& d) { return d / "Gone.app"; }, kApplicationBundleType, App, true, false, {}, ""},
        {"missing file", [](const test::TempDir& d) { return d / "gone"; }, "public.item", None, false, true, {}, ""},
        {"app type in other case", file("a"), "com.apple.Application-Bundle", None, false, true, {}, ""},
        {"package type in other case", file("b"), "COM.APPLE.PACKAGE", None, false, true, {}, ""},
        {"flat package type in other case", file("c"), "com.apple.installer-package-Archive", None, false, true, {}, ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::TempDir dir;
        const std::string given = row.make(dir);
        Document d;
        EXPECT_TRUE(d.readFromURL(row.plainUrl ? FileURL{given, false} : fileURLForPath(given), row.type,
                                  fakeLipo(dir, "exit 1")));
        EXPECT_EQ(d.thePath, given.substr(0, given.find_last_not_of('/') + 1));
        EXPECT_EQ(d.theUTI, row.type);
        EXPECT_EQ(d.isApp, row.kind == App);
        EXPECT_EQ(d.isPackage, row.kind == Package);
        EXPECT_EQ(d.isOldPackage, row.kind == OldPackage);
        EXPECT_EQ(d.isFolder, row.folder);
        EXPECT_EQ(test::readFile(dir / "lipo.log"), row.lipoRan ? "-archs|" + given + "\n" : "");
        EXPECT_FALSE(d.isMacho);
        EXPECT_FALSE(d.is1015 || d.is1016 || d.isCatalyst);
        EXPECT_EQ(d.theArches, row.arches);
        EXPECT_EQ(d.bundleVer, row.version);
        EXPECT_TRUE(d.theQuarStr.empty());
    }
}

TEST(Classification, QuarantinedAppIsFlagged) {
    test::TempDir dir;
    BundleBuilder b(dir / "Tool.app");
    b.build();
    std::string value = "0083;5e1c0000;Safari;1D5E6B4C-0000-4000-8000-000000000000";
    if (::setxattr(b.path().c_str(), "user.com.apple.quarantine", value.data(), value.size(), 0) != 0)
        GTEST_SKIP() << "this file system takes no user extended attributes";
    Document d = classify(b.path(), kApplicationBundleType, fakeLipo(dir, "exit 1"));
    EXPECT_EQ(d.theQuarStr, "0083");
    EXPECT_TRUE(d.isQuar);
}

// The fake lipo's script and the flags its answer sets; only standard output of a successful run counts.
TEST(ArchitectureListing, NamesInTheToolOutputSetTheFlags) {
    struct Listing {
        std::string body;
        bool is32, is64, isARM, isMacho;
    };
    auto answer = [](const char* output, int status = 0) {
        return std::string("printf '") + output + "\\n'; exit " + std::to_string(status);
    };
    const Listing listings[] = {
        {answer("x86_64 arm64 "), false, true, true, true},
        {answer("i386 x86_64 "), true, true, false, true},
        {answer("ppc "), false, false, false, false},
        {answer("arm64e "), false, false, true, true},
        {answer("x86_64h "), false, true, false, true},
        {answer("armv7 arm64_32 "), false, false, true, true},
        {answer("i386 x86_64 arm64 ", 1), false, false, false, false},
        {answer(""), false, false, false, false},
        {"echo 'i386 x86_64' >&2; exit 0", false, false, false, false},
        {answer("\\377\\376 i386 "), true, false, false, true},  // odd bytes do not fail it
    };
    for (const Listing& c : listings) {
        SCOPED_TRACE(c.body);
        test::TempDir dir;
        test::writeFile(dir / "bin", "x");
        Document d = classify(dir / "bin", "public.data", fakeLipo(dir, c.body));
        EXPECT_EQ(d.is32Bit, c.is32);
        EXPECT_EQ(d.is64Bit, c.is64);
        EXPECT_EQ(d.isARM, c.isARM);
        EXPECT_EQ(d.isMacho, c.isMacho);
        EXPECT_TRUE(d.theArches.empty());
    }
    // A tool that cannot start does not fail the classification either.
    test::TempDir dir;
    test::writeFile(dir / "bin", "x");
    ToolSet missing;
    missing.override(kLipoPath, dir / "no-such-tool");
    Document d;
    EXPECT_TRUE(d.readFromURL(fileURLForPath(dir / "bin"), "public.data", missing));
    EXPECT_FALSE(d.isMacho);
}

TEST(ArchitectureListing, TheStandInToolOnRealFiles) {
    std::string lipo = test::standinDirectory() + "/lipo";
    if (::access(lipo.c_str(), X_OK) != 0) GTEST_SKIP() << "the lipo stand-in is not built at " << lipo;
    ToolSet tools;
    tools.override(kLipoPath, lipo);
    test::TempDir dir;
    test::writeFile(dir / "universal", test::fatMachO({{kX86_64, 3}, {kARM64, 2}}));
    test::writeFile(dir / "old", test::thinMachO(kI386, 3));
    test::writeFile(dir / "ppc", test::thinMachO(18, 0));
    test::writeFile(dir / "text", "just text\n");

    Document universal = classify(dir / "universal", "com.apple.mach-o-binary", tools);
    EXPECT_TRUE(universal.is64Bit && universal.isARM && universal.isMacho);
    EXPECT_FALSE(universal.is32Bit);
    Document old = classify(dir / "old", "com.apple.mach-o-binary", tools);
    EXPECT_TRUE(old.is32Bit && old.isMacho);
    EXPECT_FALSE(old.is64Bit || old.isARM);
    EXPECT_FALSE(classify(dir / "ppc", "com.apple.mach-o-binary", tools).isMacho);
    EXPECT_FALSE(classify(dir / "text", "public.plain-text", tools).isMacho);
}

}  // namespace
}  // namespace tessarin
