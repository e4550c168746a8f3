// The codesign stand-in as the app runs it: its lines on standard error, its entitlements on standard
// output, and its exit status for signed, unsigned, missing and tampered items.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "RequirementBuilder.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "codesign/CodeSignatureConstants.h"
#include "plist/Plist.h"

using namespace tessarin;
using tessarin::test::Bytes;
using tessarin::test::lines;
using tessarin::test::TempDir;
using tessarin::test::ToolRun;

namespace {

constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kX86_64 = 0x01000007;

ToolRun codesign(const std::vector<std::string>& args) { return test::runStandin("codesign", args); }

// The key of each "Key=value" line, in order ("Authority" once per certificate).
std::vector<std::string> keys(const std::string& text) {
    std::vector<std::string> out;
    for (const auto& l : lines(text)) {
        std::string k = l.substr(0, l.find_first_of("= "));
        if (k == "CandidateCDHash" || k == "CandidateCDHashFull") k = l.substr(0, l.find('='));
        out.push_back(k);
    }
    return out;
}

bool hasLine(const std::string& text, const std::string& line) {
    for (const auto& l : lines(text))
        if (l == line) return true;
    return false;
}

std::string lineStarting(const std::string& text, const std::string& prefix) {
    for (const auto& l : lines(text))
        if (l.rfind(prefix, 0) == 0) return l;
    return "";
}

std::string makeSignedApp(const TempDir& dir, const std::string& name = "Example.app") {
    const std::string app = test::BundleBuilder(dir / name)
                                .info("CFBundleIdentifier", PlistValue("com.example.app"))
                                .executable("Example", test::thinMachO(kX86_64, 3))
                                .resource("a.txt", "a")
                                .resource("b.txt", "b")
                                .build();
    test::BundleSignOptions o;
    o.code.identifier = "com.example.app";
    test::signBundle(app, o);
    return app;
}

}  // namespace

// Each item's display: its lines, and what its CodeDirectory line says.
TEST(CodesignDisplay, EachItemShowsItsLines) {
    TempDir dir;
    test::SignOptions tool, team, intel, arm;
    tool.identifier = "com.example.tool";
    team.teamId = "ABCDE12345";
    team.flags = CS_RUNTIME | CS_KILL | CS_RESTRICT | CS_REQUIRE_LV;
    team.runtime = 0x000e0500;
    team.sha1Primary = false;
    intel.identifier = "intel-slice";
    arm.identifier = "arm-slice";
    test::writeFile(dir / "tool", test::signMachO(test::thinMachO(kArm64, 0), tool));
    test::writeFile(dir / "team", test::signMachO(test::thinMachO(kArm64, 0), team));
    test::writeFile(dir / "fat", test::fatMachO({test::signMachO(test::thinMachO(kX86_64, 3), intel),
                                                 test::signMachO(test::thinMachO(kArm64, 0), arm)},
                                                {{kX86_64, 3}, {kArm64, 0}}));
    const std::string app = makeSignedApp(dir);
    struct Row {
        std::vector<std::string> args;
        std::vector<std::string> lines;
        std::string codeDirectory;  // a part of the CodeDirectory line
    };
    const Row rows[] = {
        {{"-dvvv", dir / "tool"},
         {"Executable=" + dir / "tool", "Identifier=com.example.tool", "Format=Mach-O thin (arm64)",
          "Hash type=sha256 size=32", "Hash choices=sha1,sha256", "Page size=4096", "Signature=adhoc",
          "Info.plist=not bound", "TeamIdentifier=not set", "Sealed Resources=none"},
         "CodeDirectory v=20500 size="},
        {{"-dvvv", dir / "tool"}, {}, " flags=0x2(adhoc) hashes=1+2 location=embedded"},
        {{"-d", "-v", "-v", "-v", dir / "team"},
         {"Hash choices=sha256", "TeamIdentifier=ABCDE12345", "Runtime Version=14.5.0"},
         " flags=0x12a02(adhoc,kill,restrict,library-validation,runtime) "},
        {{"-dvvv", "--arch", "arm64", dir / "fat"},
         {"Format=Mach-O universal (x86_64 arm64)", "Identifier=arm-slice"},
         ""},
        {{"-dvvv", "--arch", "x86_64", dir / "fat"}, {"Identifier=intel-slice"}, ""},
        {{"-dvvv", app},
         {"Executable=" + app + "/Contents/MacOS/Example", "Format=app bundle with Mach-O thin (x86_64)",
          "Info.plist entries=5", "Sealed Resources version=2 rules=13 files=2"},
         " hashes=1+3 "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args[row.args.size() - 2] + " " + row.args.back());
        ToolRun r = codesign(row.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        for (const auto& line : row.lines) EXPECT_TRUE(hasLine(r.err, line)) << line << "\n" << r.err;
        EXPECT_NE(lineStarting(r.err, "CodeDirectory").find(row.codeDirectory), std::string::npos) << r.err;
    }
    EXPECT_NE(codesign({"-dvvv", "--arch", "ppc", dir / "fat"}).status, 0);

    // Every line of a thin file's display, in order; its CDHash is the SHA-256 directory's, cut to 40 digits.
    ToolRun r = codesign({"-dvvv", dir / "tool"});
    EXPECT_EQ(keys(r.err),
              (std::vector<std::string>{"Executable", "Identifier", "Format", "CodeDirectory", "Hash",
                                        "CandidateCDHash sha1", "CandidateCDHashFull sha1", "CandidateCDHash sha256",
                                        "CandidateCDHashFull sha256", "Hash", "Page", "CDHash", "Signature",
                                        "Info.plist", "TeamIdentifier", "Sealed", "Internal"}))
        << r.err;
    EXPECT_NE(lineStarting(r.err, "Internal requirements count=1 size="), "");
    const std::string full = lineStarting(r.err, "CandidateCDHashFull sha256=").substr(27);
    EXPECT_EQ(full.size(), 64u);
    EXPECT_EQ(lineStarting(r.err, "CDHash="), "CDHash=" + full.substr(0, 40));
    EXPECT_EQ(lineStarting(r.err, "CandidateCDHash sha256="), "CandidateCDHash sha256=" + full.substr(0, 40));

    // A ticket stapled in an app is shown.
    EXPECT_FALSE(hasLine(codesign({"-dvvv", app}).err, "Notarization Ticket=stapled"));
    test::writeFile(app + "/Contents/CodeResources", std::string("s8ch"));
    EXPECT_TRUE(hasLine(codesign({"-dvvv", app}).err, "Notarization Ticket=stapled"));
}

// Signatures kept as files in _CodeSignature: code-less bundles, whose Info.plist is hashed as their
// code, and an executable without a signature of its own, as old kernel extensions were signed.
TEST(CodesignDisplay, SignaturesKeptInFilesShowWhatTheyCover) {
    struct Case {
        const char* name;
        const char* executable;  // none: a code-less bundle
        const char* extraKey;    // in its Info.plist
        const char* format;
        const char* strictSentence;  // empty: valid under --strict too
    };
    const Case cases[] = {
        {"Strings.bundle", nullptr, "CFBundleName", "bundle", ""},
        {"Payload.pkg", nullptr, "IFMajorVersion", "installer package bundle", ""},
        {"Driver.kext", "Driver", "CFBundleName", "bundle with Mach-O thin (x86_64)",
         "resource envelope is obsolete (version 1 signature)"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string bundle = dir / c.name;
        PlistDict d;
        d["CFBundleIdentifier"] = PlistValue("com.example.strings");
        d["CFBundlePackageType"] = PlistValue("BNDL");
        d[c.extraKey] = PlistValue("1");
        if (c.executable) d["CFBundleExecutable"] = PlistValue(c.executable);
        test::writeFile(bundle + "/Contents/Info.plist", toXmlPlist(PlistValue(std::move(d))));
        test::writeFile(bundle + "/Contents/Resources/a.txt", std::string("a"));
        test::BundleSignOptions o;
        o.code.identifier = "com.example.strings";
        if (c.executable) {
            test::writeFile(bundle + "/Contents/MacOS/" + c.executable, test::thinMachO(kX86_64, 3));
            o.code.pageSizeLog2 = 0;
            o.version1Only = true;
            o.separateSignature = true;
        }
        test::signBundle(bundle, o);
        ToolRun r = codesign({"-dvvv", bundle});
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_FALSE(lines(r.err).empty());
        if (c.executable)
            EXPECT_EQ(lines(r.err)[0], "Executable=" + bundle + "/Contents/MacOS/" + c.executable) << c.name;
        else
            EXPECT_EQ(lines(r.err)[0], "Identifier=com.example.strings") << c.name;
        EXPECT_TRUE(hasLine(r.err, std::string("Format=") + c.format)) << r.err;
        EXPECT_NE(lineStarting(r.err, "CodeDirectory").find(" hashes=1+3 location=embedded"), std::string::npos)
            << r.err;
        EXPECT_TRUE(hasLine(r.err, "Page size=none")) << r.err;
        EXPECT_TRUE(hasLine(r.err, "Signature=adhoc")) << r.err;
        r = codesign({"--verify", "--deep", "--verbose", bundle});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, bundle + ": valid on disk\n" + bundle + ": satisfies its Designated Requirement\n");
        r = codesign({"--verify", "--strict", bundle});
        EXPECT_EQ(r.status, std::string(c.strictSentence).empty() ? 0 : 1) << c.name;
        EXPECT_EQ(r.err, std::string(c.strictSentence).empty() ? "" : bundle + ": " + c.strictSentence + "\n");
    }
}

// What --verify, a display and --components say of intact, tampered, unsigned and missing items: one line
// each on standard error naming the item, and the problem lines after it; entitlements and the component
// tree go to standard output.
TEST(CodesignVerify, EachVerdictIsOneLineNamingTheItem) {
    TempDir dir;
    const std::string app = makeSignedApp(dir);
    const std::string tampered = makeSignedApp(dir, "Tampered.app");
    test::writeFile(tampered + "/Contents/Resources/a.txt", std::string("A"));
    test::writeFile(tampered + "/Contents/Resources/c.txt", std::string("c"));
    const std::string modified = makeSignedApp(dir, "Modified.app");
    std::string exe = test::readFile(modified + "/Contents/MacOS/Example");
    exe[2000] ^= 1;
    test::writeFile(modified + "/Contents/MacOS/Example", exe);
    test::writeFile(dir / "plain", test::thinMachO(kX86_64, 3));
    test::writeFile(dir / "Flat.pkg", std::string("xar!\0\x1c\0\x01", 8) + std::string(64, '\0'));
    test::SignOptions o;
    o.entitlementsXml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>com.apple.security.cs.allow-jit</key>\n\t<true/>\n</dict>\n</plist>\n";
    test::writeFile(dir / "entitled", test::signMachO(test::thinMachO(kArm64, 0), o));
    const std::string notSigned = ": code object is not signed at all\n";
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string err, out = "";
        bool prefix = false;  // standard output and error start with what the row gives
    };
    const Row rows[] = {
        {{"--verify", "--deep", "--strict", "--verbose", app},
         0,
         app + ": valid on disk\n" + app + ": satisfies its Designated Requirement\n"},
        {{"-v", app}, 0, ""},
        {{"-vvv", tampered},
         1,
         tampered + ": a sealed resource is missing or invalid\nfile modified: " + tampered +
             "/Contents/Resources/a.txt\nfile added: " + tampered + "/Contents/Resources/c.txt\n"},
        {{"--verify", modified}, 1, modified + ": invalid signature (code or signature have been modified)\n"},
        {{"--verify", "--verbose", dir / "plain"}, 1, dir / "plain" + notSigned},
        {{"-dvvv", dir / "plain"}, 1, dir / "plain" + notSigned},
        {{"-dvvv", dir / "Flat.pkg"}, 1, dir / "Flat.pkg" + notSigned},
        {{"-dvvv", dir / "missing"}, 1, dir / "missing" + ": No such file or directory\n"},
        {{"/bin/true"}, 2, "Usage", "", true},  // no operation
        {{"-d", "--entitlements", "-", dir / "entitled"},
         0,
         "Executable=" + dir / "entitled" + "\n",
         *o.entitlementsXml},
        {{"--components", app}, 0, "", app + ": app, ad hoc\n  Identifier=com.example.app\n", true},
        {{"--components-json", app}, 0, "", "{\n  \"componentsVersion\": 1,\n", true},
        {{"--components", dir / "plain"}, 1, "", dir / "plain" + ": Mach-O, unsigned\n", true},
        {{"--components", dir / "missing"}, 1, dir / "missing" + ": No such file or directory\n", "", true},
        {{"--components", "-d", app}, 2, "Usage", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args.back());
        ToolRun r = codesign(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(row.prefix ? r.out.substr(0, row.out.size()) : r.out, row.out);
        EXPECT_EQ(row.prefix ? r.err.substr(0, row.err.size()) : r.err, row.err);
    }
}

// Designated requirements shown with -r- and held by --verify, and requirements given with -R: a
// requirement naming another identifier, the signer's own, an implicit one, hostile strings in one,
// and a set the reader refuses.
TEST(CodesignRequirements, EachIsShownAndHeldAsCodesignDoes) {
    TempDir dir;
    auto tool = [&](const std::string& name, std::optional<Bytes> designated, bool implicit = false) {
        test::SignOptions o;
        o.identifier = "com.example.tool";
        if (designated) o.requirements = test::RequirementBuilder::set({{kSecDesignatedRequirementType, *designated}});
        o.designatedRequirement = !implicit;
        test::writeFile(dir / name, test::signMachO(test::thinMachO(kArm64, 0), o));
        return dir / name;
    };
    const std::string other = tool("other", test::RequirementBuilder().ident("com.example.other").requirement());
    const std::string own = tool("own", std::nullopt);
    const std::string implicit = tool("implicit", std::nullopt, true);
    const std::string forged =
        tool("forged", test::RequirementBuilder().ident("x\ndesignated => anchor apple").requirement());
    const std::string broken = tool("broken", test::RequirementBuilder().word(99).requirement());
    const ToolRun shown = codesign({"-dvvv", implicit});
    const std::string sha1 = lineStarting(shown.err, "CandidateCDHash sha1=").substr(21);
    const std::string sha256 = lineStarting(shown.err, "CandidateCDHash sha256=").substr(23);
    ASSERT_EQ(sha1.size(), 40u);

    const std::string unsatisfied = ": does not satisfy its designated Requirement\n";
    auto valid = [](const std::string& t) {
        return t + ": valid on disk\n" + t + ": satisfies its Designated Requirement\n";
    };
    const std::string failed = own + ": test-requirement: code failed to satisfy specified code requirement(s)\n";
    auto cannotRead = [](const std::string& file) {
        return "test-requirement: " + file + ": cannot read the requirement\n";
    };
    test::writeFile(dir / "holds.txt", std::string("identifier \"com.example.tool\" and ! anchor apple\n"));
    test::writeFile(dir / "other.req", test::RequirementBuilder().ident("com.example.other").requirement());
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const Row rows[] = {
        {{"--verify", "--verbose", other}, 3, "", other + ": valid on disk\n" + other + unsatisfied},
        {{"-v", other}, 3, "", other + unsatisfied},
        {{"-d", "-r-", other}, 0, "designated => identifier \"com.example.other\"\n", "Executable=" + other + "\n"},
        {{"-dr-", own}, 0, "designated => identifier \"com.example.tool\"\n", "Executable=" + own + "\n"},
        {{"-vv", own}, 0, "", valid(own)},
        {{"-v", "-R=identifier \"com.example.tool\"", own}, 0, "", ""},
        {{"-vv", "-R", "=identifier com.example.tool", own}, 0, "", valid(own)},
        {{"-v", "-R=identifier \"com.example.other\"", own}, 3, "", failed},
        // Without its "=", the value names a file.
        {{"--verify", "--verbose", "--test-requirement=anchor apple generic", own},
         2,
         "",
         cannotRead("anchor apple generic")},
        {{"--verify", "--verbose", "--test-requirement", "=anchor apple generic", own}, 3, "", failed},
        {{"-v", "-R", dir / "holds.txt", own}, 0, "", ""},
        {{"-v", "-R", dir / "other.req", own}, 3, "", failed},
        {{"-v", "-R=identifier (", own}, 2, "", "test-requirement: expected an identifier, found ( (at byte 11)\n"},
        {{"-v", "-R", dir / "absent.txt", own}, 2, "", cannotRead(dir / "absent.txt")},
        {{"-d", "-r", "-", implicit},
         0,
         "# designated => cdhash H\"" + sha1 + "\" or cdhash H\"" + sha256 + "\"\n",
         "Executable=" + implicit + "\n"},
        {{"-vv", implicit}, 0, "", valid(implicit)},
        {{"-d", "-r-", forged},
         0,
         "designated => identifier 0x780a64657369676e61746564203d3e20616e63686f72206170706c65\n",
         "Executable=" + forged + "\n"},
        // A set the reader refuses is named as such, and its code satisfies nothing.
        {{"-d", "-r-", broken},
         1,
         "",
         "Executable=" + broken + "\n" + broken +
             ": the requirements set is malformed: requirement 1 of the set: the requirement uses opcode 99, "
             "which is not understood (at byte 12)\n"},
        {{"-v", broken}, 3, "", broken + unsatisfied},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[row.args.size() - 2] + " " + row.args.back());
        ToolRun r = codesign(row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.err, row.err);
    }
}
