// An incremental cpio reader (odc and newc): fed the expanded archive piece by piece, it keeps each
// entry's header, name, link target and the first bytes asked for, and skips the rest of the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"
#include "package/Payload.h"

namespace tessarin {

class CpioReader {
public:
    CpioReader(const PayloadLimits& limits, std::uint64_t keepFileBytes) : limits_(limits), keep_(keepFileBytes) {}

    Status feed(ByteSpan piece);
    // After the last piece: the archive must have ended with its trailer.
    Status finish() const;

    CpioFormat format() const { return format_; }
    std::vector<PayloadEntry> takeEntries() { return std::move(entries_); }

private:
    enum class State { Magic, Header, Name, Data, Padding, Done };

    Status fieldsRead();
    Status nameRead();
    void dataRead();
    void expect(State state, std::uint64_t bytes);

    const PayloadLimits& limits_;
    std::uint64_t keep_;
    CpioFormat format_ = CpioFormat::Odc;
    State state_ = State::Magic;
    std::uint64_t need_ = 6;      // bytes still to come for the current part
    std::string part_;            // the current header or name, as it arrives
    std::uint64_t consumed_ = 0;  // bytes of the archive seen, for offsets in errors
    std::uint64_t nameSize_ = 0, dataSize_ = 0, keepData_ = 0;
    std::uint64_t pathBytes_ = 0;
    std::uint64_t keptBytes_ = 0;  // of file data, all entries together
    PayloadEntry entry_;
    std::vector<PayloadEntry> entries_;
};

}  // namespace tessarin
