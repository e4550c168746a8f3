// Text from the item (paths, certificate names, identifiers) made safe to print: it can never start a
// line of its own or reorder what surrounds it, so nothing an item holds can pass for a tool's verdict.
#pragma once

#include <string>
#include <string_view>

namespace tessarin {

// Control characters become escapes ("\n", "\r", "\t", "\x1b"); so do the C1 controls, the Unicode
// line and paragraph separators and the bidirectional overrides and isolates ("\u2028"). A backslash
// is doubled, so an escape in the output always means one was made. Other bytes pass unchanged,
// including bytes that are not UTF-8.
std::string printable(std::string_view text);

}  // namespace tessarin
