// libFuzzer entry: the XML reader behind xar tables of contents, with the limits the xar reader
// gives it, and the table reader on the inflated text as if a package held it.
#include "FuzzEntry.h"
#include "package/XarConstants.h"
#include "plist/XmlTree.h"

namespace tessarin::fuzz {
namespace {
// Every element the reader returns lies within the limits it was given.
void check(const XmlElement& e, std::uint32_t depth, std::uint64_t& elements) {
    require(depth <= kXarMaxTocDepth);
    require(++elements <= kXarMaxTocElements);
    for (const auto& child : e.children) check(child, depth + 1, elements);
}
}  // namespace

void fuzzOne(Input in) {
    auto root = parseXml(in.text(), {kXarMaxTocDepth, kXarMaxTocElements});
    if (!root) {
        require(!root.error().empty());
        return;
    }
    std::uint64_t elements = 0;
    check(*root, 0, elements);
}

}  // namespace tessarin::fuzz
