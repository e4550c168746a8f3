// The saved report's text, composed from plain values so that it can be built and checked anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessarin {

struct SaveReportInputs {
    std::string title;  // the window's title, as it stands
    std::string bundleVer;
    std::optional<std::string> dateText;  // the moment of the checks in the user's locale
    int inQuarantine = 0;                 // check box states: 0 off, 1 on
    int validSignatures = 0;
    int isNotarized = 0;
    int isAppStore = 0;
    int isApple = 0;
    bool isFolder = false;
    std::vector<std::int32_t> theArches;
    bool is32Bit = false;
    bool is64Bit = false;
    bool isARM = false;
    std::string logText;  // the output log's plain text
};

std::string buildSaveString(const SaveReportInputs& in);

// The name the save panel proposes: the title ("Untitled" when empty) and "-Tessarin.text".
std::string defaultReportName(const std::string& title);

}  // namespace tessarin
