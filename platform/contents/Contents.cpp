// A container's contents as its tree. The walk over what was expanded never follows a link: links
// are shown as links, bundles and Mach-O files get a tree of their own, containers inside are
// opened to a fixed depth, and everything else is passed over.
#include "contents/Contents.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/DisplayText.h"
#include "base/FileRead.h"
#include "base/MappedFile.h"
#include "contents/ContentsExpand.h"
#include "diskimage/Udif.h"
#include "macho/MachOConstants.h"
#include "verify/Assessment.h"
#include "verify/Stapling.h"

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr std::size_t kMaxRefusalNotes = 20;

bool machOMagic(const std::string& head) {
    return head.size() >= 4 && startsWithMachOMagic(reinterpret_cast<const unsigned char*>(head.data()));
}

bool startsWith(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// Archive magics: zip (a local header, or the end record of an empty zip), tar's "ustar" field, and
// the compressed streams a tar is wrapped in.
bool archiveMagic(const std::string& head) {
    using namespace std::string_view_literals;
    if (startsWith(head, "PK\x03\x04"sv) || startsWith(head, "PK\x05\x06"sv)) return true;
    if (head.size() >= 262 && head.compare(257, 5, "ustar") == 0) return true;
    return startsWith(head, "\x1f\x8b"sv) || startsWith(head, "BZh"sv) || startsWith(head, "\xfd" "7zXZ\0"sv);
}

// Where an item expanded from a container lies, and how it is shown: the container's path joined
// with its path inside, and that path alone for the tree.
struct Place {
    std::string expanded;
    std::string shown;
    std::string relative;

    Place child(const std::string& name) const {
        return {expanded + "/" + name, shown + "/" + name, relative.empty() ? name : relative + "/" + name};
    }
};

std::string relocated(const std::string& path, const std::string& from, const std::string& to) {
    if (path == from) return to;
    if (path.size() > from.size() && startsWith(path, from) && path[from.size()] == '/')
        return to + path.substr(from.size());
    return path;
}

void relocateProblems(std::vector<Problem>& problems, const std::string& from, const std::string& to) {
    for (Problem& p : problems) {
        p.where = relocated(p.where, from, to);
        relocateProblems(p.nested, from, to);
    }
}

// A tree made for an item in the private folder, moved to where the container shows it.
void relocate(CodeItem& item, const Place& at) {
    item.relativePath = item.relativePath.empty() ? at.relative : at.relative + "/" + item.relativePath;
    item.path = relocated(item.path, at.expanded, at.shown);
    item.executablePath = relocated(item.executablePath, at.expanded, at.shown);
    relocateProblems(item.problems, at.expanded, at.shown);
    // Every relative path in the tree is relative to its outermost item, which now sits at `at`.
    for (CodeItem& child : item.children) relocate(child, at);
}

// Folders that are bundles by their extension or by their layout, whatever their name says.
bool looksLikeBundle(const fs::path& dir) {
    static constexpr std::array kExtensions = {".app",    ".framework", ".bundle", ".plugin", ".appex",
                                               ".xpc",    ".kext",      ".dext",   ".systemextension",
                                               ".saver",  ".prefPane",  ".qlgenerator", ".mdimporter"};
    const std::string ext = dir.extension().string();
    for (const char* e : kExtensions)
        if (ext == e) return true;
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(dir / "Contents" / "Info.plist", ec));
}

// The container's own row: an archive has no signature to judge; a package's is judged as
// installation judges it (what verifying it as code said of it is dropped).
void asContainer(CodeItem& item, ContainerKind kind, const TrustAnchors& anchors, TicketService* service) {
    if (kind == ContainerKind::Package && item.kind != CodeItemKind::InstallerPackage) {
        ComponentTree own;
        assessPath(item.path, AssessmentType::Install, anchors, service, &own);
        item = std::move(own.root);
    }
    // A bare volume has no trailer to keep a signature in; it is still a disk image.
    if (kind == ContainerKind::DiskImage) item.kind = CodeItemKind::DiskImage;
    if (kind != ContainerKind::Archive) return;
    CodeItem archive;
    archive.kind = CodeItemKind::Archive;
    archive.path = std::move(item.path);
    archive.relativePath = std::move(item.relativePath);
    item = std::move(archive);
}

// What a package says of itself, as its expansion read it.
void describePackage(CodeItem& item, const CodeItem& facts) {
    item.bundleIdentifier = facts.bundleIdentifier;
    item.bundleShortVersion = facts.bundleShortVersion;
    item.installLocation = facts.installLocation;
    item.scripts = facts.scripts;
}

class ContentsBuilder {
public:
    ContentsBuilder(ComponentTree& tree, const std::string& parent, const TrustAnchors& anchors,
                    TicketService* service, const ContentsOptions& options)
        : tree_(tree), parent_(parent), anchors_(anchors), service_(service), options_(options) {}

    // Expands the container at `file` and adds what it holds under `node`, which sits at `at`.
    void open(CodeItem& node, const std::string& file, const Place& at, ContainerKind kind, int nesting) {
        const std::string name = displayText(at.shown);
        ExpandedContainer expanded = expandContainer(file, kind, parent_, options_);
        for (std::string& note : expanded.notes) tree_.notes.push_back(name + ": " + note);
        std::size_t refusals = 0;
        for (std::string& refusal : expanded.refusals) {
            if (refusals++ < kMaxRefusalNotes) tree_.notes.push_back(name + ": " + refusal);
        }
        if (refusals > kMaxRefusalNotes)
            tree_.notes.push_back(name + ": " + std::to_string(refusals - kMaxRefusalNotes) +
                                  " more entries were refused.");
        // A disk image's stapled ticket names the code it holds as well, as a mounted image's does.
        std::optional<Bytes> ticket;
        if (kind == ContainerKind::DiskImage) {
            StapledItem stapled = readStapledItem(file);
            if (!stapled.ticket.empty()) ticket = std::move(stapled.ticket);
        }
        const Bytes* saved = containerTicket_;
        if (ticket) containerTicket_ = &*ticket;
        for (const ExpandedPart& part : expanded.parts) {
            if (part.name.empty()) {
                describePackage(node, part.facts);
                if (!part.folder.empty()) walk(node, Place{part.folder, at.shown, at.relative}, 0, nesting);
                continue;
            }
            CodeItem partNode;
            partNode.kind = CodeItemKind::InstallerPackage;
            const Place partAt = at.child(part.name);
            partNode.path = partAt.shown;
            partNode.relativePath = partAt.relative;
            describePackage(partNode, part.facts);
            if (!part.folder.empty()) walk(partNode, Place{part.folder, partAt.shown, partAt.relative}, 0, nesting);
            node.children.push_back(std::move(partNode));
        }
        containerTicket_ = saved;
    }

private:
    void addTree(CodeItem& parent, const Place& at) {
        ComponentTree sub = componentTreeOf(at.expanded, anchors_, service_, options_.walk, containerTicket_);
        relocate(sub.root, at);
        for (TreeFinding& f : sub.findings) {
            f.relativePath = f.relativePath.empty() ? at.relative : at.relative + "/" + f.relativePath;
            tree_.findings.push_back(std::move(f));
        }
        for (std::string& note : sub.notes) tree_.notes.push_back(std::move(note));
        tree_.walkTruncated = tree_.walkTruncated || sub.walkTruncated;
        parent.children.push_back(std::move(sub.root));
    }

    void addLink(CodeItem& parent, const Place& at) {
        CodeItem link;
        link.kind = CodeItemKind::Link;
        link.path = at.shown;
        link.relativePath = at.relative;
        std::error_code ec;
        link.linkTarget = fs::read_symlink(at.expanded, ec).string();
        parent.children.push_back(std::move(link));
    }

    void addContainer(CodeItem& parent, const Place& at, ContainerKind kind, int nesting) {
        if (nesting + 1 >= options_.maxNesting) {
            tree_.notes.push_back(displayText(at.shown) + " is a container " + std::to_string(nesting + 1) +
                                  " levels deep and is not opened.");
            return;
        }
        // Its own signature first, as if it had been opened by itself.
        ComponentTree own;
        if (kind == ContainerKind::DiskImage)
            own = componentTreeOf(at.expanded, anchors_, service_, options_.walk, containerTicket_);
        else
            own.root.path = at.expanded;
        asContainer(own.root, kind, anchors_, service_);
        relocate(own.root, at);
        own.root.children.clear();
        open(own.root, at.expanded, at, kind, nesting + 1);
        parent.children.push_back(std::move(own.root));
    }

    void walk(CodeItem& parent, const Place& dir, int depth, int nesting) {
        if (depth > options_.walk.maxDepth) {
            tree_.walkTruncated = true;
            return;
        }
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(dir.expanded, ec), end; !ec && it != end; it.increment(ec)) {
            if (++visited_ > options_.walk.maxEntries) {
                tree_.walkTruncated = true;
                break;
            }
            names.push_back(it->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const Place at = dir.child(name);
            const fs::file_status status = fs::symlink_status(at.expanded, ec);
            if (ec) continue;
            if (fs::is_symlink(status)) {
                addLink(parent, at);
            } else if (fs::is_directory(status)) {
                if (looksLikeBundle(at.expanded))
                    addTree(parent, at);
                else
                    walk(parent, at, depth + 1, nesting);
            } else if (fs::is_regular_file(status)) {
                if (machOMagic(regularFileHead(at.expanded, 4, false))) {
                    addTree(parent, at);
                } else if (ContainerKind kind = containerKindOf(at.expanded); kind != ContainerKind::None) {
                    addContainer(parent, at, kind, nesting);
                }
            }
        }
    }

    ComponentTree& tree_;
    const std::string& parent_;
    const TrustAnchors& anchors_;
    TicketService* service_;
    const ContentsOptions& options_;
    const Bytes* containerTicket_ = nullptr;
    std::size_t visited_ = 0;
};

}  // namespace

ContainerKind containerKindOf(const std::string& path) {
    const std::string head = regularFileHead(path, 512, false);
    if (head.empty() || machOMagic(head)) return ContainerKind::None;
    if (startsWith(head, "xar!")) return ContainerKind::Package;
    if (archiveMagic(head)) return readsAsArchive(path) ? ContainerKind::Archive : ContainerKind::None;
    // A disk image says what it is in its last bytes, or in its first for encrypted and sparse ones.
    auto mapped = MappedFile::open(path);
    if (mapped && diskImageKind(mapped->bytes()) != DiskImageKind::NotDiskImage) return ContainerKind::DiskImage;
    return ContainerKind::None;
}

ComponentTree containerContents(const std::string& path, ContainerKind kind, const std::string& parent,
                                const TrustAnchors& anchors, TicketService* service, const ContentsOptions& options) {
    ComponentTree contents;
    if (kind == ContainerKind::None) return contents;
    ContentsBuilder builder(contents, parent, anchors, service, options);
    builder.open(contents.root, path, Place{path, path, ""}, kind, 0);
    return contents;
}

void addContainerContents(ComponentTree& tree, ComponentTree contents, ContainerKind kind, const TrustAnchors& anchors,
                          TicketService* service) {
    if (kind == ContainerKind::None) return;
    asContainer(tree.root, kind, anchors, service);
    // What a package says of itself was read with its contents.
    if (kind == ContainerKind::Package) {
        tree.root.bundleIdentifier = std::move(contents.root.bundleIdentifier);
        tree.root.bundleShortVersion = std::move(contents.root.bundleShortVersion);
        tree.root.installLocation = std::move(contents.root.installLocation);
        tree.root.scripts = std::move(contents.root.scripts);
    }
    // What the container's own verification saw inside it (a package's payload is not read there)
    // gives way to what expanding it finds.
    tree.root.children = std::move(contents.root.children);
    tree.findings = std::move(contents.findings);
    for (std::string& note : contents.notes) tree.notes.push_back(std::move(note));
    tree.walkTruncated = tree.walkTruncated || contents.walkTruncated;
}

void addContainerContents(ComponentTree& tree, const std::string& path, ContainerKind kind, const std::string& parent,
                          const TrustAnchors& anchors, TicketService* service, const ContentsOptions& options) {
    addContainerContents(tree, containerContents(path, kind, parent, anchors, service, options), kind, anchors, service);
}

}  // namespace tessarin
