// libFuzzer entry: property lists, XML and binary, through our libplist wrapper. Each input gives a
// clear error or a tree, and a tree written back out in either form must read again.
#include "FuzzEntry.h"
#include "plist/Plist.h"

void tessarin::fuzz::fuzzOne(Input in) {
    auto parsed = parsePlist(in.bytes());
    if (!parsed) {
        require(!parsed.error().empty());
        return;
    }
    const auto binary = toBinaryPlist(*parsed);
    require(static_cast<bool>(parsePlist(std::as_bytes(std::span(binary)))));
    const auto xml = toXmlPlist(*parsed);
    require(static_cast<bool>(parsePlist(std::as_bytes(std::span(xml)))));
}
