// Decompression of a Payload or Scripts archive, in pieces, within the limits: the expanded total and
// the compression ratio are checked as the bytes come, before they are handed on. The decoder is pulled
// (a piece at a time, as libarchive's read callback asks) and expandPayload pushes through it.
#pragma once

#include <functional>
#include <memory>

#include "base/Bytes.h"
#include "base/Result.h"
#include "package/Payload.h"

namespace tessarin {

using PayloadSink = std::function<Status(ByteSpan)>;

// The compression the archive's first bytes announce (None for anything else).
PayloadCompression payloadCompression(ByteSpan archive);

class PayloadDecoder {
public:
    // `archive` and `limits` must outlive the decoder.
    PayloadDecoder(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits);
    ~PayloadDecoder();
    PayloadDecoder(const PayloadDecoder&) = delete;
    PayloadDecoder& operator=(const PayloadDecoder&) = delete;

    // The next piece of the expanded stream, valid until the next call; empty at the end. After an
    // error every later call gives the same error.
    Result<ByteSpan> next();

    struct Source;

private:
    std::unique_ptr<Source> source_;
    ByteSpan archive_;
    const PayloadLimits& limits_;
    std::uint64_t expanded_ = 0;
    std::string error_;
};

// Hands the archive's expanded bytes to `sink` piece by piece; the first error of either side ends it.
Status expandPayload(ByteSpan archive, PayloadCompression compression, const PayloadLimits& limits,
                     const PayloadSink& sink);

}  // namespace tessarin
