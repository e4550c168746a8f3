// The component list read back from codesign --components-json: a good document becomes the tree,
// anything else one sentence naming the item.
#include "ComponentsCheck.h"

#include "ComponentDetails.h"

#include <gtest/gtest.h>

#include "TempDir.h"

using namespace tessarin;

namespace {

const char* const kGood = R"j({"componentsVersion": 1, "walkTruncated": false,
  "findings": [{"kind": "adhoc-inside", "path": "Contents/Frameworks/A.framework", "detail": "", "finding": "f"}],
  "item": {"path": "/x/A.app", "kind": "app", "signer": "Developer ID Application: A (T1)", "signature": "certificate",
    "valid": true, "trusted": true, "teamIdentifier": "T1", "flags": 65536, "flagNames": "runtime", "notarization": "n",
    "identifier": "com.a", "bundleIdentifier": "com.a", "bundleShortVersion": "2.0", "bundleVersion": "20",
    "chain": ["Developer ID Application: A (T1)", "Developer ID Certification Authority", "Apple Root CA"],
    "timestamp": "2024-05-01T10:00:00Z",
    "entitlements": {"com.apple.security.cs.allow-jit": true, "com.apple.security.application-groups": ["g1", "g2"],
      "x.nested": {"k": 3}},
    "architectures": [{"architecture": "arm64", "64bit": true, "platform": "macOS", "minimumOS": "11.0", "sdk": "14.2"}],
    "weakeningEntitlements": ["com.apple.security.cs.allow-jit"], "problems": [],
    "components": [{"path": "Contents/Frameworks/A.framework", "kind": "framework", "signer": "ad hoc",
      "signature": "ad hoc", "valid": true, "architectures": [], "components": []}]}})j";

struct Row {
    const char* name;
    std::string document;
    const char* problem;  // empty: read
};

}  // namespace

TEST(ComponentsCheck, GoodDocumentsAreReadAndAnythingElseIsOneSentence) {
    auto without = [](std::string s, const std::string& what, const std::string& with = "") {
        return s.replace(s.find(what), what.size(), with);
    };
    const Row rows[] = {
        {"good", kGood, ""},
        {"not JSON", "codesign: oops", "The component list of /x/A.app is not a JSON object."},
        {"truncated", std::string(kGood).substr(0, 200), "is not a JSON object"},
        {"an array", "[1]", "is not a JSON object"},
        {"other version", without(kGood, "\"componentsVersion\": 1", "\"componentsVersion\": 2"), "version is not 1"},
        {"no item", without(kGood, "\"item\"", "\"thing\""), "it has no \"item\""},
        {"flags as text", without(kGood, "65536", "\"65536\""), "\"flags\" is not a 32-bit number"},
        {"flags too wide", without(kGood, "65536", "4294967296"), "\"flags\" is not a 32-bit number"},
        {"a component not an object", without(kGood, "\"components\": []", "\"components\": [7]"),
         "a component is not an object"},
        {"problems not text", without(kGood, "\"problems\": []", "\"problems\": [1]"), "holds something other"},
        {"trusted as text", without(kGood, "\"trusted\": true", "\"trusted\": \"yes\""), "\"trusted\" is not true"},
        {"entitlements not a dictionary", without(kGood, "\"entitlements\": {", "\"entitlements\": 5, \"x\": {"),
         "\"entitlements\" is not an object"},
        {"too deep",
         R"({"componentsVersion": 1, "findings": [], "walkTruncated": false, "item": )" +
             test::repeat(R"({"path": "p", "kind": "app", "components": [)", 300) + test::repeat("]}", 300) + "}",
         "deeper than any walk"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ComponentsResult result = parseComponentsJson(row.document, "/x/A.app");
        if (*row.problem == '\0') {
            ASSERT_TRUE(result.ok()) << result.problem;
            EXPECT_EQ(result.item.teamIdentifier, "T1");
            EXPECT_EQ(result.item.flags & kCodeDirectoryRuntimeFlag, kCodeDirectoryRuntimeFlag);
            ASSERT_EQ(result.item.components.size(), 1u);
            EXPECT_EQ(result.item.components[0].signature, "ad hoc");
            ASSERT_EQ(result.findings.size(), 1u);
            EXPECT_EQ(result.findings[0].kind, "adhoc-inside");
            EXPECT_EQ(result.json, row.document);
        } else {
            EXPECT_NE(result.problem.find(row.problem), std::string::npos) << result.problem;
            EXPECT_EQ(result.problem.rfind("The component list of /x/A.app", 0), 0u) << result.problem;
            EXPECT_TRUE(result.item.components.empty());
        }
    }
}

TEST(ComponentDetails, BadgesAndDetailsSayWhatTheListSays) {
    const ComponentsResult result = parseComponentsJson(kGood, "/x/A.app");
    ASSERT_TRUE(result.ok()) << result.problem;
    const Component& app = result.item;
    EXPECT_EQ(componentsSummary(result), "2 code items: 1 signed, 1 ad hoc; 1 finding");

    struct BadgeRow {
        const char* name;
        void (*change)(Component&);
        ComponentBadge badge;
    };
    const BadgeRow badges[] = {
        {"trusted certificate", [](Component&) {}, ComponentBadge::Signed},
        {"another root", [](Component& c) { c.trusted = false; }, ComponentBadge::Untrusted},
        {"broken", [](Component& c) { c.valid = false; }, ComponentBadge::Invalid},
        {"ad hoc", [](Component& c) { c.signature = "linker-signed"; }, ComponentBadge::AdHoc},
        {"unsigned",
         [](Component& c) {
             c.signature = "unsigned";
             c.valid = false;
         },
         ComponentBadge::Unsigned},
        {"link", [](Component& c) { c.kind = "link"; }, ComponentBadge::Link},
        {"no code", [](Component& c) { c.kind = "bundle without code"; }, ComponentBadge::NoCode},
    };
    for (const BadgeRow& row : badges) {
        SCOPED_TRACE(row.name);
        Component c = app;
        row.change(c);
        EXPECT_EQ(componentBadge(c), row.badge);
    }

    const std::string details = componentDetailsText(app);
    for (const char* expected : {
             "/x/A.app\nKind: app\nSigner: Developer ID Application: A (T1)\nIdentifier: com.a\n",
             "Bundle: com.a 2.0 (20)\nTeam: T1\n",
             "Chain:\n  Developer ID Application: A (T1)\n    \u2514 Developer ID Certification Authority\n"
             "      \u2514 Apple Root CA\n",
             "Signed: 2024-05-01T10:00:00Z (secure timestamp)\nFlags: runtime (0x10000)\nHardened runtime: yes\n",
             "Architecture: arm64: macOS 11.0 or later, SDK 14.2\n",
             "Entitlements:\n  com.apple.security.application-groups:\n    - g1\n    - g2\n"
             "  com.apple.security.cs.allow-jit = true   \u26A0\uFE0F weakens the hardened runtime\n"
             "  x.nested:\n    k = 3\n",
         })
        EXPECT_NE(details.find(expected), std::string::npos) << expected << "\n---\n" << details;
    EXPECT_EQ(runtimeWords(app), "runtime");
    EXPECT_EQ(runtimeWords(app.components[0]), "no runtime");

    // A package's scripts are read back and shown as text; a container's notes ride along.
    const ComponentsResult pkg = parseComponentsJson(R"j({"componentsVersion": 1, "walkTruncated": false,
      "findings": [], "notes": ["x.pkg: a note"], "item": {"path": "/x/x.pkg", "kind": "installer package",
      "signer": "unsigned", "signature": "unsigned", "installLocation": "/Applications",
      "scripts": [{"name": "postinstall", "text": "#!/bin/sh\necho hi", "truncated": true}],
      "architectures": [], "components": []}})j",
                                                     "/x/x.pkg");
    ASSERT_TRUE(pkg.ok()) << pkg.problem;
    EXPECT_EQ(pkg.notes, std::vector<std::string>{"x.pkg: a note"});
    EXPECT_FALSE(pkg.item.holdsCode());
    const std::string script =
        "Installs into: /Applications\nScript postinstall (its beginning):\n  #!/bin/sh\n  echo hi\n";
    EXPECT_NE(componentDetailsText(pkg.item).find(script), std::string::npos) << componentDetailsText(pkg.item);
}

TEST(ComponentsCheck, AToolThatPrintsNothingIsNamedWithItsReason) {
    const ToolRun run{1, "", "/x/A.app: No such file or directory\n"};
    EXPECT_EQ(componentsFromRun(run, "/x/A.app", "spctl").problem,
              "spctl listed no components of /x/A.app (/x/A.app: No such file or directory).");
}
