// Localized strings tables (InfoPlist.strings): binary or XML property lists, or the old text form
// `"key" = "value";` in UTF-8 or UTF-16.
#pragma once

#include <span>
#include <string>

#include "base/Bytes.h"
#include "base/Result.h"
#include "plist/Plist.h"

namespace tessarin {

// A table from any of the three forms. Text may be UTF-16 with a byte-order mark (either order),
// UTF-16 without one when its first character is ASCII, or UTF-8 with or without a mark. The text
// form takes // and /* */ comments, backslash escapes (\n \t \" \\ \Uxxxx, octal), unquoted keys
// and values, a bare `"key";` (which maps the key to itself), and an optional outer { }.
Result<PlistDict> parseStringsFile(ByteSpan bytes);
Result<PlistDict> readStringsFile(const std::string& path);

// The text form alone, for text already decoded to UTF-8. Nested { } dictionaries, ( ) arrays and
// < > data are read as well, as old-style property lists allow them.
Result<PlistDict> parseStringsText(std::string_view utf8);

}  // namespace tessarin
