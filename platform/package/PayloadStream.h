// Decompression of a Payload or Scripts archive into a consumer, in pieces, within the limits: the
// expanded total and the compression ratio are checked as the bytes come, before they are handed on.
#pragma once

#include <functional>

#include "base/Bytes.h"
#include "base/Result.h"
#include "package/Payload.h"

namespace tessarin {

using PayloadSink = std::function<Status(ByteSpan)>;

// The compression the archive's first bytes announce (None for anything else).
PayloadCompression payloadCompression(ByteSpan archive);

// Hands the archive's expanded bytes to `sink` piece by piece; the first error of either side ends it.
Status expandPayload(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits,
                     const PayloadSink& sink);

}  // namespace tessarin
