// libFuzzer entry: hostile requirement blobs and sets must read or fail cleanly, print on one line
// each whatever strings they carry, and evaluate without a crash.
#include <algorithm>

#include "FuzzEntry.h"
#include "codesign/Requirement.h"
#include "codesign/RequirementEvaluator.h"
#include "tools/print/RequirementText.h"

namespace tessarin::fuzz {
namespace {
const RequirementContext& context() {
    static const RequirementContext c = [] {
        RequirementContext c;
        c.identifier = "com.example.app";
        c.cdhashes = {Bytes(20, 0xab)};
        PlistDict info;
        info["CFBundleVersion"] = PlistValue("1.2.3");
        info["List"] = PlistValue(PlistArray{PlistValue("a"), PlistValue(true)});
        c.info = info;
        c.entitlements = PlistDict{{"com.apple.security.app-sandbox", PlistValue(true)}};
        return c;
    }();
    return c;
}

void exercise(const Requirement& req) {
    const std::string text = requirementText(req);
    require(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos);
    auto result = evaluate(req, context());
    require(result.error.empty() || !result.holds);
}
}  // namespace

void fuzzOne(Input in) {
    auto single = parseRequirement(in.bytes());
    if (single)
        exercise(*single);
    else
        require(!single.error().empty());
    auto set = parseRequirementSet(in.bytes());
    if (!set) {
        require(!set.error().empty());
        return;
    }
    require(set->entries.size() <= kMaxRequirementSetEntries);
    for (const auto& e : set->entries) exercise(e.requirement);
    const std::string text = requirementSetText(*set);
    require(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == set->entries.size());
}

}  // namespace tessarin::fuzz
