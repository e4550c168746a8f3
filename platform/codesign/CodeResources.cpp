// Reads the resource seal and matches paths against its rules.
#include "codesign/CodeResources.h"

#include <algorithm>

#include "base/Bytes.h"
#include "codesign/ResourcePattern.h"
#include "plist/Plist.h"

namespace tessarin {

struct ResourceRuleSet::Compiled {
    ResourcePattern pattern;
};

ResourceRuleSet::ResourceRuleSet() = default;
ResourceRuleSet::ResourceRuleSet(ResourceRuleSet&&) noexcept = default;
ResourceRuleSet& ResourceRuleSet::operator=(ResourceRuleSet&&) noexcept = default;
ResourceRuleSet::~ResourceRuleSet() = default;

Result<ResourceRuleSet> ResourceRuleSet::compile(const std::vector<ResourceRule>& rules) {
    ResourceRuleSet set;
    set.rules_ = rules;
    for (const auto& rule : rules) {
        auto pattern = ResourcePattern::compile(rule.pattern);
        if (!pattern) return fail("resource rule \"" + rule.pattern.substr(0, 80) + "\" " + pattern.error());
        set.compiled_.push_back(std::make_unique<Compiled>(Compiled{std::move(*pattern)}));
    }
    return set;
}

const ResourceRule* ResourceRuleSet::match(const std::string& relativePath) const {
    const ResourceRule* best = nullptr;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (best && rules_[i].weight <= best->weight) continue;
        if (compiled_[i]->pattern.search(relativePath)) best = &rules_[i];
    }
    return best;
}

namespace {

std::optional<Bytes> dataOf(const PlistValue* v) {
    if (!v || !v->data()) return std::nullopt;
    return v->data()->bytes;
}

Result<std::vector<ResourceRule>> readRules(const PlistValue* node, const char* key) {
    std::vector<ResourceRule> rules;
    if (!node) return rules;
    const PlistDict* dict = node->dict();
    if (!dict) return fail(std::string("CodeResources \"") + key + "\" is not a dictionary");
    for (const auto& [pattern, value] : *dict) {
        ResourceRule rule;
        rule.pattern = pattern;
        if (const bool* b = value.boolean()) {
            rule.bare = *b;
            rule.omit = !*b;  // false leaves the paths it matches out of the seal
        } else if (const PlistDict* d = value.dict()) {
            auto flag = [&](const char* name) {
                auto it = d->find(name);
                return it != d->end() && it->second.boolean() && *it->second.boolean();
            };
            rule.omit = flag("omit");
            rule.optional = flag("optional");
            rule.nested = flag("nested");
            if (auto it = d->find("weight"); it != d->end()) {
                if (it->second.integer())
                    rule.weight = *it->second.integer();
                else if (it->second.real())
                    rule.weight = static_cast<std::int64_t>(*it->second.real());
            }
        } else {
            return fail(std::string("CodeResources rule \"") + pattern + "\" in \"" + key + "\" is malformed");
        }
        rules.push_back(std::move(rule));
    }
    return rules;
}

Result<std::map<std::string, SealedResource>> readFiles(const PlistValue* node, const char* key) {
    std::map<std::string, SealedResource> files;
    if (!node) return files;
    const PlistDict* dict = node->dict();
    if (!dict) return fail(std::string("CodeResources \"") + key + "\" is not a dictionary");
    for (const auto& [path, value] : *dict) {
        SealedResource r;
        r.path = path;
        if (value.data()) {
            r.hash = value.data()->bytes;
        } else if (value.dict()) {
            r.hash = dataOf(value.find("hash"));
            r.hash2 = dataOf(value.find("hash2"));
            r.cdhash = dataOf(value.find("cdhash"));
            if (auto* o = value.find("optional"); o && o->boolean()) r.optional = *o->boolean();
            if (auto* s = value.find("symlink"); s && s->string()) r.symlink = *s->string();
            if (auto* q = value.find("requirement"); q && q->string()) r.requirement = *q->string();
            if (!r.hash && !r.hash2 && !r.cdhash && !r.symlink && !r.requirement)
                return fail("CodeResources entry \"" + path + "\" in \"" + key + "\" seals nothing");
        } else {
            return fail("CodeResources entry \"" + path + "\" in \"" + key + "\" is malformed");
        }
        files.emplace_hint(files.end(), path, std::move(r));  // the plist's keys come in order
    }
    return files;
}

}  // namespace

Result<CodeResources> parseCodeResources(ByteSpan bytes) {
    auto plist = parsePlist(bytes);
    if (!plist) return fail("CodeResources is not a property list: " + plist.error());
    if (!plist->dict()) return fail("CodeResources is not a dictionary");
    CodeResources cr;
    auto rules = readRules(plist->find("rules"), "rules");
    if (!rules) return fail(rules.error());
    auto rules2 = readRules(plist->find("rules2"), "rules2");
    if (!rules2) return fail(rules2.error());
    auto files = readFiles(plist->find("files"), "files");
    if (!files) return fail(files.error());
    auto files2 = readFiles(plist->find("files2"), "files2");
    if (!files2) return fail(files2.error());
    cr.hasVersion2 = plist->find("files2") != nullptr || plist->find("rules2") != nullptr;
    cr.rules = std::move(*rules);
    cr.rules2 = std::move(*rules2);
    cr.files = std::move(*files);
    cr.files2 = std::move(*files2);
    return cr;
}

}  // namespace tessarin
