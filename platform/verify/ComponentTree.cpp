// Builds the component tree: the verdict's items enriched with what their files say (bundle
// information, each slice's platform) and the assessment's account of signer and notarization, then
// one bounded walk of the item for Mach-O files and links no verification reached, then the findings.
#include "verify/ComponentTree.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <unordered_set>

#include "base/FileRead.h"
#include "base/MappedFile.h"
#include "bundle/Bundle.h"
#include "codesign/CodeSignature.h"
#include "codesign/CodeSignatureConstants.h"
#include "macho/MachO.h"

namespace fs = std::filesystem;

namespace tessarin {
namespace {

std::string normal(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    return (ec ? fs::path(path) : p).lexically_normal().generic_string();
}

bool under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string infoString(const Bundle& b, const char* key) {
    const PlistDict* info = b.infoDictionary();
    if (!info) return {};
    auto it = info->find(key);
    return it != info->end() && it->second.string() ? *it->second.string() : std::string();
}

void readFiles(CodeItem& item) {
    if (item.kind != CodeItemKind::MachO && item.kind != CodeItemKind::HelperTool && item.kind != CodeItemKind::Dylib &&
        item.kind != CodeItemKind::LooseMachO) {
        if (auto b = Bundle::open(item.path)) {
            item.bundleIdentifier = infoString(*b, "CFBundleIdentifier");
            item.bundleVersion = infoString(*b, "CFBundleVersion");
            item.bundleShortVersion = infoString(*b, "CFBundleShortVersionString");
        }
    }
    if (item.executablePath.empty()) return;
    auto mapped = MappedFile::open(item.executablePath);
    if (!mapped) return;
    auto macho = parseMachO(mapped->bytes());
    if (!macho) return;
    bool embedded = false;
    for (const MachOSlice& s : macho->slices) {
        auto location = findCodeSignature(mapped->bytes(), s);
        embedded = embedded || (location && *location);
        SliceFacts f;
        f.architecture = architectureName(s.cputype, s.cpusubtype);
        f.is64 = s.machO && s.is64;
        f.build = buildVersionOf(mapped->bytes(), s);
        item.sliceFacts.push_back(std::move(f));
    }
    // A bundle's code signed by the files in its _CodeSignature, as old kernel extensions were.
    if (!embedded && item.signature != SignatureKind::Unsigned && item.kind != CodeItemKind::MachO &&
        item.kind != CodeItemKind::HelperTool && item.kind != CodeItemKind::Dylib &&
        item.kind != CodeItemKind::LooseMachO)
        item.kind = CodeItemKind::DetachedSignature;
}

struct Builder {
    const TrustAnchors& anchors;
    TicketService* service;
    const Bytes* rootTicket = nullptr;  // the outermost item's stapled ticket, which names nested code too
    std::optional<TicketCheck> rootTicketCheck =
        std::nullopt;  // its signature and chain, checked once for every borrower

    // The item's signer and notarization by the assessment's own rules, the verdict judged without its
    // children (they are judged on their own); nested code without a ticket of its own is looked up in
    // the one stapled to the outermost item.
    void assess(CodeItem& item, CodeVerdict& v) {
        auto children = std::move(v.children);
        v.children.clear();
        const bool borrowed = !v.ticketStapled && rootTicket;
        if (borrowed) {
            v.ticketStapled = true;
            v.ticket = *rootTicket;
        }
        if (borrowed && !rootTicketCheck)
            rootTicketCheck = checkTicketFor(asByteSpan(*rootTicket), {}, anchors.tickets);
        Assessment a = assessCodeVerdict(v, AssessmentType::Execute, anchors.tickets, service,
                                         borrowed ? &*rootTicketCheck : nullptr);
        if (borrowed) {
            v.ticketStapled = false;
            v.ticket.clear();
        }
        v.children = std::move(children);
        item.source = a.source;
        item.notarization = notarizationStatusOf(a, borrowed);
    }

    void enrich(CodeItem& item, CodeVerdict& v) {
        readFiles(item);
        assess(item, v);
        for (std::size_t i = 0; i < item.children.size() && i < v.children.size(); ++i)
            enrich(item.children[i], v.children[i]);
    }

    CodeItem itemOf(CodeVerdict v, const std::string& root) {
        CodeItem item = codeItemOf(v, root);
        enrich(item, v);
        return item;
    }
};

void collectKnown(const CodeItem& item, std::unordered_set<std::string>& known,
                  std::unordered_set<std::string>& frameworks) {
    known.insert(normal(item.path));
    if (!item.executablePath.empty()) known.insert(normal(item.executablePath));
    if (item.kind == CodeItemKind::Framework) frameworks.insert(normal(item.path));
    for (const auto& c : item.children) collectKnown(c, known, frameworks);
}

bool machOMagic(const std::string& head) {
    if (head.size() < 4) return false;
    static const char* magics[] = {"\xfe\xed\xfa\xce", "\xce\xfa\xed\xfe", "\xfe\xed\xfa\xcf",
                                   "\xcf\xfa\xed\xfe", "\xca\xfe\xba\xbe", "\xca\xfe\xba\xbf"};
    return std::any_of(std::begin(magics), std::end(magics),
                       [&](const char* m) { return head.compare(0, 4, m, 4) == 0; });
}

bool codeBundleExtension(const std::string& ext) {
    static const char* exts[] = {".app",         ".framework",  ".xpc",   ".appex",    ".plugin", ".bundle",
                                 ".qlgenerator", ".mdimporter", ".saver", ".prefPane", ".kext",   ".systemextension"};
    return std::any_of(std::begin(exts), std::end(exts), [&](const char* e) { return ext == e; });
}

// A framework's own links (Versions/Current, and the top-level names that lead into it) are its
// layout, not content.
bool frameworkLayoutLink(const std::string& link, const std::string& target,
                         const std::unordered_set<std::string>& frameworks) {
    const fs::path p(link);
    const std::string parent = p.parent_path().generic_string();
    if (frameworks.count(parent)) return target.rfind("Versions/Current/", 0) == 0;
    return p.filename() == "Current" && p.parent_path().filename() == "Versions" &&
           frameworks.count(p.parent_path().parent_path().generic_string());
}

// Places an item the walk found under the innermost item that holds it.
void attach(CodeItem& node, CodeItem found, const std::string& foundPath) {
    for (auto& child : node.children) {
        if (child.kind == CodeItemKind::Link) continue;
        const std::string childPath = normal(child.path);
        if (under(foundPath, childPath)) return attach(child, std::move(found), foundPath);
    }
    node.children.push_back(std::move(found));
}

// What the verifications read while hashing, so that the walk opens only files nobody has read.
void collectHashedNotMachO(const CodeVerdict& v, std::unordered_set<std::string>& out) {
    out.insert(v.hashedNotMachO.begin(), v.hashedNotMachO.end());
    for (const CodeVerdict& c : v.children) collectHashedNotMachO(c, out);
}

void walk(ComponentTree& tree, Builder& builder, const ComponentTreeLimits& limits,
          const std::unordered_set<std::string>& hashedNotMachO) {
    const std::string rootPath = normal(tree.root.path);
    std::unordered_set<std::string> known, frameworks;
    collectKnown(tree.root, known, frameworks);
    std::vector<std::pair<std::string, CodeItem>> found;  // (normal path, item), in walk order
    std::error_code ec;
    fs::recursive_directory_iterator it(rootPath, fs::directory_options::none, ec), end;
    std::size_t entries = 0;
    for (; !ec && it != end; it.increment(ec)) {
        if (++entries > limits.maxEntries || it.depth() > limits.maxDepth) {
            tree.walkTruncated = true;
            if (entries > limits.maxEntries) break;
            it.disable_recursion_pending();
            continue;
        }
        const std::string path = it->path().lexically_normal().generic_string();
        // The entry's type as the directory listing gave it: no stat for each of thousands of files.
        std::error_code sec;
        fs::file_type type = fs::file_type::symlink;
        if (!it->is_symlink(sec))
            type = it->is_directory(sec)      ? fs::file_type::directory
                   : it->is_regular_file(sec) ? fs::file_type::regular
                                              : fs::file_type::unknown;
        if (sec) continue;
        if (type == fs::file_type::symlink) {
            std::error_code lec;
            const std::string target = fs::read_symlink(it->path(), lec).string();
            if (lec || frameworkLayoutLink(path, target, frameworks)) continue;
            CodeItem link;
            link.kind = CodeItemKind::Link;
            link.path = path;
            link.relativePath = fs::path(path).lexically_relative(rootPath).generic_string();
            link.linkTarget = target;
            found.emplace_back(path, std::move(link));
            continue;
        }
        if (type == fs::file_type::directory) {
            if (it->path().filename() == "_CodeSignature") {
                it.disable_recursion_pending();
                continue;
            }
            // A bundle no verification reached (its container unsigned, or it was added unsealed).
            if (!known.count(path) && codeBundleExtension(it->path().extension().string()) && Bundle::open(path)) {
                CodeItem item = builder.itemOf(verifyCode(path, componentTreeOptions(), builder.anchors), rootPath);
                collectKnown(item, known, frameworks);
                found.emplace_back(path, std::move(item));
            }
            continue;
        }
        if (type != fs::file_type::regular || known.count(path) || hashedNotMachO.count(path) ||
            !machOMagic(regularFileHead(path, 4, false)))
            continue;
        CodeVerifyOptions options = componentTreeOptions();
        options.deep = false;
        CodeVerdict v = verifyCode(path, options, builder.anchors);
        if (v.kind != CodeKind::MachO) continue;  // a Java class shares the fat magic
        CodeItem item = builder.itemOf(std::move(v), rootPath);
        item.kind = CodeItemKind::LooseMachO;
        found.emplace_back(path, std::move(item));
    }
    if (ec) tree.walkTruncated = true;
    for (auto& [path, item] : found) attach(tree.root, std::move(item), path);
}

void addFindings(ComponentTree& tree) {
    const CodeItem& top = tree.root;
    const bool developerId = !top.chain.empty() && top.chain.front().kind == CertificateKind::DeveloperIDApplication;
    const bool hardened = top.signature != SignatureKind::Unsigned && (top.flags & CS_RUNTIME);
    const std::string team = top.signature == SignatureKind::Certificate ? top.teamId : std::string();
    auto add = [&](TreeFindingKind k, const CodeItem& item, std::string detail = {}) {
        tree.findings.push_back({k, item.relativePath, std::move(detail)});
    };
    auto visit = [&](const CodeItem& item, auto& self) -> void {
        const bool nested = &item != &top;
        const bool code = item.kind != CodeItemKind::Link && item.kind != CodeItemKind::NotCode;
        if (nested && code) {
            if (!team.empty() && item.signature == SignatureKind::Certificate &&
                item.source != AssessmentSource::AppleSystem && item.teamId != team)
                add(TreeFindingKind::OtherTeam, item, item.teamId);
            if (developerId && item.signature == SignatureKind::Unsigned)
                add(TreeFindingKind::UnsignedInDeveloperId, item);
            if (developerId &&
                (item.signature == SignatureKind::AdHoc || item.signature == SignatureKind::LinkerSigned))
                add(TreeFindingKind::AdHocInDeveloperId, item);
            if (hardened && item.signature != SignatureKind::Unsigned && !item.executablePath.empty() &&
                !(item.flags & CS_RUNTIME))
                add(TreeFindingKind::NoHardenedRuntime, item);
        }
        for (const auto& e : item.weakeningEntitlements) add(TreeFindingKind::WeakeningEntitlement, item, e);
        if (!item.sliceFacts.empty() &&
            std::none_of(item.sliceFacts.begin(), item.sliceFacts.end(), [](const SliceFacts& s) { return s.is64; }))
            add(TreeFindingKind::ThirtyTwoBitOnly, item);
        for (const auto& c : item.children) self(c, self);
    };
    visit(top, visit);
}

// Children in path order, whatever order the folders listed them in.
void sortChildren(CodeItem& item) {
    std::sort(item.children.begin(), item.children.end(),
              [](const CodeItem& a, const CodeItem& b) { return a.relativePath < b.relativePath; });
    for (auto& c : item.children) sortChildren(c);
}

}  // namespace

NotarizationStatus notarizationStatusOf(const Assessment& a, bool containerTicket) {
    switch (a.source) {
    case AssessmentSource::NotarizedDeveloperID:
        if (a.notarization == NotarizationNote::TicketNamesItem)
            return containerTicket ? NotarizationStatus::ContainerTicket : NotarizationStatus::StapledTicket;
        return NotarizationStatus::ConfirmedOnline;
    case AssessmentSource::DeveloperID:
    case AssessmentSource::UnnotarizedDeveloperID:
        return a.obstacle == NotarizationObstacle::NoHardenedRuntime ? NotarizationStatus::NotPossible
                                                                     : NotarizationStatus::NotEstablished;
    default: return NotarizationStatus::NotApplicable;
    }
}

CodeVerifyOptions componentTreeOptions() {
    CodeVerifyOptions options;
    options.strict = true;
    options.deep = true;
    return options;
}

ComponentTree buildComponentTree(CodeVerdict verdict, const TrustAnchors& anchors, TicketService* service,
                                 const ComponentTreeLimits& limits, const Bytes* containerTicket) {
    ComponentTree tree;
    Builder builder{anchors, service};
    const Bytes rootTicket = verdict.ticketStapled ? verdict.ticket : Bytes();
    std::unordered_set<std::string> hashedNotMachO;
    collectHashedNotMachO(verdict, hashedNotMachO);
    tree.root = codeItemOf(verdict);
    // The outermost item's own ticket is its own; only nested code borrows it.
    readFiles(tree.root);
    builder.rootTicket = containerTicket;
    builder.assess(tree.root, verdict);
    if (!rootTicket.empty()) {
        // Nested code borrows the item's own ticket before its container's.
        builder.rootTicket = &rootTicket;
        builder.rootTicketCheck.reset();
    }
    for (std::size_t i = 0; i < tree.root.children.size() && i < verdict.children.size(); ++i)
        builder.enrich(tree.root.children[i], verdict.children[i]);
    std::error_code ec;
    if (fs::is_directory(tree.root.path, ec)) walk(tree, builder, limits, hashedNotMachO);
    sortChildren(tree.root);
    addFindings(tree);
    return tree;
}

ComponentTree componentTreeOf(const std::string& path, const TrustAnchors& anchors, TicketService* service,
                              const ComponentTreeLimits& limits, const Bytes* containerTicket) {
    return buildComponentTree(verifyCode(path, componentTreeOptions(), anchors), anchors, service, limits,
                              containerTicket);
}

}  // namespace tessarin
