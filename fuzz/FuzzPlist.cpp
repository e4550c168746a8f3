// libFuzzer entry: property lists, XML and binary, through our libplist wrapper. Each input gives a
// clear error or a tree, and a tree written back out in either form must read again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "plist/Plist.h"
#include "Require.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = tessarin::parsePlist(std::as_bytes(std::span(data, size)));
    if (!parsed) {
        require(!parsed.error().empty());
        return 0;
    }
    const auto binary = tessarin::toBinaryPlist(*parsed);
    require(static_cast<bool>(tessarin::parsePlist(std::as_bytes(std::span(binary)))));
    const auto xml = tessarin::toXmlPlist(*parsed);
    require(static_cast<bool>(tessarin::parsePlist(std::as_bytes(std::span(xml)))));
    return 0;
}
