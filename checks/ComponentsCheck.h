// The item's component tree as our spctl (or codesign) lists it with --components-json, read back
// into a plain value: the app learns about every part of an item without parsing a binary itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace tessarin {

struct ComponentSlice {
    std::string architecture;  // "x86_64", "arm64", ...
    bool is64 = false;
    std::string platform;   // empty when the slice names none
    std::string minimumOS;  // "11.0"; empty with the platform
    std::string sdk;        // empty when the slice names none
};

struct ComponentScript {
    std::string name;
    std::string text;  // as stored, escaped for display; its first bytes when `truncated`
    bool truncated = false;
};

// One code item of the tree, with the members the headless views and the release gate use.
struct Component {
    std::string path;       // as the tool shows it (escaped); the outermost item's is the item's own
    std::string kind;       // "app", "framework", "link", ...
    std::string signer;     // in words: "Developer ID Application: Name (TEAM)", "ad hoc", "unsigned", ...
    std::string signature;  // "unsigned", "ad hoc", "linker-signed", "certificate"; empty for a link
    bool valid = false;
    bool trusted = false;  // signed with a certificate whose chain ends at one of Apple's roots
    std::string teamIdentifier;
    std::uint32_t flags = 0;  // CodeDirectory flags
    std::string flagNames;
    std::string notarization;  // with how it was established; empty when unsigned
    std::string target;        // a link's, as written
    std::string identifier;    // the signature's
    std::string bundleIdentifier;
    std::string bundleShortVersion;
    std::string bundleVersion;
    std::string installLocation;           // an installer package's
    std::vector<ComponentScript> scripts;  // the scripts an installer package runs
    std::vector<std::string> chain;  // common names, leaf first
    std::string timestamp;           // the secure timestamp, UTC; empty when none
    std::string signingTime;         // the signer's own claim, UTC; empty when none
    std::string entitlements;        // as indented text; empty when none
    std::string entitlementsProblem;
    std::vector<ComponentSlice> architectures;
    std::vector<std::string> weakeningEntitlements;
    std::vector<std::string> problems;
    std::vector<Component> components;

    // Whether it holds code that runs (not a link, a bundle without code, an archive or the package
    // that only carries what it installs).
    bool holdsCode() const;
};

struct ComponentFinding {
    std::string kind;  // a stable word: "other-team", "no-hardened-runtime", "32bit-only", ...
    std::string path;  // empty for the outermost item
    std::string detail;
    std::string finding;  // the sentence
};

struct ComponentsResult {
    std::string problem;  // empty when the tree was read; else one sentence naming the item
    Component item;
    std::vector<ComponentFinding> findings;
    bool walkTruncated = false;
    std::vector<std::string> notes;  // what could not be read inside a container, one sentence each
    std::string json;  // the document as the tool printed it, once it has been read without fault

    bool ok() const { return problem.empty(); }
};

inline constexpr std::uint32_t kCodeDirectoryRuntimeFlag = 0x10000;  // CS_RUNTIME

// Reads a --components-json document; `itemName` names the item in a problem's sentence.
ComponentsResult parseComponentsJson(const std::string& text, const std::string& itemName);
// Reads what a tool run printed with --components-json for `path` (`tool` names it in a problem).
ComponentsResult componentsFromRun(const ToolRun& run, const std::string& path, const char* tool);

}  // namespace tessarin
