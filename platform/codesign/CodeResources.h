// A bundle's resource seal (_CodeSignature/CodeResources): its rules and the files it seals, and the
// rule that governs a path.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

struct ResourceRule {
    std::string pattern;  // POSIX extended regular expression, matched against the relative path
    bool omit = false;
    bool optional = false;
    bool nested = false;
    std::int64_t weight = 1;
    bool bare = false;  // given as plain true rather than as a dictionary
};

struct SealedResource {
    std::string path;            // relative to the bundle's content folder
    std::optional<Bytes> hash;   // SHA-1
    std::optional<Bytes> hash2;  // SHA-256
    bool optional = false;
    std::optional<std::string> symlink;      // sealed as the link's target text
    std::optional<Bytes> cdhash;             // nested code
    std::optional<std::string> requirement;  // nested code's designated requirement, as text
};

// Compiled rules: matching picks the heaviest matching rule, the first in key order among equals.
class ResourceRuleSet {
public:
    static Result<ResourceRuleSet> compile(const std::vector<ResourceRule>& rules);
    ResourceRuleSet(ResourceRuleSet&&) noexcept;
    ResourceRuleSet& operator=(ResourceRuleSet&&) noexcept;
    ~ResourceRuleSet();

    // Nothing when no rule matches: such a path is not sealed.
    const ResourceRule* match(const std::string& relativePath) const;
    std::size_t size() const { return rules_.size(); }

private:
    ResourceRuleSet();
    struct Compiled;
    std::vector<ResourceRule> rules_;
    std::vector<std::unique_ptr<Compiled>> compiled_;
};

struct CodeResources {
    std::vector<ResourceRule> rules;               // "rules" (version 1)
    std::vector<ResourceRule> rules2;              // "rules2"
    std::map<std::string, SealedResource> files;   // "files"
    std::map<std::string, SealedResource> files2;  // "files2"
    bool hasVersion2 = false;                      // files2 or rules2 present

    int version() const { return hasVersion2 ? 2 : 1; }
    const std::vector<ResourceRule>& rulesInForce() const { return hasVersion2 ? rules2 : rules; }
    const std::map<std::string, SealedResource>& filesInForce() const { return hasVersion2 ? files2 : files; }
};

// Parses the XML (or binary) plist of a CodeResources file; malformed entries give an error naming them.
Result<CodeResources> parseCodeResources(ByteSpan bytes);

}  // namespace tessarin
