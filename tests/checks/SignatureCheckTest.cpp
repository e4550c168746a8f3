// The two checks with fake tools: which tools run with which arguments, and what the completion shows.
#include "SignatureCheck.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "XarBuilder.h"

using namespace tessarin;
using tessarin::test::TempDir;
using tessarin::test::writeScript;

namespace {

// Fake tools that print their own name and arguments, then exit with the given status.
struct FakeTools {
    TempDir dir;
    ToolSet tools;
    void add(const char* launchPath, const std::string& name, int status, const std::string& extra = "") {
        auto script =
            writeScript(dir / name, "printf '%s' \"" + name + "\"; for a in \"$@\"; do printf ' %s' \"$a\"; done; " +
                                        extra + " exit " + std::to_string(status));
        tools.override(launchPath, script);
    }
};

}  // namespace

// Which tools each check runs, with which arguments: a Mach-O file is assessed for install, an app
// without a type, a package for install and through pkgutil; the online lookup assesses as the check did.
TEST(SignatureChecks, EachCheckRunsItsToolsWithTheirArguments) {
    FakeTools fake;
    fake.add(kSpctlPath, "spctl", 0);
    fake.add(kCodesignPath, "codesign", 0);
    fake.add(kPkgutilPath, "pkgutil", 0);
    const std::tuple<SignatureCheckState, std::string, std::string> rows[] = {
        {runMachOSignatureCheck("/x/tool", fake.tools), "spctl -a -vv -t install /x/tool", "codesign -dvvv /x/tool"},
        {runAppOrPackageSignatureCheck("/A.app", true, fake.tools), "spctl -a -vv /A.app", "codesign -dvvv /A.app"},
        {runAppOrPackageSignatureCheck("/P.pkg", false, fake.tools), "spctl -a -vv -t install /P.pkg",
         "pkgutil --check-signature /P.pkg"},
        {runOnlineNotarizationLookup("/A.app", SignatureCheckKind::App, fake.tools), "spctl -a -vv --online /A.app",
         ""},
        {runOnlineNotarizationLookup("/P.pkg", SignatureCheckKind::Package, fake.tools),
         "spctl -a -vv --online -t install /P.pkg", ""},
        {runMachOSignatureCheck("/x/tool", fake.tools, true), "spctl -a -vv --online -t install /x/tool",
         "codesign -dvvv /x/tool"},
    };
    for (const auto& [state, assessment, signature] : rows) {
        EXPECT_EQ(state.assessmentText, assessment);
        if (!signature.empty()) {
            EXPECT_EQ(state.signatureText, signature);
        }
    }
    EXPECT_TRUE(std::get<0>(rows[0]).signaturesValid);
    // An spctl that is not ours is never handed our options, and nothing else lists the tree.
    auto state = runMachOSignatureCheck("/x/tool", fake.tools, false, true);
    EXPECT_EQ(state.assessmentText, "spctl -a -vv -t install /x/tool");
    ASSERT_TRUE(state.components);
    EXPECT_EQ(state.components->problem,
              "The component list of /x/tool cannot be made: the spctl that ran is not Tessarin's own.");
}

TEST(SignatureChecks, OnlyTheOnlineLookupsOwnSourceLineTicksNotarized) {
    // The item's name may carry a source line of its own (escaped by the tool); only spctl's counts.
    const std::vector<std::pair<const char*, bool>> answers = {
        {"/A.app: accepted\\nsource=Notarized Developer ID\\n", true},
        {"/A\\\\nsource=Notarized.app: accepted\\nsource=Developer ID\\n", false},
    };
    for (const auto& [errors, notarized] : answers) {
        FakeTools answering;
        answering.add(kSpctlPath, "spctl", 0, std::string("printf '") + errors + "' >&2;");
        const OnlineLookupVerdict v =
            onlineLookupVerdict(runOnlineNotarizationLookup("/A.app", SignatureCheckKind::App, answering.tools));
        EXPECT_EQ(v.isNotarized, notarized) << v.text;
        EXPECT_EQ(v.text.rfind("\nOnline notarization lookup:\n", 0), 0u);
    }
}

// A rejection clears validity although codesign succeeds; codesign runs although spctl cannot start.
TEST(SignatureChecks, SpctlsFailureDecidesValidityAndCodesignStillRuns) {
    TempDir dir;
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {writeScript(dir / "spctl", "echo 'x: rejected' >&2; exit 3"), "\u26D4\uFE0F spctl error 3\nx: rejected\n\n",
         ""},
        {dir / "missing", "\u26D4\uFE0F spctl error 127\n", "signed"},
    };
    for (const auto& [spctl, assessment, signature] : rows) {
        ToolSet tools;
        tools.override(kSpctlPath, spctl);
        tools.override(kCodesignPath, writeScript(dir / "codesign", "printf '" + signature + "' >&2"));
        auto state = runMachOSignatureCheck("/x", tools);
        EXPECT_FALSE(state.signaturesValid);
        EXPECT_EQ(state.assessmentText.rfind(assessment, 0), 0u) << state.assessmentText;
        EXPECT_EQ(state.signatureText, signature);
    }
}

// Only spctl's own source line decides: not the item's path on the verdict line (escaped by the tool,
// or a relative name that looks like a source), a certificate name on the origin line, the whole
// text searched the old way, nor codesign's text. The headings are pinned by the window's log
// (ViewControllerTest).
TEST(SignatureVerdicts, OnlySpctlsOwnSourceLineDecides) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"p: accepted\nsource=Notarized Developer ID and more\norigin=X\n", "Notarized Developer ID and more",
         "notarized"},
        {"p: accepted\nsource=Apple System\n", "Apple System", "Apple"},
        {"p: accepted\nsource=Mac App Store\n", "Mac App Store", "App Store"},
        // Turned away for want of notarization: the source mentions it but vouches for nothing.
        {"p: rejected\nsource=Unnotarized Developer ID\n", "Unnotarized Developer ID", ""},
        {"/tmp/evil\\nsource=Notarized Developer ID.app: rejected\nsource=no usable signature\n", "no usable signature",
         ""},
        {"source=Apple System: rejected\nsource=no usable signature\n", "no usable signature", ""},
        {"p: rejected (x source=Mac App Store)\norigin=y\\nsource=Notarized\n", "", ""},
        {"source=Notarized Developer ID\n", "", ""},
    };
    for (const auto& [text, source, verdict] : rows) {
        SignatureCheckState state;
        state.assessmentText = text;
        state.assessmentSource = assessmentSourceOf(text);
        state.signatureText = "source=Notarized\nsource=Mac App Store\n";
        EXPECT_EQ(state.assessmentSource, source) << text;
        const SignatureVerdict v = signatureVerdict(state, SignatureCheckKind::App);
        EXPECT_EQ(std::string(v.isNotarized ? "notarized" : "") + (v.isApple ? "Apple" : "") +
                      (v.isAppStore ? "App Store" : ""),
                  verdict)
            << text;
    }
}

TEST(SignatureChecks, UnsignedPackageThroughOurStandInTools) {
    // No fixed launch path exists here, so the platform's tool set starts our own spctl and pkgutil.
    TempDir dir;
    tessarin::test::XarBuildOptions o;
    o.files = tessarin::test::sampleProductFiles();
    tessarin::test::writeFile(dir / "Example 1.0.pkg", tessarin::test::buildXar(o).bytes);
    auto state = runAppOrPackageSignatureCheck(dir / "Example 1.0.pkg", false, ToolSet::platform());
    EXPECT_FALSE(state.signaturesValid);
    EXPECT_EQ(state.assessmentText.rfind("\u26D4\uFE0F spctl error 3\n", 0), 0u) << state.assessmentText;
    EXPECT_EQ(state.signatureText,
              "\u26D4\uFE0F pkgutil error 1\nPackage \"Example 1.0.pkg\":\n   Status: no signature\n\n");
    auto verdict = signatureVerdict(state, SignatureCheckKind::Package);
    EXPECT_FALSE(verdict.isNotarized || verdict.isApple || verdict.isAppStore || verdict.validSignatures);
}

// The stand-in spctl on items whose names and signers try to pass for its verdict lines.
TEST(SignatureVerdicts, ForgedLinesInAPathNeverReachTheCheckBoxes) {
    TempDir dir;
    const std::string folder = dir / "evil\nsource=Notarized Developer ID\nsource=Apple System\n";
    std::filesystem::create_directories(folder);
    tessarin::test::SignOptions o;
    o.cms = tessarin::test::SigningChain::unrelated().signer(tessarin::test::LeafKind::DeveloperIDApplication);
    const std::string tool = folder + "/source=Mac App Store";
    tessarin::test::writeFile(tool, tessarin::test::signMachO(tessarin::test::thinMachO(0x01000007, 3), o));

    auto state = runMachOSignatureCheck(tool, ToolSet{});
    // The tree rides along on the same assessment without changing a byte of what the log shows.
    const SignatureCheckState withTree = runMachOSignatureCheck(tool, ToolSet{}, false, true);
    EXPECT_EQ(withTree.assessmentText, state.assessmentText);
    EXPECT_EQ(withTree.assessmentSource, state.assessmentSource);
    ASSERT_TRUE(withTree.components && withTree.components->ok()) << withTree.components->problem;
    EXPECT_EQ(withTree.components->item.kind, "Mach-O");
    EXPECT_FALSE(withTree.components->item.trusted);
    EXPECT_FALSE(state.components);
    EXPECT_FALSE(state.signaturesValid);
    EXPECT_EQ(state.assessmentSource, "no usable signature");
    EXPECT_EQ(state.assessmentText.find("\nsource=Notarized"), std::string::npos) << state.assessmentText;
    EXPECT_NE(state.assessmentText.find("evil\\nsource=Notarized Developer ID\\nsource=Apple System\\n"),
              std::string::npos)
        << state.assessmentText;
    const SignatureVerdict v = signatureVerdict(state, SignatureCheckKind::MachO);
    EXPECT_FALSE(v.isNotarized || v.isApple || v.isAppStore);
}

// A container's contents are expanded under a folder the check owns: it is gone after the check
// however the tool ended, a crash included, and only a container gets one.
TEST(SignatureChecks, TheExpansionFolderGoesWithTheCheckHoweverTheToolEnds) {
    TempDir dir;
    test::writeFile(dir / "item.zip", std::string("PK\x03\x04", 4) + std::string(60, '\0'));
    test::writeFile(dir / "tool", "plain");
    const std::string seen = dir / "seen";
    for (const char* end : {"exit 0", "kill -SEGV $$"}) {
        SCOPED_TRACE(end);
        ToolSet tools;
        // Notes where it was asked to expand, fills that folder, then ends.
        const std::string spctl =
            writeScript(dir / "spctl",
                        "u=; p=; for a in \"$@\"; do [ \"$p\" = --expand-under ] && u=$a; p=$a; done; "
                        "echo \"$u\" > '" +
                            seen + "'; [ -n \"$u\" ] && mkdir -p \"$u/x/y\" && touch \"$u/x/y/f\"; " + end);
        tools.override(kSpctlPath, spctl, true);
        tools.override(kCodesignPath, writeScript(dir / "codesign", "exit 0"));
        for (const std::string& item : {dir / "item.zip", dir / "tool"}) {
            runMachOSignatureCheck(item, tools, false, true);
            std::string folder = test::readFile(seen);
            folder = folder.substr(0, folder.find('\n'));
            EXPECT_EQ(folder.empty(), item == dir / "tool") << folder;
            if (!folder.empty()) {
                EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
            }
        }
    }
}
