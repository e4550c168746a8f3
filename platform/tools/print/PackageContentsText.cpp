// Text and JSON of what a flat package installs; every name and script byte from the package passes
// through displayText, so nothing it holds can pass for a line of ours.
#include "tools/print/PackageContentsText.h"

#include <nlohmann/json.hpp>

#include "package/PayloadConstants.h"
#include "tools/print/Printable.h"

namespace tessarin {

namespace {

const char* typeName(std::uint32_t mode) {
    switch (mode & C_ISMASK) {
    case C_ISREG: return "file";
    case C_ISDIR: return "directory";
    case C_ISLNK: return "symlink";
    default: return "other";
    }
}

}  // namespace

std::string componentTitle(const ComponentPackage& c) {
    std::string id = c.identifier.empty() ? "unnamed package" : printable(c.identifier);
    if (!c.version.empty()) id += " " + printable(c.version);
    return c.path.empty() ? id : printable(c.path) + " (" + id + ")";
}

std::string payloadFilesText(const PackageContents& contents) {
    std::string out;
    for (const auto& c : contents.components)
        for (const auto& e : c.payload) out += printable(e.path) + "\n";
    return out;
}

std::string scriptsText(const PackageContents& contents) {
    std::string out;
    for (const auto& c : contents.components) {
        for (const auto& s : c.scripts) {
            out += "==> " + componentTitle(c) + ": " + printable(s.name) + " (" + std::to_string(s.size) + " bytes)\n";
            std::string text = displayText(s.text, DisplayAs::Lines);
            out += text;
            if (!text.empty() && text.back() != '\n') out += "\n";
            if (s.truncated())
                out += "[... the first " + std::to_string(s.text.size()) + " of " + std::to_string(s.size) +
                       " bytes shown]\n";
        }
    }
    if (out.empty()) out = "The package has no scripts.\n";
    return out;
}

std::string packageContentsJson(const std::string& path, const PackageContents& contents) {
    nlohmann::json j;
    j["contentsVersion"] = 1;  // raised when a member changes meaning
    j["package"] = printable(path);
    j["distribution"] = contents.isDistribution;
    nlohmann::json components = nlohmann::json::array();
    for (const auto& c : contents.components) {
        nlohmann::json cj = {{"folder", printable(c.path)},
                             {"identifier", printable(c.identifier)},
                             {"version", printable(c.version)},
                             {"installLocation", printable(c.installLocation)},
                             {"bom", c.hasBom}};
        cj["failure"] = c.failure.empty() ? nlohmann::json() : nlohmann::json(printable(c.failure));
        nlohmann::json payload = nlohmann::json::array();
        for (const auto& e : c.payload) {
            nlohmann::json ej = {{"path", printable(e.path)},
                                 {"type", typeName(e.mode)},
                                 {"mode", e.mode},
                                 {"size", e.size},
                                 {"uid", e.uid},
                                 {"gid", e.gid}};
            if ((e.mode & C_ISMASK) == C_ISLNK) ej["linkTarget"] = printable(e.linkTarget);
            payload.push_back(std::move(ej));
        }
        cj["payload"] = std::move(payload);
        nlohmann::json scripts = nlohmann::json::array();
        for (const auto& s : c.scripts)
            scripts.push_back({{"name", printable(s.name)},
                               {"size", s.size},
                               {"truncated", s.truncated()},
                               {"text", displayText(s.text, DisplayAs::Lines)}});
        cj["scripts"] = std::move(scripts);
        components.push_back(std::move(cj));
    }
    j["components"] = std::move(components);
    return j.dump(2) + "\n";
}

}  // namespace tessarin
