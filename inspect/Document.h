// The record of one inspected item, classified once from its URL and type identifier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ToolRunner.h"
#include "base/FileURL.h"

namespace tessarin {

class Document {
public:
    std::vector<std::int32_t> theArches;
    bool is64Bit = false;
    bool is32Bit = false;
    bool isFolder = false;
    bool isMacho = false;
    bool isARM = false;
    std::string bundleVer;
    bool isApp = false;
    bool isPackage = false;
    bool isOldPackage = false;
    bool isQuar = false;
    bool isCatalyst = false;
    bool is1015 = false;
    bool is1016 = false;
    std::string theUTI;
    std::string thePath;
    std::string theQuarStr;
    // "disk image" or "archive" when the file is one by its own bytes; its contents are the
    // components the signature check lists.
    std::string theContainer;

    static constexpr bool autosavesInPlace = false;

    // Classifies the item; always succeeds. `tools` chooses the lipo that runs (tests only).
    bool readFromURL(const FileURL& url, const std::string& typeName, const ToolSet& tools = ToolSet::platform());
    void listArchitectures(const std::string& path, const ToolSet& tools = ToolSet::platform());

    // The URL the machinery opened the document with.
    const FileURL& fileURL() const { return fileURL_; }
    void setFileURL(const FileURL& url) { fileURL_ = url; }

private:
    FileURL fileURL_;
};

// The item's kind in one word, as JSON and the Components panel name it: "app", "package",
// "bundle package", "folder", "Mach-O", "disk image", "archive" or "other".
std::string documentKind(const Document& document);

}  // namespace tessarin
