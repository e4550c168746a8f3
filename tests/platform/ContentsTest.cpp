// What a container holds, as its tree: each item inside has the tree it has when opened on its
// own, shown at the container's path; containers inside are opened to a fixed depth; what cannot be
// read is one note; nothing is left behind under the caller's folder.
#include "contents/Contents.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ArchiveBuilder.h"
#include "BundleBuilder.h"
#include "DiskImageBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "ToolRun.h"
#include "XarBuilder.h"
#include "verify/Assessment.h"

using namespace tessarin;
using test::ArchiveItem;
using test::Packing;
namespace fs = std::filesystem;

namespace {

const TrustAnchors& noAnchors() {
    static TrustAnchors none;
    return none;
}

const CodeItem* child(const CodeItem& item, const std::string& relativePath) {
    for (const CodeItem& c : item.children)
        if (c.relativePath == relativePath) return &c;
    return nullptr;
}

std::string tool() {
    const Bytes b = test::thinMachO(0x0100000c, 2);
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// An unsigned UDIF image of `folder`: Debian writes no HFS+, so an ext4 file system stands in for the
// volume (7zz opens whichever one the image's partition holds). Empty when mkfs.ext4 fails.
Bytes imageOf(const std::string& folder, const std::string& scratch) {
    const auto made =
        test::runProgram("/usr/sbin/mkfs.ext4", {"-q", "-F", "-O", "^has_journal", "-d", folder, scratch, "2M"});
    if (made.status != 0) return {};
    test::DiskImageOptions o;
    const std::string volume = test::readFile(scratch);
    o.content.assign(volume.begin(), volume.end());
    o.zlib = true;
    o.chunkSectors = 256;
    return test::buildDiskImage(o);
}

struct Opened {
    ComponentTree tree;
    bool leftBehind = false;
};

Opened open(const std::string& file, const ContentsOptions& options = {}, const TrustAnchors& anchors = noAnchors()) {
    test::TempDir parent;
    Opened out;
    out.tree = componentTreeOf(file, anchors);
    addContainerContents(out.tree, file, containerKindOf(file), parent.path(), anchors, nullptr, options);
    out.leftBehind = !fs::is_empty(parent.path());
    return out;
}

}  // namespace

TEST(ContainerContents, EachItemInsideHasItsOwnTreeAtTheContainersPath) {
    test::TempDir dir;
    test::BundleBuilder app(dir / "stage/Example.app");
    app.executable("Example", test::thinMachO(0x01000007, 3)).resource("data.txt", "resource\n");
    app.build();
    test::BundleSignOptions sign;
    sign.code.identifier = "com.example.app";
    test::signBundle(app.path(), sign);
    const ComponentTree alone = componentTreeOf(app.path(), noAnchors());
    ASSERT_TRUE(alone.root.valid);

    auto items = test::itemsOfFolder(dir / "stage/Example.app", "Example.app");
    items.push_back({"bin/tool", ArchiveItem::File, tool(), 0755});
    items.push_back({"Applications", ArchiveItem::Link, "/Applications"});
    items.push_back({"README", ArchiveItem::File, "not code"});
    items.push_back({"../escape", ArchiveItem::File, "x"});
    const std::string inner = test::packArchive(Packing::TarGz, {{"deeper/tool", ArchiveItem::File, tool(), 0755}});
    items.push_back({"extras.tgz", ArchiveItem::File, inner});

    for (Packing packing : {Packing::Zip, Packing::TarXz}) {
        SCOPED_TRACE(static_cast<int>(packing));
        const std::string file = dir / "Example.archive";
        test::writeFile(file, test::packArchive(packing, items));
        ASSERT_EQ(containerKindOf(file), ContainerKind::Archive);
        const Opened o = open(file);
        const CodeItem& root = o.tree.root;
        EXPECT_EQ(root.kind, CodeItemKind::Archive);
        EXPECT_FALSE(o.leftBehind);

        const CodeItem* inside = child(root, "Example.app");
        ASSERT_TRUE(inside);
        // As it is alone, at the container's path.
        EXPECT_EQ(std::tuple(inside->path, inside->kind, inside->valid, inside->signature, inside->children.size()),
                  std::tuple(file + "/Example.app", alone.root.kind, alone.root.valid, alone.root.signature,
                             alone.root.children.size()));
        EXPECT_EQ(inside->identifier, "com.example.app");

        const CodeItem* tool = child(root, "bin/tool");
        ASSERT_TRUE(tool);
        EXPECT_EQ(tool->kind, CodeItemKind::MachO);
        EXPECT_FALSE(tool->valid);
        const CodeItem* link = child(root, "Applications");
        ASSERT_TRUE(link);
        EXPECT_EQ(link->linkTarget, "/Applications");
        EXPECT_FALSE(child(root, "README"));

        const CodeItem* nested = child(root, "extras.tgz");
        ASSERT_TRUE(nested);
        EXPECT_EQ(nested->kind, CodeItemKind::Archive);
        ASSERT_TRUE(child(*nested, "extras.tgz/deeper/tool"));
        EXPECT_EQ(child(*nested, "extras.tgz/deeper/tool")->path, file + "/extras.tgz/deeper/tool");

        ASSERT_EQ(o.tree.notes.size(), 1u);
        EXPECT_NE(o.tree.notes[0].find("../escape"), std::string::npos) << o.tree.notes[0];
        EXPECT_FALSE(fs::exists(dir / "escape"));
    }
}

TEST(ContainerContents, WhatCannotBeOpenedIsOneNote) {
    test::TempDir dir;
    const std::string zip = test::packArchive(Packing::ZipStored, {{"a", ArchiveItem::File, std::string(9000, 'a')}});
    // The bytes, how deep containers are opened, and a piece of the one note.
    const std::tuple<const char*, std::string, int, const char*> rows[] = {
        {"cut short", zip.substr(0, 3000), 3, "Example"},
        {"nested too deep", test::packArchive(Packing::Zip, {{"in.zip", ArchiveItem::File, zip}}), 1,
         "levels deep and is not opened"},
    };
    for (const auto& [name, bytes, maxNesting, note] : rows) {
        SCOPED_TRACE(name);
        const std::string file = dir / "Example.zip";
        test::writeFile(file, bytes);
        ContentsOptions options;
        options.maxNesting = maxNesting;
        const Opened o = open(file, options);
        EXPECT_FALSE(o.leftBehind);
        ASSERT_EQ(o.tree.notes.size(), 1u);
        EXPECT_NE(o.tree.notes[0].find(note), std::string::npos) << o.tree.notes[0];
    }
}

// A disk image shows its file system's items and a package what its payloads install, each item
// judged as it is on its own.
TEST(ContainerContents, DiskImagesAndPackagesShowWhatTheyHold) {
    test::TempDir dir;
    if (!fs::exists("/usr/bin/7zz") || !fs::exists("/usr/sbin/mkfs.ext4"))
        GTEST_SKIP() << "needs 7zz (7zip) and mkfs.ext4 (e2fsprogs)";
    test::BundleBuilder app(dir / "volume/Example.app");
    app.executable("Example", test::thinMachO(0x01000007, 3)).resource("data.txt", "resource\n");
    app.build();
    test::signBundle(app.path(), {});
    fs::create_symlink("/Applications", dir / "volume/Applications");
    const Bytes unsignedImage = imageOf(dir / "volume", dir / "fs");
    ASSERT_FALSE(unsignedImage.empty());
    test::writeFile(dir / "Example.dmg", test::signDiskImage(unsignedImage, {}));

    const std::string code = tool();
    const Bytes payload = test::gzipCompress(test::buildCpio(
        {{".", 040755, {}, 0, 0, {}}, {"./usr/local/bin/tool", 0100755, Bytes(code.begin(), code.end()), 0, 0, {}}}));
    const std::string postinstall = "#!/bin/sh\necho installed\n";
    const Bytes scripts = test::gzipCompress(
        test::buildCpio({{".", 040755, {}, 0, 0, {}},
                         {"./postinstall", 0100755, Bytes(postinstall.begin(), postinstall.end()), 0, 0, {}}}));
    test::XarBuildOptions package;
    package.files = test::componentFiles("", "com.example.tool", "1.0", payload, scripts);
    test::writeFile(dir / "Example.pkg", test::buildXar(package).bytes);

    EXPECT_EQ(containerKindOf(dir / "Example.dmg"), ContainerKind::DiskImage);
    EXPECT_EQ(containerKindOf(dir / "Example.pkg"), ContainerKind::Package);
    const Opened dmg = open(dir / "Example.dmg"), pkg = open(dir / "Example.pkg");
    EXPECT_FALSE(dmg.leftBehind || pkg.leftBehind);
    EXPECT_EQ(dmg.tree.root.kind, CodeItemKind::DiskImage);
    EXPECT_TRUE(dmg.tree.root.valid);
    const CodeItem* onVolume = child(dmg.tree.root, "Example.app");
    ASSERT_TRUE(onVolume) << (dmg.tree.notes.empty() ? "" : dmg.tree.notes[0]);
    EXPECT_EQ(std::tuple(onVolume->kind, onVolume->path, onVolume->valid),
              std::tuple(CodeItemKind::App, dir / "Example.dmg/Example.app", true));
    ASSERT_TRUE(child(dmg.tree.root, "Applications"));
    EXPECT_EQ(child(dmg.tree.root, "Applications")->linkTarget, "/Applications");
    // What a package runs is shown as text beside what it installs.
    EXPECT_EQ(pkg.tree.root.kind, CodeItemKind::InstallerPackage);
    const CodeItem* installed = child(pkg.tree.root, "usr/local/bin/tool");
    ASSERT_TRUE(installed) << (pkg.tree.notes.empty() ? "" : pkg.tree.notes[0]);
    EXPECT_EQ(std::tuple(installed->kind, installed->path),
              std::tuple(CodeItemKind::MachO, dir / "Example.pkg/usr/local/bin/tool"));
    EXPECT_EQ(pkg.tree.root.bundleIdentifier, "com.example.tool");
    ASSERT_EQ(pkg.tree.root.scripts.size(), 1u);
    EXPECT_EQ(pkg.tree.root.scripts[0].name, "postinstall");
    EXPECT_EQ(pkg.tree.root.scripts[0].text, postinstall);
    // A signed package's own row carries its signature as installation judges it.
    const test::SigningChain& chain = test::SigningChain::shared();
    test::writeFile(dir / "Signed.pkg", test::buildXar(test::signedProduct(chain)).bytes);
    ComponentTree signedPackage;
    assessPath(dir / "Signed.pkg", AssessmentType::Install, chain.anchors(), nullptr, &signedPackage);
    EXPECT_EQ(signedPackage.root.kind, CodeItemKind::InstallerPackage);
    EXPECT_EQ(signedPackage.root.signature, SignatureKind::Certificate);
    EXPECT_TRUE(signedPackage.root.valid && signedPackage.root.chainTrusted);
    EXPECT_FALSE(signedPackage.root.teamId.empty());
}

// A disk image's stapled ticket names the code inside it as well (a Mac takes it in when the image
// is opened): an app it names is notarized by it, one it does not name is not.
TEST(ContainerContents, ADiskImagesTicketNotarizesOnlyWhatItNames) {
    test::TempDir dir;
    if (!fs::exists("/usr/bin/7zz") || !fs::exists("/usr/sbin/mkfs.ext4")) GTEST_SKIP() << "needs 7zz and mkfs.ext4";
    const test::SigningChain& chain = test::SigningChain::shared();
    test::BundleBuilder app(dir / "volume/Example.app");
    app.executable("Example", test::thinMachO(0x01000007, 3));
    app.build();
    test::BundleSignOptions sign;
    sign.code.identifier = "com.example.app";
    sign.code.flags = 0x10000;  // the hardened runtime, which notarization asks for
    sign.code.cms = chain.signer(test::LeafKind::DeveloperIDApplication);
    test::signBundle(app.path(), sign);
    const std::string exe = test::readFile(app.executablePath());
    const Bytes appCdhash = test::sealCdhash(Bytes(exe.begin(), exe.end()));
    const Bytes unsignedImage = imageOf(dir / "volume", dir / "fs");
    ASSERT_FALSE(unsignedImage.empty());
    test::SignOptions imageSign;
    imageSign.identifier = "Example";
    imageSign.cms = chain.signer(test::LeafKind::DeveloperIDApplication);
    const Bytes image = test::signDiskImage(unsignedImage, imageSign);
    const Bytes imageCdhash = test::diskImageCdhash(image);

    for (bool namesApp : {true, false}) {
        SCOPED_TRACE(namesApp ? "the ticket names the app" : "the ticket names the image alone");
        test::TicketBuilder ticket;
        ticket.naming(imageCdhash);
        if (namesApp) ticket.naming(appCdhash);
        test::writeFile(dir / "Example.dmg", test::stapleDiskImage(image, ticket.build()));
        const Opened opened = open(dir / "Example.dmg", {}, chain.anchors());
        EXPECT_EQ(opened.tree.root.notarization, NotarizationStatus::StapledTicket);
        const CodeItem* inside = child(opened.tree.root, "Example.app");
        ASSERT_TRUE(inside);
        EXPECT_TRUE(inside->valid);
        EXPECT_EQ(inside->notarization,
                  namesApp ? NotarizationStatus::ContainerTicket : NotarizationStatus::NotEstablished);
    }
}
