// Each kind of container expanded by its own library; this only gives the results one shape.
#include "contents/ContentsExpand.h"

#include <optional>

#include "base/DisplayText.h"
#include "base/ExtendedAttributes.h"
#include "container/Archive.h"
#include "diskimage/DiskImageExpand.h"
#include "package/PackageExpansion.h"

namespace tessarin {

namespace {

// A fresh folder for one container under `parent`, or a note saying why there is none.
std::optional<PrivateFolder> folderFor(ExpandedContainer& out, const char* prefix, const std::string& parent) {
    auto folder = PrivateFolder::create(prefix, parent);
    if (!folder) {
        out.notes.push_back(folder.error());
        return std::nullopt;
    }
    return std::move(*folder);
}

void expandArchiveInto(ExpandedContainer& out, const std::string& file, const std::string& parent,
                       const ContentsOptions& options) {
    // Counted first: making a folder full of empty files costs the file system far more than reading
    // their headers twice.
    if (countArchiveEntries(file, options.limits.maxEntries) > options.limits.maxEntries) {
        out.notes.push_back("It holds more than " + std::to_string(options.limits.maxEntries) +
                            " entries, the most expanded from one archive; nothing was expanded.");
        return;
    }
    auto folder = folderFor(out, "archive-", parent);
    if (!folder) return;
    auto expansion = expandArchive(file, *folder, options.limits);
    if (!expansion) {
        out.notes.push_back(expansion.error());
        return;
    }
    for (Refusal& r : expansion->refusals) out.refusals.push_back(std::move(r.reason));
    if (!expansion->complete()) out.notes.push_back(expansion->stopSentence);
    // What the file system refused (a signature kept in attributes is often larger than a block)
    // is still read as the file's own.
    for (ArchiveEntry& entry : expansion->entries)
        if (!entry.attributesOnDisk)
            for (ExtendedAttribute& a : entry.attributes)
                overlayExtendedAttribute(folder->path() + "/" + entry.path, a.name,
                                         std::vector<unsigned char>(a.value.begin(), a.value.end()));
    out.parts.push_back({"", folder->path(), {}});
    out.folders.push_back(std::move(*folder));
}

void expandDiskImageInto(ExpandedContainer& out, const std::string& file, const std::string& parent,
                         const ContentsOptions& options) {
    auto folder = folderFor(out, "image-", parent);
    if (!folder) return;
    DiskImageExpandOptions o;
    o.sevenZip = options.sevenZip;
    o.timeLimitSeconds = options.timeLimitSeconds;
    o.limits = options.limits;
    auto expansion = expandDiskImage(file, *folder, o);
    if (!expansion) {
        out.notes.push_back(expansion.error());
        return;
    }
    for (std::string& note : expansion->notes) out.notes.push_back(std::move(note));
    if (!expansion->complete()) out.notes.push_back(expansion->stopSentence);
    if (!expansion->contentsPath.empty()) out.parts.push_back({"", expansion->contentsPath, {}});
    out.folders.push_back(std::move(*folder));
}

void expandPackageInto(ExpandedContainer& out, const std::string& file, const std::string& parent,
                       const ContentsOptions& options) {
    auto folder = folderFor(out, "package-", parent);
    if (!folder) return;
    auto expansion = expandPackage(file, *folder, options.limits);
    if (!expansion) {
        out.notes.push_back(expansion.error());
        return;
    }
    for (PackagePart& part : expansion->parts) {
        const std::string who = part.name.empty() ? std::string() : displayText(part.name) + ": ";
        for (Refusal& r : part.expansion.refusals) out.refusals.push_back(who + r.reason);
        if (!part.expansion.complete()) out.notes.push_back(who + part.expansion.stopSentence);
        // A component without a payload still shows, holding nothing.
        ExpandedPart shown{part.name, part.folder, {}};
        shown.facts.bundleIdentifier = part.identifier;
        shown.facts.bundleShortVersion = part.version;
        shown.facts.installLocation = part.installLocation;
        for (const PackageScript& s : part.scripts) shown.facts.scripts.push_back({s.name, s.text, s.truncated()});
        out.parts.push_back(std::move(shown));
    }
    if (!expansion->stopSentence.empty()) out.notes.push_back(expansion->stopSentence);
    out.folders.push_back(std::move(*folder));
}

}  // namespace

ExpandedContainer expandContainer(const std::string& file, ContainerKind kind, const std::string& parent,
                                  const ContentsOptions& options) {
    ExpandedContainer out;
    switch (kind) {
    case ContainerKind::Archive: expandArchiveInto(out, file, parent, options); break;
    case ContainerKind::DiskImage: expandDiskImageInto(out, file, parent, options); break;
    case ContainerKind::Package: expandPackageInto(out, file, parent, options); break;
    case ContainerKind::None: break;
    }
    return out;
}

}  // namespace tessarin
