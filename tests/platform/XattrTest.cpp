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

// Mac names are looked for under "user.", names already in a Linux namespace as given; values keep
// their NULs and may be empty; a link is followed to its target.
TEST(ExtendedAttributes, ValuesAreReadAsSetUnderTheirNames) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    ASSERT_EQ(::symlink("f", (dir / "link").c_str()), 0);
    // The file read, the name set under "user.", the value, and the name read.
    const std::tuple<const char*, const char*, std::string, const char*> rows[] = {
        {"f", "com.apple.quarantine", "0083;5e1c0000;Safari;", "com.apple.quarantine"},
        {"f", "com.example.bytes", std::string("a\0b", 3), "com.example.bytes"},
        {"f", "com.example.empty", "", "com.example.empty"},
        {"f", "plain", "v", "user.plain"},
        {"link", "com.example.linked", "0081;00000000;;", "com.example.linked"},
    };
    for (const auto& [file, setAs, value, readAs] : rows) {
        SCOPED_TRACE(readAs);
        SET_OR_SKIP(dir / "f", setAs, value);
        auto r = readExtendedAttribute((dir / file).c_str(), readAs);
        ASSERT_TRUE(r.ok) << r.error.localizedDescription;
        EXPECT_EQ(std::string(r.value.begin(), r.value.end()), value);
    }
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
