// Bytes from an item (its path, its names, what a tool printed about it) as text that a window
// title, the log, a saved report or the headless output can show without losing a byte.
#pragma once

#include <string>
#include <string_view>

namespace tessarin {

enum class DisplayAs {
    Name,   // one line: a path or a file name, escaped as the stand-in tools print names
    Lines,  // text of several lines, a tool's output: its own escapes, line feeds and tabs are kept
};

// Every byte that is not part of a well-formed UTF-8 sequence shows as "\xFF" (two upper-case hex
// digits), never as U+FFFD, so that two names that differ only in such bytes never read the same;
// the result is always valid UTF-8. A name is escaped as the tools print names: a backslash
// doubled, "\n", "\r", "\t", "\x1b" for other controls, "\u202e" for line separators and
// bidirectional controls, so that it can neither start a line of its own, turn the text around it,
// nor pass for an escape. In lines, controls other than line feeds and tabs are escaped as bytes.
std::string displayText(std::string_view bytes, DisplayAs as = DisplayAs::Name);

}  // namespace tessarin
