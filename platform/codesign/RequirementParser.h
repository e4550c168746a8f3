// Compiles code requirements written in Apple's requirement language (`identifier "com.x" and anchor
// apple generic`) into the trees the evaluator runs: the inverse of the printed text form.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/Result.h"
#include "codesign/Requirement.h"

namespace tessarin {

// Requirement text longer than this is refused unread: real ones are a few hundred bytes, and text
// from an item (a seal's nested requirement) must not make the parser walk megabytes.
inline constexpr std::size_t kMaxRequirementTextLength = 64u << 10;

// The language's reserved words: a bare word that is one of them must be quoted to be a string.
bool isRequirementKeyword(std::string_view word);

// One requirement (`anchor apple generic and identifier "com.x"`), optionally followed by semicolons.
// Nesting and size obey the same bounds as compiled requirements (kMaxRequirementDepth,
// kMaxRequirementNodes), so whatever compiles here would also be read back from a blob. A malformed
// text gives one sentence naming what was expected and the byte offset where it went wrong.
Result<Requirement> parseRequirementText(std::string_view text);

// A requirement set: `designated => ... host => ...`, each type at most once.
Result<RequirementSet> parseRequirementSetText(std::string_view text);

}  // namespace tessarin
