// Disk images: the UDIF reader on whole, lying and unreadable images; an image's own signature
// verified as Apple's DiskImageRep defines it; and what codesign, spctl and stapler answer for one.
#include <gtest/gtest.h>

#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DiskImageBuilder.h"
#include "MachOBuilder.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "ToolRun.h"
#include "codesign/CodeSignature.h"
#include "container/PrivateFolder.h"
#include "diskimage/DiskImageExpand.h"
#include "diskimage/Udif.h"
#include "diskimage/UdifConstants.h"
#include "tools/print/AssessmentText.h"
#include "tools/print/CodeText.h"
#include "tools/print/StaplerText.h"
#include "verify/Assessment.h"
#include "verify/CodeSignVerifier.h"
#include "verify/Stapling.h"

using namespace tessarin;
using tessarin::test::LeafKind;
using tessarin::test::SigningChain;
using tessarin::test::TempDir;

namespace {

test::DiskImageOptions disk(bool zlib = false) {
    test::DiskImageOptions o;
    o.content.resize(5000);
    for (std::size_t i = 0; i < o.content.size(); ++i) o.content[i] = static_cast<std::uint8_t>(i * 7);
    o.zlib = zlib;
    return o;
}

test::SignOptions developerId() {
    test::SignOptions o;
    o.identifier = "Example-1.0";
    o.teamId = SigningChain::teamId();
    o.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    return o;
}

Bytes signedImage() { return test::signDiskImage(test::buildDiskImage(disk(true)), developerId()); }

Bytes notarizedImage() {
    const Bytes image = signedImage();
    return test::stapleDiskImage(image, test::TicketBuilder().naming(test::diskImageCdhash(image)).build());
}

std::size_t trailerAt(const Bytes& image) { return image.size() - UDIF_TRAILER_SIZE; }

Bytes with64(Bytes image, std::uint32_t field, std::uint64_t value) {
    test::putU64(image, trailerAt(image) + field, value, true);
    return image;
}

Bytes flipped(Bytes image, std::size_t at) {
    image.at(at) ^= 0x01;
    return image;
}

// An encrypted image of the second version: its magic, then zeros.
Bytes encryptedImage(std::size_t size) {
    Bytes b{'e', 'n', 'c', 'r', 'c', 'd', 's', 'a'};
    b.resize(size, 0);
    return b;
}

std::uint64_t signatureOffset(const Bytes& image) {
    std::uint64_t n = 0;
    for (int i = 0; i < 8; ++i) n = n << 8 | image.at(trailerAt(image) + UDIF_OFF_CODESIGN_OFFSET + i);
    return n;
}

// An ad hoc image whose directory holds zeros where the trailer's hash belongs (no CMS notices).
Bytes trailerHashBlanked() {
    Bytes image = test::signDiskImage(test::buildDiskImage(disk()), test::SignOptions{});
    const std::uint64_t at = signatureOffset(image);
    auto sig = parseEmbeddedSignature(asByteSpan(image).subspan(at, trailerAt(image) - at));
    const CodeDirectory& cd = *sig->primary();
    const std::size_t slot = static_cast<std::size_t>(cd.blob.data() - asByteSpan(image).data()) + cd.hashOffset -
                             CSSLOT_REP_SPECIFIC * cd.hashSize;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(slot),
              image.begin() + static_cast<std::ptrdiff_t>(slot + cd.hashSize), 0);
    return image;
}

}  // namespace

TEST(DiskImageReader, ReadsTheTrailerAndChunkTablesAndRefusesWhatLiesOrCannotBeRead) {
    Bytes encryptedV1(4096, 0);
    const char tail[] = "cdsaencr";
    std::copy(tail, tail + 8, encryptedV1.end() - 8);
    Bytes version3 = test::buildDiskImage(disk());
    test::putU32(version3, trailerAt(version3) + UDIF_OFF_VERSION, 3, true);
    const Bytes image = signedImage();
    struct Row {
        const char* name;
        Bytes bytes;
        DiskImageKind kind;
        const char* error;  // empty: reads, with chunks of `chunkType`
        std::uint32_t chunkType = BLKX_CHUNK_RAW;
    };
    const std::vector<Row> rows{
        {"raw chunks", test::buildDiskImage(disk()), DiskImageKind::Udif, ""},
        {"zlib chunks, signed", image, DiskImageKind::Udif, "", BLKX_CHUNK_ZLIB},
        {"plist past the trailer", with64(image, UDIF_OFF_XML_OFFSET, image.size()), DiskImageKind::Udif,
         "XML property list (offset"},
        {"signature past the end", with64(image, UDIF_OFF_CODESIGN_LENGTH, image.size()), DiskImageKind::Udif,
         "code signature (offset"},
        {"data fork wraps", with64(image, UDIF_OFF_DATA_FORK_OFFSET, ~0ull - 4), DiskImageKind::Udif, "data fork"},
        {"chunk past the data fork", test::buildDiskImage([] {
             auto o = disk();
             o.lastChunkBias = 1;
             return o;
         }()),
         DiskImageKind::Udif, "chunk 1 (offset plus length) extends past the end of the data fork"},
        {"encrypted (version 2)", Bytes{'e', 'n', 'c', 'r', 'c', 'd', 's', 'a', 0, 0, 0, 2}, DiskImageKind::Encrypted,
         "the disk image is encrypted: its contents cannot be read without its passphrase"},
        {"encrypted (version 1)", encryptedV1, DiskImageKind::Encrypted, "encrypted"},
        {"sparse", Bytes{'s', 'p', 'r', 's', 0, 0, 0, 3}, DiskImageKind::Sparse, "sparse image"},
        {"truncated", Bytes(image.begin(), image.end() - 100), DiskImageKind::NotDiskImage, "not a disk image"},
        {"trailer version 3", version3, DiskImageKind::NotDiskImage, "version 3 is not the supported version 4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(diskImageKind(asByteSpan(row.bytes)), row.kind);
        auto parsed = parseUdif(asByteSpan(row.bytes));
        if (*row.error) {
            ASSERT_FALSE(parsed);
            EXPECT_NE(parsed.error().find(row.error), std::string::npos) << parsed.error();
            continue;
        }
        ASSERT_TRUE(parsed) << parsed.error();
        ASSERT_EQ(parsed->tables.size(), 1u);
        const auto& chunks = parsed->tables[0].chunks;
        ASSERT_EQ(chunks.size(), 3u);  // 10 sectors in chunks of 8, then the terminator
        EXPECT_EQ(chunks[0].type, row.chunkType);
        EXPECT_EQ(chunks[1].sectorNumber, 8u);
        EXPECT_EQ(chunks[2].type, BLKX_CHUNK_TERMINATOR);
        EXPECT_EQ(parsed->trailer.sectorCount, 10u);
    }
}

TEST(DiskImageSignature, CoversEveryByteBeforeItAndTheTrailerAsDiskImageRepDefinesIt) {
    const Bytes image = signedImage();
    const std::uint64_t signatureAt = signatureOffset(image);
    const std::tuple<const char*, Bytes, bool, ProblemKind> rows[] = {
        {"Developer ID", image, true, ProblemKind::None},
        {"ad hoc", test::signDiskImage(test::buildDiskImage(disk()), test::SignOptions{}), true, ProblemKind::None},
        {"notarized: the ticket lies outside what is signed", notarizedImage(), true, ProblemKind::None},
        {"data changed after signing", flipped(image, 10), false, ProblemKind::CodePageModified},
        {"plist changed after signing", flipped(image, signatureAt - 20), false, ProblemKind::CodePageModified},
        {"trailer changed after signing", flipped(image, trailerAt(image) + UDIF_OFF_SECTOR_COUNT + 7), false,
         ProblemKind::SpecialSlotModified},
        {"trailer's hash blanked", trailerHashBlanked(), false, ProblemKind::SpecialSlotModified},
        {"unsigned", test::buildDiskImage(disk()), false, ProblemKind::NotSigned},
        {"signature length misstated", with64(image, UDIF_OFF_CODESIGN_LENGTH, 64), false,
         ProblemKind::DiskImageMalformed},
        // Apple reads no blob there, so the image counts as unsigned (BlobCore::readBlob).
        {"signature offset past the end", with64(image, UDIF_OFF_CODESIGN_OFFSET, image.size() + 4096), false,
         ProblemKind::NotSigned},
        {"truncated", Bytes(image.begin(), image.end() - 100), false, ProblemKind::NotSigned},
        {"encrypted", encryptedImage(2048), false, ProblemKind::DiskImageUnsupported},
    };
    TempDir dir;
    for (const auto& [name, bytes, valid, cause] : rows) {
        SCOPED_TRACE(name);
        const std::string path = dir / "image.dmg";
        test::writeFile(path, bytes);
        CodeVerifyOptions options;
        options.strict = true;
        const CodeVerdict v = verifyCode(path, options, SigningChain::shared().anchors());
        EXPECT_EQ(v.valid, valid);
        EXPECT_EQ(v.cause, cause);
        if (!valid) continue;
        ASSERT_NE(v.best(), nullptr);
        // One page over all that precedes the signature; six special slots, the trailer's among them.
        EXPECT_EQ(std::tuple(v.format, v.best()->pageSize, v.best()->nCodeSlots, v.best()->nSpecialSlots),
                  std::tuple(std::string("disk image"), 0u, 1u, 6u));
        EXPECT_EQ(v.best()->codeLimit, signatureOffset(bytes));
        EXPECT_TRUE(v.designatedRequirementSatisfied) << v.designatedRequirementProblem;
    }
}

TEST(DiskImageTools, AnswerForASignedImageAsApplesToolsDo) {
    TempDir dir;
    const std::string notarized = dir / "Example.dmg", unstapled = dir / "Unstapled.dmg", bare = dir / "Bare.dmg";
    test::writeFile(notarized, notarizedImage());
    test::writeFile(unstapled, signedImage());
    test::writeFile(bare, test::buildDiskImage(disk()));
    const TrustAnchors anchors = SigningChain::shared().anchors();

    const CodeVerdict v = verifyCode(notarized, {}, anchors);
    const std::string shown = codesignDisplayText(v, 3);
    for (const char* line : {"Format=disk image\n", " flags=0x0(none) hashes=1+6 location=embedded\n",
                             "Hash type=sha256 size=32\n", "Page size=none\n", "Notarization Ticket=stapled\n",
                             "Info.plist=not bound\n", "TeamIdentifier=TESTTEAM01\n", "Sealed Resources=none\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
    EXPECT_EQ(shown.rfind("Executable=", 0), 0u);
    EXPECT_EQ(codesignVerifyText(notarized, v, 1),
              notarized + ": valid on disk\n" + notarized + ": satisfies its Designated Requirement\n");

    const std::string origin = v.cms->certificates.front().commonName;
    auto spctl = [&](const std::string& path) {
        return assessmentText(path, assessPath(path, AssessmentType::Open, anchors), 2);
    };
    EXPECT_EQ(spctl(notarized), notarized + ": accepted\nsource=Notarized Developer ID\norigin=" + origin + "\n");
    // A disk image needs no hardened runtime to be notarized: no note may say it could not have been.
    EXPECT_EQ(spctl(unstapled), unstapled + ": rejected\nsource=Unnotarized Developer ID\norigin=" + origin +
                                    "\nnote: notarization could not be confirmed offline (no stapled ticket)\n"
                                    "note: no online lookup was made\n");
    EXPECT_EQ(spctl(bare), bare + ": rejected\nsource=no usable signature\n");
    // Not a flat package: installation judges the image by its code signature.
    EXPECT_EQ(assessPath(notarized, AssessmentType::Install, anchors).source, AssessmentSource::NotarizedDeveloperID);

    const TicketAnchors tickets = SigningChain::shared().ticketSigners().anchors();
    const StaplerValidation stapled = validateStapledItem(notarized, tickets);
    EXPECT_EQ(stapled.item.kind, StapleKind::DiskImage);
    EXPECT_EQ(staplerValidateText(notarized, stapled, false),
              "Processing: " + notarized + "\nThe validate action worked!\n");
    EXPECT_EQ(staplerValidateText(unstapled, validateStapledItem(unstapled, tickets), false),
              "Processing: " + unstapled + "\nUnstapled.dmg does not have a ticket stapled to it.\n");
}

// Debian has no HFS+ or populated APFS writer, and 7zz reads no plain HFS and no Rock Ridge links;
// an ext4 file system (mkfs.ext4 -d) stands in: 7zz opens whatever file system the image's one
// partition holds, and ext4 carries links and modes as HFS+ does.
TEST(DiskImageContents, SevenZipReadsTheFileSystemOnlyOnceOurReaderAndTheLimitsAllowIt) {
    const std::string sevenZip = "/usr/bin/7zz", mkfs = "/usr/sbin/mkfs.ext4";
    if (::access(sevenZip.c_str(), X_OK) != 0 || ::access(mkfs.c_str(), X_OK) != 0)
        GTEST_SKIP() << "needs 7zz (7zip) and mkfs.ext4 (e2fsprogs)";
    TempDir dir;
    const std::string tree = dir / "tree";
    test::writeFile(tree + "/App.app/Contents/MacOS/App", "#!/bin/sh\n");
    test::writeFile(tree + "/notes.txt", "notes\n");
    ::chmod((tree + "/App.app/Contents/MacOS/App").c_str(), 0755);
    ::chmod((tree + "/notes.txt").c_str(), 0640);
    ASSERT_EQ(::symlink("App.app", (tree + "/Current").c_str()), 0);
    ASSERT_EQ(::symlink("/Applications", (tree + "/Applications").c_str()), 0);
    ASSERT_EQ(::symlink("../../../../../etc", (tree + "/escape").c_str()), 0);
    const auto made = test::runProgram(mkfs, {"-q", "-F", "-O", "^has_journal", "-d", tree, dir / "fs.img", "1M"});
    ASSERT_EQ(made.status, 0) << made.err;
    auto image = [&](bool licence = false) {
        test::DiskImageOptions o;
        const std::string fs = test::readFile(dir / "fs.img");
        o.content.assign(fs.begin(), fs.end());
        o.zlib = true;
        o.chunkSectors = 256;
        o.licenseAgreement = licence;
        return test::buildDiskImage(o);
    };
    const Bytes good = image();
    // Its own child outlives it unless the whole group is killed; it may write only its own folder.
    const std::string out = "for a; do case $a in -o*) out=${a#-o};; esac; done; ";
    const std::string hangs = test::writeScript(dir / "hangs", out + "sleep 30 & echo $! > \"$out/pid\"; wait");
    struct Row {
        const char* name;
        Bytes bytes;
        std::string sevenZip;  // "/nonexistent": no child may run
        const char* stop;      // empty: read whole
        std::uint64_t maxBytes = kExpansionMaxBytes;
        int seconds = 60;
    };
    const std::string none = "/nonexistent/7zz";
    const std::vector<Row> rows{
        {"good", good, sevenZip, ""},
        {"licence agreement", image(true), sevenZip, ""},
        {"encrypted", encryptedImage(4096), none, "was not read: the disk image is encrypted"},
        {"sparse", Bytes{'s', 'p', 'r', 's', 0, 0, 0, 3, 0, 0, 0, 0}, none, "was not read: the disk image is a sparse"},
        {"not a disk image", Bytes(2048, 'x'), none, "was not read: not a disk image"},
        {"lying trailer", with64(good, UDIF_OFF_XML_OFFSET, good.size()), none, "XML property list (offset"},
        {"chunk past the end", test::buildDiskImage([] {
             auto o = disk();
             o.lastChunkBias = 1;
             return o;
         }()),
         none, "chunk 1 (offset plus length) extends past the end of the data fork"},
        {"claims 16 GiB", with64(good, UDIF_OFF_SECTOR_COUNT, std::uint64_t{1} << 25), none,
         "its disk holds 16 GiB once expanded, more than the 8 GiB an image may expand to"},
        {"over a small cap", good, none, "its disk holds 1 MiB once expanded, more than the 4096 bytes", 4096},
        {"child fails", good, "/bin/false", "was not read: /bin/false exited with status 1."},
        {"child hangs", good, hangs, "did not finish within 1 second.", kExpansionMaxBytes, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir / "Example.dmg";
        test::writeFile(path, row.bytes);
        auto folder = PrivateFolder::create();
        ASSERT_TRUE(folder) << folder.error();
        DiskImageExpandOptions options;
        options.sevenZip = row.sevenZip;
        options.timeLimitSeconds = row.seconds;
        options.limits.maxBytes = row.maxBytes;
        auto x = expandDiskImage(path, *folder, options);
        ASSERT_TRUE(x) << x.error();
        if (*row.stop) {
            EXPECT_NE(x->stopSentence.find(row.stop), std::string::npos) << x->stopSentence;
            EXPECT_EQ(x->stopSentence.rfind("The file system in \"Example.dmg\" was not read: ", 0), 0u);
            if (row.sevenZip == none) {
                EXPECT_TRUE(x->subfolder.empty());
            }
            if (row.sevenZip == hangs) {
                long pid = 0;
                std::ifstream(x->contentsPath + "/pid") >> pid;
                EXPECT_TRUE(pid > 0 && test::endsSoon(pid)) << "the child's own child was left running";
            }
            continue;
        }
        EXPECT_TRUE(x->complete()) << x->stopSentence;
        EXPECT_EQ(x->notes.size(), row.bytes == good ? 0u : 1u);
        if (row.bytes != good) {
            EXPECT_NE(x->notes.at(0).find("carries a licence agreement"), std::string::npos);
            continue;
        }
        const std::string root = folder->path() + "/" + x->subfolder;
        EXPECT_EQ(x->contentsPath, root);
        struct stat st {};
        ASSERT_EQ(::lstat((root + "/App.app/Contents/MacOS/App").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        ASSERT_EQ(::lstat((root + "/notes.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(x->bytes, 16u);  // the two files; lost+found is empty
        // Links come out as the image wrote them, however far they point, and are never followed.
        EXPECT_EQ(std::filesystem::read_symlink(root + "/Current"), "App.app");
        EXPECT_EQ(std::filesystem::read_symlink(root + "/Applications"), "/Applications");
        EXPECT_EQ(std::filesystem::read_symlink(root + "/escape"), "../../../../../etc");
    }

    // Whatever the child does, it writes nowhere but its own folder where the kernel can enforce it.
    const std::string outside = dir / "outside";
    const std::string writer =
        test::writeScript(dir / "writer", out + "echo leaked > " + outside + "; echo kept > \"$out/inside\"");
    test::writeFile(dir / "Example.dmg", good);
    auto folder = PrivateFolder::create();
    ASSERT_TRUE(folder) << folder.error();
    DiskImageExpandOptions options;
    options.sevenZip = writer;
    auto x = expandDiskImage(dir / "Example.dmg", *folder, options);
    ASSERT_TRUE(x) << x.error();
    EXPECT_TRUE(x->complete()) << x->stopSentence;
    EXPECT_EQ(test::readFile(x->contentsPath + "/inside"), "kept\n");
    if (::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) < 1)
        GTEST_SKIP() << "the kernel has no Landlock";
    EXPECT_NE(::access(outside.c_str(), F_OK), 0) << "the child wrote outside its folder";
}
