// Type identifiers of opened paths and the directory-ness of their URLs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "MachOBuilder.h"
#include "TempDir.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {
namespace {

TEST(TypeIdentifier, BundleAndPackageExtensionsIgnoreCase) {
    test::TempDir dir;
    for (const char* name : {"A.app", "B.APP", "C.pkg", "D.MPkg", "E.framework", "F"})
        test::makeDirectories(dir / name);
    test::writeFile(dir / "G.pkg", "xar!");
    test::writeFile(dir / "H.MPKG", "xar!");
    EXPECT_EQ(typeIdentifierForPath(dir / "A.app"), "com.apple.application-bundle");
    EXPECT_EQ(typeIdentifierForPath(dir / "B.APP"), "com.apple.application-bundle");
    EXPECT_EQ(typeIdentifierForPath(dir / "C.pkg"), "com.apple.package");
    EXPECT_EQ(typeIdentifierForPath(dir / "D.MPkg"), "com.apple.package");
    EXPECT_EQ(typeIdentifierForPath(dir / "E.framework"), "com.apple.framework");
    EXPECT_EQ(typeIdentifierForPath(dir / "F"), "public.folder");
    EXPECT_EQ(typeIdentifierForPath(dir / "G.pkg"), "com.apple.installer-package-archive");
    EXPECT_EQ(typeIdentifierForPath(dir / "H.MPKG"), "com.apple.installer-package-archive");
}

TEST(TypeIdentifier, FileThatIsNamedLikeAnAppIsNoApplication) {
    test::TempDir dir;
    test::writeFile(dir / "Fake.app", "plain");
    EXPECT_EQ(typeIdentifierForPath(dir / "Fake.app"), "public.data");
}

TEST(TypeIdentifier, MachOFilesByTheirMagicNotTheirName) {
    test::TempDir dir;
    test::writeFile(dir / "thin", test::thinMachO(7, 3));
    test::writeFile(dir / "fat.txt", test::fatMachO({{7, 3}, {0x01000007, 3}}));
    test::writeFile(dir / "lib.dylib", test::thinMachO(0x01000007, 3));
    test::writeFile(dir / "Java.class", std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x34", 8));
    test::writeFile(dir / "short", "\xCE\xFA");
    EXPECT_EQ(typeIdentifierForPath(dir / "thin"), "com.apple.mach-o-binary");
    EXPECT_EQ(typeIdentifierForPath(dir / "fat.txt"), "com.apple.mach-o-binary");
    EXPECT_EQ(typeIdentifierForPath(dir / "lib.dylib"), "com.apple.mach-o-dylib");
    EXPECT_EQ(typeIdentifierForPath(dir / "Java.class"), "public.data");
    EXPECT_EQ(typeIdentifierForPath(dir / "short"), "public.data");
}

TEST(TypeIdentifier, OtherFilesLinksAndSpecialFiles) {
    test::TempDir dir;
    test::writeFile(dir / "notes.TXT", "hello");
    test::writeScript(dir / "tool", "exit 0");
    test::makeDirectories(dir / "Real.app");
    ASSERT_EQ(::symlink((dir / "Real.app").c_str(), (dir / "Link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(typeIdentifierForPath(dir / "notes.TXT"), "public.plain-text");
    EXPECT_EQ(typeIdentifierForPath(dir / "tool"), "public.unix-executable");
    EXPECT_EQ(typeIdentifierForPath(dir / "Link"), "public.folder");  // the link's own name decides
    EXPECT_EQ(typeIdentifierForPath(dir / "pipe"), "public.item");    // and opening it did not block
    EXPECT_EQ(typeIdentifierForPath(dir / "missing"), "public.item");
}

TEST(FileURL, DirectoryURLsForExistingDirectoriesAlsoThroughLinks) {
    test::TempDir dir;
    test::makeDirectories(dir / "Tool.app");
    test::writeFile(dir / "file", "x");
    ASSERT_EQ(::symlink("Tool.app", (dir / "link").c_str()), 0);
    EXPECT_TRUE(fileURLForPath(dir / "Tool.app").hasDirectoryPath());
    EXPECT_TRUE(fileURLForPath(dir / "link").hasDirectoryPath());
    EXPECT_FALSE(fileURLForPath(dir / "file").hasDirectoryPath());
    EXPECT_FALSE(fileURLForPath(dir / "missing").hasDirectoryPath());
    EXPECT_EQ(fileURLForPath(dir / "Tool.app/").path(), dir / "Tool.app");
}

}  // namespace
}  // namespace tessarin
