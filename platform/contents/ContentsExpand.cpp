// Each kind of container expanded by its own library; this only gives the results one shape.
#include "contents/ContentsExpand.h"

#include "container/Archive.h"

namespace tessarin {

namespace {

void expandArchiveInto(ExpandedContainer& out, const std::string& file, const std::string& parent,
                       const ContentsOptions& options) {
    // Counted first: making a folder full of empty files costs the file system far more than reading
    // their headers twice.
    if (countArchiveEntries(file, options.limits.maxEntries) > options.limits.maxEntries) {
        out.notes.push_back("It holds more than " + std::to_string(options.limits.maxEntries) +
                            " entries, the most expanded from one archive; nothing was expanded.");
        return;
    }
    auto folder = PrivateFolder::create("archive-", parent);
    if (!folder) {
        out.notes.push_back(folder.error());
        return;
    }
    auto expansion = expandArchive(file, *folder, options.limits);
    if (!expansion) {
        out.notes.push_back(expansion.error());
        return;
    }
    for (Refusal& r : expansion->refusals) out.refusals.push_back(std::move(r.reason));
    if (!expansion->complete()) out.notes.push_back(expansion->stopSentence);
    out.parts.push_back({"", folder->path()});
    out.folders.push_back(std::move(*folder));
}

}  // namespace

ExpandedContainer expandContainer(const std::string& file, ContainerKind kind, const std::string& parent,
                                  const ContentsOptions& options) {
    ExpandedContainer out;
    switch (kind) {
    case ContainerKind::Archive: expandArchiveInto(out, file, parent, options); break;
    case ContainerKind::DiskImage: out.notes.push_back("Its file system is not read here."); break;
    case ContainerKind::Package: out.notes.push_back("What it installs is not read here."); break;
    case ContainerKind::None: break;
    }
    return out;
}

}  // namespace tessarin
