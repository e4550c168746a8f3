// A genuine Developer ID certificate chain copied out of a real signed sample, as anyone can copy it.
#pragma once

#include <cstdint>
#include <vector>

namespace tessarin::test {

using Bytes = std::vector<std::uint8_t>;

// Leaf first; empty when the sample has not been fetched (scripts/fetch-npm-samples.sh).
std::vector<Bytes> realDeveloperIdChain();

}  // namespace tessarin::test
