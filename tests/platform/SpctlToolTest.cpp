// Assessment: the policy applied to signed fixtures under test anchors, and the spctl stand-in's
// lines and statuses as the app reads them (it trusts only Apple's root).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "ToolRun.h"
#include "XarBuilder.h"
#include "tools/print/AssessmentText.h"
#include "tools/print/CodeText.h"
#include "tools/print/PackageReport.h"
#include "package/Package.h"
#include "verify/Assessment.h"

using namespace tessarin;
using tessarin::test::LeafKind;
using tessarin::test::lines;
using tessarin::test::SigningChain;
using tessarin::test::TempDir;
using tessarin::test::ToolRun;

namespace {

constexpr std::int32_t kArm64 = 0x0100000C;

ToolRun spctl(const std::vector<std::string>& args) { return test::runStandin("spctl", args); }

std::string signedFixture(const TempDir& dir, LeafKind kind, bool expired = false, bool timestamp = true) {
    test::SignOptions o;
    o.identifier = "com.example.fixture";
    o.teamId = SigningChain::teamId();
    test::CmsOptions cms;
    cms.timestamp = timestamp;
    if (expired) cms.signingTime = std::time(nullptr) - 2 * 365 * 24 * 3600;
    o.cms = SigningChain::shared().signer(kind, expired, cms);
    std::string path = dir / "fixture";
    test::writeFile(path, test::signMachO(test::thinMachO(kArm64, 0), o));
    return path;
}

// A Developer ID-signed app: Info.plist, main executable, one resource.
std::string developerIdApp(const TempDir& dir) {
    const std::string app = test::BundleBuilder(dir / "Example.app")
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::thinMachO(kArm64, 0))
                                .resource("a.txt", "a")
                                .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    o.code.teamId = SigningChain::teamId();
    o.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    test::signBundle(app, o);
    return app;
}

Assessment assess(const std::string& path) {
    return assessPath(path, AssessmentType::Install, SigningChain::shared().anchors());
}

std::string sentryCli() {
    return std::string(TESSARIN_CODESIGN_SAMPLES) + "/sentry_cli-darwin-3.8.0/package/bin/sentry-cli";
}

}  // namespace

TEST(AssessmentPolicy, DeveloperIDWithoutTicketIsAcceptedAndSaysNotarizationIsUnconfirmed) {
    TempDir dir;
    Assessment a = assess(signedFixture(dir, LeafKind::DeveloperIDApplication));
    EXPECT_TRUE(a.accepted) << assessmentReason(a);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(a.origin, "Developer ID Application: Test Corp (" + SigningChain::teamId() + ")");
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{"note: notarization could not be confirmed offline (no stapled ticket)"});
}

TEST(AssessmentPolicy, OnlyAGenuineTicketNamingTheCodeMakesItNotarized) {
    TempDir dir;
    const TrustAnchors anchors = SigningChain::shared().anchors();
    CodeVerdict v = verifyCode(signedFixture(dir, LeafKind::DeveloperIDApplication), {}, anchors);
    ASSERT_TRUE(v.valid) << codeFailureSentence(v);
    ASSERT_FALSE(v.codeDirectories.empty());
    const Bytes& hash = v.codeDirectories.back().cdhash;
    v.ticketStapled = true;
    v.ticket = test::TicketBuilder().naming(hash).build();
    Assessment a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_TRUE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "Notarized Developer ID");
    EXPECT_TRUE(assessmentNotes(a).empty());

    // The same ticket where only Apple's ticket root is trusted, a genuine ticket for other code, and
    // bytes shaped like a ticket that hold the CDHash: each leaves plain Developer ID and says why.
    a = assessCodeVerdict(v, TicketAnchors::apple());
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(assessmentNotes(a), std::vector<std::string>{"note: notarization could not be confirmed offline (the "
                                                           "stapled ticket was not accepted: its certificates do "
                                                           "not reach Apple's ticket root at the time it was issued)"});
    v.ticket = test::TicketBuilder().naming(Bytes(20, 0x5a)).build();
    a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{
                  "note: notarization could not be confirmed offline (the stapled ticket does not name this code)"});
    v.ticket = {'s', '8', 'c', 'h', 1, 0, 0, 0};
    v.ticket.insert(v.ticket.end(), hash.begin(), hash.end());
    a = assessCodeVerdict(v, anchors.tickets);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_EQ(a.ticket.failure, TicketFailure::Malformed);
    EXPECT_EQ(assessmentNotes(a),
              std::vector<std::string>{
                  "note: notarization could not be confirmed offline (the stapled ticket was not accepted: it is not a "
                  "well-formed notarization ticket)"});
}

TEST(AssessmentPolicy, AppWithATicketShapedFileStapledIsNotNotarized) {
    TempDir dir;
    const TrustAnchors anchors = SigningChain::shared().anchors();
    const std::string app = developerIdApp(dir);
    CodeVerdict v = verifyCode(app, {}, anchors);
    ASSERT_TRUE(v.valid) << codeFailureSentence(v);
    ASSERT_FALSE(v.codeDirectories.empty());

    // 32 bytes: the magic, eight more, and the CDHash's first 20 bytes, as Contents/CodeResources.
    Bytes fake = {'s', '8', 'c', 'h', 1, 0, 0, 0, 0, 0, 0, 0};
    fake.insert(fake.end(), v.codeDirectories.front().cdhash.begin(), v.codeDirectories.front().cdhash.begin() + 20);
    ASSERT_EQ(fake.size(), 32u);
    test::writeFile(app + "/Contents/CodeResources", fake);
    Assessment a = assessPath(app, AssessmentType::Execute, anchors);
    EXPECT_TRUE(a.accepted) << assessmentReason(a);
    EXPECT_EQ(assessmentSource(a), "Developer ID");
    EXPECT_TRUE(a.ticket.present);
    EXPECT_EQ(a.ticket.failure, TicketFailure::Malformed);
    // The tool, which trusts only Apple, does not call it notarized either.
    ToolRun r = spctl({"-a", "-vv", app});
    EXPECT_EQ(r.err.find("Notarized"), std::string::npos) << r.err;

    // A genuine ticket naming the app's code in the same place does notarize it.
    test::TicketBuilder ticket;
    for (const auto& cd : v.codeDirectories) ticket.naming(cd.cdhash);
    test::writeFile(app + "/Contents/CodeResources", ticket.build());
    a = assessPath(app, AssessmentType::Execute, anchors);
    EXPECT_TRUE(a.accepted) << assessmentReason(a);
    EXPECT_EQ(assessmentSource(a), "Notarized Developer ID");
}

TEST(AssessmentPolicy, AppleAndAppStoreSources) {
    TempDir dir;
    Assessment apple = assess(signedFixture(dir, LeafKind::SoftwareSigning));
    EXPECT_TRUE(apple.accepted);
    EXPECT_EQ(assessmentSource(apple), "Apple System");
    EXPECT_EQ(apple.origin, "Software Signing");
    EXPECT_TRUE(assessmentNotes(apple).empty());
    Assessment store = assess(signedFixture(dir, LeafKind::MacAppStore));
    EXPECT_TRUE(store.accepted);
    EXPECT_EQ(assessmentSource(store), "Mac App Store");
}

TEST(AssessmentPolicy, InstallerCertificateDoesNotMakeCodeRunnable) {
    TempDir dir;
    Assessment a = assess(signedFixture(dir, LeafKind::DeveloperIDInstaller));
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "no usable signature");
}

TEST(AssessmentPolicy, ExpiredCertificateNeedsATimestamp) {
    TempDir dir;
    EXPECT_TRUE(assess(signedFixture(dir, LeafKind::DeveloperIDApplication, true, true)).accepted);
    Assessment late = assess(signedFixture(dir, LeafKind::DeveloperIDApplication, true, false));
    EXPECT_FALSE(late.accepted);
    EXPECT_EQ(assessmentSource(late), "no usable signature");
}

TEST(AssessmentPolicy, UntrustedRootTamperingAdHocAndUnsignedAreRejected) {
    TempDir dir;
    std::string path = signedFixture(dir, LeafKind::DeveloperIDApplication);
    Assessment foreign = assessPath(path, AssessmentType::Execute, SigningChain::unrelated().anchors());
    EXPECT_FALSE(foreign.accepted);
    EXPECT_EQ(assessmentSource(foreign), "no usable signature");

    std::string text = test::readFile(path);
    text[200] ^= 0x01;  // inside the code's first page
    test::writeFile(dir / "tampered", text);
    EXPECT_FALSE(assess(dir / "tampered").accepted);

    test::writeFile(dir / "adhoc", test::signMachO(test::thinMachO(kArm64, 0), {}));
    Assessment adhoc = assess(dir / "adhoc");
    EXPECT_FALSE(adhoc.accepted);
    EXPECT_EQ(assessmentSource(adhoc), "no usable signature");
    test::writeFile(dir / "unsigned", test::thinMachO(kArm64, 0));
    EXPECT_FALSE(assess(dir / "unsigned").accepted);
    EXPECT_FALSE(assess(dir / "missing").accepted);
}

TEST(AssessmentPolicy, BareToolsAreJudgedByTheInstallPolicyNotTheExecutionPolicy) {
    TempDir dir;
    const std::string tool = signedFixture(dir, LeafKind::DeveloperIDApplication);
    Assessment install = assessPath(tool, AssessmentType::Install, SigningChain::shared().anchors());
    EXPECT_TRUE(install.accepted) << assessmentReason(install);
    EXPECT_EQ(assessmentSource(install), "Developer ID");

    Assessment exec = assessPath(tool, AssessmentType::Execute, SigningChain::shared().anchors());
    EXPECT_FALSE(exec.accepted);
    EXPECT_EQ(assessmentReason(exec), "the code is valid but does not seem to be an app");
    EXPECT_EQ(assessmentSource(exec), "");
    EXPECT_EQ(exec.origin, install.origin);

    // Neither policy takes bytes that are neither code nor a package.
    test::writeFile(dir / "notes.txt", "plain text");
    EXPECT_EQ(
        assessmentReason(assessPath(dir / "notes.txt", AssessmentType::Install, SigningChain::shared().anchors())),
        "not a flat installer package");
}

TEST(SpctlTool, AdHocAndUnsignedCodeHaveNoUsableSignature) {
    TempDir dir;
    test::writeFile(dir / "adhoc", test::signMachO(test::thinMachO(kArm64, 0), {}));
    test::writeFile(dir / "plain", test::thinMachO(kArm64, 0));
    for (const char* name : {"adhoc", "plain"}) {
        ToolRun r = spctl({"-a", "-vv", "-t", "exec", dir / name});
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(r.out.empty());
        auto l = lines(r.err);
        ASSERT_GE(l.size(), 2u) << r.err;
        EXPECT_EQ(l[0].rfind(dir / name + ": rejected", 0), 0u) << l[0];
        EXPECT_EQ(l[1], "source=no usable signature");
    }
}

TEST(SpctlTool, TestChainsAreNotTrustedByTheShippedTool) {
    TempDir dir;
    ToolRun r = spctl({"--assess", "--verbose=2", signedFixture(dir, LeafKind::DeveloperIDApplication)});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(": rejected"), std::string::npos);
    EXPECT_NE(r.err.find("source=no usable signature"), std::string::npos);
}

TEST(SpctlTool, BadUsageExitsTwo) {
    EXPECT_EQ(spctl({}).status, 2);
    EXPECT_EQ(spctl({"-vv", "/bin/true"}).status, 2);  // no -a
    EXPECT_EQ(spctl({"-a", "-t", "bogus", "/bin/true"}).status, 2);
    EXPECT_EQ(spctl({"-a", "-q", "/bin/true"}).status, 2);
    ToolRun r = spctl({"-a"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
}

TEST(SpctlTool, SentryCliIsAcceptedAsDeveloperIDWithoutClaimingNotarization) {
    if (!std::filesystem::exists(sentryCli())) GTEST_SKIP() << "sample not fetched: " << sentryCli();
    ToolRun r = spctl({"-a", "-vv", "-t", "install", sentryCli()});
    EXPECT_EQ(r.status, 0) << r.err;
    auto l = lines(r.err);
    ASSERT_EQ(l.size(), 4u) << r.err;
    EXPECT_EQ(l[0], sentryCli() + ": accepted");
    EXPECT_EQ(l[1], "source=Developer ID");
    EXPECT_EQ(l[2], "origin=Developer ID Application: GetSentry LLC (97JCY7859U)");
    EXPECT_EQ(l[3].rfind("note: notarization could not be confirmed offline", 0), 0u);
    for (const char* claim : {"source=Notarized", "source=Apple", "source=Mac App"})
        EXPECT_EQ(r.err.find(claim), std::string::npos);
    // Asked whether it may run as an app, a command-line tool is turned away; one -v: no origin line.
    ToolRun exec = spctl({"-av", sentryCli()});
    EXPECT_EQ(exec.status, 3);
    EXPECT_EQ(exec.err, sentryCli() + ": rejected (the code is valid but does not seem to be an app)\n");
}

namespace {

const test::TestChain& installerChain() {
    static test::TestChain chain;
    return chain;
}

test::XarBuild signedPackage() {
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    o.sign = [](const Bytes& checksum) { return installerChain().signDigest(checksum); };
    o.certificates = installerChain().certificates();
    return test::buildXar(o);
}

Assessment assessPackage(const std::string& path) {
    return assessPath(path, AssessmentType::Install,
                      TrustAnchors{{installerChain().rootDer()}, SigningChain::shared().ticketSigners().anchors()});
}

}  // namespace

TEST(PackageAssessment, DeveloperIDInstallerWithAndWithoutATicket) {
    TempDir dir;
    test::XarBuild b = signedPackage();
    test::writeFile(dir / "plain.pkg", b.bytes);
    Assessment plain = assessPackage(dir / "plain.pkg");
    EXPECT_TRUE(plain.accepted) << assessmentReason(plain);
    EXPECT_EQ(assessmentSource(plain), "Developer ID");
    EXPECT_EQ(plain.origin, "Developer ID Installer: Example Corp (ABCDE12345)");
    EXPECT_EQ(assessmentNotes(plain),
              std::vector<std::string>{"note: notarization could not be confirmed offline (no stapled ticket)"});

    Bytes digest(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                 b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize));
    test::writeFile(dir / "stapled.pkg", test::stapleTicket(b.bytes, test::TicketBuilder().naming(digest).build()));
    Assessment stapled = assessPackage(dir / "stapled.pkg");
    EXPECT_TRUE(stapled.accepted) << assessmentReason(stapled);
    EXPECT_EQ(assessmentSource(stapled), "Notarized Developer ID");

    Bytes other = digest;
    other[0] ^= 1;
    test::writeFile(dir / "other.pkg", test::stapleTicket(b.bytes, test::TicketBuilder().naming(other).build()));
    Assessment forOther = assessPackage(dir / "other.pkg");
    EXPECT_EQ(assessmentSource(forOther), "Developer ID");
    EXPECT_EQ(assessmentNotes(forOther),
              std::vector<std::string>{
                  "note: notarization could not be confirmed offline (the stapled ticket does not name this package)"});
}

TEST(PackageAssessment, ForgedTicketsOnAppsAndPackagesAreNamedAndNeverNotarize) {
    TempDir dir;
    const TrustAnchors codeAnchors = SigningChain::shared().anchors();
    const std::string app = developerIdApp(dir);
    CodeVerdict v = verifyCode(app, {}, codeAnchors);
    ASSERT_TRUE(v.valid) << codeFailureSentence(v);
    const Bytes cdhash = v.codeDirectories.back().cdhash;
    test::XarBuild b = signedPackage();
    const Bytes digest(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                       b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize));
    const TrustAnchors packageAnchors{{installerChain().rootDer()}, SigningChain::shared().ticketSigners().anchors()};

    auto judged = [](const Assessment& a, const char* item, const std::string& name) {
        EXPECT_TRUE(a.accepted) << name;
        EXPECT_EQ(assessmentSource(a), "Developer ID") << name;
        const auto notes = assessmentNotes(a);
        ASSERT_EQ(notes.size(), 1u) << name;
        // Each names why: the ticket was refused, or names other code.
        const std::string refused = "note: notarization could not be confirmed offline (the stapled ticket was not accepted: ";
        const std::string other = std::string("note: notarization could not be confirmed offline (the stapled ticket does not name this ") + item + ")";
        EXPECT_TRUE(notes[0].rfind(refused, 0) == 0 || notes[0] == other) << name << ": " << notes[0];
        EXPECT_EQ(name == "NamingOtherCode", notes[0] == other) << name << ": " << notes[0];
    };
    for (const auto& forged : test::forgedTickets(cdhash)) {
        test::writeFile(app + "/Contents/CodeResources", forged.bytes);
        judged(assessPath(app, AssessmentType::Execute, codeAnchors), "code", forged.name);
    }
    for (const auto& forged : test::forgedTickets(digest)) {
        const std::string pkg = dir / (std::string(forged.name) + ".pkg");
        test::writeFile(pkg, test::stapleTicket(b.bytes, forged.bytes));
        judged(assessPath(pkg, AssessmentType::Install, packageAnchors), "package", forged.name);
        auto check = checkPackageSignature(pkg, packageAnchors, std::time(nullptr));
        ASSERT_TRUE(check) << check.error();
        const std::string report = packageSignatureReport(pkg, *check);
        EXPECT_EQ(report.find("trusted by the Apple notary service"), std::string::npos) << report;
        EXPECT_NE(report.find("   Notarization: the stapled ticket "), std::string::npos) << report;
    }
}

TEST(PackageAssessment, UnsignedOrForeignPackagesAreRejected) {
    TempDir dir;
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    test::writeFile(dir / "unsigned.pkg", test::buildXar(o).bytes);
    Assessment a = assessPackage(dir / "unsigned.pkg");
    EXPECT_FALSE(a.accepted);
    EXPECT_EQ(assessmentSource(a), "no usable signature");

    test::writeFile(dir / "signed.pkg", signedPackage().bytes);
    ToolRun r = spctl({"-a", "-vv", "-t", "install", dir / "signed.pkg"});  // the tool trusts only Apple
    EXPECT_EQ(r.status, 3);
    auto l = lines(r.err);
    ASSERT_GE(l.size(), 2u) << r.err;
    EXPECT_EQ(l[0].rfind(dir / "signed.pkg" + ": rejected", 0), 0u);
    EXPECT_EQ(l[1], "source=no usable signature");
}
