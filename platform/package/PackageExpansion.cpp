// Expands a flat package's payloads. The decompressor is pulled by libarchive's cpio reader, so no
// payload is ever held whole; the package's names only ever become one sanitised folder name each.
#include "package/PackageExpansion.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "base/DisplayText.h"
#include "base/MappedFile.h"
#include "package/Package.h"
#include "package/PackageContents.h"
#include "package/PayloadStream.h"
#include "package/Xar.h"

namespace tessarin {

namespace {

// What a cpio stream may hold beyond its content: a header and a name per entry.
constexpr std::uint64_t kStreamBytesPerEntry = 4096;
constexpr std::size_t kMaxFolderName = 200;  // below NAME_MAX, with room for a counter

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
std::uint64_t saturatingMul(std::uint64_t a, std::uint64_t b) { return b && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

// One plain name for a component's folder: no separator, control character or leading dot (so never
// "." or ".."), bounded, and unlike every name given before.
std::string folderName(const std::string& component, std::set<std::string>& used) {
    std::string name;
    for (unsigned char c : component.substr(0, kMaxFolderName))
        name += c < 0x20 || c == 0x7f || c == '/' || c == '\\' ? '_' : static_cast<char>(c);
    if (name.empty() || name[0] == '.') name.insert(0, "_");
    std::string unique = name;
    for (std::size_t i = 2; !used.insert(unique).second; ++i) unique = name + " " + std::to_string(i);
    return unique;
}

void charge(ExpansionLimits& left, const Expansion& x) {
    left.maxBytes -= std::min(left.maxBytes, x.bytes);
    left.maxEntries -= std::min<std::uint64_t>(left.maxEntries, x.entries.size() + x.refusals.size());
}

PackagePart expandPart(const ByteReader& bytes, const XarArchive& archive, const ComponentPackage& component,
                       const PrivateFolder& folder, const std::string& subfolder, const std::string& itemName,
                       const ExpansionLimits& limits) {
    PackagePart part;
    part.name = component.path;
    part.installLocation = component.installLocation;
    part.identifier = component.identifier;
    part.version = component.version;
    part.scripts = component.scripts;
    const std::string prefix = component.path.empty() ? "" : component.path + "/";
    const XarFile* payload = findXarFile(archive, prefix + "Payload");
    if (!payload) return part;
    // Named as a path in the item, so that sentences read as an archive's do: "Foo.pkg/Payload" is ...
    const std::string name = "\"" + displayText(itemName + (itemName.empty() ? "" : "/") + prefix + "Payload") + "\"";
    auto damaged = [&](const std::string& sentence) {
        part.expansion.stop = ExpansionStop::Damaged;
        part.expansion.stopSentence = sentence;
        return part;
    };
    // The decoder's own bounds are a backstop for data that is skipped rather than written (refused
    // entries); the expander's limits on what is written come first.
    PayloadLimits decoding;
    decoding.maxExpandedBytes = saturatingAdd(limits.maxBytes, saturatingMul(limits.maxEntries, kStreamBytesPerEntry));
    decoding.maxRatio = limits.maxRatio ? saturatingMul(limits.maxRatio, 2) : UINT64_MAX;
    decoding.ratioFloor = limits.ratioFloor;
    Bytes storage;
    auto archived = xarArchiveBytes(bytes, archive, *payload, decoding.maxExpandedBytes, storage);
    if (!archived) return damaged(name + " cannot be read: " + archived.error() + ".");
    PayloadDecoder decoder(*archived, payloadCompression(*archived), decoding);
    auto x = expandCpioStream([&] { return decoder.next(); }, archived->size(), name, folder, subfolder, limits);
    if (!x) return damaged(x.error());
    part.folder = subfolder.empty() ? folder.path() : folder.path() + "/" + subfolder;
    part.expansion = std::move(*x);
    return part;
}

Result<PackageExpansion> expand(const ByteReader& bytes, const PrivateFolder& folder, const ExpansionLimits& limits,
                                const std::string& itemName) {
    // Scripts are listed for their names; payloads are read once, by the expansion.
    auto contents = readPackageContents(bytes, PayloadLimits{}, false);
    if (!contents) return fail(contents.error());
    auto archive = parseXar(bytes);
    if (!archive) return fail(archive.error());
    PackageExpansion out;
    ExpansionLimits left = limits;
    std::set<std::string> used;
    for (const auto& component : contents->components) {
        const std::string subfolder = contents->isDistribution ? folderName(component.path, used) : "";
        out.parts.push_back(expandPart(bytes, *archive, component, folder, subfolder, itemName, left));
        const Expansion& x = out.parts.back().expansion;
        charge(left, x);
        if (!x.complete() && x.stop != ExpansionStop::Damaged) {
            out.stopSentence = x.stopSentence;
            break;
        }
    }
    return out;
}

}  // namespace

Result<PackageExpansion> expandPackage(const ByteReader& bytes, const PrivateFolder& folder,
                                       const ExpansionLimits& limits) {
    return expand(bytes, folder, limits, "");
}

Result<PackageExpansion> expandPackage(const std::string& pkgPath, const PrivateFolder& folder,
                                       const ExpansionLimits& limits) {
    const std::string item = "\"" + displayText(pkgPath.substr(pkgPath.rfind('/') + 1)) + "\"";
    struct stat st {};
    if (::stat(pkgPath.c_str(), &st) != 0) return fail("The item " + item + " does not exist.");
    if (S_ISDIR(st.st_mode))
        return fail("The item " + item +
                    (isBundlePackage(pkgPath) ? " is a bundle-style package; only flat packages are expanded."
                                              : " is not an Installer package."));
    auto mapped = MappedFile::open(pkgPath);
    if (!mapped) return fail(mapped.error());
    if (!looksLikeXar(mapped->reader())) return fail("The item " + item + " is not an Installer package.");
    auto out = expand(mapped->reader(), folder, limits, pkgPath.substr(pkgPath.rfind('/') + 1));
    if (!out) return fail("The package " + item + " cannot be read: " + out.error() + ".");
    return out;
}

}  // namespace tessarin
