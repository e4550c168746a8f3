// The pkgutil stand-in as the app runs it: its text on standard output, one sentence on standard
// error for items it cannot judge, and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolRun.h"
#include "XarBuilder.h"

namespace test = tessarin::test;

TEST(PkgutilTool, EachItemGetsItsStatusTextOrOneSentence) {
    test::TempDir dir;
    test::XarBuildOptions plain;
    plain.files = test::sampleProductFiles();
    test::writeFile(dir / "Plain Package.pkg", test::buildXar(plain).bytes);
    test::writeFile(dir / "signed.pkg", test::buildXar(test::signedProduct(test::SigningChain::shared())).bytes);
    test::writeFile(dir / "notes.txt", "hello");
    struct Row {
        std::vector<std::string> args;
        std::string outStart, err;  // the text standard output starts with; standard error in full (or its start)
    };
    const Row rows[] = {
        {{"--check-signature", dir / "Plain Package.pkg"},
         "Package \"Plain Package.pkg\":\n   Status: no signature\n",
         ""},
        // The shipped tool trusts only Apple's roots, never the test chain.
        {{"--check-signature", dir / "signed.pkg"},
         "Package \"signed.pkg\":\n   Status: signed by untrusted certificate\n   Certificate Chain:\n"
         "    1. Developer ID Installer: Test Corp (TESTTEAM01)\n       Expires: ",
         ""},
        {{"--check-signature", dir / "missing.pkg"},
         "",
         "pkgutil: The item " + (dir / "missing.pkg") + " does not exist.\n"},
        {{"--check-signature", dir / "notes.txt"},
         "",
         "pkgutil: The item " + (dir / "notes.txt") + " is not an Installer package.\n"},
        {{"--expand", dir / "notes.txt"}, "", "Usage: pkgutil --check-signature PATH\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[1]);
        test::ToolRun r = test::runStandin("pkgutil", row.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.rfind(row.outStart, 0), 0u) << r.out;
        // Only the signed package's text goes on past what the row gives: its chain.
        if (row.args[1] == dir / "signed.pkg")
            EXPECT_NE(r.out.find("    3. Tessarin Test Root CA\n"), std::string::npos) << r.out;
        else
            EXPECT_EQ(r.out, row.outStart);
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << r.err;
        if (row.args[0] == "--check-signature") {
            EXPECT_EQ(r.err, row.err);
        }
    }
}
