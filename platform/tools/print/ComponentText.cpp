// Words for the component tree: signer, kind, platform and notarization phrases, and the text and
// JSON forms of the whole tree.
#include "tools/print/ComponentText.h"

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "base/Hex.h"
#include "codesign/CodeSignatureConstants.h"
#include "tools/print/CodeText.h"
#include "tools/print/Printable.h"

namespace tessarin {
namespace {

std::string utcTime(std::time_t t) {
    std::tm tm{};
    char text[32];
    if (!::gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "?";
    return text;
}

std::string problemSentence(ProblemKind kind) {
    CodeVerdict v;
    v.cause = kind;
    return codeFailureSentence(v);
}

std::string problemLine(const Problem& p) {
    switch (p.kind) {
    case ProblemKind::FileAdded: return "file added: " + printable(p.where);
    case ProblemKind::FileModified:
    case ProblemKind::NestedCodeModified: return "file modified: " + printable(p.where);
    case ProblemKind::FileMissing: return "file missing: " + printable(p.where);
    case ProblemKind::NestedCodeInvalid: return "nested code is invalid: " + printable(p.where);
    default: return problemSentence(p.kind) + (p.where.empty() ? "" : ": " + printable(p.where));
    }
}

std::string shownPath(const CodeItem& item) {
    return printable(item.relativePath.empty() ? item.path : item.relativePath);
}

std::string sliceText(const SliceFacts& s) {
    std::string text = s.architecture;
    if (s.build) {
        text += " (" + platformName(s.build->platform) + " " + osVersionText(s.build->minos);
        if (s.build->sdk) text += ", SDK " + osVersionText(s.build->sdk);
        text += ")";
    }
    return text;
}

std::string plistText(const PlistValue& v) {
    if (auto b = v.boolean()) return *b ? "true" : "false";
    if (auto n = v.integer()) return std::to_string(*n);
    if (auto s = v.string()) return "\"" + printable(*s) + "\"";
    if (auto a = v.array()) {
        std::string out = "(";
        for (std::size_t i = 0; i < a->size(); ++i) out += (i ? ", " : "") + plistText((*a)[i]);
        return out + ")";
    }
    if (auto d = v.dict()) {
        std::string out = "{";
        bool first = true;
        for (const auto& [k, m] : *d) {
            out += (first ? "" : ", ") + printable(k) + " = " + plistText(m);
            first = false;
        }
        return out + "}";
    }
    return "<value>";
}

void itemText(const CodeItem& item, int depth, std::string& out) {
    const std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
    auto line = [&](const std::string& text) { out += pad + "  " + text + "\n"; };
    if (item.kind == CodeItemKind::Link) {
        out += pad + shownPath(item) + ": link -> " + printable(item.linkTarget) + "\n";
        return;
    }
    out += pad + shownPath(item) + ": " + componentKindName(item) + ", " + signerWords(item) + "\n";
    if (!item.identifier.empty()) line("Identifier=" + printable(item.identifier));
    if (!item.bundleIdentifier.empty() || !item.bundleShortVersion.empty() || !item.bundleVersion.empty()) {
        std::string b = "Bundle=" + printable(item.bundleIdentifier);
        if (!item.bundleShortVersion.empty()) b += " " + printable(item.bundleShortVersion);
        if (!item.bundleVersion.empty()) b += " (" + printable(item.bundleVersion) + ")";
        line(b);
    }
    if (!item.installLocation.empty()) line("InstallLocation=" + printable(item.installLocation));
    if (!item.scripts.empty()) {
        std::string names = "Scripts=";
        for (std::size_t i = 0; i < item.scripts.size(); ++i) names += (i ? " " : "") + printable(item.scripts[i].name);
        line(names);
    }
    if (!item.sliceFacts.empty()) {
        std::string a = "Architectures=";
        for (std::size_t i = 0; i < item.sliceFacts.size(); ++i) a += (i ? " " : "") + sliceText(item.sliceFacts[i]);
        line(a);
    }
    if (item.signature != SignatureKind::Unsigned) {
        line("TeamIdentifier=" + (item.teamId.empty() ? std::string("not set") : printable(item.teamId)));
        line("CodeDirectory flags=" + hexNumber(item.flags) + "(" + codeDirectoryFlagNames(item.flags) + ")");
        for (const auto& c : item.chain) line("Authority=" + printable(c.commonName));
        if (item.timestamp)
            line("Timestamp=" + utcTime(*item.timestamp));
        else if (item.signingTime)
            line("Signed Time=" + utcTime(*item.signingTime));
        line("Notarization=" + notarizationWords(item.notarization));
    }
    if (item.entitlements && item.entitlements->dict()) {
        for (const auto& [key, value] : *item.entitlements->dict()) {
            const bool weak = std::find(item.weakeningEntitlements.begin(), item.weakeningEntitlements.end(), key) !=
                              item.weakeningEntitlements.end();
            line("Entitlement " + printable(key) + "=" + plistText(value) + (weak ? " (weakens the runtime)" : ""));
        }
    }
    if (!item.entitlementsProblem.empty()) line("Entitlements unreadable: " + printable(item.entitlementsProblem));
    for (const auto& p : item.problems) line("Problem: " + problemLine(p));
    for (const auto& c : item.children) itemText(c, depth + 1, out);
}

nlohmann::json plistJson(const PlistValue& v) {
    if (auto b = v.boolean()) return *b;
    if (auto n = v.integer()) return *n;
    if (auto r = v.real()) return *r;
    if (auto s = v.string()) return printable(*s);
    if (auto a = v.array()) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& e : *a) out.push_back(plistJson(e));
        return out;
    }
    if (auto d = v.dict()) {
        nlohmann::json out = nlohmann::json::object();
        for (const auto& [k, m] : *d) out[printable(k)] = plistJson(m);
        return out;
    }
    return nullptr;
}

const char* signatureName(SignatureKind k) {
    switch (k) {
    case SignatureKind::Unsigned: return "unsigned";
    case SignatureKind::AdHoc: return "ad hoc";
    case SignatureKind::LinkerSigned: return "linker-signed";
    case SignatureKind::Certificate: return "certificate";
    }
    return "";
}

nlohmann::json itemJson(const CodeItem& item) {
    nlohmann::json j;
    j["path"] = shownPath(item);
    j["kind"] = componentKindName(item);
    if (item.kind == CodeItemKind::Link) {
        j["target"] = printable(item.linkTarget);
        return j;
    }
    j["signer"] = signerWords(item);
    j["signature"] = signatureName(item.signature);
    j["valid"] = item.valid;
    if (!item.bundleIdentifier.empty()) j["bundleIdentifier"] = printable(item.bundleIdentifier);
    if (!item.bundleShortVersion.empty()) j["bundleShortVersion"] = printable(item.bundleShortVersion);
    if (!item.bundleVersion.empty()) j["bundleVersion"] = printable(item.bundleVersion);
    if (!item.installLocation.empty()) j["installLocation"] = printable(item.installLocation);
    if (!item.scripts.empty()) {
        nlohmann::json scripts = nlohmann::json::array();
        for (const auto& script : item.scripts)
            scripts.push_back({{"name", printable(script.name)},
                               {"text", displayText(script.text, DisplayAs::Lines)},
                               {"truncated", script.truncated}});
        j["scripts"] = std::move(scripts);
    }
    nlohmann::json slices = nlohmann::json::array();
    for (const auto& s : item.sliceFacts) {
        nlohmann::json sj = {{"architecture", s.architecture}, {"64bit", s.is64}};
        if (s.build) {
            sj["platform"] = platformName(s.build->platform);
            sj["minimumOS"] = osVersionText(s.build->minos);
            if (s.build->sdk) sj["sdk"] = osVersionText(s.build->sdk);
        }
        slices.push_back(std::move(sj));
    }
    j["architectures"] = std::move(slices);
    if (item.signature != SignatureKind::Unsigned) {
        j["identifier"] = printable(item.identifier);
        j["teamIdentifier"] = printable(item.teamId);
        j["flags"] = item.flags;
        j["flagNames"] = codeDirectoryFlagNames(item.flags);
        nlohmann::json chain = nlohmann::json::array();
        for (const auto& c : item.chain) chain.push_back(printable(c.commonName));
        j["chain"] = std::move(chain);
        if (item.signature == SignatureKind::Certificate) j["trusted"] = item.chainTrusted;
        if (item.timestamp) j["timestamp"] = utcTime(*item.timestamp);
        if (item.signingTime) j["signingTime"] = utcTime(*item.signingTime);
        j["notarization"] = notarizationWords(item.notarization);
    }
    if (item.entitlements) j["entitlements"] = plistJson(*item.entitlements);
    if (!item.entitlementsProblem.empty()) j["entitlementsProblem"] = printable(item.entitlementsProblem);
    nlohmann::json weak = nlohmann::json::array();
    for (const auto& w : item.weakeningEntitlements) weak.push_back(printable(w));
    j["weakeningEntitlements"] = std::move(weak);
    nlohmann::json problems = nlohmann::json::array();
    for (const auto& p : item.problems) problems.push_back(problemLine(p));
    j["problems"] = std::move(problems);
    nlohmann::json children = nlohmann::json::array();
    for (const auto& c : item.children) children.push_back(itemJson(c));
    j["components"] = std::move(children);
    return j;
}

}  // namespace

std::string signerWords(const CodeItem& item) {
    // A zip or tar archive has nowhere to keep a signature: "unsigned" would suggest one is missing.
    if (item.kind == CodeItemKind::Archive) return "none (archives carry no signature)";
    switch (item.signature) {
    case SignatureKind::Unsigned: return "unsigned";
    case SignatureKind::AdHoc:
    case SignatureKind::LinkerSigned:
    case SignatureKind::Certificate: break;
    }
    if (!item.valid)
        return "invalid: " + (item.problems.empty() ? problemSentence(item.cause) : problemLine(item.problems.front()));
    if (item.signature == SignatureKind::AdHoc) return "ad hoc";
    if (item.signature == SignatureKind::LinkerSigned) return "linker-signed (ad hoc)";
    if (item.source == AssessmentSource::AppleSystem) return "Apple";
    if (item.source == AssessmentSource::MacAppStore) return "Mac App Store";
    if (item.chain.empty()) return "no certificates";
    const std::string leaf = printable(item.chain.front().commonName);
    return item.chainTrusted ? leaf : leaf + " (not from a trusted root)";
}

std::string componentKindName(const CodeItem& item) {
    switch (item.kind) {
    case CodeItemKind::MachO: return "Mach-O";
    case CodeItemKind::App: return "app";
    case CodeItemKind::Framework: return "framework";
    case CodeItemKind::PlugIn: return "plug-in (" + std::filesystem::path(item.path).extension().string() + ")";
    case CodeItemKind::OtherBundle: return "bundle";
    case CodeItemKind::CodelessBundle: return "bundle without code";
    case CodeItemKind::NotCode: return "not code";
    case CodeItemKind::Dylib: return "library";
    case CodeItemKind::XpcService: return "XPC service";
    case CodeItemKind::LoginItem: return "login item";
    case CodeItemKind::SystemExtension: return "system extension";
    case CodeItemKind::HelperApp: return "helper app";
    case CodeItemKind::HelperTool: return "helper tool";
    case CodeItemKind::NestedApp: return "nested app";
    case CodeItemKind::DetachedSignature: return "bundle with a detached signature";
    case CodeItemKind::LooseMachO: return "loose Mach-O";
    case CodeItemKind::Link: return "link";
    case CodeItemKind::DiskImage: return "disk image";
    case CodeItemKind::Archive: return "archive";
    case CodeItemKind::InstallerPackage: return "installer package";
    case CodeItemKind::SignedFile: return "signed file";
    }
    return "";
}

std::string platformName(std::uint32_t platform) {
    switch (platform) {
    case PLATFORM_MACOS: return "macOS";
    case PLATFORM_IOS: return "iOS";
    case PLATFORM_TVOS: return "tvOS";
    case PLATFORM_WATCHOS: return "watchOS";
    case PLATFORM_BRIDGEOS: return "bridgeOS";
    case PLATFORM_MACCATALYST: return "Mac Catalyst";
    case PLATFORM_IOSSIMULATOR: return "iOS Simulator";
    case PLATFORM_TVOSSIMULATOR: return "tvOS Simulator";
    case PLATFORM_WATCHOSSIMULATOR: return "watchOS Simulator";
    case PLATFORM_DRIVERKIT: return "DriverKit";
    case PLATFORM_VISIONOS: return "visionOS";
    case PLATFORM_VISIONOSSIMULATOR: return "visionOS Simulator";
    default: return "platform " + std::to_string(platform);
    }
}

std::string osVersionText(std::uint32_t v) {
    std::string text = std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff);
    if (v & 0xff) text += "." + std::to_string(v & 0xff);
    return text;
}

std::string notarizationWords(NotarizationStatus status) {
    switch (status) {
    case NotarizationStatus::NotApplicable: return "not applicable";
    case NotarizationStatus::StapledTicket: return "notarized (its stapled ticket names it)";
    case NotarizationStatus::ContainerTicket: return "notarized (the ticket stapled to the item names it)";
    case NotarizationStatus::ConfirmedOnline: return "notarized (confirmed online)";
    case NotarizationStatus::NotEstablished: return "not established offline";
    case NotarizationStatus::NotPossible:
        return "not possible (signed after notarization began requiring the hardened runtime, without it)";
    }
    return "";
}

std::string treeFindingLine(const TreeFinding& f) {
    const std::string where = f.relativePath.empty() ? std::string("the item") : printable(f.relativePath);
    switch (f.kind) {
    case TreeFindingKind::OtherTeam:
        return where + " is signed by another team" +
               (f.detail.empty() ? std::string(" (none named)") : " (" + printable(f.detail) + ")");
    case TreeFindingKind::UnsignedInDeveloperId: return where + " is unsigned inside Developer ID code";
    case TreeFindingKind::AdHocInDeveloperId: return where + " is signed ad hoc inside Developer ID code";
    case TreeFindingKind::NoHardenedRuntime: return where + " runs without the hardened runtime the item has";
    case TreeFindingKind::WeakeningEntitlement:
        return where + " has " + printable(f.detail) + ", which weakens the runtime";
    case TreeFindingKind::ThirtyTwoBitOnly: return where + " is 32-bit only";
    }
    return where;
}

const char* treeFindingToken(TreeFindingKind kind) {
    switch (kind) {
    case TreeFindingKind::OtherTeam: return "other-team";
    case TreeFindingKind::UnsignedInDeveloperId: return "unsigned-inside";
    case TreeFindingKind::AdHocInDeveloperId: return "adhoc-inside";
    case TreeFindingKind::NoHardenedRuntime: return "no-hardened-runtime";
    case TreeFindingKind::WeakeningEntitlement: return "weakening-entitlement";
    case TreeFindingKind::ThirtyTwoBitOnly: return "32bit-only";
    }
    return "";
}

std::string componentTreeText(const ComponentTree& tree) {
    std::string out;
    itemText(tree.root, 0, out);
    if (tree.walkTruncated) out += "The walk stopped at its limit: components beyond it are not shown.\n";
    for (const auto& note : tree.notes) out += displayText(note, DisplayAs::Lines) + "\n";
    if (!tree.findings.empty()) {
        out += "Findings:\n";
        for (const auto& f : tree.findings) out += "  " + treeFindingLine(f) + "\n";
    }
    return out;
}

std::string componentTreeJson(const ComponentTree& tree) {
    nlohmann::json j;
    j["componentsVersion"] = 1;  // raised when a member changes meaning
    j["item"] = itemJson(tree.root);
    j["walkTruncated"] = tree.walkTruncated;
    nlohmann::json findings = nlohmann::json::array();
    for (const auto& f : tree.findings)
        findings.push_back({{"kind", treeFindingToken(f.kind)},
                            {"path", printable(f.relativePath)},
                            {"detail", printable(f.detail)},
                            {"finding", treeFindingLine(f)}});
    j["findings"] = std::move(findings);
    if (!tree.notes.empty()) {
        nlohmann::json notes = nlohmann::json::array();
        for (const auto& note : tree.notes) notes.push_back(displayText(note, DisplayAs::Lines));
        j["notes"] = std::move(notes);
    }
    return j.dump(2) + "\n";
}

}  // namespace tessarin
