// What a flat Installer package installs: its component packages (one at the archive's root, or those
// a product archive's Distribution lists), each with its PackageInfo, payload listing and scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Result.h"
#include "package/Payload.h"
#include "package/Xar.h"

namespace tessarin {

struct PackageScript {
    std::string name;  // its path in the Scripts archive, without the leading "./"
    std::uint64_t size = 0;
    std::string text;  // the file's first bytes, at most PayloadLimits::maxScriptBytes, as stored
    bool truncated() const { return text.size() < size; }
};

struct ComponentPackage {
    std::string path;  // its folder in the archive ("Example.pkg"); empty for a package at the root
    std::string identifier, version, installLocation;  // from PackageInfo
    bool hasPayload = false, hasBom = false;
    std::vector<PayloadEntry> payload;
    std::vector<PackageScript> scripts;
    std::string failure;  // one sentence when its PackageInfo, Payload or Scripts could not be read
};

struct PackageContents {
    bool isDistribution = false;  // a product archive, with a Distribution file
    std::vector<ComponentPackage> components;
};

// Reads a flat package in memory. Errors, one sentence, are for archives whose table of contents cannot
// be read; a component whose parts are damaged carries its own failure and the others are still read.
// Without `listPayloads` the payloads are only found (hasPayload), not read.
Result<PackageContents> readPackageContents(const ByteReader& bytes, const PayloadLimits& limits = {},
                                            bool listPayloads = true);
// The same for a package file; errors name the item.
Result<PackageContents> readPackageContents(const std::string& path, const PayloadLimits& limits = {});

// A Payload or Scripts archive's bytes: in place in the heap, or inflated into `storage` (at most
// `maxInflated` bytes) where the xar stores them compressed, which pkgbuild never does.
Result<ByteSpan> xarArchiveBytes(const ByteReader& bytes, const XarArchive& archive, const XarFile& file,
                                 std::uint64_t maxInflated, Bytes& storage);

}  // namespace tessarin
