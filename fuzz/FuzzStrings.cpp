// libFuzzer entry: localized strings tables (InfoPlist.strings) in any of their forms, and the
// old-style text reader on its own.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "plist/StringsFile.h"
#include "Require.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto table = tessarin::parseStringsFile(std::as_bytes(std::span(data, size)));
    if (!table) require(!table.error().empty());
    auto text = tessarin::parseStringsText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!text) require(!text.error().empty());
    return 0;
}
