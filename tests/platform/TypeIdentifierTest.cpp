// Type identifiers of opened paths and the directory-ness of their URLs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "MachOBuilder.h"
#include "TempDir.h"
#include "bundle/TypeIdentifier.h"

namespace tessarin {
namespace {

// Folders by their extension in any case, files by their first bytes (Mach-O) or their name, and
// anything else as an item, without opening what could block.
TEST(TypeIdentifier, FoldersByExtensionFilesByMagicThenName) {
    test::TempDir dir;
    for (const char* name : {"A.app", "B.APP", "C.pkg", "D.MPkg", "E.framework", "F"})
        test::makeDirectories(dir / name);
    test::writeFile(dir / "G.pkg", "xar!");
    test::writeFile(dir / "H.MPKG", "xar!");
    test::writeFile(dir / "Fake.app", "plain");
    test::writeFile(dir / "thin", test::thinMachO(7, 3));
    test::writeFile(dir / "fat.txt", test::fatMachO({{7, 3}, {0x01000007, 3}}));
    test::writeFile(dir / "lib.dylib", test::thinMachO(0x01000007, 3));
    test::writeFile(dir / "Java.class", std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x34", 8));
    test::writeFile(dir / "short", "\xCE\xFA");
    test::writeFile(dir / "notes.TXT", "hello");
    test::writeScript(dir / "tool", "exit 0");
    ASSERT_EQ(::symlink((dir / "A.app").c_str(), (dir / "Link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const std::pair<const char*, const char*> cases[] = {
        {"A.app", "com.apple.application-bundle"},
        {"B.APP", "com.apple.application-bundle"},
        {"C.pkg", "com.apple.package"},
        {"D.MPkg", "com.apple.package"},
        {"E.framework", "com.apple.framework"},
        {"F", "public.folder"},
        {"G.pkg", "com.apple.installer-package-archive"},
        {"H.MPKG", "com.apple.installer-package-archive"},
        {"Fake.app", "public.data"},
        {"thin", "com.apple.mach-o-binary"},
        {"fat.txt", "com.apple.mach-o-binary"},
        {"lib.dylib", "com.apple.mach-o-dylib"},
        {"Java.class", "public.data"},
        {"short", "public.data"},
        {"notes.TXT", "public.plain-text"},
        {"tool", "public.unix-executable"},
        {"Link", "public.folder"},  // the link's own name decides
        {"pipe", "public.item"},    // and opening it did not block
        {"missing", "public.item"},
    };
    for (const auto& [name, type] : cases) EXPECT_EQ(typeIdentifierForPath(dir / name), type) << name;
}

// Directory-ness follows a link to a directory; folders, files, missing paths and a trailing slash
// are rows of Classification.EachKindOfItemFromItsTypeAndPath (DocumentTest).
TEST(FileURL, ALinkToADirectoryHasADirectoryPath) {
    test::TempDir dir;
    test::makeDirectories(dir / "Tool.app");
    ASSERT_EQ(::symlink("Tool.app", (dir / "link").c_str()), 0);
    EXPECT_TRUE(fileURLForPath(dir / "link").hasDirectoryPath());
}

}  // namespace
}  // namespace tessarin
