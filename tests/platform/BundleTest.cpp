// Bundle structure, information (XML and binary), localized values and executable architectures.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "TempDir.h"
#include "bundle/Bundle.h"

namespace tessarin {
namespace {

using test::BundleBuilder;
using test::StringsFormat;
using Kind = BundleBuilder::Kind;

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kARM64 = 0x0100000C, kPPC = 18;

std::string text(const std::optional<PlistValue>& v) {
    if (!v) return "<none>";
    return v->string() ? *v->string() : "<not text>";
}

TEST(BundleStructure, ApplicationWithXmlInformationAndFatExecutable) {
    test::TempDir dir;
    BundleBuilder b(dir / "Tool.app");
    b.info("CFBundleShortVersionString", PlistValue("1.2.3"))
        .executable("Tool", test::fatMachO({{kX86_64, 3}, {kARM64, 0}}))
        .build();
    auto bundle = Bundle::open(b.path());
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->layout(), Bundle::Layout::App);
    ASSERT_TRUE(bundle->infoDictionary());
    EXPECT_EQ(*bundle->infoDictionary()->at("CFBundleShortVersionString").string(), "1.2.3");
    EXPECT_EQ(bundle->executablePath(), b.executablePath());
    EXPECT_EQ(bundle->executableArchitectures(), (std::vector<std::int32_t>{kX86_64, kARM64}));
}

TEST(BundleStructure, BinaryInformationAndATrailingSlash) {
    test::TempDir dir;
    BundleBuilder b(dir / "Tool.app");
    b.infoFormat(test::InfoFormat::Binary).info("DTSDKName", PlistValue("macosx11.0")).build();
    auto bundle = Bundle::open(b.path() + "/");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundlePath(), b.path());
    EXPECT_EQ(*bundle->infoDictionary()->at("DTSDKName").string(), "macosx11.0");
}

TEST(BundleStructure, SliceOrderAndRepeatsAreKept) {
    test::TempDir dir;
    BundleBuilder b(dir / "Tool.app");
    // x86_64 and x86_64h share a CPU type: it is listed once per slice.
    b.executable("Tool", test::fatMachO({{kPPC, 0}, {kX86_64, 8}, {kI386, 3}, {kX86_64, 3}})).build();
    EXPECT_EQ(Bundle::open(b.path())->executableArchitectures(),
              (std::vector<std::int32_t>{kPPC, kX86_64, kI386, kX86_64}));
    BundleBuilder thin(dir / "Old.app");
    thin.executable("Old", test::thinMachO(kI386, 3)).build();
    EXPECT_EQ(Bundle::open(thin.path())->executableArchitectures(), (std::vector<std::int32_t>{kI386}));
}

TEST(BundleStructure, FrameworkReadsThroughVersionsCurrent) {
    test::TempDir dir;
    BundleBuilder b(dir / "Kit.framework", Kind::Framework);
    b.info("CFBundleShortVersionString", PlistValue("9")).executable("Kit", test::thinMachO(kX86_64, 3)).build();
    auto bundle = Bundle::open(b.path());
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->layout(), Bundle::Layout::Framework);
    EXPECT_EQ(text(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString", {})), "9");
    EXPECT_EQ(bundle->executablePath(), b.path() + "/Versions/Current/Kit");
    EXPECT_EQ(bundle->executableArchitectures(), (std::vector<std::int32_t>{kX86_64}));
}

TEST(BundleStructure, ShallowBundleAndOldPackage) {
    test::TempDir dir;
    BundleBuilder shallow(dir / "Plug.bundle", Kind::Shallow);
    shallow.executable("Plug", test::thinMachO(kARM64, 0)).build();
    auto s = Bundle::open(shallow.path());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->layout(), Bundle::Layout::Shallow);
    EXPECT_EQ(s->executableArchitectures(), (std::vector<std::int32_t>{kARM64}));

    BundleBuilder package(dir / "Old.pkg", Kind::OldPackage);
    package.info("CFBundleShortVersionString", PlistValue("4.5")).build();
    auto p = Bundle::open(package.path());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->layout(), Bundle::Layout::App);
    EXPECT_EQ(text(p->objectForInfoDictionaryKey("CFBundleShortVersionString", {})), "4.5");
    EXPECT_FALSE(p->executableArchitectures());
}

TEST(BundleStructure, FoldersFilesAndMissingPathsAreNoBundles) {
    test::TempDir dir;
    test::makeDirectories(dir / "Plain/Sub");
    test::writeFile(dir / "file.app", "not a directory");
    EXPECT_FALSE(Bundle::open(dir / "Plain"));
    EXPECT_FALSE(Bundle::open(dir / "file.app"));
    EXPECT_FALSE(Bundle::open(dir / "missing.app"));
    test::makeDirectories(dir / "Empty.app/Contents");
    EXPECT_FALSE(Bundle::open(dir / "Empty.app"));  // Contents/ with neither Info.plist nor MacOS/
}

TEST(BundleStructure, MacOSFolderWithoutInformationStillOpens) {
    test::TempDir dir;
    test::makeDirectories(dir / "Bare.app/Contents/MacOS");
    auto bundle = Bundle::open(dir / "Bare.app");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->infoDictionary(), nullptr);
    EXPECT_FALSE(bundle->executableArchitectures());
    EXPECT_FALSE(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString", {}));
}

TEST(BundleInformation, BrokenOrNonDictionaryInfoPlistGivesNoInformation) {
    test::TempDir dir;
    BundleBuilder broken(dir / "Broken.app");
    broken.rawInfoPlist("<plist><dict><key>x</key>").build();
    auto b = Bundle::open(broken.path());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->infoDictionary(), nullptr);

    BundleBuilder array(dir / "Array.app");
    array.rawInfoPlist(toXmlPlist(PlistValue(PlistArray{PlistValue("x")}))).build();
    EXPECT_EQ(Bundle::open(array.path())->infoDictionary(), nullptr);
}

TEST(BundleInformation, ExecutableMustBeANameOfAMachOFile) {
    test::TempDir dir;
    BundleBuilder script(dir / "Script.app");
    script.executable("run", std::vector<std::uint8_t>{'#', '!', '/', 'b', 'i', 'n'}).build();
    EXPECT_TRUE(Bundle::open(script.path())->executablePath());
    EXPECT_FALSE(Bundle::open(script.path())->executableArchitectures());

    test::writeFile(dir / "Outside", test::thinMachO(kI386, 3));
    BundleBuilder escaping(dir / "Escape.app");
    escaping.info("CFBundleExecutable", PlistValue("../../../Outside")).build();
    EXPECT_FALSE(Bundle::open(escaping.path())->executablePath());

    BundleBuilder number(dir / "Number.app");
    number.info("CFBundleExecutable", PlistValue(std::int64_t{7})).build();
    EXPECT_FALSE(Bundle::open(number.path())->executableArchitectures());

    BundleBuilder missing(dir / "Missing.app");
    missing.info("CFBundleExecutable", PlistValue("Gone")).build();
    EXPECT_FALSE(Bundle::open(missing.path())->executablePath());
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

TEST(BundleLocalization, EveryStringsEncodingLocalizes) {
    for (auto format : {StringsFormat::Text, StringsFormat::TextUtf16LE, StringsFormat::TextUtf16BE,
                        StringsFormat::XmlPlist, StringsFormat::BinaryPlist}) {
        test::TempDir dir;
        BundleBuilder b(dir / "Tool.app");
        b.info("CFBundleShortVersionString", PlistValue("1.0"))
            .localized("de", {{"CFBundleShortVersionString", "1.0 \u00fc"}}, format)
            .build();
        EXPECT_EQ(text(Bundle::open(b.path())->objectForInfoDictionaryKey("CFBundleShortVersionString", {"de"})),
                  "1.0 \u00fc")
            << static_cast<int>(format);
    }
}

TEST(BundleLocalization, NonTextValuesComeBackAsTheyAre) {
    test::TempDir dir;
    BundleBuilder b(dir / "Tool.app");
    b.info("CFBundleShortVersionString", PlistValue(std::int64_t{3})).build();
    auto v = Bundle::open(b.path())->objectForInfoDictionaryKey("CFBundleShortVersionString", {});
    ASSERT_TRUE(v && v->integer());
    EXPECT_EQ(*v->integer(), 3);
}

TEST(BundleLocalization, UserLanguagesNeverNameTheCLocale) {
    for (const auto& language : Bundle::preferredLanguages()) {
        EXPECT_NE(language, "C");
        EXPECT_NE(language, "POSIX");
        EXPECT_EQ(language.find('.'), std::string::npos) << language;
    }
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(BundleLocalization, TheUsersLocaleChoosesTheLocalization) {
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
