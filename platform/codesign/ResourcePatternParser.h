// The syntax of a resource rule's pattern (POSIX extended regular expressions, C locale): the
// pattern text parsed into a tree of nodes, bounded in length, nesting and repetition.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "codesign/ResourcePattern.h"

namespace tessarin::pattern_syntax {

using ByteSet = ResourcePattern::ByteSet;

inline void add(ByteSet& s, unsigned char c) { s[c >> 6] |= std::uint64_t{1} << (c & 63); }
inline bool has(const ByteSet& s, unsigned char c) { return (s[c >> 6] >> (c & 63)) & 1; }
inline void invert(ByteSet& s) {
    for (auto& w : s) w = ~w;
}

struct Node {
    enum Kind : std::uint8_t { Empty, Set, LineStart, LineEnd, Concat, Alt, Repeat } kind = Empty;
    std::uint32_t set = 0;
    int min = 0;
    int max = 0;  // -1: no upper bound
    std::vector<std::uint32_t> kids;
};

struct SyntaxTree {
    std::vector<Node> nodes;
    std::uint32_t root = 0;
};

// Parses a pattern; the byte sets its nodes name are appended to sets. Fails with the tail of a
// sentence about the pattern: "is not a valid regular expression (...)" or "is too complex to match
// safely".
Result<SyntaxTree> parse(std::string_view pattern, std::vector<ByteSet>& sets);

}  // namespace tessarin::pattern_syntax
