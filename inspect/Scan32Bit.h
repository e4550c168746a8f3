// The 32-bit component scan of a bundle or folder, as plain work for the report window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/FileURL.h"

namespace tessarin {

struct Scan32BitResult {
    bool started = false;                 // false when the walk could not start: nothing is written
    std::vector<std::string> components;  // sorted full paths, their bytes as found
    bool has64BitIntel = false;
    bool has32BitIntel = false;
    std::string text;             // the one piece to append (empty when !started), names shown escaped
    bool turnOff64Intel = false;  // components were found
};

// `itemArches` is the item's own theArches; it feeds the heading flags together with every nested
// application bundle's architectures.
Scan32BitResult scan32BitComponents(const FileURL& itemURL, const std::vector<std::int32_t>& itemArches);

}  // namespace tessarin
