// libFuzzer entry: resource seals (_CodeSignature/CodeResources): the property list, its entries and
// rules, the compiled rule sets, and matching every sealed path and a few a bundle always has.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "codesign/CodeResources.h"
#include "Require.h"

using tessarin::fuzz::require;

namespace {
void matchAll(const std::vector<tessarin::ResourceRule>& rules, const tessarin::CodeResources& seal) {
    auto compiled = tessarin::ResourceRuleSet::compile(rules);
    if (!compiled) {
        require(!compiled.error().empty());
        return;
    }
    require(compiled->size() == rules.size());
    for (const char* path : {"", "Info.plist", "MacOS/Tool", "Resources/en.lproj/InfoPlist.strings",
                             "Frameworks/Kit.framework", "Resources/a/b/c/d.png"})
        (void)compiled->match(path);
    for (const auto* files : {&seal.files, &seal.files2})
        for (const auto& [path, entry] : *files) (void)compiled->match(path);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto seal = tessarin::parseCodeResources(std::as_bytes(std::span(data, size)));
    if (!seal) {
        require(!seal.error().empty());
        return 0;
    }
    matchAll(seal->rules, *seal);
    matchAll(seal->rules2, *seal);
    return 0;
}
