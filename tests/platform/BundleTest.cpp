// Bundle structure, information (XML and binary), localized values and executable architectures.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <functional>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "TempDir.h"
#include "bundle/Bundle.h"

namespace tessarin {
namespace {

using test::BundleBuilder;
using Kind = BundleBuilder::Kind;

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kARM64 = 0x0100000C, kPPC = 18;

std::string text(const std::optional<PlistValue>& v) {
    if (!v) return "<none>";
    if (v->integer()) return "#" + std::to_string(*v->integer());  // a number comes back as it is
    return v->string() ? *v->string() : "<not text>";
}

// What opens as a bundle, its layout and information, and which executable it names: only a name of a
// Mach-O file inside it has architectures (one per slice, in order, repeats kept).
TEST(BundleStructure, LayoutInformationAndExecutableOfEachKind) {
    using Layout = Bundle::Layout;
    using Make = std::function<std::string(const test::TempDir&)>;
    auto built = [](const char* name, Kind kind, std::function<void(BundleBuilder&)> shape) -> Make {
        return [=](const test::TempDir& d) {
            BundleBuilder b(d / name, kind);
            shape(b);
            return b.build();
        };
    };
    auto app = [&](const char* name, std::function<void(BundleBuilder&)> shape) {
        return built(name, Kind::App, shape);
    };
    auto folders = [](const char* made, const char* opened) -> Make {
        return [=](const test::TempDir& d) {
            test::makeDirectories(d / made);
            return d / opened;
        };
    };
    const std::string version = "CFBundleShortVersionString";
    // clang-format off
    // What makes the path opened; its layout (none: not a bundle); whether it has information; the
    // version through the lookup with no languages; the architectures; the executable, relative to the
    // bundle ("-": none; empty: not checked).
    const std::tuple<const char*, Make, std::optional<Layout>, bool, std::string,
                     std::optional<std::vector<std::int32_t>>, std::string>
        rows[] = {
        {"app, XML information, universal executable", app("Tool.app", [&](BundleBuilder& b) {
             b.info(version, PlistValue("1.2.3")).executable("Tool", test::fatMachO({{kX86_64, 3}, {kARM64, 0}}));
         }), Layout::App, true, "1.2.3", std::vector{kX86_64, kARM64}, "/Contents/MacOS/Tool"},
        {"binary information, opened with a trailing slash", [&](const test::TempDir& d) {
             return BundleBuilder(d / "Tool.app").infoFormat(test::InfoFormat::Binary).info(version, PlistValue("11.0"))
                        .build() + "/";
         }, Layout::App, true, "11.0", std::nullopt, ""},
        // x86_64 and x86_64h share a CPU type: it is listed once per slice.
        {"slice order and repeats", app("Tool.app", [](BundleBuilder& b) {
             b.executable("Tool", test::fatMachO({{kPPC, 0}, {kX86_64, 8}, {kI386, 3}, {kX86_64, 3}}));
         }), Layout::App, true, "<none>", std::vector{kPPC, kX86_64, kI386, kX86_64}, ""},
        {"framework, through Versions/Current", built("Kit.framework", Kind::Framework, [&](BundleBuilder& b) {
             b.info(version, PlistValue("9")).executable("Kit", test::thinMachO(kX86_64, 3));
         }), Layout::Framework, true, "9", std::vector{kX86_64}, "/Versions/Current/Kit"},
        {"shallow bundle", built("Plug.bundle", Kind::Shallow, [](BundleBuilder& b) {
             b.executable("Plug", test::thinMachO(kARM64, 0));
         }), Layout::Shallow, true, "<none>", std::vector{kARM64}, "/Plug"},
        {"old package", built("Old.pkg", Kind::OldPackage, [&](BundleBuilder& b) { b.info(version, PlistValue("4.5")); }),
         Layout::App, true, "4.5", std::nullopt, ""},
        {"MacOS folder without information", folders("Bare.app/Contents/MacOS", "Bare.app"),
         Layout::App, false, "<none>", std::nullopt, ""},
        {"broken information", app("Broken.app", [](BundleBuilder& b) { b.rawInfoPlist("<plist><dict><key>x</key>"); }),
         Layout::App, false, "<none>", std::nullopt, ""},
        {"information that is no dictionary", app("Array.app", [](BundleBuilder& b) {
             b.rawInfoPlist(toXmlPlist(PlistValue(PlistArray{PlistValue("x")})));
         }), Layout::App, false, "<none>", std::nullopt, ""},
        {"a script as the executable", app("Script.app", [](BundleBuilder& b) {
             b.executable("run", std::vector<std::uint8_t>{'#', '!', '/', 'b', 'i', 'n'});
         }), Layout::App, true, "<none>", std::nullopt, "/Contents/MacOS/run"},
        {"an executable named outside the bundle", [](const test::TempDir& d) {
             test::writeFile(d / "Outside", test::thinMachO(kI386, 3));
             return BundleBuilder(d / "Escape.app").info("CFBundleExecutable", PlistValue("../../../Outside")).build();
         }, Layout::App, true, "<none>", std::nullopt, "-"},
        {"an executable named by a number, a version that is one", app("Number.app", [&](BundleBuilder& b) {
             b.info("CFBundleExecutable", PlistValue(std::int64_t{7})).info(version, PlistValue(std::int64_t{3}));
         }), Layout::App, true, "#3", std::nullopt, ""},
        {"a missing executable", app("Missing.app", [](BundleBuilder& b) { b.info("CFBundleExecutable", PlistValue("Gone")); }),
         Layout::App, true, "<none>", std::nullopt, "-"},
        {"plain folder", folders("Plain/Sub", "Plain"), std::nullopt, false, "", std::nullopt, ""},
        {"file named like an app", [](const test::TempDir& d) {
             test::writeFile(d / "file.app", "not a directory");
             return d / "file.app";
         }, std::nullopt, false, "", std::nullopt, ""},
        {"missing path", [](const test::TempDir& d) { return d / "missing.app"; }, std::nullopt, false, "", std::nullopt, ""},
        {"Contents with neither information nor MacOS", folders("Empty.app/Contents", "Empty.app"), std::nullopt, false, "",
         std::nullopt, ""},
    };
    // clang-format on
    for (const auto& [what, make, layout, info, expectedVersion, arches, executable] : rows) {
        SCOPED_TRACE(what);
        test::TempDir dir;
        const std::string path = make(dir);
        auto bundle = Bundle::open(path);
        ASSERT_EQ(bundle.has_value(), layout.has_value());
        if (!bundle) continue;
        const std::string root = path.substr(0, path.find_last_not_of('/') + 1);
        EXPECT_EQ(bundle->bundlePath(), root);
        EXPECT_EQ(bundle->layout(), *layout);
        EXPECT_EQ(bundle->infoDictionary() != nullptr, info);
        EXPECT_EQ(text(bundle->objectForInfoDictionaryKey(version, {})), expectedVersion);
        EXPECT_EQ(bundle->executableArchitectures(), arches);
        if (!executable.empty()) {
            EXPECT_EQ(bundle->executablePath(),
                      executable == "-" ? std::nullopt : std::optional<std::string>(root + executable));
        }
    }
}

// Which table a value comes from: the user's language, else the development region (by its old
// name too), else Base; a key the chosen table lacks, or a broken table, leaves Info.plist's value.
TEST(BundleLocalization, TheTableChosenAndWhatItLacks) {
    test::TempDir dir;
    const std::string version = "CFBundleShortVersionString";
    BundleBuilder withRegion(dir / "Tool.app");
    withRegion.info(version, PlistValue("plain"))
        .info("CFBundleDevelopmentRegion", PlistValue("English"))
        .localized("English", {{version, "english"}})
        .localized("pt-BR", {{version, "brasil"}})
        .localized("French", {{version, "francais"}})
        .localized("it", {{"CFBundleName", "Strumento"}})
        .build();
    BundleBuilder withBase(dir / "Base.app");
    withBase.info(version, PlistValue("plain"))
        .localized("Base", {{version, "base"}})
        .rawLocalized("it", "\"CFBundleShortVersionString\" = ")
        .build();
    const std::tuple<const BundleBuilder*, std::string, std::vector<std::string>, std::string> rows[] = {
        {&withRegion, version, {"fr_FR"}, "francais"}, {&withRegion, version, {"pt_BR"}, "brasil"},
        {&withRegion, version, {"ja_JP"}, "english"},  {&withRegion, version, {}, "english"},
        {&withRegion, version, {"it"}, "plain"},       {&withRegion, "CFBundleName", {"it"}, "Strumento"},
        {&withBase, version, {"ko"}, "base"},          {&withBase, version, {"it"}, "plain"},
    };
    for (const auto& [bundle, key, languages, expected] : rows) {
        auto opened = Bundle::open(bundle->path());
        ASSERT_TRUE(opened);
        EXPECT_EQ(text(opened->objectForInfoDictionaryKey(key, languages)), expected)
            << bundle->path() << " " << key << " " << (languages.empty() ? "" : languages[0]);
    }
}

// Sets an environment variable for one scope and puts the old value back.
struct ScopedEnv {
    ScopedEnv(const char* variable, const std::string& value) : name(variable) {
        if (const char* was = std::getenv(variable)) old = was;
        ::setenv(variable, value.c_str(), 1);
    }
    ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(BundleLocalization, TheUsersLocaleChoosesTheLocalization) {
    // Whatever the locale, the languages never name the C locale or a codeset.
    for (const auto& language : Bundle::preferredLanguages()) {
        EXPECT_NE(language, "C");
        EXPECT_NE(language, "POSIX");
        EXPECT_EQ(language.find('.'), std::string::npos) << language;
    }
    if (::access("/usr/bin/localedef", X_OK) != 0 || ::access("/usr/share/i18n/locales/fr_CA", R_OK) != 0)
        GTEST_SKIP() << "localedef or the fr_CA locale source is not installed";
    test::TempDir dir;
    std::string command = "/usr/bin/localedef -i fr_CA -f UTF-8 '" + (dir / "fr_CA.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || ::access((dir / "fr_CA.UTF-8").c_str(), R_OK) != 0)
        GTEST_SKIP() << "localedef could not compile fr_CA";
    BundleBuilder b(dir / "Tool.app");
    b.info("CFBundleShortVersionString", PlistValue("1.0"))
        .localized("fr", {{"CFBundleShortVersionString", "1.0 (fr)"}})
        .localized("en", {{"CFBundleShortVersionString", "1.0 (en)"}})
        .build();
    ScopedEnv path("LOCPATH", dir.path());
    ScopedEnv all("LC_ALL", "fr_CA.UTF-8");
    EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"fr_CA"}));
    EXPECT_EQ(text(Bundle::open(b.path())->objectForInfoDictionaryKey("CFBundleShortVersionString")), "1.0 (fr)");
}

}  // namespace
}  // namespace tessarin
