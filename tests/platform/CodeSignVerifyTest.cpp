// Verification of signed code: intact fixtures pass, and each kind of tampering (code page, special
// slot, CodeDirectory, CMS, sealed resource, added or removed file, nested code) is caught.
#include "tools/print/CodeText.h"
#include "verify/CodeItem.h"
#include "verify/CodeSignVerifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "base/ExtendedAttributes.h"
#include "codesign/CodeSignatureConstants.h"
#include "macho/MachO.h"
#include "plist/Plist.h"

using namespace tessarin;
using tessarin::test::Bytes;
using tessarin::test::TempDir;

namespace {

namespace fs = std::filesystem;
constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kX86_64 = 0x01000007;
constexpr std::int32_t kI386 = 7;
const std::string kModified = "invalid signature (code or signature have been modified)";
const std::string kSealBroken = "a sealed resource is missing or invalid";

CodeVerdict verify(const std::string& path, CodeVerifyOptions o = {}) { return verifyCode(path, o, TrustAnchors{}); }
CodeVerifyOptions deeply(bool deep = true, bool strict = false) {
    CodeVerifyOptions o;
    o.deep = deep;
    o.strict = strict;
    return o;
}

Bytes adhocThin(std::int32_t cputype = kArm64, test::SignOptions o = {}) {
    return test::signMachO(test::thinMachO(cputype, cputype == kX86_64 ? 3 : 0), o);
}

// A small app: Info.plist, main executable, resources (one localized), a symlink.
std::string makeApp(const TempDir& dir) {
    return test::BundleBuilder(dir / "Example.app")
        .info("CFBundleIdentifier", PlistValue("com.example.app"))
        .info("CFBundleShortVersionString", PlistValue("1.0"))
        .executable("Example", test::thinMachO(kX86_64, 3))
        .resource("data.txt", "resource bytes\n")
        .resource("en.lproj/Main.strings", "\"a\" = \"b\";\n")
        .resource("Base.lproj/View.nib", "nib")
        .symlink("Contents/Resources/alias.txt", "data.txt")
        .build();
}

// A framework (identifier com.example.<name>) with its executable and version links.
std::string makeFramework(const std::string& path, const std::string& name) {
    return test::BundleBuilder(path, test::BundleBuilder::Kind::Framework)
        .executable(name, test::thinMachO(kX86_64, 3))
        .build();
}

void flipByte(const std::string& path, std::size_t offset) {
    std::string bytes = test::readFile(path);
    ASSERT_LT(offset, bytes.size());
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5a);
    test::writeFile(path, bytes);
}

test::BundleSignOptions appOptions() {
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    return o;
}

std::string signedApp(const TempDir& dir) {
    const std::string app = makeApp(dir);
    test::signBundle(app, appOptions());
    return app;
}

// Rewrites the app's seal through `edit` and signs its executable again over the new seal, so that
// the seal itself is all that differs.
void reseal(const std::string& app, const std::function<void(PlistDict&)>& edit) {
    const std::string sealPath = app + "/Contents/_CodeSignature/CodeResources";
    const std::string seal = test::readFile(sealPath);
    auto plist = parsePlist({reinterpret_cast<const std::byte*>(seal.data()), seal.size()});
    ASSERT_TRUE(plist.ok());
    edit(std::get<PlistDict>(plist->value));
    const std::string xml = toXmlPlist(*plist);
    test::writeFile(sealPath, xml);
    test::SignOptions code = appOptions().code;
    const std::string info = test::readFile(app + "/Contents/Info.plist");
    code.infoPlist = Bytes(info.begin(), info.end());
    code.codeResources = Bytes(xml.begin(), xml.end());
    test::writeFile(app + "/Contents/MacOS/Example", test::signMachO(test::thinMachO(kX86_64, 3), code));
}

// Leaves only the older seal, of files and rules.
void keepOnlyOlderSeal(const std::string& app) {
    reseal(app, [](PlistDict& top) {
        top.erase("files2");
        top.erase("rules2");
    });
}

std::string firstProblem(const CodeVerdict& v) {
    return resourceProblemLines(v).empty() ? "" : "\n" + resourceProblemLines(v)[0];
}

}  // namespace

// Each part of a thin file's signature altered: verification names it, while a display (which does
// not check contents) still describes code whose pages alone were altered.
TEST(MachOVerification, IntactCodeIsValidAndEachTamperingIsCaught) {
    test::SignOptions both;  // both entitlement forms, so that each blob can be altered
    both.entitlementsXml = "<plist><dict><key>a</key><true/></dict></plist>";
    both.entitlementsDer = Bytes{0x70, 0x03, 0x02, 0x01, 0x01};
    test::SignOptions sha256Only = both;
    sha256Only.sha1Primary = false;
    auto inBlob = [](std::uint32_t slot, std::size_t at) {
        return [=](Bytes& f) { f[test::blobOffset(f, slot) + at] ^= 1; };
    };
    struct Row {
        const char* what;
        const test::SignOptions* options;
        std::function<void(Bytes&)> tamper;
        CodeFailure failure, onDisplay;
    };
    const auto modified = CodeFailure::CodeModified, none = CodeFailure::None, malformed = CodeFailure::Malformed;
    const Row rows[] = {
        {"intact", &both, [](Bytes&) {}, none, none},
        // Inside the first page, past the load commands, checked in every directory.
        {"a code page, SHA-1 primary", &both, [](Bytes& f) { f[3000] ^= 0x5a; }, modified, none},
        {"a code page, SHA-256 only", &sha256Only, [](Bytes& f) { f[3000] ^= 0x5a; }, modified, none},
        {"a page hash in the directory", &both, inBlob(CSSLOT_ALTERNATE_CODEDIRECTORIES, 203), modified, none},
        {"entitlements", &both, inBlob(CSSLOT_ENTITLEMENTS, 12), modified, none},
        {"requirements", &both, inBlob(CSSLOT_REQUIREMENTS, 12), modified, none},
        {"DER entitlements", &both, inBlob(CSSLOT_DER_ENTITLEMENTS, 12), modified, none},
        {"a blob count in the billions", &both,
         [](Bytes& f) { test::putU32(f, test::signatureOffset(f) + 8, 0xFFFFFFFFu, true); }, malformed, malformed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Bytes file = adhocThin(kArm64, *row.options);
        row.tamper(file);
        test::writeFile(dir / "tool", file);
        CodeVerdict v = verify(dir / "tool");
        EXPECT_EQ(v.failureKind, row.failure);
        EXPECT_EQ(v.valid, row.failure == none);
        if (row.failure == none) {
            EXPECT_EQ(std::tuple(v.isSigned, v.adhoc, v.kind, v.format, v.hasEntitlements, v.cms.has_value()),
                      std::tuple(true, true, CodeKind::MachO, std::string("Mach-O thin (arm64)"), true, false));
            ASSERT_EQ(v.codeDirectories.size(), 2u);
            EXPECT_EQ(v.best()->hashType, CS_HASHTYPE_SHA256);
        } else {
            EXPECT_EQ(codeFailureSentence(v),
                      row.failure == modified ? kModified : "invalid or unsupported format for signature");
        }
        CodeVerifyOptions displayOnly;
        displayOnly.checkContents = false;
        CodeVerdict shown = verifyCode(dir / "tool", displayOnly, TrustAnchors{});
        EXPECT_EQ(shown.failureKind, row.onDisplay);
        EXPECT_EQ(shown.identifier, row.onDisplay == none ? "com.example.tool" : "");
    }
}

TEST(CodeVerification, UnsignedCodeAppsAndOtherFilesAreNotSignedAtAll) {
    TempDir dir;
    const std::string app = makeApp(dir);
    test::writeFile(dir / "script", std::string("#!/bin/sh\necho hi\n"));
    test::writeFile(dir / "empty", std::string());
    for (const char* name : {"script", "empty", "Example.app"}) {
        CodeVerdict v = verify(dir / name);
        EXPECT_FALSE(v.valid) << name;
        EXPECT_FALSE(v.isSigned) << name;
        EXPECT_EQ(codeFailureSentence(v), "code object is not signed at all") << name;
    }
    // One unsigned slice makes a universal file unsigned.
    test::writeFile(dir / "fat",
                    test::fatMachO({adhocThin(kX86_64), test::thinMachO(kArm64, 0)}, {{kX86_64, 3}, {kArm64, 0}}));
    EXPECT_EQ(verify(dir / "fat").failureKind, CodeFailure::NotSigned);
    test::makeDirectories(dir / "plain-folder/sub");
    EXPECT_EQ(verify(dir / "plain-folder").failureKind, CodeFailure::BundleUnrecognized);
}

// A script or data file may carry its signature in extended attributes, one per part, named after
// its slot as the files of a detached signature are; its bytes are the code.
TEST(CodeVerification, AFileSignedInItsAttributesIsCheckedOverItsBytes) {
    TempDir dir;
    const std::string script = "#!/bin/sh\necho signed\n";
    const Bytes code(script.begin(), script.end());
    const Bytes super = test::signatureOver(code, code.size(), {}, test::SignOptions{});
    auto be32 = [&](std::size_t at) { return test::getU32(super, at, true); };
    const std::map<std::uint32_t, std::string> names = {{CSSLOT_CODEDIRECTORY, "CodeDirectory"},
                                                        {CSSLOT_REQUIREMENTS, "CodeRequirements"},
                                                        {CSSLOT_ALTERNATE_CODEDIRECTORIES, "CodeRequirements-1"},
                                                        {CSSLOT_SIGNATURESLOT, "CodeSignature"}};
    for (const auto& [name, contents] : {std::pair<const char*, std::string>{"intact", script},
                                         {"changed after signing", "#!/bin/sh\necho change\n"}}) {
        SCOPED_TRACE(name);
        const std::string path = fs::absolute(dir / name).lexically_normal().string();
        test::writeFile(path, contents);
        for (std::uint32_t i = 0; i < be32(8); ++i) {
            const std::uint32_t slot = be32(12 + 8 * i), at = be32(16 + 8 * i);
            // The signature part is the bare CMS, without its wrapper.
            const std::size_t skip = slot == CSSLOT_SIGNATURESLOT ? 8 : 0;
            overlayExtendedAttribute(path, "com.apple.cs." + names.at(slot),
                                     {super.begin() + at + skip, super.begin() + at + be32(at + 4)});
        }
        const CodeVerdict v = verify(path);
        EXPECT_EQ(v.kind, CodeKind::SignedFile);
        EXPECT_TRUE(v.isSigned);
        EXPECT_EQ(v.valid, contents == script) << codeFailureSentence(v);
    }
    dropExtendedAttributeOverlays(fs::absolute(dir.path()).lexically_normal().string());
}

TEST(UniversalVerification, EverySliceIsCheckedAndTheHostSliceDescribed) {
    TempDir dir;
    test::SignOptions o;
    Bytes arm = adhocThin(kArm64, o);
    o.identifier = "intel-slice";
    Bytes fat = test::fatMachO({adhocThin(kX86_64, o), arm}, {{kX86_64, 3}, {kArm64, 0}});
    test::writeFile(dir / "fat", fat);
    CodeVerdict v = verify(dir / "fat");
    EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    EXPECT_EQ(v.format, "Mach-O universal (x86_64 arm64)");

    CodeVerifyOptions chosen;
    chosen.architecture = "arm64";
    v = verify(dir / "fat", chosen);
    EXPECT_TRUE(v.valid);
    EXPECT_EQ(v.architecture, "arm64");
    EXPECT_EQ(v.identifier, "com.example.tool");
    chosen.architecture = "ppc";
    EXPECT_EQ(verify(dir / "fat", chosen).failureKind, CodeFailure::ArchitectureMissing);

    // Tampering with the slice that is not described still fails the whole file.
    auto macho = parseMachO(asByteSpan(fat));
    flipByte(dir / "fat", macho->slices[1].offset + 3000);
    EXPECT_EQ(verify(dir / "fat").failureKind, CodeFailure::CodeModified);
    chosen.architecture = "x86_64";
    EXPECT_TRUE(verify(dir / "fat", chosen).valid);
}

TEST(BundleVerification, SealedAppIsValidAndDescribed) {
    TempDir dir;
    const std::string app = signedApp(dir);
    CodeVerdict v = verify(app);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v) << firstProblem(v);
    EXPECT_EQ(v.kind, CodeKind::AppBundle);
    EXPECT_EQ(v.format, "app bundle with Mach-O thin (x86_64)");
    EXPECT_EQ(v.infoPlistEntries, 6);
    ASSERT_TRUE(v.sealedResources);
    // Files: data.txt, alias.txt, Main.strings, View.nib.
    EXPECT_EQ(std::tuple(v.sealedResources->version, v.sealedResources->rules, v.sealedResources->files),
              std::tuple(2, 13, 4));
    EXPECT_FALSE(v.ticketStapled);

    // A stapled ticket is noticed and not taken for a resource.
    test::writeFile(app + "/Contents/CodeResources", std::string("s8ch ticket bytes"));
    v = verify(app);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    EXPECT_TRUE(v.ticketStapled);
    EXPECT_EQ(std::string(v.ticket.begin(), v.ticket.end()), "s8ch ticket bytes");

    keepOnlyOlderSeal(app);
    v = verify(app);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v) << firstProblem(v);
    ASSERT_TRUE(v.sealedResources);
    EXPECT_EQ(std::tuple(v.sealedResources->version, v.sealedResources->rules), std::tuple(1, 6));
}

// What is done to a sealed app after signing, and the sentence and problem lines verification gives.
TEST(BundleVerification, EachChangeAfterSigningIsJudgedAsTheSealSays) {
    const std::string res = "/Contents/Resources/";
    const auto alterSha1 = [](const std::string& a) {  // in files2, under a seal signed again
        reseal(a, [](PlistDict& top) {
            auto& entry = std::get<PlistDict>(std::get<PlistDict>(top["files2"].value)["Resources/data.txt"].value);
            std::get<PlistData>(entry["hash"].value).bytes[0] ^= 1;
        });
    };
    struct Row {
        const char* what;
        bool strict;
        std::string sentence;  // empty: valid
        std::string problems;  // the problem lines, "APP" standing for the app's path; empty: not checked
        std::function<void(const std::string& app)> change;
    };
    const Row rows[] = {
        {"Info.plist altered", false, "invalid Info.plist (plist or signature have been modified)", "",
         [](const std::string& a) { flipByte(a + "/Contents/Info.plist", 60); }},
        {"resources altered, added and removed", false, kSealBroken,
         "file missing: APP/Contents/Resources/Base.lproj/View.nib\nfile modified: APP/Contents/Resources/data.txt\n"
         "file added: APP/Contents/Resources/new.txt",
         [&](const std::string& a) {
             flipByte(a + res + "data.txt", 3);
             test::writeFile(a + res + "new.txt", std::string("added"));
             fs::remove(a + res + "Base.lproj/View.nib");
         }},
        // Omitted and optional files may come and go.
        {"omitted file added, optional file removed", true, "", "",
         [&](const std::string& a) {
             test::writeFile(a + res + ".DS_Store", std::string("finder"));
             fs::remove(a + res + "en.lproj/Main.strings");
         }},
        // Symbolic links are sealed as their targets.
        {"link retargeted", false, kSealBroken, "file modified: APP/Contents/Resources/alias.txt",
         [&](const std::string& a) {
             fs::remove(a + res + "alias.txt");
             fs::create_symlink("en.lproj/Main.strings", a + res + "alias.txt");
         }},
        {"seal removed", false, "code has no resources but signature indicates they must be present", "",
         [](const std::string& a) { fs::remove(a + "/Contents/_CodeSignature/CodeResources"); }},
        // Only strict validation also checks the weaker digest a seal holds.
        {"SHA-1 of a sealed file altered", false, "", "", alterSha1},
        {"SHA-1 of a sealed file altered, strict", true, kSealBroken, "", alterSha1},
        {"older seal, resource altered", false, kSealBroken, "file modified: APP/Contents/Resources/data.txt",
         [&](const std::string& a) {
             keepOnlyOlderSeal(a);
             flipByte(a + res + "data.txt", 0);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string app = signedApp(dir);
        row.change(app);
        CodeVerdict v = verify(app, deeply(false, row.strict));
        EXPECT_EQ(v.valid, row.sentence.empty()) << firstProblem(v);
        EXPECT_EQ(codeFailureSentence(v), row.sentence);
        if (row.problems.empty()) continue;
        std::string expected = row.problems;
        for (std::size_t at; (at = expected.find("APP")) != std::string::npos;) expected.replace(at, 3, app);
        EXPECT_EQ(resourceProblemLines(v), test::lines(expected));
    }
    // A seal that no longer matches the resources slot.
    TempDir dir;
    const std::string app = signedApp(dir);
    const std::string seal = app + "/Contents/_CodeSignature/CodeResources";
    test::writeFile(seal, test::readFile(seal) + "\n");
    EXPECT_EQ(verify(app).failureKind, CodeFailure::ResourcesModified);
}

TEST(BundleVerification, StrictRefusesSymlinksLeavingTheBundle) {
    TempDir dir;
    const std::string app = makeApp(dir);
    fs::create_symlink("../../../../outside", app + "/Contents/Resources/escape");
    test::signBundle(app, appOptions());
    EXPECT_TRUE(verify(app).valid);
    CodeVerdict v = verify(app, deeply(false, true));
    EXPECT_FALSE(v.valid);
    ASSERT_EQ(resourceProblemLines(v).size(), 1u);
    EXPECT_NE(resourceProblemLines(v)[0].find("Resources/escape"), std::string::npos);
}

TEST(BundleVerification, ManySealedFilesAreCheckedWhateverTheThreadCount) {
    TempDir dir;
    const std::string app = makeApp(dir);
    for (int i = 0; i < 300; ++i)
        test::writeFile(app + "/Contents/Resources/many/f" + std::to_string(i),
                        std::string(1000 + i, char('a' + i % 26)));
    test::writeFile(app + "/Contents/Resources/big.bin", std::string(5u << 20, 'x'));
    test::signBundle(app, appOptions());
    flipByte(app + "/Contents/Resources/many/f217", 500);
    flipByte(app + "/Contents/Resources/big.bin", (5u << 20) - 1);
    for (unsigned threads : {1u, 2u, 4u}) {
        CodeVerifyOptions o;
        o.threads = threads;
        CodeVerdict v = verify(app, o);
        EXPECT_EQ(resourceProblemLines(v),
                  (std::vector<std::string>{"file modified: " + app + "/Contents/Resources/big.bin",
                                            "file modified: " + app + "/Contents/Resources/many/f217"}))
            << threads << " threads";
    }
}

// An app with a framework and a helper sealed by their CDHashes, and by the requirements its seal
// may give for them: what is done to the nested code, and what a plain and a deep check then say.
TEST(NestedCodeVerification, NestedCodeIsSealedByItsCdhashAndTheRequirementGivenForIt) {
    const std::string kit = "Frameworks/Kit.framework";
    const std::string unmet = "nested code is modified or invalid";
    const std::string kitModified = "file modified: APP/Contents/" + kit;
    struct Row {
        const char* what;
        std::string where, requirement;  // sealed for Contents/where; empty: the signer's own
        std::string plain, deep;         // sentences; empty: valid, "-": not checked
        std::string problems;            // of each failing check, "APP" standing for the app's path
        std::function<void(const std::string& app)> change;
    };
    const Row rows[] = {
        {"intact", "", "", "", "", "", nullptr},
        {"framework signed again by another", "", "", kSealBroken, "-", kitModified,
         [&](const std::string& a) {
             test::BundleSignOptions other;
             other.code.identifier = "com.example.impostor";
             test::signBundle(a + "/Contents/" + kit, other);
         }},
        // The nested CodeDirectory, and so its CDHash, is unchanged: only a deep check sees it.
        {"framework's code altered", "", "", "", kModified, "In subcomponent: APP/Contents/" + kit,
         [&](const std::string& a) { flipByte(a + "/Contents/" + kit + "/Versions/A/Kit", 3000); }},
        {"unsealed framework added", "", "", kSealBroken, kSealBroken,
         "file added: APP/Contents/Frameworks/Late.framework",
         [](const std::string& a) { makeFramework(a + "/Contents/Frameworks/Late.framework", "Late"); }},
        {"requirement met", kit, "identifier \"com.example.Kit\"", "", "", "", nullptr},
        {"requirement with a negation met", kit, "identifier \"com.example.Kit\" and ! anchor apple generic", "", "",
         "", nullptr},
        {"requirement on the Info.plist met", kit,
         "info[CFBundlePackageType] = FMWK and info[CFBundleIdentifier] = \"com.example.Kit\"", "", "", "", nullptr},
        {"another identifier", kit, "identifier \"com.example.Other\"", unmet, unmet, kitModified, nullptr},
        {"another anchor", kit,
         "identifier \"com.example.Kit\" and anchor apple generic and certificate leaf[subject.OU] = ABCDE12345", unmet,
         unmet, kitModified, nullptr},
        {"text that does not compile", kit, "identifier \"com.example.Kit\" and", kSealBroken, kSealBroken, kitModified,
         nullptr},
        {"helper's requirement met", "MacOS/helper", "identifier helper", "", "", "", nullptr},
        {"helper's requirement unmet", "MacOS/helper", "cdhash H\"" + std::string(40, '0') + "\"", unmet, unmet,
         "file modified: APP/Contents/MacOS/helper", nullptr},
        // The Info.plist changed after signing leaves the CDHash alone but answers no requirement; a
        // deep check finds the framework's own Info.plist modified first.
        {"framework's Info.plist altered", kit, "info[CFBundlePackageType] = FMWK", unmet, "-", kitModified,
         [&](const std::string& a) {
             const std::string plist = a + "/Contents/" + kit + "/Versions/A/Resources/Info.plist";
             std::string text = test::readFile(plist);
             text.replace(text.find("com.example.Kit"), 15, "com.example.Kix");
             test::writeFile(plist, text);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string app = makeApp(dir);
        makeFramework(app + "/Contents/" + kit, "Kit");
        test::writeFile(app + "/Contents/MacOS/helper", test::thinMachO(kX86_64, 3));
        auto options = appOptions();
        if (!row.where.empty()) options.nestedRequirements[row.where] = row.requirement;
        test::signBundle(app, options);
        if (row.change) row.change(app);
        std::string problems = row.problems;
        for (std::size_t at; (at = problems.find("APP")) != std::string::npos;) problems.replace(at, 3, app);
        for (bool deep : {false, true}) {
            CodeVerdict v = verify(app, deeply(deep));
            const std::string& sentence = deep ? row.deep : row.plain;
            if (sentence == "-") continue;
            EXPECT_EQ(v.valid, sentence.empty()) << deep << firstProblem(v);
            if (sentence.empty()) continue;
            EXPECT_EQ(codeFailureSentence(v), sentence) << deep;
            EXPECT_EQ(resourceProblemLines(v), test::lines(problems)) << deep;
        }
        if (row.change || !row.where.empty()) continue;
        CodeVerdict fw = verify(app + "/Contents/" + kit);
        EXPECT_TRUE(fw.valid) << codeFailureSentence(fw);
        EXPECT_EQ(fw.kind, CodeKind::FrameworkBundle);
        EXPECT_EQ(fw.format, "framework bundle with Mach-O thin (x86_64)");
    }
}

TEST(NestedCodeVerification, OfSeveralBrokenNestedBundlesTheFirstInPathOrderIsReported) {
    TempDir dir;
    const std::string app = makeApp(dir);
    // Made last to first: folders list in no particular order, the report must not follow it.
    for (int i = 5; i >= 0; --i) {
        const std::string fw = makeFramework(app + "/Contents/Frameworks/F" + std::to_string(i) + ".framework", "F");
        test::writeFile(fw + "/Versions/A/Resources/data.txt", std::string("framework resource\n"));
    }
    test::signBundle(app, appOptions());
    const std::string first = app + "/Contents/Frameworks/F0.framework";
    flipByte(first + "/Versions/A/Resources/data.txt", 3);
    for (int i = 1; i <= 5; ++i)
        flipByte(app + "/Contents/Frameworks/F" + std::to_string(i) + ".framework/Versions/A/F", 3000);
    CodeVerifyOptions deep;
    deep.deep = true;
    for (unsigned threads : {1u, 4u}) {
        deep.threads = threads;
        CodeVerdict v = verify(app, deep);
        EXPECT_EQ(v.failureKind, CodeFailure::NestedCodeInvalid);
        EXPECT_EQ(codeFailureSentence(v), "a sealed resource is missing or invalid") << threads << " threads";
        EXPECT_EQ(resourceProblemLines(v),
                  (std::vector<std::string>{"file modified: " + first + "/Versions/A/Resources/data.txt",
                                            "In subcomponent: " + first}))
            << threads << " threads";
    }
}

TEST(NestedCodeVerification, DeepNestingIsBoundedNotRecursedWithoutEnd) {
    TempDir dir;
    std::string path = dir / "Outer.bundle";
    std::vector<std::string> levels;
    for (int i = 0; i < 11; ++i) {
        levels.push_back(path);
        test::BundleBuilder(path)
            .info("CFBundleIdentifier", PlistValue("com.example.level" + std::to_string(i)))
            .executable("Code", test::thinMachO(kX86_64, 3))
            .build();
        path += "/Contents/PlugIns/Inner.bundle";
    }
    // Seal inner first, so that every container records its child's final CDHash.
    test::BundleSignOptions o;
    o.signNested = false;
    for (std::size_t i = levels.size(); i-- > 0;) {
        o.code.identifier = "com.example.level" + std::to_string(i);  // what the container's seal requires
        test::signBundle(levels[i], o);
    }
    EXPECT_TRUE(verify(levels[0]).valid);
    CodeVerdict v = verify(levels[0], deeply());
    EXPECT_FALSE(v.valid);
    EXPECT_EQ(v.failureKind, CodeFailure::NestedCodeInvalid);
}

namespace {

// A bundle whose signature's parts are files in _CodeSignature, signed as codesign signs one: a
// resource bundle with no code, or a kernel extension as Apple signed them up to OS X 10.8 (the
// executable unsigned, one hash over the whole of it, the first generation of seal).
std::string makeFileSignedBundle(const std::string& path, bool kext, bool certificate) {
    const std::string id = kext ? "com.example.driver" : "com.example.resources";
    PlistDict d;
    d["CFBundleIdentifier"] = PlistValue(id);
    d["CFBundlePackageType"] = PlistValue(kext ? "KEXT" : "BNDL");
    if (kext) d["CFBundleExecutable"] = PlistValue("Driver");
    test::writeFile(path + "/Contents/Info.plist", toXmlPlist(PlistValue(std::move(d))));
    if (kext) test::writeFile(path + "/Contents/MacOS/Driver", test::thinMachO(kX86_64, 3));
    test::writeFile(path + "/Contents/Resources/strings.txt", std::string("hello\n"));
    test::BundleSignOptions o;
    o.code.identifier = id;
    if (certificate) o.code.cms = test::SigningChain::shared().signer(test::LeafKind::DeveloperIDApplication);
    if (certificate && !kext) o.code.teamId = test::SigningChain::teamId();
    if (kext) {
        o.code.version = 0x20100;
        o.code.pageSizeLog2 = 0;
        o.version1Only = o.separateSignature = true;
    }
    test::signBundle(path, o);
    return path;
}

}  // namespace

// Signatures kept as files in _CodeSignature: a code-less bundle's, whose code is its Info.plist, and a
// detached one over an executable that carries none of its own.
TEST(CodelessBundleVerification, SignaturePartsAreJudgedAsTheSignature) {
    struct Case {
        const char* name;
        bool executable;  // a detached signature over Contents/MacOS/Driver; else a code-less bundle
        bool certificate;
        bool strict;
        std::string sentence;                            // empty: valid
        std::function<void(const std::string&)> change;  // on the bundle, after signing
    };
    const std::string sig = "/Contents/_CodeSignature/";
    const std::string infoModified = "invalid Info.plist (plist or signature have been modified)";
    const std::string notSigned = "code object is not signed at all";
    const Case cases[] = {
        {"ad hoc", false, false, false, "", nullptr},
        {"certificate", false, true, true, "", nullptr},
        // The special slot is checked before the code slot that hashes the same file.
        {"Info.plist altered", false, true, false, infoModified,
         [](const std::string& b) { flipByte(b + "/Contents/Info.plist", 60); }},
        {"Info.plist grown", false, false, false, infoModified,
         [](const std::string& b) {
             test::writeFile(b + "/Contents/Info.plist", test::readFile(b + "/Contents/Info.plist") + " ");
         }},
        {"code slot altered", false, false, false, kModified,
         [&](const std::string& b) {
             flipByte(b + sig + "CodeDirectory", test::readFile(b + sig + "CodeDirectory").size() - 1);
         }},
        {"resource altered", false, false, false, kSealBroken,
         [](const std::string& b) { flipByte(b + "/Contents/Resources/strings.txt", 1); }},
        {"resource added", false, true, false, kSealBroken,
         [](const std::string& b) { test::writeFile(b + "/Contents/Resources/more.txt", std::string("x")); }},
        {"requirements altered", false, false, false, kModified,
         [&](const std::string& b) { flipByte(b + sig + "CodeRequirements", 42); }},
        // The CMS lists both CDHashes; dropping the SHA-256 directory leaves the list unmatched.
        {"alternate directory missing", false, true, false, kModified,
         [&](const std::string& b) { fs::remove(b + sig + "CodeRequirements-1"); }},
        {"signature part linked", false, false, false,
         "the main executable or Info.plist must be a regular file (no symlinks, etc.)",
         [&](const std::string& b) {
             const std::string part = b + sig + "CodeRequirements";
             fs::rename(part, b + "/elsewhere");
             fs::create_symlink("../../elsewhere", part);
         }},
        {"directory missing", false, false, false, notSigned,
         [&](const std::string& b) { fs::remove(b + sig + "CodeDirectory"); }},

        {"detached, ad hoc", true, false, false, "", nullptr},
        {"detached, certificate", true, true, false, "", nullptr},
        {"detached, strict", true, true, true, "resource envelope is obsolete (version 1 signature)", nullptr},
        {"detached, executable altered", true, true, false, kModified,
         [](const std::string& b) { flipByte(b + "/Contents/MacOS/Driver", 40); }},
        {"detached, resource altered", true, false, false, kSealBroken,
         [](const std::string& b) { flipByte(b + "/Contents/Resources/strings.txt", 1); }},
        // The files sign the slice described; any other slice is judged as a Mach-O of its own.
        {"detached, universal with an unsigned slice", true, false, false, notSigned,
         [](const std::string& b) {
             const std::string exe = b + "/Contents/MacOS/Driver";
             const std::string signedSlice = test::readFile(exe);
             test::writeFile(exe,
                             test::fatMachO({Bytes(signedSlice.begin(), signedSlice.end()), test::thinMachO(kI386, 3)},
                                            {{kX86_64, 3}, {kI386, 3}}));
         }},
        {"detached, directory missing", true, false, false, notSigned,
         [&](const std::string& b) { fs::remove(b + sig + "CodeDirectory"); }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string bundle =
            makeFileSignedBundle(dir / (c.executable ? "Driver.kext" : "Strings.bundle"), c.executable, c.certificate);
        if (c.change) c.change(bundle);
        CodeVerifyOptions o;
        o.strict = c.strict;
        CodeVerdict v = verify(bundle, o);
        SCOPED_TRACE(c.name);
        EXPECT_EQ(codeFailureSentence(v), c.sentence);
        EXPECT_EQ(v.valid, c.sentence.empty());
        if (!v.isSigned || v.architectures.size() > 1) continue;  // the universal row: its sentence
        EXPECT_EQ(std::tuple(v.codeless, v.executablePath.empty(), v.adhoc, v.cms.has_value(), v.format),
                  std::tuple(!c.executable, !c.executable, !c.certificate, c.certificate,
                             std::string(c.executable ? "bundle with Mach-O thin (x86_64)" : "bundle")));
        ASSERT_FALSE(v.codeDirectories.empty());
        // One hash over the whole of the code: the executable, or the Info.plist standing in for it.
        EXPECT_EQ(std::tuple(v.best()->nCodeSlots, v.best()->pageSize, v.best()->nSpecialSlots),
                  std::tuple(1u, 0u, 3u));
        if (!v.valid) continue;
        EXPECT_EQ(v.codeDirectories.size(), 2u);
        const std::string code = bundle + (c.executable ? "/Contents/MacOS/Driver" : "/Contents/Info.plist");
        EXPECT_EQ(v.best()->codeLimit, test::readFile(code).size());
        EXPECT_TRUE(v.designatedRequirementSatisfied) << v.designatedRequirementProblem;
        ASSERT_EQ(v.slices.size(), 1u);
        EXPECT_EQ(v.slices[0].cdhashes.size(), 2u);
        EXPECT_EQ(codeItemOf(v).kind, c.executable ? CodeItemKind::OtherBundle : CodeItemKind::CodelessBundle);
    }
}

TEST(CodelessBundleVerification, NestedInAnAppTheyAreSealedByCdhashAndVerifiedDeep) {
    TempDir dir;
    const std::string app = makeApp(dir);
    makeFileSignedBundle(app + "/Contents/Resources/Strings.bundle", false, false);
    makeFileSignedBundle(app + "/Contents/PlugIns/Empty.bundle", false, false);
    makeFileSignedBundle(app + "/Contents/PlugIns/Driver.kext", true, false);
    test::BundleSignOptions o = appOptions();
    o.signNested = false;  // each keeps the signature it was given
    test::signBundle(app, o);
    const std::string sealText = test::readFile(app + "/Contents/_CodeSignature/CodeResources");
    auto seal = parsePlist(ByteSpan(reinterpret_cast<const std::byte*>(sealText.data()), sealText.size()));
    ASSERT_TRUE(seal);
    const PlistValue* files2 = seal->find("files2");
    ASSERT_TRUE(files2 && files2->find("Resources/Strings.bundle"));
    EXPECT_TRUE(files2->find("Resources/Strings.bundle")->find("cdhash"));

    const CodeVerifyOptions deep = deeply();
    CodeVerdict v = verify(app, deep);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    ASSERT_EQ(v.children.size(), 3u);
    for (const auto& child : v.children) {
        EXPECT_TRUE(child.valid) << child.path << ": " << codeFailureSentence(child);
        EXPECT_EQ(child.codeless, child.executablePath.empty()) << child.path;
    }

    // A nested resource altered fails the nested bundle's own check, which only --deep makes.
    const std::string nested = app + "/Contents/Resources/Strings.bundle/Contents/";
    flipByte(nested + "Resources/strings.txt", 1);
    EXPECT_TRUE(verify(app).valid);
    EXPECT_EQ(verify(app, deep).failureKind, CodeFailure::NestedCodeInvalid);
    // The CDHash sealed beside it is a fact, not a check: a directory altered where nothing reads it
    // changes the CDHash, yet the sealed requirement still holds.
    flipByte(nested + "_CodeSignature/CodeRequirements-1", 40);
    EXPECT_TRUE(verify(app).valid);
}
