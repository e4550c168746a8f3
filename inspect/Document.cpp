// Classification of one opened item, step by step in a fixed order; it never fails.
#include "Document.h"

#include <charconv>
#include <optional>

#include "Quarantine.h"
#include "base/DisplayText.h"
#include "base/Unicode.h"
#include "bundle/Bundle.h"
#include "bundle/TypeIdentifier.h"
#include "contents/Contents.h"

namespace tessarin {

namespace {

// Bundle information values as text: strings as they are, numbers as their decimal text (a
// version written as <real>1.5</real> still reads 1.5); anything else counts as no value.
std::optional<std::string> asText(const PlistValue* v) {
    if (!v) return std::nullopt;
    if (const std::string* s = v->string()) return *s;
    if (const std::int64_t* i = v->integer()) return std::to_string(*i);
    if (const double* d = v->real()) {
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        if (ec == std::errc()) return std::string(buffer, end);
    }
    return std::nullopt;
}

bool contains(const std::string& text, const char* piece) { return text.find(piece) != std::string::npos; }

}  // namespace

bool Document::readFromURL(const FileURL& url, const std::string& typeName, const ToolSet& tools) {
    theUTI = typeName;
    thePath = url.path();
    theQuarStr = quarantineFlags(url);
    if (graphemeClusterCount(theQuarStr) >= 4) isQuar = quarantineFlagIsSet(theQuarStr);
    isApp = typeName == kApplicationBundleType;
    isPackage = typeName == kInstallerPackageArchiveType;
    isOldPackage = typeName == kPackageType;

    if (!url.hasDirectoryPath() && !isApp) {
        isFolder = false;
        listArchitectures(thePath, tools);
        if (!isMacho && !isPackage) {
            switch (containerKindOf(thePath)) {
            case ContainerKind::DiskImage: theContainer = "disk image"; break;
            case ContainerKind::Archive: theContainer = "archive"; break;
            default: break;
            }
        }
        return true;
    }
    isFolder = true;

    auto bundle = Bundle::open(thePath);
    if (!bundle) return true;

    if (isApp) {
        if (const PlistDict* info = bundle->infoDictionary()) {
            auto find = [&](const char* key) -> const PlistValue* {
                auto it = info->find(key);
                return it == info->end() ? nullptr : &it->second;
            };
            if (auto sdk = asText(find("DTSDKName"))) {
                is1015 = contains(*sdk, "10.15");
                is1016 = contains(*sdk, "10.16") || contains(*sdk, "11.0");
            }
            if (auto identifier = asText(find("CFBundleIdentifier"))) {
                isCatalyst = contains(*identifier, "maccatalyst.");
            }
        }
    }

    if (auto arches = bundle->executableArchitectures(); arches && !arches->empty()) theArches = *arches;

    auto version = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
    if (auto text = asText(version ? &*version : nullptr)) bundleVer = *text;
    return true;
}

void Document::listArchitectures(const std::string& path, const ToolSet& tools) {
    ToolRun run = runTool(kLipoPath, {"-archs", path}, false, tools);
    if (run.status != 0) return;
    const std::string text = displayText(run.output, DisplayAs::Lines);
    if (text.empty()) return;
    if (contains(text, "i386")) {
        is32Bit = true;
        isMacho = true;
    }
    if (contains(text, "x86_64")) {
        is64Bit = true;
        isMacho = true;
    }
    if (contains(text, "arm64")) {
        isARM = true;
        isMacho = true;
    }
}

std::string documentKind(const Document& d) {
    if (d.isOldPackage) return "bundle package";
    if (d.isPackage) return "package";
    if (d.isApp) return "app";
    if (d.isFolder) return "folder";
    if (d.isMacho) return "Mach-O";
    if (!d.theContainer.empty()) return d.theContainer;
    return "other";
}

}  // namespace tessarin
