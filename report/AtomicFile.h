// Replacing a file all at once: the new bytes go to a file beside it that is renamed over it, so a
// failed or interrupted write leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>

#include "base/Result.h"

namespace tessarin {

// Writes `bytes` to `path`, replacing what is there; a symbolic link is written through to the file
// it names. The error is the system's text for the reason ("No space left on device").
Status writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace tessarin
