// libFuzzer entry: hostile requirement blobs and sets must read or fail cleanly, print on one line
// each whatever strings they carry, and evaluate without a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codesign/Requirement.h"
#include "codesign/RequirementEvaluator.h"
#include "tools/print/RequirementText.h"
#include "Require.h"

using tessarin::fuzz::require;

namespace {
const tessarin::RequirementContext& context() {
    static const tessarin::RequirementContext c = [] {
        tessarin::RequirementContext c;
        c.identifier = "com.example.app";
        c.cdhashes = {tessarin::Bytes(20, 0xab)};
        tessarin::PlistDict info;
        info["CFBundleVersion"] = tessarin::PlistValue("1.2.3");
        info["List"] =
            tessarin::PlistValue(tessarin::PlistArray{tessarin::PlistValue("a"), tessarin::PlistValue(true)});
        c.info = info;
        c.entitlements = tessarin::PlistDict{{"com.apple.security.app-sandbox", tessarin::PlistValue(true)}};
        return c;
    }();
    return c;
}

void exercise(const tessarin::Requirement& req) {
    const std::string text = tessarin::requirementText(req);
    require(text.find('\n') == std::string::npos && text.find('\r') == std::string::npos);
    auto result = tessarin::evaluate(req, context());
    require(result.error.empty() || !result.holds);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    auto single = tessarin::parseRequirement(bytes);
    if (single)
        exercise(*single);
    else
        require(!single.error().empty());
    auto set = tessarin::parseRequirementSet(bytes);
    if (set) {
        require(set->entries.size() <= tessarin::kMaxRequirementSetEntries);
        for (const auto& e : set->entries) exercise(e.requirement);
        const std::string text = tessarin::requirementSetText(*set);
        require(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == set->entries.size());
    } else {
        require(!set.error().empty());
    }
    return 0;
}
