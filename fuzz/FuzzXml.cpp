// libFuzzer entry: the XML reader behind xar tables of contents, with the limits the xar reader
// gives it, and the table reader on the inflated text as if a package held it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "package/XarConstants.h"
#include "plist/XmlTree.h"
#include "Require.h"

using tessarin::fuzz::require;

namespace {
// Every element the reader returns lies within the limits it was given.
void check(const tessarin::XmlElement& e, std::uint32_t depth, std::uint64_t& elements) {
    require(depth <= tessarin::kXarMaxTocDepth);
    require(++elements <= tessarin::kXarMaxTocElements);
    for (const auto& child : e.children) check(child, depth + 1, elements);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto root = tessarin::parseXml(text, {tessarin::kXarMaxTocDepth, tessarin::kXarMaxTocElements});
    if (!root) {
        require(!root.error().empty());
        return 0;
    }
    std::uint64_t elements = 0;
    check(*root, 0, elements);
    return 0;
}
