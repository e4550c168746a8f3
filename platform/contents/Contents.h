// What a container holds, as the container's component tree: a disk image's file system, a zip or
// tar archive, an Installer package's payloads. The container is expanded into a private folder and
// each item found in it is judged as if it had been opened on its own.
#pragma once

#include <string>

#include "container/Archive.h"
#include "container/PrivateFolder.h"
#include "crypto/Trust.h"
#include "notary/TicketService.h"
#include "verify/ComponentTree.h"

namespace tessarin {

enum class ContainerKind { None, DiskImage, Archive, Package };

// The kind from the file's own bytes (never its name): a UDIF trailer or an encrypted or sparse
// image's header, a zip, tar or compressed stream's magic, a xar header. Folders and links are None.
ContainerKind containerKindOf(const std::string& path);

struct ContentsOptions {
    std::string sevenZip = "/usr/bin/7zz";  // reads the file systems inside disk images
    int timeLimitSeconds = 600;             // for one disk image's file system
    ExpansionLimits limits;                 // for each container expanded
    int maxNesting = 3;                     // containers inside containers that are opened
    ComponentTreeLimits walk;               // for the walk of each container's contents
};

// Adds what the container at `path` holds to `tree`, whose root is the container's own item as its
// verification made it: the container is expanded under `parent` (a folder its caller owns and
// removes), each app, package, bundle or Mach-O file in it becomes a child with its own tree, and
// anything that could not be read is one sentence in tree.notes. Paths shown are the container's
// path joined with the path inside it; nothing outside `parent` is written.
void addContainerContents(ComponentTree& tree, const std::string& path, ContainerKind kind, const std::string& parent,
                          const TrustAnchors& anchors, TicketService* service, const ContentsOptions& options = {});

// The same in two steps, so that a caller can verify the container's own signature beside the
// expansion, which needs nothing from it: what the container holds, as the children, findings and
// notes of a tree whose root is empty; then that put under the container's own item.
ComponentTree containerContents(const std::string& path, ContainerKind kind, const std::string& parent,
                                const TrustAnchors& anchors, TicketService* service,
                                const ContentsOptions& options = {});
void addContainerContents(ComponentTree& tree, ComponentTree contents, ContainerKind kind, const TrustAnchors& anchors,
                          TicketService* service);

}  // namespace tessarin
