// Extended attribute reads: two getxattr calls, the "user." namespace, links and POSIX errors.
#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "TempDir.h"
#include "base/ExtendedAttributes.h"

namespace tessarin {
namespace {

// Sets a user attribute, or says why the file system will not take one.
std::string setUserAttribute(const std::string& path, const std::string& name, const std::string& value) {
    if (::setxattr(path.c_str(), ("user." + name).c_str(), value.data(), value.size(), 0) == 0) return {};
    return std::string("this file system takes no user extended attributes: ") + std::strerror(errno);
}

#define SET_OR_SKIP(path, name, value)                         \
    do {                                                       \
        std::string why = setUserAttribute(path, name, value); \
        if (!why.empty()) GTEST_SKIP() << why;                 \
    } while (0)

TEST(ExtendedAttributes, MacAttributeIsFoundUnderTheUserNamespace) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    SET_OR_SKIP(dir / "f", "com.apple.quarantine", "0083;5e1c0000;Safari;");
    auto r = readExtendedAttribute((dir / "f").c_str(), "com.apple.quarantine");
    ASSERT_TRUE(r.ok) << r.error.localizedDescription;
    EXPECT_EQ(std::string(r.value.begin(), r.value.end()), "0083;5e1c0000;Safari;");
}

TEST(ExtendedAttributes, ValueKeepsEmbeddedNulsAndMayBeEmpty) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    SET_OR_SKIP(dir / "f", "com.example.bytes", std::string("a\0b", 3));
    SET_OR_SKIP(dir / "f", "com.example.empty", "");
    auto bytes = readExtendedAttribute((dir / "f").c_str(), "com.example.bytes");
    ASSERT_TRUE(bytes.ok);
    EXPECT_EQ(bytes.value, (std::vector<unsigned char>{'a', 0, 'b'}));
    auto empty = readExtendedAttribute((dir / "f").c_str(), "com.example.empty");
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.value.empty());
}

TEST(ExtendedAttributes, NamesInALinuxNamespaceAreUsedAsGiven) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    SET_OR_SKIP(dir / "f", "plain", "v");
    auto r = readExtendedAttribute((dir / "f").c_str(), "user.plain");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(std::string(r.value.begin(), r.value.end()), "v");
}

TEST(ExtendedAttributes, SymbolicLinkIsFollowedToItsTarget) {
    test::TempDir dir;
    test::writeFile(dir / "target", "x");
    ASSERT_EQ(::symlink("target", (dir / "link").c_str()), 0);
    SET_OR_SKIP(dir / "target", "com.apple.quarantine", "0081;00000000;;");
    auto r = readExtendedAttribute((dir / "link").c_str(), "com.apple.quarantine");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(std::string(r.value.begin(), r.value.end()), "0081;00000000;;");
}

TEST(ExtendedAttributes, FailuresCarryErrnoAndItsText) {
    test::TempDir dir;
    auto missingFile = readExtendedAttribute((dir / "missing").c_str(), "com.apple.quarantine");
    EXPECT_FALSE(missingFile.ok);
    EXPECT_EQ(missingFile.error.code, ENOENT);
    EXPECT_EQ(missingFile.error.localizedDescription, std::strerror(ENOENT));
    EXPECT_STREQ(PosixError::domain, "NSPOSIXErrorDomain");

    test::writeFile(dir / "f", "x");
    auto missingAttribute = readExtendedAttribute((dir / "f").c_str(), "com.apple.quarantine");
    EXPECT_FALSE(missingAttribute.ok);
    EXPECT_NE(missingAttribute.error.code, 0);
    EXPECT_EQ(missingAttribute.error.localizedDescription, std::strerror(missingAttribute.error.code));
    EXPECT_TRUE(missingAttribute.value.empty());
}

}  // namespace
}  // namespace tessarin
