// Text from the item (paths, certificate names, identifiers) made safe to print: it can never start a
// line of its own or reorder what surrounds it, so nothing an item holds can pass for a tool's verdict.
#pragma once

#include <string>
#include <string_view>

#include "base/DisplayText.h"

namespace tessarin {

// A name as the tools print it: one line, escaped as displayText() escapes names (controls, C1
// controls, line separators and bidirectional controls; a doubled backslash; bytes that are not
// UTF-8 as "\xFF"), the same text the application shows for it.
inline std::string printable(std::string_view text) { return displayText(text, DisplayAs::Name); }

}  // namespace tessarin
