// Archives expanded into a private folder: a signed app keeps its verdict through zip and tar, Mac
// attributes ride along from AppleDouble companions, and hostile entries and bombs are refused or
// stopped by name, with nothing written outside the folder; the folder goes with everything in it.
#include "container/Archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <filesystem>
#include <string>
#include <vector>

#include "ArchiveBuilder.h"
#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "TempDir.h"
#include "base/ExtendedAttributes.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;
using test::ArchiveItem;
using test::Packing;
namespace fs = std::filesystem;

namespace {

constexpr const char* kQuarantine = "0083;65a0c2f1;Safari;5D3B2C1A-0000-4000-8000-000000000001";

ByteSpan span(const std::string& s) { return {reinterpret_cast<const std::byte*>(s.data()), s.size()}; }

Expansion expand(const std::string& bytes, const PrivateFolder& folder, const ExpansionLimits& limits = {}) {
    auto r = expandArchive(span(bytes), folder, limits);
    if (!r) ADD_FAILURE() << r.error();
    return r ? std::move(r).value() : Expansion{};
}

CodeVerdict verify(const std::string& path) {
    static TrustAnchors none;
    return verifyCode(path, {}, none);
}

unsigned modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST(ArchiveExpansion, SignedAppKeepsItsVerdictModesLinksAndQuarantine) {
    test::TempDir dir;
    test::BundleBuilder app(dir / "Example.app");
    app.executable("Example", test::thinMachO(0x01000007, 3)).resource("data.txt", "resource\n");
    app.symlink("Contents/Resources/alias.txt", "data.txt");
    app.build();
    test::BundleSignOptions sign;
    sign.code.identifier = "com.example.app";
    test::signBundle(app.path(), sign);
    const CodeVerdict original = verify(app.path());
    ASSERT_TRUE(original.valid);

    auto items = test::itemsOfFolder(app.path(), "Example.app");
    // As the Mac's zip writes them: the app's attributes in __MACOSX, a file's beside it in tar.
    const std::string companion = test::appleDouble({{"com.apple.quarantine", kQuarantine}});
    for (Packing packing : {Packing::Zip, Packing::TarGz, Packing::TarBz2, Packing::TarXz}) {
        SCOPED_TRACE(static_cast<int>(packing));
        auto withAttributes = items;
        withAttributes.push_back({"__MACOSX/._Example.app", ArchiveItem::File, companion});
        withAttributes.push_back({"Example.app/Contents/._Info.plist", ArchiveItem::File, companion});
        // Modes that shut the owner out are kept too, once everything under them is written.
        withAttributes.push_back({"locked/f", ArchiveItem::File, "x", 0400});
        withAttributes.push_back({"locked", ArchiveItem::Folder, "", 0500});
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder) << folder.error();
        const bool takesAttributes = ::setxattr(folder->path().c_str(), "user.probe", "1", 1, 0) == 0;
        const Expansion x = expand(test::packArchive(packing, withAttributes), *folder);
        EXPECT_TRUE(x.complete()) << x.stopSentence;
        EXPECT_TRUE(x.refusals.empty()) << x.refusals[0].reason;

        const std::string out = folder->path() + "/Example.app";

        const CodeVerdict copy = verify(out);
        EXPECT_TRUE(copy.valid);
        EXPECT_EQ(copy.identifier, original.identifier);
        EXPECT_EQ(modeOf(out + "/Contents/MacOS/Example"), modeOf(app.executablePath()));
        EXPECT_EQ(fs::read_symlink(out + "/Contents/Resources/alias.txt"), "data.txt");
        EXPECT_EQ(modeOf(folder->path() + "/locked/f"), 0400u);
        EXPECT_EQ(modeOf(folder->path() + "/locked"), 0500u);
        EXPECT_FALSE(fs::exists(folder->path() + "/__MACOSX"));
        EXPECT_FALSE(fs::exists(out + "/Contents/._Info.plist"));
        for (const char* path : {"Example.app", "Example.app/Contents/Info.plist"}) {
            const ArchiveEntry* e = x.find(path);
            ASSERT_TRUE(e && e->attributes.size() == 1) << path;
            EXPECT_EQ(e->attributes[0].name, "com.apple.quarantine");
            EXPECT_EQ(e->attributes[0].value, kQuarantine);
            // Where the file system takes user attributes, the quarantine reads as on any file.
            EXPECT_EQ(e->attributesOnDisk, takesAttributes);
            if (takesAttributes) {
                auto read = readExtendedAttribute((folder->path() + "/" + path).c_str(), "com.apple.quarantine");
                EXPECT_EQ(std::string(read.value.begin(), read.value.end()), kQuarantine);
            }
        }
    }
}

TEST(ArchiveExpansion, HostileEntriesAndBombsAreRefusedOrStoppedByName) {
    test::TempDir outside;
    const std::string zeros(3 << 19, '\0');
    std::vector<ArchiveItem> many;
    for (int i = 0; i < 20; ++i) many.push_back({"f" + std::to_string(i)});
    std::string random(256 << 10, '\0');
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::string big;
    while (big.size() <= (2u << 20)) big += random;
    std::string truncated = test::packArchive(Packing::TarGz, {{"a", ArchiveItem::File, random}, {"b"}});
    truncated.resize(truncated.size() / 2);
    std::string badCompanion = test::appleDouble({{"com.apple.quarantine", kQuarantine}});
    badCompanion.resize(100);
    ExpansionLimits tight;
    tight.maxEntries = 10;
    tight.maxDepth = 4;
    tight.maxBytes = 2 << 20;
    tight.ratioFloor = 1 << 18;
    tight.maxRatio = 100;

    struct Case {
        const char* label;
        Packing packing;
        std::vector<ArchiveItem> items;
        std::string refused;  // the entry named in a refusal, and a piece of its sentence
        std::string because;
        ExpansionStop stop = ExpansionStop::None;
    };
    const Case cases[] = {
        Case("zip slip", Packing::Zip, {{"../slipped"}, {"ok"}}, "../slipped", "climbs out of the folder"),
        Case("absolute name", Packing::Tar, {{outside / "absolute"}}, outside / "absolute", "absolute name"),
        Case("link out, then a file through it", Packing::Zip,
             {{"out", ArchiveItem::Link, outside.path()}, {"out/through"}}, "out/through",
             "under the symbolic link \"out\""),
        Case("link up, then a file through it", Packing::Tar, {{"up", ArchiveItem::Link, "../.."}, {"up/x"}}, "up/x",
             "under the symbolic link"),
        Case("a link through a link", Packing::Tar,
             {{"b", ArchiveItem::Link, outside.path()}, {"a", ArchiveItem::Link, "b"}, {"a/x"}}, "a/x",
             "symbolic link \"a\""),
        Case("entry under a file", Packing::Tar, {{"f"}, {"f/g"}}, "f/g", "which is not a folder"),
        Case("hard link out", Packing::Tar, {{"h", ArchiveItem::HardLink, "../../etc/passwd"}}, "h",
             "outside the folder"),
        Case("device file", Packing::Tar, {{"null", ArchiveItem::Device}}, "null", "device file"),
        Case("fifo", Packing::Tar, {{"pipe", ArchiveItem::Fifo}}, "pipe", "named pipe"),
        Case("non-UTF-8 name", Packing::Zip, {{"caf\xe9/../x"}}, "caf\xe9/../x", "\"caf\\xE9/../x\" is refused"),
        Case("too deep", Packing::Tar, {{"a/b/c/d/e"}}, "a/b/c/d/e", "deeper than the limit of 4"),
        Case("unreadable AppleDouble", Packing::Zip, {{"x"}, {"__MACOSX/._x", ArchiveItem::File, badCompanion}},
             "__MACOSX/._x", "truncated or malformed AppleDouble"),
        Case("zip bomb", Packing::Zip, {{"bomb", ArchiveItem::File, zeros}}, "", "as a zip bomb does",
             ExpansionStop::Ratio),
        Case("too many entries", Packing::Tar, many, "", "more than 10 entries", ExpansionStop::Entries),
        Case("too many bytes", Packing::Tar, {{"big", ArchiveItem::File, big}}, "", "would exceed 2 MiB",
             ExpansionStop::TotalBytes),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder);
        const Expansion x = expand(test::packArchive(c.packing, c.items), *folder, tight);
        EXPECT_EQ(x.stop, c.stop);
        if (c.stop == ExpansionStop::None) {
            ASSERT_EQ(x.refusals.size(), 1u);
            EXPECT_EQ(x.refusals[0].path, c.refused);
            EXPECT_NE(x.refusals[0].reason.find(c.because), std::string::npos) << x.refusals[0].reason;
        } else {
            EXPECT_NE(x.stopSentence.find(c.because), std::string::npos) << x.stopSentence;
            EXPECT_LE(x.bytes, tight.maxBytes);
        }
        EXPECT_TRUE(fs::is_empty(outside.path()));
        EXPECT_FALSE(fs::exists(fs::path(folder->path()).parent_path() / "slipped"));
    }

    // Names that are not UTF-8 are kept as bytes; a link that leads out is kept as a link, marked.
    auto folder = PrivateFolder::create();
    const Expansion x = expand(
        test::packArchive(Packing::Tar, {{"caf\xe9.txt", ArchiveItem::File, "x"}, {"out", ArchiveItem::Link, "/etc"}}),
        *folder);
    EXPECT_TRUE(fs::exists(folder->path() + "/caf\xe9.txt"));
    ASSERT_TRUE(x.find("out"));
    EXPECT_TRUE(x.find("out")->linkLeavesFolder);

    // A truncated archive keeps what came before and says it is damaged.
    auto cut = expandArchive(span(truncated), *folder);
    EXPECT_TRUE(!cut || cut->stop == ExpansionStop::Damaged);
    if (cut) {
        EXPECT_NE(cut->stopSentence.find("damaged or cut short"), std::string::npos) << cut->stopSentence;
    }
    EXPECT_FALSE(expandArchive(span(std::string(1000, 'x')), *folder));
}

TEST(PrivateFolder, IsPrivateAndGoesWithAllInItButNothingItLinksTo) {
    test::TempDir outside;
    test::writeFile(outside / "keep", "x");
    std::string path, second;
    {
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder);
        path = folder->path();
        EXPECT_EQ(modeOf(path), 0700u);
        test::writeFile(path + "/locked/deep/f", "x");
        test::writeFile(path + "/shut/f", "x");
        fs::create_symlink(outside.path(), path + "/out");
        fs::create_symlink(outside.path(), path + "/locked/out");
        ::chmod((path + "/locked/deep").c_str(), 0500);
        ::chmod((path + "/locked").c_str(), 0500);
        ::chmod((path + "/shut").c_str(), 0);

        // What a SIGINT or SIGTERM handler calls removes every live folder; the owner then finds it gone.
        auto other = PrivateFolder::create();
        second = other->path();
        removeRegisteredPrivateFolders();
        EXPECT_FALSE(fs::exists(second));
        EXPECT_FALSE(fs::exists(path));
    }
    auto folder = PrivateFolder::create();
    path = folder->path();
    test::writeFile(path + "/a/b", "x");
    folder->remove();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(outside / "keep"));
}
