// Bytes from an item (its path, its names, what a tool printed about it) as text that a window
// title, the log, a saved report or the headless output can show without losing a byte.
#pragma once

#include <string>
#include <string_view>

namespace tessarin {

enum class DisplayAs {
    Name,   // one line: a path or a file name; control characters are escaped too
    Lines,  // text of several lines (a tool's output): line feeds and tabs are kept
};

// Valid UTF-8 is kept as it is. Every byte that is not part of a well-formed UTF-8 sequence shows
// as "\xFF" (two upper-case hex digits), never as U+FFFD, so that two names that differ only in
// such bytes never read the same. A backslash followed by "x" shows as "\x5C", so that each "\x"
// in the result stands for exactly one byte of the original. The result is always valid UTF-8.
std::string displayText(std::string_view bytes, DisplayAs as = DisplayAs::Name);

}  // namespace tessarin
