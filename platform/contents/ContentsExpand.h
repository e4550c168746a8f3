// A container expanded into folders of its own under its caller's folder, ready to be walked: an
// archive or a disk image as one folder, a package as one folder per component package.
#pragma once

#include <string>
#include <vector>

#include "container/PrivateFolder.h"
#include "contents/Contents.h"

namespace tessarin {

struct ExpandedPart {
    std::string name;    // the component package's name; empty for the container's own contents
    std::string folder;  // absolute: where its contents lie
    CodeItem facts;      // a package's: identifier, version, install location, scripts
};

struct ExpandedContainer {
    std::vector<PrivateFolder> folders;  // removed when this is destroyed
    std::vector<ExpandedPart> parts;
    std::vector<std::string> notes;      // what could not be read, one sentence each, ready to show
    std::vector<std::string> refusals;   // entries refused, one sentence each, ready to show
};

ExpandedContainer expandContainer(const std::string& file, ContainerKind kind, const std::string& parent,
                                  const ContentsOptions& options);

}  // namespace tessarin
