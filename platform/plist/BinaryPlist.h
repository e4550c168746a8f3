// Binary property lists, read through libplist once their object graph has passed checkBinaryGraph.
#pragma once

#include "base/Bytes.h"
#include "base/Result.h"
#include "plist/Plist.h"

namespace tessarin {

// Parses bytes that start with "bplist00" and whose graph has been checked; every string and key
// must be text.
Result<PlistValue> parseBinaryPlist(ByteSpan bytes);

}  // namespace tessarin
