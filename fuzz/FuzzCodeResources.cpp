// libFuzzer entry: resource seals (_CodeSignature/CodeResources): the property list, its entries and
// rules, the compiled rule sets, and matching every sealed path and a few a bundle always has.
#include "FuzzEntry.h"
#include "codesign/CodeResources.h"

namespace tessarin::fuzz {
namespace {
void matchAll(const std::vector<ResourceRule>& rules, const CodeResources& seal) {
    auto compiled = ResourceRuleSet::compile(rules);
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

void fuzzOne(Input in) {
    auto seal = parseCodeResources(in.bytes());
    if (!seal) {
        require(!seal.error().empty());
        return;
    }
    matchAll(seal->rules, *seal);
    matchAll(seal->rules2, *seal);
}

}  // namespace tessarin::fuzz
