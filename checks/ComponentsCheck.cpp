// Reading the stand-in's component document. Its output is trusted no further than its input: a
// member of the wrong type, a missing one or a tree deeper than any walk makes ends in one sentence.
#include "ComponentsCheck.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "base/DisplayText.h"

namespace tessarin {

namespace {

using nlohmann::json;

constexpr int kMaxDepth = 256;  // the walk itself stops far sooner

struct Malformed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json& member(const json& object, const char* name) {
    if (!object.is_object() || !object.contains(name)) throw Malformed(std::string("it has no \"") + name + "\"");
    return object.at(name);
}

std::string text(const json& object, const char* name, bool required = false) {
    if (!object.contains(name) && !required) return {};
    const json& value = member(object, name);
    if (!value.is_string()) throw Malformed(std::string("\"") + name + "\" is not text");
    return value.get<std::string>();
}

const json& array(const json& object, const char* name) {
    const json& value = member(object, name);
    if (!value.is_array()) throw Malformed(std::string("\"") + name + "\" is not a list");
    return value;
}

std::vector<std::string> texts(const json& object, const char* name) {
    std::vector<std::string> out;
    for (const json& e : array(object, name)) {
        if (!e.is_string()) throw Malformed(std::string("\"") + name + "\" holds something other than text");
        out.push_back(e.get<std::string>());
    }
    return out;
}

// Entitlements one per line, their values indented under them: what a reader scans for.
void appendEntitlementValue(std::string& out, const json& value, int indent, int depth) {
    if (depth > kMaxDepth) throw Malformed("its entitlements are nested deeper than any plist reader allows");
    const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            out += pad + key;
            if (member.is_object() || member.is_array()) {
                out += ":\n";
                appendEntitlementValue(out, member, indent + 1, depth + 1);
            } else {
                out += " = ";
                appendEntitlementValue(out, member, 0, depth + 1);
            }
        }
    } else if (value.is_array()) {
        for (const json& e : value) {
            if (e.is_object() || e.is_array()) {
                out += pad + "-\n";
                appendEntitlementValue(out, e, indent + 1, depth + 1);
            } else {
                out += pad + "- ";
                appendEntitlementValue(out, e, 0, depth + 1);
            }
        }
    } else {
        out += (value.is_string() ? value.get<std::string>()
                : value.is_null() ? "(data or date)"
                                  : value.dump()) +
               "\n";
    }
}

Component readComponent(const json& j, int depth) {
    if (depth > kMaxDepth) throw Malformed("its tree is deeper than any walk makes");
    if (!j.is_object()) throw Malformed("a component is not an object");
    Component c;
    c.path = text(j, "path", true);
    c.kind = text(j, "kind", true);
    c.signer = text(j, "signer");
    c.signature = text(j, "signature");
    if (j.contains("valid")) {
        if (!j["valid"].is_boolean()) throw Malformed("\"valid\" is not true or false");
        c.valid = j["valid"].get<bool>();
    }
    if (j.contains("trusted")) {
        if (!j["trusted"].is_boolean()) throw Malformed("\"trusted\" is not true or false");
        c.trusted = j["trusted"].get<bool>();
    }
    c.teamIdentifier = text(j, "teamIdentifier");
    if (j.contains("flags")) {
        if (!j["flags"].is_number_unsigned() || j["flags"].get<std::uint64_t>() > 0xffffffffu)
            throw Malformed("\"flags\" is not a 32-bit number");
        c.flags = j["flags"].get<std::uint32_t>();
    }
    c.flagNames = text(j, "flagNames");
    c.notarization = text(j, "notarization");
    c.target = text(j, "target");
    c.identifier = text(j, "identifier");
    c.bundleIdentifier = text(j, "bundleIdentifier");
    c.bundleShortVersion = text(j, "bundleShortVersion");
    c.bundleVersion = text(j, "bundleVersion");
    c.installLocation = text(j, "installLocation");
    if (j.contains("scripts"))
        for (const json& s : array(j, "scripts")) {
            ComponentScript script{text(s, "name", true), displayText(text(s, "text"), DisplayAs::Lines)};
            if (s.contains("truncated")) {
                if (!s["truncated"].is_boolean()) throw Malformed("\"truncated\" is not true or false");
                script.truncated = s["truncated"].get<bool>();
            }
            c.scripts.push_back(std::move(script));
        }
    if (j.contains("chain")) c.chain = texts(j, "chain");
    c.timestamp = text(j, "timestamp");
    c.signingTime = text(j, "signingTime");
    if (j.contains("entitlements")) {
        if (!j["entitlements"].is_object()) throw Malformed("\"entitlements\" is not an object");
        appendEntitlementValue(c.entitlements, j["entitlements"], 0, depth);
    }
    c.entitlementsProblem = text(j, "entitlementsProblem");
    if (j.contains("architectures"))
        for (const json& s : array(j, "architectures")) {
            ComponentSlice slice;
            slice.architecture = text(s, "architecture", true);
            const json& is64 = member(s, "64bit");
            if (!is64.is_boolean()) throw Malformed("\"64bit\" is not true or false");
            slice.is64 = is64.get<bool>();
            slice.platform = text(s, "platform");
            slice.minimumOS = text(s, "minimumOS");
            slice.sdk = text(s, "sdk");
            c.architectures.push_back(std::move(slice));
        }
    if (j.contains("weakeningEntitlements")) c.weakeningEntitlements = texts(j, "weakeningEntitlements");
    if (j.contains("problems")) c.problems = texts(j, "problems");
    if (j.contains("components"))
        for (const json& child : array(j, "components")) c.components.push_back(readComponent(child, depth + 1));
    return c;
}

}  // namespace

bool Component::holdsCode() const {
    return kind != "link" && kind != "bundle without code" && kind != "not code" && kind != "archive" &&
           kind != "installer package";
}

ComponentsResult parseComponentsJson(const std::string& text, const std::string& itemName) {
    ComponentsResult result;
    const json document = json::parse(text, nullptr, false);
    const std::string name = displayText(itemName);
    if (document.is_discarded() || !document.is_object()) {
        result.problem = "The component list of " + name + " is not a JSON object.";
        return result;
    }
    try {
        const json& version = member(document, "componentsVersion");
        if (!version.is_number_integer() || version.get<std::int64_t>() != 1)
            throw Malformed("its version is not 1, the one this program reads");
        result.item = readComponent(member(document, "item"), 0);
        for (const json& f : array(document, "findings"))
            result.findings.push_back({tessarin::text(f, "kind", true), tessarin::text(f, "path", true),
                                       tessarin::text(f, "detail"), tessarin::text(f, "finding")});
        const json& truncated = member(document, "walkTruncated");
        if (!truncated.is_boolean()) throw Malformed("\"walkTruncated\" is not true or false");
        result.walkTruncated = truncated.get<bool>();
        // Only a container's list has notes.
        if (document.contains("notes"))
            for (std::string& note : texts(document, "notes"))
                result.notes.push_back(displayText(note, DisplayAs::Lines));
    } catch (const Malformed& e) {
        result = {};
        result.problem = "The component list of " + name + " cannot be read: " + e.what() + ".";
        return result;
    }
    result.json = text;
    return result;
}

ComponentsResult componentsFromRun(const ToolRun& run, const std::string& path, const char* tool) {
    // A nonzero status only says something is unsigned, invalid or rejected; the document still follows.
    if (run.output.empty()) {
        ComponentsResult result;
        std::string why = run.errors;
        while (!why.empty() && (why.back() == '\n' || why.back() == '.')) why.pop_back();
        why = displayText(why);
        result.problem = std::string(tool) + " listed no components of " + displayText(path) +
                         (why.empty() ? std::string(".") : " (" + why + ").");
        return result;
    }
    return parseComponentsJson(run.output, path);
}

}  // namespace tessarin
