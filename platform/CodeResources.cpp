// Reads the resource seal and matches paths against its rules with POSIX regular expressions, whose
// matcher neither recurses on long paths nor backtracks without bound as std::regex does.
#include "CodeResources.h"

#include <regex.h>

#include <algorithm>

#include "Plist.h"

namespace tessarin {

struct ResourceRuleSet::Compiled {
    regex_t regex{};
    ~Compiled() { regfree(&regex); }
};

namespace {

// glibc's regcomp copies a repeated subexpression once per bound and again for each stacked
// operator, so a short hostile rule ("a++++...", "(a{255}){255}") can take gigabytes. Estimate the
// size of the compiled tree from the pattern and refuse rules far beyond any real seal's.
constexpr std::size_t kMaxRulePatternLength = 4096;
constexpr double kMaxRuleCost = 20000;

bool ruleWithinBounds(const std::string& pattern) {
    if (pattern.size() > kMaxRulePatternLength) return false;
    struct Frame {
        double total = 0;
        double last = 0;
    };
    std::vector<Frame> frames(1);
    auto atom = [&](double cost) {
        frames.back().total += frames.back().last;
        frames.back().last = cost;
    };
    auto repeat = [&](double factor) { frames.back().last = frames.back().last * factor + 1; };
    const std::size_t n = pattern.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            ++i;
            atom(1);
        } else if (c == '[') {
            std::size_t j = i + 1;
            if (j < n && pattern[j] == '^') ++j;
            if (j < n && pattern[j] == ']') ++j;
            while (j < n && pattern[j] != ']') {
                if (pattern[j] == '[' && j + 1 < n && (pattern[j + 1] == ':' || pattern[j + 1] == '.' || pattern[j + 1] == '=')) {
                    const char close = pattern[j + 1];
                    j += 2;
                    while (j + 1 < n && !(pattern[j] == close && pattern[j + 1] == ']')) ++j;
                    j += 2;
                } else {
                    ++j;
                }
            }
            i = j;
            atom(1);
        } else if (c == '(') {
            if (frames.size() > 64) return false;
            frames.emplace_back();
        } else if (c == ')' && frames.size() > 1) {
            const Frame inner = frames.back();
            frames.pop_back();
            atom(inner.total + inner.last + 1);
        } else if (c == '|') {
            frames.back().total += frames.back().last + 1;
            frames.back().last = 0;
        } else if (c == '*' || c == '+' || c == '?') {
            repeat(2);
        } else if (c == '{') {
            std::size_t j = i + 1;
            double low = 0, high = -1, value = 0;
            bool comma = false;
            while (j < n && j < i + 16 && pattern[j] != '}') {
                if (pattern[j] == ',') {
                    low = value;
                    value = 0;
                    comma = true;
                } else if (pattern[j] >= '0' && pattern[j] <= '9') {
                    value = value * 10 + (pattern[j] - '0');
                }
                ++j;
            }
            if (comma) high = (j > 0 && pattern[j - 1] == ',') ? low : value;
            else low = high = value;
            repeat(std::max(low, high) + 1);
            i = j;
        } else {
            atom(1);
        }
        if (frames.back().total + frames.back().last > kMaxRuleCost) return false;
    }
    double total = 0;
    for (const Frame& f : frames) total += f.total + f.last;
    return total <= kMaxRuleCost;
}

}  // namespace

ResourceRuleSet::ResourceRuleSet() = default;
ResourceRuleSet::ResourceRuleSet(ResourceRuleSet&&) noexcept = default;
ResourceRuleSet& ResourceRuleSet::operator=(ResourceRuleSet&&) noexcept = default;
ResourceRuleSet::~ResourceRuleSet() = default;

Result<ResourceRuleSet> ResourceRuleSet::compile(const std::vector<ResourceRule>& rules) {
    ResourceRuleSet set;
    set.rules_ = rules;
    for (const auto& rule : rules) {
        if (!ruleWithinBounds(rule.pattern))
            return fail("resource rule \"" + rule.pattern.substr(0, 80) + "\" is too complex to match safely");
        auto c = std::make_unique<Compiled>();
        if (regcomp(&c->regex, rule.pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
            c->regex = regex_t{};  // regcomp freed its own; regfree of a zeroed one does nothing
            return fail("resource rule \"" + rule.pattern + "\" is not a valid regular expression");
        }
        set.compiled_.push_back(std::move(c));
    }
    return set;
}

const ResourceRule* ResourceRuleSet::match(const std::string& relativePath) const {
    const ResourceRule* best = nullptr;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (best && rules_[i].weight <= best->weight) continue;
        if (regexec(&compiled_[i]->regex, relativePath.c_str(), 0, nullptr, 0) == 0) best = &rules_[i];
    }
    return best;
}

namespace {

std::optional<std::vector<std::uint8_t>> dataOf(const PlistValue* v) {
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
            if (!*b) continue;  // a rule switched off
        } else if (const PlistDict* d = value.dict()) {
            auto flag = [&](const char* name) {
                auto it = d->find(name);
                return it != d->end() && it->second.boolean() && *it->second.boolean();
            };
            rule.omit = flag("omit");
            rule.optional = flag("optional");
            rule.nested = flag("nested");
            if (auto it = d->find("weight"); it != d->end()) {
                if (it->second.integer()) rule.weight = *it->second.integer();
                else if (it->second.real()) rule.weight = static_cast<std::int64_t>(*it->second.real());
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
            if (!r.hash && !r.hash2 && !r.cdhash && !r.symlink)
                return fail("CodeResources entry \"" + path + "\" in \"" + key + "\" seals nothing");
        } else {
            return fail("CodeResources entry \"" + path + "\" in \"" + key + "\" is malformed");
        }
        files.emplace(path, std::move(r));
    }
    return files;
}

}  // namespace

Result<CodeResources> parseCodeResources(std::span<const std::byte> bytes) {
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
