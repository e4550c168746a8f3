// libFuzzer entry: requirement text must compile or fail with a sentence, never crash or recurse
// without bound; what compiles prints back to text that compiles to the very same tree.
#include "FuzzEntry.h"
#include "codesign/RequirementEvaluator.h"
#include "codesign/RequirementParser.h"
#include "tools/print/RequirementText.h"

namespace tessarin::fuzz {
namespace {
void roundTrip(const Requirement& req) {
    const std::string text = requirementText(req);
    require(text.find('\n') == std::string::npos);
    // Printing may lengthen text (bytes written as hex, dates spelled out) past what is read.
    if (text.size() > kMaxRequirementTextLength) return;
    auto again = parseRequirementText(text);
    require(again.ok() && *again == req);
    auto result = evaluate(req, RequirementContext{});
    require(result.error.empty() || !result.holds);
}
}  // namespace

void fuzzOne(Input in) {
    auto single = parseRequirementText(in.text());
    if (single)
        roundTrip(*single);
    else
        require(!single.error().empty());
    auto set = parseRequirementSetText(in.text());
    if (!set) {
        require(!set.error().empty());
        return;
    }
    require(set->entries.size() <= kMaxRequirementSetEntries);
    for (const auto& e : set->entries) roundTrip(e.requirement);
}

}  // namespace tessarin::fuzz
