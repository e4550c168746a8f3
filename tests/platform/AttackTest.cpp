// Attacks on the verdicts, each on items signed by the test chain: every one must end without "valid"
// or "accepted" and with the reason Apple's tools give.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "macho/MachO.h"
#include "plist/Plist.h"
#include "tools/print/AssessmentText.h"
#include "tools/print/CodeText.h"
#include "verify/Assessment.h"
#include "verify/CodeSignVerifier.h"

namespace tessarin {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::LeafKind;
using test::SigningChain;
using test::TempDir;

constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kX86_64 = 0x01000007;

const TrustAnchors& anchors() {
    static const TrustAnchors a = SigningChain::shared().anchors();
    return a;
}

CodeVerdict check(const std::string& path, bool strict = false) {
    CodeVerifyOptions o;
    o.strict = strict;
    o.deep = true;
    return verifyCode(path, o, anchors());
}

Bytes developerIdTool(std::int32_t cputype = kX86_64, const std::string& identifier = "com.example.tool") {
    test::SignOptions o;
    o.identifier = identifier;
    o.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    return test::signMachO(test::thinMachO(cputype, cputype == kX86_64 ? 3 : 0), o);
}

// A Developer ID app sealed by the test chain.
std::string signedApp(const TempDir& dir, const std::string& name = "Example.app", test::CmsOptions cms = {}) {
    const std::string app = test::BundleBuilder(dir / name)
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::thinMachO(kX86_64, 3))
                                .resource("data.txt", "resource bytes\n")
                                .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication, false, cms);
    test::signBundle(app, o);
    return app;
}

void expectRefused(const std::string& path, const std::string& sentence, bool strict = false) {
    CodeVerdict v = check(path, strict);
    EXPECT_FALSE(v.valid) << path;
    EXPECT_EQ(codeFailureSentence(v), sentence) << path;
    Assessment a = assessPath(path, AssessmentType::Execute, anchors());
    EXPECT_FALSE(a.accepted) << path << ": " << assessmentText(path, a, 2);
    EXPECT_NE(a.source, AssessmentSource::NotarizedDeveloperID);
    EXPECT_NE(a.source, AssessmentSource::DeveloperID);
}

TEST(Attacks, GenuineAppStaysValidAndAccepted) {
    TempDir dir;
    const std::string app = signedApp(dir);
    CodeVerdict v = check(app, true);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    Assessment a = assessPath(app, AssessmentType::Execute, anchors());
    EXPECT_TRUE(a.accepted) << assessmentText(app, a, 2);
    EXPECT_EQ(a.source, AssessmentSource::DeveloperID);

    // As codesign signed in 2019: signed attribute values out of DER order, a ticket stapled.
    test::CmsOptions of2019;
    of2019.timestamp = false;
    of2019.attributeValuesOutOfOrder = true;
    const std::string old = signedApp(dir, "Old.app", of2019);
    const std::string exe = test::readFile(old + "/Contents/MacOS/Example");
    test::writeFile(old + "/Contents/CodeResources",
                    test::TicketBuilder().naming(test::sealCdhash(Bytes(exe.begin(), exe.end()))).build());
    v = check(old, true);
    EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    a = assessPath(old, AssessmentType::Execute, anchors());
    EXPECT_EQ(a.source, AssessmentSource::NotarizedDeveloperID) << assessmentText(old, a, 2);
}

TEST(Attacks, UniversalFileIsJudgedByItsWeakestSlice) {
    TempDir dir;
    test::SignOptions adhoc;
    Bytes fat = test::fatMachO({developerIdTool(kX86_64), test::signMachO(test::thinMachO(kArm64, 0), adhoc)},
                               {{kX86_64, 3}, {kArm64, 0}});
    const std::string tool = dir / "tool";
    test::writeFile(tool, fat);
    EXPECT_TRUE(check(tool).valid);  // each slice is intact; codesign has no quarrel
    Assessment a = assessPath(tool, AssessmentType::Install, anchors());
    EXPECT_FALSE(a.accepted) << assessmentText(tool, a, 2);
    EXPECT_EQ(a.decidingSlice, "arm64");
    EXPECT_NE(assessmentText(tool, a, 1).find("arm64"), std::string::npos);
}

// A leaf Apple issues to a developer vouches only for code that names its team, and the slices of a
// universal file name one team or none: the team shown and trusted is then the signer's.
TEST(Attacks, CodeNamesItsCertificatesTeamInEverySlice) {
    const SigningChain& chain = SigningChain::shared();
    const test::CmsSigner devId = chain.signer(LeafKind::DeveloperIDApplication);
    const test::CmsSigner otherTeam = chain.signer(chain.developerIdLeaf(std::nullopt, "OTHERTEAM2"));
    const test::CmsSigner adhoc;
    auto thin = [](std::int32_t cputype, const test::CmsSigner& cms, const std::string& team) {
        test::SignOptions o;
        o.cms = cms;
        o.teamId = team;
        return test::signMachO(test::thinMachO(cputype, cputype == kX86_64 ? 3 : 0), o);
    };
    auto fat = [](Bytes x86, Bytes arm) {
        return test::fatMachO({std::move(x86), std::move(arm)}, {{kX86_64, 3}, {kArm64, 0}});
    };
    const std::string wrong = "a Team Identifier is wrong or inappropriate";
    const std::string modified = "invalid signature (code or signature have been modified)";
    struct Row {
        const char* name;
        Bytes file;
        std::string refusal;  // empty: valid
    };
    const Row rows[] = {
        {"developer-id-naming-another-team", thin(kX86_64, devId, "OTHERTEAM2"), wrong},
        {"developer-id-naming-its-team", thin(kX86_64, devId, "TESTTEAM01"), ""},
        {"developer-id-naming-no-utf8-team", thin(kX86_64, devId, "TEAM\xff"), "a Team Identifier string is invalid"},
        {"development-naming-another-team", thin(kX86_64, chain.signer(LeafKind::AppleDevelopment), "OTHERTEAM2"),
         wrong},
        // Apple's store leaf is no developer's, nor is a chain under another root: no unit is compared.
        {"app-store-leaf", thin(kX86_64, chain.signer(LeafKind::MacAppStore), "OTHERTEAM2"), ""},
        {"unrelated-root",
         thin(kX86_64, SigningChain::unrelated().signer(LeafKind::DeveloperIDApplication), "OTHERTEAM2"), ""},
        {"ad-hoc-naming-a-team", thin(kX86_64, adhoc, "OTHERTEAM2"), ""},
        {"slices-of-two-teams", fat(thin(kX86_64, devId, "TESTTEAM01"), thin(kArm64, otherTeam, "OTHERTEAM2")),
         modified},
        {"slice-naming-no-team", fat(thin(kX86_64, adhoc, "TESTTEAM01"), thin(kArm64, adhoc, "")), modified},
        {"slices-of-one-team", fat(thin(kX86_64, devId, "TESTTEAM01"), thin(kArm64, devId, "TESTTEAM01")), ""},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir / r.name;
        test::writeFile(path, r.file);
        if (!r.refusal.empty()) {
            expectRefused(path, r.refusal);
            continue;
        }
        CodeVerdict v = check(path);
        EXPECT_TRUE(v.valid) << codeFailureSentence(v);
    }
    // Nested code is checked so before its sealed requirement is asked, deep or not.
    const std::string app = test::BundleBuilder(dir / "Nested.app")
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::thinMachO(kX86_64, 3))
                                .file("Contents/MacOS/helper", thin(kX86_64, devId, "OTHERTEAM2"))
                                .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.cms = devId;
    o.code.teamId = "TESTTEAM01";
    o.signNested = false;
    o.nestedRequirements["MacOS/helper"] = "anchor apple generic";
    test::signBundle(app, o);
    for (bool deep : {false, true}) {
        CodeVerifyOptions options;
        options.deep = deep;
        CodeVerdict v = verifyCode(app, options, anchors());
        EXPECT_FALSE(v.valid) << deep;
        EXPECT_EQ(codeFailureSentence(v), wrong) << deep;
    }
}

TEST(Attacks, ContentsBesideContentsFailStrictValidationAndAssessment) {
    TempDir dir;
    const std::string app = signedApp(dir);
    test::writeFile(app + "/payload.sh", std::string("#!/bin/sh\n"));
    EXPECT_TRUE(check(app).valid);  // only strict validation looks there, as Apple's does
    expectRefused(app, "unsealed contents present in the bundle root", true);
}

TEST(Attacks, ContentsLinkedToAnotherAppAreNeverFollowed) {
    TempDir dir;
    const std::string genuine = signedApp(dir, "Genuine.app");

    const std::string borrowed = dir / "Borrowed.app";
    fs::create_directories(borrowed);
    fs::create_directory_symlink(genuine + "/Contents", borrowed + "/Contents");
    expectRefused(borrowed, "the main executable or Info.plist must be a regular file (no symlinks, etc.)");
}

TEST(Attacks, BytesBetweenSlicesFailStrictValidation) {
    TempDir dir;
    // Bytes after a thin file's end are caught the same way (the hostile suite's DataAfterTheSignature).
    Bytes fat = test::fatMachO({developerIdTool(), developerIdTool(kArm64)}, {{kX86_64, 3}, {kArm64, 0}});
    const std::string clean = dir / "fat";
    test::writeFile(clean, fat);
    EXPECT_TRUE(check(clean, true).valid) << codeFailureSentence(check(clean, true));
    fat[100] = 0x41;  // in the padding between the fat header and the first slice
    const std::string gap = dir / "gap";
    test::writeFile(gap, fat);
    EXPECT_EQ(codeFailureSentence(check(gap, true)), "main executable failed strict validation");
}

// An app whose nested code is sealed as codesign seals it, by the requirement its signer's identity
// gives: a universal helper tool and a framework with a header folder linked at its top.
std::string appWithNestedCode(const TempDir& dir,
                              const std::function<void(const std::string&, test::BundleSignOptions&)>& shape) {
    const std::string app = test::BundleBuilder(dir / "Nested.app")
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::thinMachO(kX86_64, 3))
                                .file("Contents/MacOS/helper", test::fatMachO({{kX86_64, 3}, {kArm64, 0}}))
                                .resource("en.lproj/Main.strings", "\"a\" = \"b\";\n")
                                .symlink("Contents/Resources/en.lproj/Alias.strings", "Main.strings")
                                .build();
    test::BundleBuilder(app + "/Contents/Frameworks/Kit.framework", test::BundleBuilder::Kind::Framework)
        .executable("Kit", test::thinMachO(kX86_64, 3))
        .file("Versions/A/Headers/Kit.h", "int kit(void);\n")
        .symlink("Headers", "Versions/Current/Headers")
        .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.teamId = SigningChain::teamId();
    o.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    const std::string team =
        " and anchor apple generic and certificate leaf[subject.OU] = \"" + SigningChain::teamId() + "\"";
    o.nestedRequirements["MacOS/helper"] = "identifier helper" + team;
    o.nestedRequirements["Frameworks/Kit.framework"] = "identifier \"com.example.Kit\"" + team;
    shape(app, o);
    test::signBundle(app, o);
    return app;
}

void pointCurrentAt(const std::string& framework, const std::string& version) {
    fs::remove(framework + "/Versions/Current");
    fs::create_symlink(version, framework + "/Versions/Current");
}

// A complete second version B of the app's framework, signed while Current named it.
void addSignedVersionB(const std::string& app, test::BundleSignOptions& o) {
    const std::string kit = app + "/Contents/Frameworks/Kit.framework";
    fs::copy(kit + "/Versions/A", kit + "/Versions/B", fs::copy_options::recursive);
    pointCurrentAt(kit, "B");
    test::BundleSignOptions b = o;
    b.code.identifier = "com.example.Kit";
    test::signBundle(kit, b);
    pointCurrentAt(kit, "A");
}

void flipCodeByte(const std::string& path) {
    std::string bytes = test::readFile(path);
    bytes.at(3000) = static_cast<char>(bytes[3000] ^ 0x5a);
    test::writeFile(path, bytes);
}

TEST(Attacks, NestedCodeAndSealsAreJudgedAsTheSealSays) {
    using Shape = std::function<void(const std::string&, test::BundleSignOptions&)>;
    const Shape asIs = [](const std::string&, test::BundleSignOptions&) {};
    const Shape allOptional = [](const std::string&, test::BundleSignOptions& o) {
        for (auto& rule : o.rules2) rule.optional = !rule.omit;
    };
    test::SignOptions adhoc;
    adhoc.identifier = "helper";
    adhoc.teamId = SigningChain::teamId();  // the same team in every slice: only the requirement tells them apart
    struct Case {
        const char* name;
        bool strict;
        std::string sentence;                            // codesign --verify --deep's; empty: valid, and accepted
        Shape shape;                                     // the seal, made before signing
        std::function<void(const std::string&)> change;  // what is done to the signed app
    };
    const std::string kit = "/Contents/Frameworks/Kit.framework";
    const std::string customOmit = "resource envelope is obsolete (custom omit rules)";
    const std::string sealBroken = "a sealed resource is missing or invalid";
    const std::string notRegular = "the main executable or Info.plist must be a regular file (no symlinks, etc.)";
    const auto nothing = [](const std::string&) {};
    // A part of the app moved out of it and linked to from its place: never followed.
    const auto linkedOut = [](const std::string& part) {
        return [part](const std::string& app) {
            fs::rename(app + "/Contents/" + part, app + "/../outside-" + part);
            fs::create_symlink(app + "/../outside-" + part, app + "/Contents/" + part);
        };
    };
    const Case cases[] = {
        {"genuine", true, "", asIs, nothing},
        {"main executable swapped for another signer's", false,
         "invalid Info.plist (plist or signature have been modified)", asIs,
         [](const std::string& app) {
             test::writeFile(app + "/Contents/MacOS/Example", developerIdTool(kX86_64, "com.other.tool"));
         }},
        {"Info.plist linked out of the app", false, notRegular, asIs, linkedOut("Info.plist")},
        {"_CodeSignature linked out of the app", false, notRegular, asIs, linkedOut("_CodeSignature")},
        {"helper rebuilt by the same team", true, "", asIs,
         [](const std::string& app) {
             test::writeFile(app + "/Contents/MacOS/helper", developerIdTool(kX86_64, "helper"));
         }},
        {"helper's signed x86_64 slice kept beside an ad hoc arm64 one", false, "nested code is modified or invalid",
         asIs,
         [&](const std::string& app) {
             const std::string helper = app + "/Contents/MacOS/helper";
             const std::string bytes = test::readFile(helper);
             const ByteSpan file(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size());
             const MachOSlice x86 = parseMachO(file)->slices.at(0);
             const Bytes signedSlice(bytes.begin() + x86.offset, bytes.begin() + x86.offset + x86.size);
             test::writeFile(helper, test::fatMachO({signedSlice, test::signMachO(test::thinMachO(kArm64, 0), adhoc)},
                                                    {{kX86_64, 3}, {kArm64, 0}}));
         }},
        {"plug-ins folder omitted from the seal", true, customOmit,
         [](const std::string&, test::BundleSignOptions& o) {
             o.rules2.push_back({"^Resources/plugins/", true, false, false, 2000});
         },
         [](const std::string& app) {
             test::writeFile(app + "/Contents/Resources/plugins/run.sh", std::string("#!/bin/sh\n"));
         }},
        {"every rule optional", true, customOmit, allOptional, nothing},
        {"every rule optional, nested code removed", false, sealBroken, allOptional,
         [](const std::string& app) { fs::remove(app + "/Contents/MacOS/helper"); }},
        {"sealed link in an optional folder removed", false, sealBroken, asIs,
         [](const std::string& app) { fs::remove(app + "/Contents/Resources/en.lproj/Alias.strings"); }},
        {"framework's top-level link retargeted", true,
         "unsealed contents present in the root directory of an embedded framework", asIs,
         [&](const std::string& app) {
             fs::remove(app + kit + "/Headers");
             fs::create_symlink("Versions/Current/Resources", app + kit + "/Headers");
         }},
        {"framework's intact copy in Contents beside its patched version", false,
         "invalid signature (code or signature have been modified)", asIs,
         [&](const std::string& app) {
             const std::string fw = app + kit;
             fs::copy(fw + "/Versions/A", fw + "/Contents", fs::copy_options::recursive);
             fs::create_directories(fw + "/Contents/MacOS");
             fs::rename(fw + "/Contents/Kit", fw + "/Contents/MacOS/Kit");
             fs::copy_file(fw + "/Contents/Resources/Info.plist", fw + "/Contents/Info.plist");
             flipCodeByte(fw + "/Versions/A/Kit");
         }},
        {"framework's intact copy in Contents beside its intact version", false,
         "code has no resources but signature indicates they must be present", asIs,
         [&](const std::string& app) {
             fs::copy(app + kit + "/Versions/A", app + kit + "/Contents", fs::copy_options::recursive);
         }},
        {"framework with a second valid version", true, "", addSignedVersionB, nothing},
        {"framework with a modified second version", true, "embedded framework contains modified or invalid version",
         addSignedVersionB, [&](const std::string& app) { flipCodeByte(app + kit + "/Versions/B/Kit"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string app = appWithNestedCode(dir, c.shape);
        c.change(app);
        if (!c.sentence.empty()) {
            expectRefused(app, c.sentence, c.strict);
            continue;
        }
        CodeVerdict v = check(app, c.strict);
        EXPECT_TRUE(v.valid) << codeFailureSentence(v);
        Assessment a = assessPath(app, AssessmentType::Execute, anchors());
        EXPECT_TRUE(a.accepted) << assessmentText(app, a, 2);
    }
}

}  // namespace
}  // namespace tessarin
