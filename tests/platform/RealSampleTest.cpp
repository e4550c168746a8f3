// Real signatures from published npm packages (cached by scripts/fetch-npm-samples.sh), one row a
// sample, each judged at every layer: the verifier, the CMS chain, codesign's display and verdict,
// and spctl's assessment. Rows whose sample is absent are skipped.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ChainNames.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "codesign/AppleDeveloperChain.h"
#include "codesign/CodeSignatureConstants.h"
#include "contents/Contents.h"
#include "crypto/CertificateFields.h"
#include "crypto/Trust.h"
#include "tools/print/CodeText.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;
using tessarin::test::lines;
using tessarin::test::ToolRun;

namespace {

struct DeveloperId {
    std::string leaf;       // the leaf's common name, also spctl's origin
    std::string team;       // the leaf's organizational unit and the code's team
    bool executionAllowed;  // the account predates the execution rule's cutoff
};

struct SampleRow {
    std::string path = {};
    std::optional<CodeKind> kind = {};  // checked where set
    bool isSigned = true;
    bool adhoc = false;
    std::uint32_t flags = 0;
    std::string format = {};  // verifier's format; empty: not checked
    std::optional<DeveloperId> developerId = {};
    std::vector<std::string> display = {};  // fragments of codesign -dvvv's standard error
    int displayStatus = 0;
    std::vector<std::string> archs = {};  // slices whose printed requirement is given back with -R
    bool spctlOnly = false;               // judged by spctl alone
};

std::string samplePath(const std::string& relative) { return std::string(TESSARIN_CODESIGN_SAMPLES) + "/" + relative; }

void checkVerifier(const SampleRow& s) {
    const TrustAnchors anchors = s.developerId ? TrustAnchors::appleRoots() : TrustAnchors{};
    CodeVerdict v = verifyCode(s.path, {}, anchors);
    EXPECT_EQ(v.kind, s.kind.value_or(v.kind));
    EXPECT_EQ(v.isSigned, s.isSigned);
    if (!s.isSigned) {
        EXPECT_EQ(codeFailureSentence(v), "code object is not signed at all");
        return;
    }
    EXPECT_TRUE(v.valid) << codeFailureSentence(v) << (v.cms ? " / " + v.cms->failure : "");
    EXPECT_EQ(std::tuple(v.adhoc, v.flags, v.format), std::tuple(s.adhoc, s.flags, s.format));
    if (!s.developerId) {
        EXPECT_EQ(v.requirementsCount, 0u);
        EXPECT_FALSE(v.cms);
        return;
    }
    EXPECT_EQ(v.teamId, s.developerId->team);
    ASSERT_TRUE(v.cms);
    EXPECT_EQ(std::tuple(v.cms->cdhashesMatch, v.cms->timestampTime.has_value(), v.cms->chainTrusted),
              std::tuple(true, true, true));
    const auto& certificates = v.cms->certificates;
    EXPECT_EQ(test::commonNames(certificates),
              (std::vector<std::string>{s.developerId->leaf, "Developer ID Certification Authority", "Apple Root CA"}));
    using K = CertificateKind;
    EXPECT_EQ(test::kinds(certificates),
              (std::vector{K::DeveloperIDApplication, K::DeveloperIDIntermediate, K::AppleRoot}));
    ASSERT_EQ(certificates.size(), 3u);
    EXPECT_EQ(certificates[0].organizationalUnit, s.developerId->team);
    EXPECT_EQ(certificates[1].sha256Fingerprint, "7AFC9D01A62F03A2DE9637936D4AFE68090D2DE18D03F29C88CFB0B1BA63587F");
    // A chain Apple issues to developers: the team the code names was held against the leaf's.
    std::vector<CertificateFields> chain;
    for (const auto& c : certificates) chain.push_back(*certificateFields(c.der));
    EXPECT_TRUE(isAppleDeveloperChain(chain, true, TrustAnchors::appleRoots().rootsDer));
    // Without Apple's root the signature is still intact and chains to its own root: valid, untrusted.
    CodeVerdict untrusted = verifyCode(s.path, {}, TrustAnchors{});
    EXPECT_TRUE(untrusted.valid) << codeFailureSentence(untrusted);
    ASSERT_TRUE(untrusted.cms);
    EXPECT_EQ(std::tuple(untrusted.cms->chainTrusted, untrusted.cms->chainValid), std::tuple(false, true));
}

void checkCodesign(const SampleRow& s) {
    ToolRun r = test::runStandin("codesign", {"-dvvv", s.path});
    EXPECT_EQ(r.status, s.displayStatus) << r.err;
    for (const auto& fragment : s.display) EXPECT_NE(r.err.find(fragment), std::string::npos) << fragment << r.err;
    if (!s.isSigned) return;
    r = test::runStandin("codesign", {"--verify", "--verbose", s.path});
    EXPECT_EQ(r.status, 0) << r.err;
    // Each slice carries an identifier of its own: each satisfies the text its own display prints.
    for (const auto& arch : s.archs) {
        ToolRun shown = test::runStandin("codesign", {"-d", "-r-", "-a", arch, s.path});
        ASSERT_EQ(shown.out.rfind("designated => ", 0), 0u) << shown.out;
        const std::string text = shown.out.substr(14, shown.out.size() - 15);
        r = test::runStandin("codesign", {"-v", "-a", arch, "-R=" + text, s.path});
        EXPECT_EQ(r.status, 0) << arch << ": " << r.err;
        // Offline nothing is notarized; another team's code is not this team's.
        r = test::runStandin("codesign", {"-v", "-a", arch, "-R=" + text + " and notarized", s.path});
        EXPECT_EQ(r.status, 3) << r.err;
        r = test::runStandin(
            "codesign",
            {"-v", "-a", arch, "-R=anchor apple generic and certificate leaf[subject.OU] = ABCDE12345", s.path});
        EXPECT_EQ(r.status, 3) << r.err;
    }
}

// Judged by the account creation date the leaf carries. None is notarized as far as can be told
// offline: a bare tool cannot carry a stapled ticket.
void checkSpctl(const SampleRow& s) {
    const std::string origin = "origin=" + s.developerId->leaf;
    for (const std::string type : {"install", "exec", "open"}) {
        ToolRun r = test::runStandin("spctl", {"-a", "-vv", "-t", type, s.path});
        EXPECT_EQ(r.status, 3) << r.err;
        std::vector<std::string> expected{s.path + ": rejected", "source=Unnotarized Developer ID", origin,
                                          "note: notarization could not be confirmed offline (no stapled ticket)",
                                          "note: no online lookup was made"};
        // Allowed to run, a tool is still turned away for not being an app.
        if (s.developerId->executionAllowed && type == "exec")
            expected = {s.path + ": rejected (the code is valid but does not seem to be an app)", origin};
        EXPECT_EQ(lines(r.err), expected) << type;
    }
}

}  // namespace

TEST(RealSamples, EachSampleIsJudgedAlikeByTheVerifierCodesignAndSpctl) {
    const std::string notifier = samplePath("node-notifier-10.0.1/package/vendor/mac.noindex/terminal-notifier.app");
    const SampleRow rows[] = {
        {// linker-signed ad hoc code
         .path = samplePath("esbuild_darwin-arm64-0.28.2/package/bin/esbuild"),
         .adhoc = true,
         .flags = CS_ADHOC | CS_LINKER_SIGNED,
         .format = "Mach-O thin (arm64)",
         .display = {" flags=0x20002(adhoc,linker-signed) ", "\nCodeDirectory v=20400 ", "\nSignature=adhoc\n",
                     "\nInternal requirements=none\n"}},
        {// Developer ID, universal, hardened runtime, timestamped
         .path = samplePath("sentry_cli-darwin-3.8.0/package/bin/sentry-cli"),
         .flags = CS_RUNTIME,
         .format = "Mach-O universal (x86_64 arm64)",
         .developerId = DeveloperId{"Developer ID Application: GetSentry LLC (97JCY7859U)", "97JCY7859U", false},
         .display = {"\nFormat=Mach-O universal (x86_64 arm64)\n", "\nCodeDirectory v=20500 ",
                     " flags=0x10000(runtime) ",
                     "\nAuthority=Developer ID Application: GetSentry LLC (97JCY7859U)\nAuthority=Developer ID "
                     "Certification Authority\nAuthority=Apple Root CA\n",
                     "\nTimestamp=", "\nTeamIdentifier=97JCY7859U\n", "\nCMSDigestType=2"},
         .archs = {"x86_64", "arm64"}},
        {// an app bundle that carries no signature
         .path = notifier,
         .kind = CodeKind::AppBundle,
         .isSigned = false,
         .display = {notifier + ": code object is not signed at all\n"},
         .displayStatus = 1},
        // Developer ID tools judged by spctl alone (Deno's account 2023-10-30, Microsoft's 2012-02-23).
        {.path = samplePath("deno_darwin-arm64-2.9.6/package/deno"),
         .developerId = DeveloperId{"Developer ID Application: Deno Land Inc. (2H4KBF436B)", "2H4KBF436B", false},
         .spctlOnly = true},
        {.path = samplePath("typescript_native-preview-darwin-arm64-7.0.0-dev.20260707.2/package/lib/tsgo"),
         .developerId = DeveloperId{"Developer ID Application: Microsoft Corporation (UBF8T346G9)", "UBF8T346G9", true},
         .spctlOnly = true},
    };
    int judged = 0;
    for (const SampleRow& s : rows) {
        if (!std::filesystem::exists(s.path)) continue;
        SCOPED_TRACE(s.path);
        ++judged;
        if (!s.spctlOnly) {
            checkVerifier(s);
            checkCodesign(s);
        }
        if (s.developerId) checkSpctl(s);
    }
    if (judged == 0) GTEST_SKIP() << "no samples fetched: run scripts/fetch-npm-samples.sh";
}

namespace {

struct Opened {
    ComponentTree tree;
    bool leftBehind = false;
};

Opened openContainer(const std::string& file) {
    test::TempDir parent;
    Opened out;
    out.tree = componentTreeOf(file, TrustAnchors::appleRoots());
    addContainerContents(out.tree, file, containerKindOf(file), parent.path(), TrustAnchors::appleRoots(), nullptr);
    out.leftBehind = !std::filesystem::is_empty(parent.path());
    return out;
}

const CodeItem* findItem(const CodeItem& item, const std::string& relativePath) {
    if (item.relativePath == relativePath) return &item;
    for (const CodeItem& c : item.children)
        if (const CodeItem* found = findItem(c, relativePath)) return found;
    return nullptr;
}

// jdeploy's installer template: a jar (zip) holding a tar that bsdtar made on a Mac, of a notarized
// Developer ID app with its ticket stapled and AppleDouble entries beside its files.
const std::string kJdeployJar = "jdeploy-3.0.1/package/bin/libs/jdeploy-installer-template-mac-amd64-1.0-SNAPSHOT.jar";
const std::string kJdeployApp = "jdeploy-installer-mac-amd64.tar/jdeploy-installer/jdeploy-installer.app";

}  // namespace

// Containers made on a Mac by others open to the items they hold, each judged as it is on its own.
// The archived app is genuine and its stapled ticket names it, so it is valid and notarized as it
// would be unpacked on a Mac. Contents/app.xml is nested code whose signature lives in com.apple.cs.*
// extended attributes (a data file's signature), which the archive carries in its entries' headers.
TEST(RealSamples, ContainersMadeOnAMacShowTheCodeTheyHoldAsJudgedOnAMac) {
    const std::string jar = samplePath(kJdeployJar);
    const std::string volume = samplePath("dmg-0.1.0/package/test/fixtures/test.dmg");
    if (!std::filesystem::exists(jar) && !std::filesystem::exists(volume))
        GTEST_SKIP() << "no container samples fetched: run scripts/fetch-npm-samples.sh";

    if (std::filesystem::exists(jar)) {
        SCOPED_TRACE(jar);
        ASSERT_EQ(containerKindOf(jar), ContainerKind::Archive);
        const Opened o = openContainer(jar);
        EXPECT_FALSE(o.leftBehind);
        EXPECT_TRUE(o.tree.notes.empty()) << o.tree.notes.front();
        EXPECT_EQ(o.tree.root.kind, CodeItemKind::Archive);
        const CodeItem* tar = findItem(o.tree.root, "jdeploy-installer-mac-amd64.tar");
        ASSERT_TRUE(tar);
        EXPECT_EQ(tar->kind, CodeItemKind::Archive);
        const CodeItem* app = findItem(o.tree.root, kJdeployApp);
        ASSERT_TRUE(app);
        EXPECT_EQ(app->path, jar + "/" + kJdeployApp);
        EXPECT_EQ(std::tuple(app->kind, app->signature, app->identifier, app->teamId, app->flags),
                  std::tuple(CodeItemKind::App, SignatureKind::Certificate,
                             std::string("HRNMHC7527.ca.weblite.jdeploy.installer"), std::string("HRNMHC7527"),
                             std::uint32_t(CS_RUNTIME)));
        EXPECT_EQ(app->slices, std::vector<std::string>{"x86_64"});
        EXPECT_TRUE(app->timestamp);
        EXPECT_TRUE(app->chainTrusted);
        EXPECT_EQ(test::commonNames(app->chain),
                  (std::vector<std::string>{"Developer ID Application: Web Lite Solutions Corp. (HRNMHC7527)",
                                            "Developer ID Certification Authority", "Apple Root CA"}));
        // The AppleDouble companions became attributes, not files the seal would call added.
        EXPECT_FALSE(findItem(o.tree.root, kJdeployApp + "/Contents/._app.xml"));
        EXPECT_TRUE(app->valid) << (app->problems.empty() ? "" : app->problems.front().where);
        EXPECT_EQ(app->notarization, NotarizationStatus::StapledTicket);
        EXPECT_EQ(app->source, AssessmentSource::NotarizedDeveloperID);
        const CodeItem* data = findItem(o.tree.root, kJdeployApp + "/Contents/app.xml");
        ASSERT_TRUE(data);
        EXPECT_EQ(std::tuple(data->valid, data->identifier, data->teamId),
                  std::tuple(true, std::string("app"), std::string("HRNMHC7527")));
    }
    if (std::filesystem::exists(volume)) {
        // A bare HFS+ volume has no UDIF trailer, so it carries no signature of its own.
        SCOPED_TRACE(volume);
        ToolRun r = test::runStandin("codesign", {"-dvvv", volume});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(lines(r.err), std::vector<std::string>{volume + ": code object is not signed at all"});
        r = test::runStandin("spctl", {"-a", "-vv", "-t", "open", "--context", "context:primary-signature", volume});
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(lines(r.err), (std::vector<std::string>{volume + ": rejected", "source=no usable signature"}));
        // Its file system is still read: it holds no code, and the files 7-Zip cannot decompress
        // are named one by one.
        ASSERT_EQ(containerKindOf(volume), ContainerKind::DiskImage);
        const Opened o = openContainer(volume);
        EXPECT_EQ(o.tree.root.kind, CodeItemKind::DiskImage);
        EXPECT_TRUE(o.tree.root.children.empty());
        ASSERT_FALSE(o.tree.notes.empty());
        for (const std::string& note : o.tree.notes)
            EXPECT_NE(note.find("stored with a compression 7-Zip does not undo"), std::string::npos) << note;
    }
}
