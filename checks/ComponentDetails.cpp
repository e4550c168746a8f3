// The texts are composed from what the stand-in printed, which has already escaped every name the
// item supplied; nothing here interprets them.
#include "ComponentDetails.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tessarin {

namespace {

bool signedWithSomething(const Component& c) {
    return c.signature == "certificate" || c.signature == "ad hoc" || c.signature == "linker-signed";
}

bool isWeakening(const Component& c, const std::string& entitlement) {
    return std::find(c.weakeningEntitlements.begin(), c.weakeningEntitlements.end(), entitlement) !=
           c.weakeningEntitlements.end();
}

// The entitlements text with each weakening entitlement's line marked where it stands.
std::string markedEntitlements(const Component& c) {
    std::string out;
    std::size_t start = 0;
    while (start < c.entitlements.size()) {
        std::size_t end = c.entitlements.find('\n', start);
        if (end == std::string::npos) end = c.entitlements.size();
        const std::string line = c.entitlements.substr(start, end - start);
        out += "  " + line;
        if (line.empty() || line[0] != ' ') {
            const std::string key = line.substr(0, line.find_first_of(" :"));
            if (isWeakening(c, key)) out += "   \u26A0\uFE0F weakens the hardened runtime";
        }
        out += '\n';
        start = end + 1;
    }
    return out;
}

void line(std::string& out, const char* label, const std::string& value) {
    if (!value.empty()) out += std::string(label) + ": " + value + "\n";
}

}  // namespace

ComponentBadge componentBadge(const Component& c) {
    if (c.kind == "link") return ComponentBadge::Link;
    if (!c.holdsCode()) return ComponentBadge::NoCode;
    if (c.signature == "unsigned" || c.signature.empty()) return ComponentBadge::Unsigned;
    if (!c.valid) return ComponentBadge::Invalid;
    if (c.signature == "certificate") return c.trusted ? ComponentBadge::Signed : ComponentBadge::Untrusted;
    return ComponentBadge::AdHoc;
}

std::string runtimeWords(const Component& c) {
    if (!c.holdsCode() || !signedWithSomething(c)) return "";
    return (c.flags & kCodeDirectoryRuntimeFlag) ? "runtime" : "no runtime";
}

std::string componentDetailsText(const Component& c) {
    std::string out = c.path + "\n";
    line(out, "Kind", c.kind);
    if (c.kind == "link") {
        line(out, "Points to", c.target.empty() ? std::string("(nothing)") : c.target);
        out += "Links are shown, never followed.\n";
        return out;
    }
    line(out, "Signer", c.signer);
    line(out, "Identifier", c.identifier);
    if (!c.bundleIdentifier.empty()) {
        std::string bundle = c.bundleIdentifier;
        if (!c.bundleShortVersion.empty()) bundle += " " + c.bundleShortVersion;
        if (!c.bundleVersion.empty()) bundle += " (" + c.bundleVersion + ")";
        line(out, "Bundle", bundle);
    }
    line(out, "Team", c.teamIdentifier);
    if (!c.chain.empty()) {
        out += "Chain:\n";
        for (std::size_t i = 0; i < c.chain.size(); ++i)
            out += std::string(2 + 2 * i, ' ') + (i ? "\u2514 " : "") + c.chain[i] + "\n";
    }
    if (!c.timestamp.empty())
        line(out, "Signed", c.timestamp + " (secure timestamp)");
    else if (!c.signingTime.empty())
        line(out, "Signed", c.signingTime + " (the signer's own clock)");
    if (signedWithSomething(c)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", c.flags);
        line(out, "Flags", c.flagNames.empty() ? std::string(hex) : c.flagNames + " (" + hex + ")");
        line(out, "Hardened runtime", (c.flags & kCodeDirectoryRuntimeFlag) ? "yes" : "no");
    }
    line(out, "Notarization", c.notarization);
    for (const ComponentSlice& s : c.architectures) {
        std::string slice = s.architecture + (s.is64 ? "" : " (32-bit)");
        if (!s.platform.empty()) {
            slice += ": " + s.platform;
            if (!s.minimumOS.empty()) slice += " " + s.minimumOS + " or later";
            if (!s.sdk.empty()) slice += ", SDK " + s.sdk;
        }
        line(out, "Architecture", slice);
    }
    if (!c.entitlements.empty()) out += "Entitlements:\n" + markedEntitlements(c);
    line(out, "Entitlements unreadable", c.entitlementsProblem);
    line(out, "Installs into", c.installLocation);
    for (const ComponentScript& script : c.scripts) {
        // Shown as text, indented, for reading: nothing in it is run or followed.
        out += "Script " + script.name + (script.truncated ? " (its beginning):\n" : ":\n");
        std::string text = script.text;
        if (!text.empty() && text.back() != '\n') text += '\n';
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            out += "  " + text.substr(at, end - at + 1);
            at = end + 1;
        }
    }
    if (!c.problems.empty()) {
        out += "Problems:\n";
        for (const std::string& p : c.problems) out += "  \u26D4\uFE0F " + p + "\n";
    }
    return out;
}

std::string componentsSummary(const ComponentsResult& components) {
    if (!components.ok()) return components.problem;
    std::array<int, 7> counts{};
    int total = 0;
    auto count = [&](auto&& self, const Component& c) -> void {
        if (c.holdsCode()) {
            ++counts[static_cast<std::size_t>(componentBadge(c))];
            ++total;
        }
        for (const Component& child : c.components) self(self, child);
    };
    count(count, components.item);
    std::string out = std::to_string(total) + (total == 1 ? " code item" : " code items");
    const std::array<const char*, 5> names = {"signed", "from an untrusted root", "ad hoc", "unsigned", "invalid"};
    std::string parts;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (counts[i]) parts += (parts.empty() ? "" : ", ") + std::to_string(counts[i]) + " " + names[i];
    if (!parts.empty()) out += ": " + parts;
    const std::size_t findings = components.findings.size();
    out += findings ? "; " + std::to_string(findings) + (findings == 1 ? " finding" : " findings") : "";
    if (components.walkTruncated) out += "; the walk stopped at its limit";
    if (!components.notes.empty()) out += "; some of it could not be read";
    return out;
}

}  // namespace tessarin
