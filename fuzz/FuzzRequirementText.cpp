// libFuzzer entry: requirement text must compile or fail with a sentence, never crash or recurse
// without bound; what compiles prints back to text that compiles to the very same tree.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codesign/RequirementEvaluator.h"
#include "codesign/RequirementParser.h"
#include "tools/print/RequirementText.h"
#include "Require.h"

using tessarin::fuzz::require;

namespace {
void roundTrip(const tessarin::Requirement& req) {
    const std::string text = tessarin::requirementText(req);
    require(text.find('\n') == std::string::npos);
    // Printing may lengthen text (bytes written as hex, dates spelled out) past what is read.
    if (text.size() > tessarin::kMaxRequirementTextLength) return;
    auto again = tessarin::parseRequirementText(text);
    require(again.ok() && *again == req);
    auto result = tessarin::evaluate(req, tessarin::RequirementContext{});
    require(result.error.empty() || !result.holds);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto single = tessarin::parseRequirementText(text);
    if (single)
        roundTrip(*single);
    else
        require(!single.error().empty());
    auto set = tessarin::parseRequirementSetText(text);
    if (set) {
        require(set->entries.size() <= tessarin::kMaxRequirementSetEntries);
        for (const auto& e : set->entries) roundTrip(e.requirement);
    } else {
        require(!set.error().empty());
    }
    return 0;
}
