// The shape a signed bundle must have beyond its seal: no symbolic links where the bundle's own
// structure lies (so nothing outside the item is read and vouched for), resources sealed by the main
// executable, and nothing unsealed at the top of an app or framework.
#include <sys/stat.h>
#include <filesystem>

#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin::detail {
namespace {

bool isLink(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isDirectory(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A single relative name: no separators, not "." or "..".
bool plainName(const fs::path& p) {
    const std::string s = p.native();
    return !s.empty() && s != "." && s != ".." && s.find('/') == std::string::npos;
}

}  // namespace

bool linkOnTheWay(const std::string& base, const std::string& relative) {
    fs::path at = base;
    for (const auto& part : fs::path(relative).lexically_normal()) {
        if (part == "..") return true;  // leaves the bundle: as bad as a link
        if (part.empty() || part == ".") continue;
        at /= part;
        if (isLink(at)) return true;
    }
    return false;
}

std::optional<std::string> frameworkVersionFolder(const std::string& root, const std::string& version) {
    const fs::path versions = fs::path(root) / "Versions";
    if (isLink(versions) || !isDirectory(versions)) return std::nullopt;
    if (version != "Current") {
        if (!plainName(version) || isLink(versions / version) || !isDirectory(versions / version)) return std::nullopt;
        return (versions / version).string();
    }
    std::error_code ec;
    const fs::path target = fs::read_symlink(versions / "Current", ec);
    if (ec || !plainName(target) || !isDirectory(versions / target)) return std::nullopt;
    return (versions / target).string();
}

bool hasWeakResourceRules(const CodeResources& seal, Bundle::Layout layout) {
    // The omissions every bundle may make; anything else left out of the seal rides along unjudged.
    const std::string resources = layout == Bundle::Layout::Shallow ? "" : "Resources/";
    const std::set<std::string> allowed = {"^(.*/)?\\.DS_Store$", "^Info\\.plist$", "^PkgInfo$",
                                           "^" + resources + ".*\\.lproj/locversion.plist$"};
    const std::string catchAll = seal.hasVersion2 ? "^.*" : "^Resources/";
    bool coversAll = false;
    for (const auto& rule : seal.rulesInForce()) {
        if (rule.pattern == catchAll && rule.bare) {
            coversAll = true;
            continue;
        }
        if (rule.omit && !allowed.count(rule.pattern)) return true;
    }
    return !coversAll;
}

bool holdsMoreThan(const std::string& contentRoot, const std::set<std::string>& allowed) {
    std::error_code ec;
    fs::recursive_directory_iterator it(contentRoot, fs::directory_options::none, ec), end;
    if (ec) return false;
    for (; it != end; it.increment(ec)) {
        if (ec || it.depth() > kMaxDirectoryDepth) return true;
        const std::string rel = it->path().lexically_relative(contentRoot).generic_string();
        std::error_code sec;
        const auto type = it->symlink_status(sec).type();
        if (type == fs::file_type::directory) {
            if (allowed.count(rel)) it.disable_recursion_pending();
            continue;
        }
        if (!allowed.count(rel)) return true;
    }
    return false;
}

std::vector<Problem> unsealedTopLevel(const std::string& root, Bundle::Layout layout, bool embedded) {
    std::vector<Problem> problems;
    auto add = [&](ProblemKind kind, const fs::path& where) {
        Problem p;
        p.kind = kind;
        p.where = where.string();
        problems.push_back(std::move(p));
    };
    std::error_code ec;
    const fs::path top = root;
    if (layout == Bundle::Layout::App) {
        for (const auto& entry : fs::directory_iterator(top, ec))
            if (entry.path().filename() != "Contents") add(ProblemKind::UnsealedBundleRoot, entry.path());
        return problems;
    }
    if (layout != Bundle::Layout::Framework) return problems;
    const ProblemKind unsealed = embedded ? ProblemKind::UnsealedFrameworkRoot : ProblemKind::UnsealedBundleRoot;
    std::error_code cec;
    const std::string current = fs::read_symlink(top / "Versions" / "Current", cec).string();
    // A top-level link may only name its namesake in the current version: "Kit" -> Versions/Current/Kit.
    auto namesake = [&](const fs::path& link, const std::string& name) {
        std::error_code lec;
        std::string t = fs::read_symlink(link, lec).string();
        if (lec) return false;
        if (t.rfind("./", 0) == 0) t.erase(0, 2);
        return t == "Versions/Current/" + name ||
               (!cec && plainName(current) && t == "Versions/" + current + "/" + name);
    };
    auto plainFile = [](const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & 0111);
    };
    for (const auto& entry : fs::directory_iterator(top, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "Versions" && isDirectory(entry.path())) continue;
        if (isLink(entry.path()) ? namesake(entry.path(), name)
                                 : (name == ".DS_Store" || name == "module.map") && plainFile(entry.path()))
            continue;
        add(unsealed, entry.path());
    }
    // Versions/ holds Current (a link to a version beside it) and versions; the versions other than
    // the current one are judged where the framework is nested code.
    for (const auto& entry : fs::directory_iterator(top / "Versions", ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "Current" ? isLink(entry.path()) && !cec && plainName(current)
                              : isDirectory(entry.path()) || (name == ".DS_Store" && plainFile(entry.path())))
            continue;
        add(unsealed, entry.path());
    }
    return problems;
}

}  // namespace tessarin::detail
