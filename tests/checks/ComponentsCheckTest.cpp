// The component list read back from codesign --components-json: a good document becomes the tree,
// anything else one sentence naming the item.
#include "ComponentsCheck.h"

#include <gtest/gtest.h>

#include "TempDir.h"

using namespace tessarin;

namespace {

const char* const kGood = R"j({"componentsVersion": 1, "walkTruncated": false,
  "findings": [{"kind": "adhoc-inside", "path": "Contents/Frameworks/A.framework", "detail": "", "finding": "f"}],
  "item": {"path": "/x/A.app", "kind": "app", "signer": "Developer ID Application: A (T1)", "signature": "certificate",
    "valid": true, "teamIdentifier": "T1", "flags": 65536, "flagNames": "runtime", "notarization": "n",
    "architectures": [{"architecture": "arm64", "64bit": true, "platform": "macOS"}],
    "weakeningEntitlements": [], "problems": [],
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
        {"too deep",
         std::string(R"({"componentsVersion": 1, "findings": [], "walkTruncated": false, "item": )") +
             [] {
                 std::string open, close;
                 for (int i = 0; i < 300; ++i) {
                     open += R"({"path": "p", "kind": "app", "components": [)";
                     close += "]}";
                 }
                 return open + close;
             }() +
             "}",
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

TEST(ComponentsCheck, AToolThatPrintsNothingIsNamedWithItsReason) {
    test::TempDir dir;
    ToolSet tools;
    tools.override(kCodesignPath,
                   test::writeScript(dir / "codesign", "echo '/x/A.app: No such file or directory' >&2; exit 1"));
    const ComponentsResult result = runComponentsCheck("/x/A.app", tools);
    EXPECT_EQ(result.problem, "codesign listed no components of /x/A.app (/x/A.app: No such file or directory).");
}
