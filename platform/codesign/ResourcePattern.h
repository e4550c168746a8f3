// The POSIX extended regular expressions of a resource seal's rules, matched in time linear in the
// path: a seal is untrusted input, and a library matcher can be made to take gigabytes or minutes by
// a short pattern (stacked repetitions, back-references).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace tessarin {

class ResourcePattern {
public:
    // Fails with the tail of a sentence about the pattern: "is not a valid regular expression (...)"
    // or "is too complex to match safely".
    static Result<ResourcePattern> compile(std::string_view pattern);

    // True when the expression matches anywhere in the text, as regexec without REG_NOTBOL would say.
    bool search(std::string_view text) const;

    struct Instruction {
        enum Op : std::uint8_t { Set, LineStart, LineEnd, Split, Jump, Match } op = Match;
        std::uint32_t x = 0;  // Set: index into sets_; Split and Jump: target
        std::uint32_t y = 0;  // Split: second target
    };
    using ByteSet = std::array<std::uint64_t, 4>;

private:
    ResourcePattern() = default;
    std::vector<Instruction> program_;
    std::vector<ByteSet> sets_;
    bool anchored_ = false;  // nothing can match after the first position's threads die out
};

}  // namespace tessarin
