// The 32-bit component scan over trees built here: what is listed, what is passed over, the order
// and the headings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <functional>
#include <future>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "Scan32Bit.h"
#include "TempDir.h"

namespace tessarin {
namespace {

using test::BundleBuilder;
using Kind = BundleBuilder::Kind;

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kARM64 = 0x0100000C;
// The marks are U+2705, and U+26A0 / U+26D4 each followed by U+FE0F.
const std::string kNone = "\u2705 No 32-bit only components were found.\n";
const std::string kHas64 = "\u26A0\uFE0F This has 64-bit code, but the following components are 32-bit only:\n";
const std::string kOnly32 = "\u26D4\uFE0F This is 32-bit only, and the following components are 32-bit only:\n";

Scan32BitResult scan(const std::string& path, const std::vector<std::int32_t>& arches = {}) {
    return scan32BitComponents(FileURL{path, true}, arches);
}

test::Bytes thin32() { return test::thinMachO(kI386, 3); }

// Apps, libraries and frameworks inside an app: what is listed, and the heading the item's own and
// its nested apps' architectures give (a nested app is judged by its executable alone, and only a
// name ending in ".app" is one).
TEST(Scan32Bit, NestedCodeIsListedUnderTheHeadingItsArchitecturesGive) {
    struct Row {
        const char* what;
        std::function<void(BundleBuilder&)> shape;  // on Outer.app
        std::vector<std::int32_t> arches;           // the item's own
        std::vector<std::string> components;        // relative to the item
        std::string heading;
    };
    const auto library = [](BundleBuilder& b) { b.file("Contents/Frameworks/libold.dylib", thin32()); };
    const std::string lib = "/Contents/Frameworks/libold.dylib";
    // clang-format off
    const Row rows[] = {
        {"universal, nothing nested", [](BundleBuilder& b) {
             b.executable("Outer", test::fatMachO({{kI386, 3}, {kX86_64, 3}}));
         }, {kI386, kX86_64}, {}, kNone},
        {"a thin library, the item 64-bit", library, {kX86_64}, {lib}, kHas64},
        {"a thin library, the item 32-bit only", library, {kI386}, {lib}, kOnly32},
        {"a thin library, no architectures: nothing to say of the item", library, {}, {lib}, ""},
        {"an i386-only app and its executable", [](BundleBuilder& b) {
             b.nested("Contents/Helpers/Old.app", Kind::App).executable("Old", thin32()).build();
         }, {}, {"/Contents/Helpers/Old.app", "/Contents/Helpers/Old.app/Contents/MacOS/Old"}, kOnly32},
        {"a universal app beside a plug-in", [](BundleBuilder& b) {
             b.file("Contents/Resources/plugin.so", thin32());
             b.nested("Contents/Helpers/Both.app", Kind::App).executable("Both", test::fatMachO({{kI386, 3}, {kX86_64, 3}})).build();
         }, {}, {"/Contents/Resources/plugin.so"}, kHas64},
        {"nested apps judged by their executable", [](BundleBuilder& b) {
             b.nested("Contents/Helpers/Arm.app", Kind::App).executable("Arm", test::thinMachO(kARM64, 0)).build();
             b.nested("Contents/Helpers/Broken.app", Kind::App).rawInfoPlist("garbage").build();
             b.nested("Contents/Helpers/Upper.APP", Kind::App).executable("Upper", test::fatMachO({{kI386, 3}, {18, 0}})).build();
             b.nested("Contents/Helpers/.app", Kind::App).executable("bare", test::fatMachO({{kI386, 3}, {18, 0}})).build();
         }, {}, {"/Contents/Helpers/.app"}, kOnly32},
        {"a framework's executable, where it is and through the top link", [](BundleBuilder& b) {
             b.nested("Contents/Frameworks/Kit.framework", Kind::Framework).executable("Kit", thin32()).build();
         }, {kX86_64}, {"/Contents/Frameworks/Kit.framework/Kit", "/Contents/Frameworks/Kit.framework/Versions/A/Kit"}, kHas64},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::TempDir dir;
        BundleBuilder outer(dir / "Outer.app");
        row.shape(outer);
        outer.build();
        auto r = scan(outer.path(), row.arches);
        EXPECT_TRUE(r.started);
        std::vector<std::string> expected;
        std::string text = row.heading;
        for (const std::string& c : row.components) {
            expected.push_back(outer.path() + c);
            text += expected.back() + "\n";
        }
        EXPECT_EQ(r.components, expected);
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.turnOff64Intel, !expected.empty());
    }
}

// Which files under a folder are listed, in which order: only thin little-endian 32-bit Mach-O files
// (ARM too), hidden ones included, sorted by name; links to files are followed, links to folders not.
// The folder is given with a trailing slash.
TEST(Scan32Bit, WhatIsListedAndInWhichOrder) {
    test::TempDir dir;
    const std::string root = dir / "Root";
    test::writeFile(root + "/empty", "");
    test::writeFile(root + "/three", std::string("\xCE\xFA\xED", 3));
    test::writeFile(root + "/ppc", test::thinMachO(18, 0));             // FE ED FA CE
    test::writeFile(root + "/sixtyfour", test::thinMachO(kX86_64, 3));  // CF FA ED FE
    test::writeFile(root + "/fat", test::fatMachO({{kI386, 3}}));       // CA FE BA BE
    test::writeFile(root + "/arm32", test::thinMachO(12, 9));           // CE FA ED FE, ARM
    test::writeFile(root + "/magic-only", std::string("\xCE\xFA\xED\xFE", 4));
    for (const char* name : {"zeta", "Alpha", ".hidden", "beta/inner", "beta-2", "a/b/c/d", "\xFF\xFE-lib"})
        test::writeFile(root + "/" + name, thin32());
    test::writeFile(dir / "Elsewhere/lib32", thin32());
    BundleBuilder old(dir / "Elsewhere/Old.app");
    old.executable("Old", test::fatMachO({{kI386, 3}, {18, 0}})).build();
    ASSERT_EQ(::symlink((dir / "Elsewhere").c_str(), (root + "/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "Elsewhere/Old.app").c_str(), (root + "/Linked.app").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "Elsewhere/lib32").c_str(), (root + "/filelink").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (root + "/dangling").c_str()), 0);
    std::vector<std::string> expected;
    std::string text;
    for (const char* name :
         {".hidden", "Alpha", "a/b/c/d", "arm32", "beta-2", "beta/inner", "filelink", "magic-only", "zeta"}) {
        expected.push_back(root + "/" + name);
        text += expected.back() + "\n";
    }
    // A name that is not UTF-8 is listed with its bytes escaped, not replaced: the log must not name
    // another file.
    expected.push_back(root + "/\xFF\xFE-lib");
    text += root + "/\\xFF\\xFE-lib\n";
    auto r = scan32BitComponents(FileURL{root + "/", true}, {});
    EXPECT_EQ(r.components, expected);
    EXPECT_EQ(r.text, text);
    EXPECT_FALSE(r.has32BitIntel);  // the linked app was not followed
}

TEST(Scan32Bit, SpecialFilesAreNeverOpened) {
    test::TempDir dir;
    test::writeFile(dir / "Root/lib", thin32());
    ASSERT_EQ(::mkfifo((dir / "Root/pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("pipe", (dir / "Root/pipelink").c_str()), 0);
    auto pending = std::async(std::launch::async, [&] { return scan(dir / "Root"); });
    if (pending.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        // Give the blocked reader a writer so that the test can end, then fail.
        int fd = ::open((dir / "Root/pipe").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        pending.wait();
        FAIL() << "the scan blocked on a FIFO";
    }
    EXPECT_EQ(pending.get().components, (std::vector<std::string>{dir / "Root/lib"}));
}

// Runs the scan without root's power to read anything, in a child when the tests run as root.
std::string scanTextAsUnprivileged(const std::string& root) {
    if (::geteuid() != 0) return scan(root).text;
    int fds[2];
    if (::pipe(fds) != 0) return "<no pipe>";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        std::string text = scan(root).text;
        ssize_t written = ::write(fds[1], text.data(), text.size());
        ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child failed>";
    return text;
}

TEST(Scan32Bit, UnreadableFoldersAndFilesArePassedOver) {
    test::TempDir dir;
    test::writeFile(dir / "Root/closed/lib32", thin32());
    test::writeFile(dir / "Root/unreadable32", thin32());
    test::writeFile(dir / "Root/open/lib32", thin32());
    ::chmod(dir.path().c_str(), 0755);
    for (const char* p : {"Root", "Root/open"}) ::chmod((dir / p).c_str(), 0755);
    ::chmod((dir / "Root/open/lib32").c_str(), 0644);
    ::chmod((dir / "Root/unreadable32").c_str(), 0);
    ::chmod((dir / "Root/closed").c_str(), 0);
    EXPECT_EQ(scanTextAsUnprivileged(dir / "Root"), (dir / "Root/open/lib32") + "\n");
}

TEST(Scan32Bit, NothingIsWrittenWhenTheWalkCannotStartButAnEmptyFolderSaysSo) {
    test::TempDir dir;
    test::writeFile(dir / "file", thin32());
    for (const std::string& path : {dir / "missing", dir / "file", std::string()}) {
        auto r = scan(path);
        EXPECT_FALSE(r.started) << path;
        EXPECT_TRUE(r.text.empty()) << path;
        EXPECT_FALSE(r.turnOff64Intel);
    }
    test::makeDirectories(dir / "Empty");
    EXPECT_EQ(scan(dir / "Empty").text, kNone);
}

// Makes root/d/d/.../d (depth levels) with a thin 32-bit file at the bottom, through descriptors
// because the path outgrows PATH_MAX.
void makeDeepChain(const std::string& root, int depth) {
    test::makeDirectories(root);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    int file = ::openat(fd, "lib32", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    auto bytes = thin32();
    ASSERT_EQ(::write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(file);
    ::close(fd);
}

// Siblings after a branch deeper than the open-descriptor window are still found.
TEST(Scan32Bit, DeepTreesNeedNeitherStackNorManyDescriptors) {
    test::TempDir dir;
    const int depth = 5000;
    makeDeepChain(dir / "Root/deep", depth);
    test::writeFile(dir / "Root/zz-after", thin32());
    test::writeFile(dir / "Root/deep/yy-beside", thin32());
    rlimit saved{};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = 100;
    ::setrlimit(RLIMIT_NOFILE, &tight);
    auto r = scan(dir / "Root");
    ::setrlimit(RLIMIT_NOFILE, &saved);
    std::string deepest = dir / "Root/deep";
    for (int i = 0; i < depth; ++i) deepest += "/d";
    EXPECT_EQ(r.components,
              (std::vector<std::string>{deepest + "/lib32", dir / "Root/deep/yy-beside", dir / "Root/zz-after"}));
}

}  // namespace
}  // namespace tessarin
