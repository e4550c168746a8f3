// Limits every property list reader enforces: how deep values nest, how many there are, and the
// shape of a binary list's object graph, checked before libplist sees the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// Arrays and dictionaries within one another.
inline constexpr std::size_t kPlistMaxDepth = 512;

Error tooManyPlistValues(std::uint64_t limit);

// Depth of <array> and <dict> elements and the number of elements in XML text, skipping comments,
// CDATA, processing instructions and declarations the way an XML reader would.
Status checkXmlNesting(std::string_view xml, std::uint64_t maxValues);

// Walks a binary list's object graph once, each object once, for cycles, depth, the size of the
// tree the references expand into, and dictionary keys holding a NUL (on which libplist aborts).
// Malformed tables are left to libplist, which rejects them.
Status checkBinaryGraph(ByteSpan bytes, std::uint64_t maxValues);

}  // namespace tessarin
