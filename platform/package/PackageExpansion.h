// What a flat Installer package installs, expanded into a private folder so that the code in it can be
// inspected: one part per component package, each payload streamed from its decompressor into cpio
// expansion, within one set of limits for the whole package.
#pragma once

#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Result.h"
#include "container/Archive.h"
#include "container/PrivateFolder.h"
#include "package/PackageContents.h"

namespace tessarin {

struct PackagePart {
    std::string name;             // the component package ("Foo.pkg"); empty for a package at the root
    std::string installLocation;  // from its PackageInfo, as stored
    // Absolute: where its payload landed, the private folder itself for a package at the root, else a
    // folder in it named after the component (made safe and unique). Empty when it has no payload.
    std::string folder;
    // Paths relative to `folder`, without the payload's "./". A payload that cannot be read at all is
    // an expansion stopped as Damaged, with its sentence.
    Expansion expansion;
    std::string identifier, version;       // from its PackageInfo
    std::vector<PackageScript> scripts;  // the files of its Scripts archive, with their text
};

struct PackageExpansion {
    std::vector<PackagePart> parts;
    // Why expansion ended early: a limit stopped one part and the parts after it were not expanded.
    // Empty otherwise; a damaged part does not stop the others.
    std::string stopSentence;
};

// Expands every component's payload into `folder` (fresh and empty). The limits hold for the package
// as a whole. Errors, one sentence, are for items that are no flat package or whose table of contents
// cannot be read.
Result<PackageExpansion> expandPackage(const std::string& pkgPath, const PrivateFolder& folder,
                                       const ExpansionLimits& limits = {});
Result<PackageExpansion> expandPackage(const ByteReader& bytes, const PrivateFolder& folder,
                                       const ExpansionLimits& limits = {});

}  // namespace tessarin
