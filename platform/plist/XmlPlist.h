// XML property lists, read by our own bounded reader straight into values.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/Result.h"
#include "plist/Plist.h"

namespace tessarin {

// Parses XML property list text: UTF-8 throughout, at most maxValues values, nested at most
// kPlistMaxDepth deep.
Result<PlistValue> parseXmlPlist(std::string_view text, std::uint64_t maxValues);

}  // namespace tessarin
