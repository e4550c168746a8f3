// Real signatures from published npm packages (cached by scripts/fetch-npm-samples.sh), one row a
// sample, each judged at every layer: the verifier, the CMS chain, codesign's display and verdict,
// and spctl's assessment. Rows whose sample is absent are skipped.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolRun.h"
#include "codesign/AppleDeveloperChain.h"
#include "codesign/CodeSignatureConstants.h"
#include "contents/Contents.h"
#include "crypto/CertificateFields.h"
#include "crypto/Cms.h"
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
    std::string path;
    std::optional<CodeKind> kind;  // checked where set
    bool isSigned = true;
    bool adhoc = false;
    std::uint32_t flags = 0;
    std::string format;  // verifier's format; empty: not checked
    std::optional<DeveloperId> developerId;
    std::vector<std::string> display;  // fragments of codesign -dvvv's standard error
    int displayStatus = 0;
    std::vector<std::string> archs;  // slices whose printed requirement is given back with -R
};

std::string samplePath(const std::string& relative) { return std::string(TESSARIN_CODESIGN_SAMPLES) + "/" + relative; }

// The first slice's CMS blob, found by its wrapper magic.
std::span<const std::byte> firstCms(const std::string& file) {
    auto be32 = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(file[at])) << 24) | (std::uint32_t(std::uint8_t(file[at + 1])) << 16) |
               (std::uint32_t(std::uint8_t(file[at + 2])) << 8) | std::uint8_t(file[at + 3]);
    };
    for (std::size_t i = 0; i + 8 < file.size(); ++i)
        if (be32(i) == 0xfade0b01 && be32(i + 4) > 1000 && be32(i + 4) < 20000)
            return {reinterpret_cast<const std::byte*>(file.data() + i + 8), be32(i + 4) - 8};
    return {};
}

void checkVerifier(const SampleRow& s) {
    const TrustAnchors anchors = s.developerId ? TrustAnchors::appleRoots() : TrustAnchors{};
    CodeVerdict v = verifyCode(s.path, {}, anchors);
    if (s.kind) {
        EXPECT_EQ(v.kind, *s.kind);
    }
    EXPECT_EQ(v.isSigned, s.isSigned);
    if (!s.isSigned) {
        EXPECT_EQ(codeFailureSentence(v), "code object is not signed at all");
        return;
    }
    EXPECT_TRUE(v.valid) << codeFailureSentence(v) << (v.cms ? " / " + v.cms->failure : "");
    EXPECT_EQ(v.adhoc, s.adhoc);
    EXPECT_EQ(v.flags, s.flags);
    EXPECT_EQ(v.format, s.format);
    if (!s.developerId) {
        EXPECT_EQ(v.requirementsCount, 0u);
        EXPECT_FALSE(v.cms);
        return;
    }
    EXPECT_EQ(v.teamId, s.developerId->team);
    ASSERT_TRUE(v.cms);
    EXPECT_TRUE(v.cms->cdhashesMatch);
    EXPECT_TRUE(v.cms->timestampTime);
    ASSERT_EQ(v.cms->certificates.size(), 3u);
    EXPECT_EQ(v.cms->certificates[0].commonName, s.developerId->leaf);
    EXPECT_EQ(v.cms->certificates[1].commonName, "Developer ID Certification Authority");
    EXPECT_EQ(v.cms->certificates[2].commonName, "Apple Root CA");
    EXPECT_TRUE(v.cms->chainTrusted);
    // A chain Apple issues to developers: the team the code names was held against the leaf's.
    std::vector<CertificateFields> chain;
    for (const auto& c : v.cms->certificates) chain.push_back(*certificateFields(c.der));
    EXPECT_TRUE(isAppleDeveloperChain(chain, true, TrustAnchors::appleRoots().rootsDer));
    // Without Apple's root the signature is still intact and chains to its own root: valid, untrusted.
    CodeVerdict untrusted = verifyCode(s.path, {}, TrustAnchors{});
    EXPECT_TRUE(untrusted.valid) << codeFailureSentence(untrusted);
    ASSERT_TRUE(untrusted.cms);
    EXPECT_FALSE(untrusted.cms->chainTrusted);
    EXPECT_TRUE(untrusted.cms->chainValid);

    // The first slice's CMS alone, with no content given: only the chain and attributes are judged.
    const std::string file = test::readFile(s.path);
    const auto cms = firstCms(file);
    ASSERT_FALSE(cms.empty());
    CmsVerdict c = verifyDetachedCms(cms, {}, TrustAnchors::appleRoots());
    ASSERT_TRUE(c.parsed);
    EXPECT_FALSE(c.signatureValid);
    EXPECT_TRUE(c.timestampTime);
    EXPECT_TRUE(c.chain.trusted) << c.chain.failure;
    ASSERT_EQ(c.chain.chain.size(), 3u);
    EXPECT_EQ(c.chain.chain[0].kind, CertificateKind::DeveloperIDApplication);
    EXPECT_EQ(c.chain.chain[0].organizationalUnit, s.developerId->team);
    EXPECT_EQ(c.chain.chain[1].kind, CertificateKind::DeveloperIDIntermediate);
    EXPECT_EQ(c.chain.chain[1].sha256Fingerprint, "7AFC9D01A62F03A2DE9637936D4AFE68090D2DE18D03F29C88CFB0B1BA63587F");
    EXPECT_EQ(c.chain.chain[2].kind, CertificateKind::AppleRoot);
    EXPECT_FALSE(c.signedCdhashes.empty());
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
    std::vector<SampleRow> rows;
    {
        SampleRow esbuild;  // linker-signed ad hoc code
        esbuild.path = samplePath("esbuild_darwin-arm64-0.28.2/package/bin/esbuild");
        esbuild.adhoc = true;
        esbuild.flags = CS_ADHOC | CS_LINKER_SIGNED;
        esbuild.format = "Mach-O thin (arm64)";
        esbuild.display = {" flags=0x20002(adhoc,linker-signed) ", "\nCodeDirectory v=20400 ", "\nSignature=adhoc\n",
                           "\nInternal requirements=none\n"};
        rows.push_back(esbuild);
    }
    {
        SampleRow sentry;  // Developer ID, universal, hardened runtime, timestamped
        sentry.path = samplePath("sentry_cli-darwin-3.8.0/package/bin/sentry-cli");
        sentry.flags = CS_RUNTIME;
        sentry.format = "Mach-O universal (x86_64 arm64)";
        sentry.developerId = DeveloperId{"Developer ID Application: GetSentry LLC (97JCY7859U)", "97JCY7859U", false};
        sentry.display = {"\nFormat=Mach-O universal (x86_64 arm64)\n",
                          "\nCodeDirectory v=20500 ",
                          " flags=0x10000(runtime) ",
                          "\nAuthority=Developer ID Application: GetSentry LLC (97JCY7859U)\nAuthority=Developer ID "
                          "Certification Authority\nAuthority=Apple Root CA\n",
                          "\nTimestamp=",
                          "\nTeamIdentifier=97JCY7859U\n",
                          "\nCMSDigestType=2"};
        sentry.archs = {"x86_64", "arm64"};
        rows.push_back(sentry);
    }
    {
        SampleRow notifier;  // an app bundle that carries no signature
        notifier.path = samplePath("node-notifier-10.0.1/package/vendor/mac.noindex/terminal-notifier.app");
        notifier.kind = CodeKind::AppBundle;
        notifier.isSigned = false;
        notifier.displayStatus = 1;
        notifier.display = {notifier.path + ": code object is not signed at all\n"};
        rows.push_back(notifier);
    }
    // Developer ID tools judged by spctl alone (Deno's account 2023-10-30, Microsoft's 2012-02-23).
    SampleRow deno;
    deno.path = samplePath("deno_darwin-arm64-2.9.6/package/deno");
    deno.developerId = DeveloperId{"Developer ID Application: Deno Land Inc. (2H4KBF436B)", "2H4KBF436B", false};
    SampleRow tsgo;
    tsgo.path = samplePath("typescript_native-preview-darwin-arm64-7.0.0-dev.20260707.2/package/lib/tsgo");
    tsgo.developerId = DeveloperId{"Developer ID Application: Microsoft Corporation (UBF8T346G9)", "UBF8T346G9", true};

    int judged = 0;
    for (const SampleRow& s : rows) {
        if (!std::filesystem::exists(s.path)) continue;
        SCOPED_TRACE(s.path);
        ++judged;
        checkVerifier(s);
        checkCodesign(s);
        if (s.developerId) checkSpctl(s);
    }
    for (const SampleRow& s : {deno, tsgo}) {
        if (!std::filesystem::exists(s.path)) continue;
        SCOPED_TRACE(s.path);
        ++judged;
        checkSpctl(s);
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
TEST(RealSamples, ContainersMadeOnAMacShowTheCodeTheyHold) {
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
        EXPECT_EQ(app->kind, CodeItemKind::App);
        EXPECT_EQ(app->signature, SignatureKind::Certificate);
        EXPECT_EQ(app->identifier, "HRNMHC7527.ca.weblite.jdeploy.installer");
        EXPECT_EQ(app->teamId, "HRNMHC7527");
        EXPECT_EQ(app->flags, CS_RUNTIME);
        EXPECT_EQ(app->slices, std::vector<std::string>{"x86_64"});
        EXPECT_TRUE(app->timestamp);
        EXPECT_TRUE(app->chainTrusted);
        ASSERT_EQ(app->chain.size(), 3u);
        EXPECT_EQ(app->chain[0].commonName, "Developer ID Application: Web Lite Solutions Corp. (HRNMHC7527)");
        // The AppleDouble companions became attributes, not files the seal would call added.
        EXPECT_FALSE(findItem(o.tree.root, kJdeployApp + "/Contents/._app.xml"));
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

// The app is genuine and its stapled ticket names it, so it is valid and notarized as it would be
// unpacked on a Mac. Contents/app.xml is nested code whose signature lives in com.apple.cs.*
// extended attributes (a data file's signature), which the archive carries in its entries' headers.
TEST(RealSamples, AnArchivedAppWithASignedDataFileIsValidAndNotarized) {
    const std::string jar = samplePath(kJdeployJar);
    if (!std::filesystem::exists(jar)) GTEST_SKIP() << "no samples fetched: run scripts/fetch-npm-samples.sh";
    const Opened o = openContainer(jar);
    const CodeItem* app = findItem(o.tree.root, kJdeployApp);
    ASSERT_TRUE(app);
    EXPECT_TRUE(app->valid) << (app->problems.empty() ? "" : app->problems.front().where);
    EXPECT_EQ(app->notarization, NotarizationStatus::StapledTicket);
    EXPECT_EQ(app->source, AssessmentSource::NotarizedDeveloperID);
    const CodeItem* data = findItem(o.tree.root, kJdeployApp + "/Contents/app.xml");
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->valid);
    EXPECT_EQ(data->identifier, "app");
    EXPECT_EQ(data->teamId, "HRNMHC7527");
}
