// The walk over a bundle's content that checks every file against the seal: added, modified and
// missing files, links, and nested code, with the sealed files hashed on a pool as they are found.
#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "bundle/Bundle.h"
#include "codesign/CodeSignature.h"
#include "codesign/RequirementParser.h"
#include "verify/SealHasher.h"
#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin::detail {
namespace {

// An entry's own type (a link is a link), from the directory listing where it gives one: no stat
// per entry, only where the file system leaves the type out.
fs::file_type listedType(const fs::directory_entry& entry, std::error_code& ec) {
    if (entry.is_symlink(ec)) return fs::file_type::symlink;
    if (ec) return fs::file_type::none;
    // Not a link, so these read the listed type without following anything.
    if (entry.is_regular_file(ec)) return fs::file_type::regular;
    if (entry.is_directory(ec)) return fs::file_type::directory;
    return entry.symlink_status(ec).type();
}

// The entry's path below the root. The listing names entries as the root, a slash and names it read,
// so cutting the root off gives what a path-by-path comparison would, without splitting either path.
std::string relativeTo(const std::string& root, const fs::path& entry) {
    const std::string& full = entry.native();
    if (full.size() > root.size() + 1 && full.compare(0, root.size(), root) == 0 && full[root.size()] == '/')
        return full.substr(root.size() + 1);
    return entry.lexically_relative(root).generic_string();
}

}  // namespace

void Verifier::checkResources(CodeVerdict& v, const std::string& contentRoot, const CodeResources& seal,
                              const std::set<std::string>& excluded, int depth, bool appContent) {
    auto rules = ResourceRuleSet::compile(seal.rulesInForce());
    if (!rules) {
        v = failed(std::move(v), ProblemKind::ResourceEnvelopeInvalid);
        return;
    }
    const auto& sealed = seal.filesInForce();
    const bool v2 = seal.hasVersion2;

    unsigned threads = options_.threads;
    if (threads == 0) threads = std::clamp(usableCores(), 1u, 4u);
    SealHasher hasher(contentRoot, threads);
    std::unordered_set<const SealedResource*> seen;  // entries found on disk
    seen.reserve(sealed.size());
    std::vector<std::pair<std::string, Problem>> problems;  // (relative path, problem)
    auto abs = [&](const std::string& rel) { return contentRoot + "/" + rel; };
    // Of the nested code that fails, the first in path order speaks for the bundle, whatever
    // order the folders list in.
    std::optional<std::string> nestedFailure;  // its relative path
    ProblemKind nestedCause = ProblemKind::None;
    auto found = [&](ProblemKind kind, const std::string& rel) {
        Problem p;
        p.kind = kind;
        p.where = abs(rel);
        problems.emplace_back(rel, std::move(p));
    };

    // Thrown, not collected: the nested item's own failure speaks for the bundle.
    auto nestedFailed = [&](const std::string& rel, ProblemKind cause, std::vector<Problem> nested) {
        Problem p;
        p.kind = ProblemKind::NestedCodeInvalid;
        p.where = abs(rel);
        p.nested = std::move(nested);
        problems.emplace_back(rel, std::move(p));
        if (!nestedFailure || rel < *nestedFailure) {
            nestedFailure = rel;
            nestedCause = cause;
        }
    };

    // Nested code is an entry with a requirement; it is validated with this check's own options and
    // every slice must satisfy the sealed requirement. The CDHash sealed beside it is not compared:
    // a rebuild the requirement still accepts (the same team's) is the same code to its container.
    auto checkNested = [&](const std::string& rel, const SealedResource& entry, bool folder) {
        // A sealed requirement is part of the seal: text that does not compile fails closed.
        auto requirement = parseRequirementText(*entry.requirement);
        if (!requirement) {
            found(ProblemKind::FileModified, rel);
            return;
        }
        if (options_.deep) {
            CodeVerdict inner = verify(abs(rel), depth + 1);
            const bool valid = inner.valid;
            if (!valid) nestedFailed(rel, inner.cause, inner.problems);
            v.children.push_back(std::move(inner));
            if (!valid) return;
        }
        auto slices = nestedSlices(abs(rel), &*requirement);
        if (!slices) {
            found(ProblemKind::FileModified, rel);
            return;
        }
        // The nested signature is checked before its requirement is asked; its failure is its own.
        for (const NestedSlice& s : *slices) {
            if (s.failure == ProblemKind::None) continue;
            Problem own;
            own.kind = s.failure;
            nestedFailed(rel, s.failure, {own});
            return;
        }
        if (!std::all_of(slices->begin(), slices->end(), [](const NestedSlice& s) { return s.satisfies; })) {
            found(ProblemKind::NestedCodeModified, rel);
            return;
        }
        // A framework's other versions must be valid code its container's requirement accepts too.
        const bool framework = rel.size() > 10 && rel.compare(rel.size() - 10, 10, ".framework") == 0;
        if (options_.strict && folder && framework && !otherVersionsHold(abs(rel), *requirement, depth))
            nestedFailed(rel, ProblemKind::BadFrameworkVersion, {});
    };

    std::error_code ec;
    fs::recursive_directory_iterator it(contentRoot, fs::directory_options::none, ec), end;
    if (ec) {
        v = failed(std::move(v), ProblemKind::ResourceUnreadable);
        return;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        std::string rel = relativeTo(contentRoot, p);
        if (it.depth() == 0 && excluded.count(rel)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
            continue;
        }
        if (excluded.count(rel)) continue;
        if (it.depth() > kMaxDirectoryDepth) {
            v = failed(std::move(v), ProblemKind::FoldersTooDeep);
            return;
        }
        std::error_code sec;
        const fs::file_type type = listedType(*it, sec);
        if (sec || type == fs::file_type::not_found) continue;
        const bool isLink = type == fs::file_type::symlink;
        auto sealedIt = sealed.find(rel);
        const SealedResource* entry = sealedIt == sealed.end() ? nullptr : &sealedIt->second;
        if (type == fs::file_type::directory) {
            // A sealed directory is nested code (sealed by requirement); an unsealed bundle where a nested
            // rule applies is code added after signing. Only folders with an extension count as
            // bundles here: "Resources" of a framework holds an Info.plist too.
            if (entry) {
                it.disable_recursion_pending();
                seen.insert(entry);
                if (entry->requirement)
                    checkNested(rel, *entry, true);
                else
                    found(ProblemKind::FileModified, rel);
            } else if (const ResourceRule* rule = v2 ? rules->match(rel) : nullptr;
                       rule && rule->nested && !rule->omit && p.has_extension() && Bundle::open(p.string())) {
                it.disable_recursion_pending();
                found(ProblemKind::FileAdded, rel);
            }
            continue;
        }
        // The store adds its receipt to an app after signing: that one regular file, nothing else
        // in its folder and nothing in its place, is not the seal's to judge.
        if (!entry && appContent && type == fs::file_type::regular && rel == kMasReceiptPath) continue;
        if (!entry) {
            // Only a path the seal does not name needs its rule: matching every path was the walk's
            // largest cost.
            // The first generation of seals had no form for links; one it left out is no addition.
            const ResourceRule* rule = rules->match(rel);
            if (rule && !rule->omit && (v2 || !isLink)) found(ProblemKind::FileAdded, rel);
            continue;
        }
        seen.insert(entry);
        if (isLink) {
            std::error_code lec;
            fs::path target = fs::read_symlink(p, lec);
            if (!v2 && !lec && entry->hash) {
                // A first-generation seal hashes the link's target text.
                const std::string& t = target.native();
                auto d =
                    codeSignatureDigest(CS_HASHTYPE_SHA1, {reinterpret_cast<const std::byte*>(t.data()), t.size()});
                if (d != *entry->hash) found(ProblemKind::FileModified, rel);
                continue;
            }
            if (!entry->symlink || lec || target.string() != *entry->symlink) {
                found(ProblemKind::FileModified, rel);
            } else if (options_.strict) {
                fs::path resolved = (p.parent_path() / target).lexically_normal();
                fs::path inside = resolved.lexically_relative(contentRoot);
                if (target.is_absolute() || inside.empty() || inside.native().rfind("..", 0) == 0)
                    found(ProblemKind::SymlinkOutside, rel);
            }
            continue;
        }
        if (entry->symlink || type != fs::file_type::regular) {
            found(ProblemKind::FileModified, rel);
            continue;
        }
        if (entry->requirement) {
            checkNested(rel, *entry, false);
            continue;
        }
        HashJob job{rel, entry, false, false, false};
        if (v2 && entry->hash2) {
            job.sha256 = true;
            job.sha1 = options_.strict && entry->hash.has_value();
        } else if (entry->hash) {
            job.sha1 = true;
        } else {
            found(ProblemKind::FileModified, rel);
            continue;
        }
        hasher.add(std::move(job));
    }
    if (ec) {
        v = failed(std::move(v), ProblemKind::ResourceUnreadable);
        return;
    }

    // A job's path is names the listing gave, joined by slashes: appended to the normal root it is
    // already normal, and normalising each of 20,000 paths again was a measurable share of the walk.
    std::error_code aec;
    std::string absoluteRoot = fs::absolute(contentRoot, aec).lexically_normal().generic_string();
    if (absoluteRoot.empty() || absoluteRoot.back() != '/') absoluteRoot += '/';
    for (const HashJob& job : hasher.finish()) {
        if (job.bad) found(ProblemKind::FileModified, job.relative);
        if (job.headRead && !job.machO) v.hashedNotMachO.push_back(absoluteRoot + job.relative);
    }

    // Only the entry itself can make a sealed file optional; the rule that matches its path cannot.
    for (const auto& [rel, entry] : sealed)
        if (!seen.count(&entry) && !entry.optional) found(ProblemKind::FileMissing, rel);

    if (problems.empty()) return;
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Failing nested code speaks for the bundle with its own cause, before any resource problem.
    if (nestedFailure && v.failureKind == CodeFailure::None) {
        v.failureKind = CodeFailure::NestedCodeInvalid;
        v.cause = nestedCause;
    }
    for (auto& p : problems) addProblem(v, std::move(p.second));
}

}  // namespace tessarin::detail
