// libFuzzer entry: quarantine attribute values decoded into their fields and put into words; a value
// is either decoded or said to be malformed, and its raw text is always kept.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Quarantine.h"
#include "Require.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    const tessarin::QuarantineRecord record = tessarin::decodeQuarantine(value);
    require(record.raw == value);
    require(record.agent.size() <= size && record.eventId.size() <= size);
    require(tessarin::quarantineFlagNames(record.flags).size() <= 32);
    require(!tessarin::quarantineText(record).empty());
    return 0;
}
