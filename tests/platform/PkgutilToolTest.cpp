// The pkgutil stand-in as the app runs it: its text on standard output, one sentence on standard
// error for items it cannot judge, and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolRun.h"
#include "XarBuilder.h"

using tessarin::test::TempDir;
using tessarin::test::ToolRun;

namespace test = tessarin::test;

namespace {

ToolRun pkgutil(const std::vector<std::string>& args) { return test::runStandin("pkgutil", args); }

}  // namespace

TEST(PkgutilTool, UnsignedPackageHasNoSignatureAndFails) {
    TempDir dir;
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    test::writeFile(dir / "Plain Package.pkg", test::buildXar(o).bytes);
    ToolRun r = pkgutil({"--check-signature", dir / "Plain Package.pkg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Package \"Plain Package.pkg\":\n   Status: no signature\n");
    EXPECT_EQ(r.err, "");
}

TEST(PkgutilTool, TestChainIsNotTrustedByTheShippedTool) {
    TempDir dir;
    test::writeFile(dir / "signed.pkg", test::buildXar(test::signedProduct(test::SigningChain::shared())).bytes);
    ToolRun r = pkgutil({"--check-signature", dir / "signed.pkg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Package \"signed.pkg\":\n   Status: signed by untrusted certificate\n   Certificate Chain:\n"
                          "    1. Developer ID Installer: Test Corp (TESTTEAM01)\n       Expires: ",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("    3. Tessarin Test Root CA\n"), std::string::npos);
}

TEST(PkgutilTool, ItemsItCannotJudgeGetOneSentenceOnStandardError) {
    TempDir dir;
    test::writeFile(dir / "notes.txt", "hello");
    for (const auto& [item, sentence] : std::vector<std::pair<std::string, std::string>>{
             {dir / "missing.pkg", "pkgutil: The item " + (dir / "missing.pkg") + " does not exist.\n"},
             {dir / "notes.txt", "pkgutil: The item " + (dir / "notes.txt") + " is not an Installer package.\n"}}) {
        ToolRun r = pkgutil({"--check-signature", item});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, sentence);
    }
    ToolRun usage = pkgutil({"--expand", dir / "notes.txt"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err.rfind("Usage: pkgutil --check-signature PATH\n", 0), 0u) << usage.err;
}
