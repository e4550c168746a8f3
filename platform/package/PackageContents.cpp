// Reads what a flat package installs: the Distribution's package references, each component's
// PackageInfo, and its Payload and Scripts archives listed in one bounded pass each.
#include "package/PackageContents.h"

#include <sys/stat.h>

#include <algorithm>

#include "base/MappedFile.h"
#include "package/Package.h"
#include "package/Xar.h"
#include "plist/XmlTree.h"

namespace tessarin {

namespace {

constexpr std::uint64_t kMaxInfoFile = 4ull << 20;  // a Distribution or PackageInfo is kilobytes
// An archive the xar itself stores compressed must be inflated whole before it is read; pkgbuild never
// writes one, so this stays small.
constexpr std::uint64_t kMaxXarEncodedArchive = 256ull << 20;

// A pkg-ref names an embedded component as "#" and its folder's name, percent-encoded.
std::optional<std::string> embeddedReference(const std::string& text) {
    auto b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos || text[b] != '#') return std::nullopt;
    auto e = text.find_last_not_of(" \t\r\n");
    std::string out;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = b + 1; i <= e; ++i) {
        if (text[i] == '%' && i + 2 <= e && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    if (out.empty()) return std::nullopt;
    return out;
}

void collectReferences(const XmlElement& e, std::vector<std::string>& found) {
    for (const auto& c : e.children) {
        if (c.name == "pkg-ref") {
            auto name = embeddedReference(c.text);
            if (name && std::find(found.begin(), found.end(), *name) == found.end()) found.push_back(*name);
        }
        collectReferences(c, found);
    }
}

std::string asText(const Bytes& b) { return std::string(b.begin(), b.end()); }

class ContentsReader {
public:
    ContentsReader(const ByteReader& bytes, const XarArchive& archive, const PayloadLimits& limits, bool listPayloads)
        : bytes_(bytes), archive_(archive), limits_(limits), listPayloads_(listPayloads) {}

    // The component folders, in the order the Distribution lists them; every folder holding a
    // PackageInfo when it lists none the archive holds.
    std::vector<std::string> componentFolders(const XarFile& distribution) {
        std::vector<std::string> folders;
        auto data = extractXarFile(bytes_, archive_, distribution, kMaxInfoFile);
        if (data) {
            auto xml = parseXml(asText(*data));
            std::vector<std::string> refs;
            if (xml) collectReferences(*xml, refs);
            for (const auto& r : refs)
                if (findXarFile(archive_, r + "/PackageInfo")) folders.push_back(r);
        }
        if (!folders.empty()) return folders;
        for (const auto& f : archive_.files) {
            auto slash = f.path.find('/');
            if (slash != std::string::npos && f.path.compare(slash, std::string::npos, "/PackageInfo") == 0)
                folders.push_back(f.path.substr(0, slash));
        }
        return folders;
    }

    ComponentPackage component(const std::string& folder) {
        ComponentPackage c;
        c.path = folder;
        const std::string prefix = folder.empty() ? "" : folder + "/";
        auto note = [&](const std::string& sentence) {
            if (c.failure.empty()) c.failure = sentence;
        };
        if (const XarFile* info = findXarFile(archive_, prefix + "PackageInfo")) {
            auto data = extractXarFile(bytes_, archive_, *info, kMaxInfoFile);
            auto xml = data ? parseXml(asText(*data)) : Result<XmlElement>(fail(data.error()));
            if (!xml)
                note("its PackageInfo cannot be read: " + xml.error());
            else if (xml->name != "pkg-info")
                note("its PackageInfo is not a <pkg-info> document");
            else {
                c.identifier = xml->attribute("identifier").value_or("");
                c.version = xml->attribute("version").value_or("");
                c.installLocation = xml->attribute("install-location").value_or("");
            }
        }
        c.hasBom = findXarFile(archive_, prefix + "Bom") != nullptr;
        if (const XarFile* payload = findXarFile(archive_, prefix + "Payload")) {
            c.hasPayload = true;
            auto listing = listPayloads_ ? list(*payload, 0) : Result<PayloadListing>(PayloadListing{});
            if (listing)
                c.payload = std::move(listing->entries);
            else
                note("its Payload cannot be read: " + listing.error());
        }
        if (const XarFile* scripts = findXarFile(archive_, prefix + "Scripts")) {
            auto listing = list(*scripts, limits_.maxScriptBytes);
            if (!listing) {
                note("its Scripts cannot be read: " + listing.error());
            } else {
                for (auto& e : listing->entries) {
                    if ((e.mode & 0170000) != 0100000) continue;
                    std::string name = e.path.rfind("./", 0) == 0 ? e.path.substr(2) : e.path;
                    c.scripts.push_back({std::move(name), e.size, std::string(e.data.begin(), e.data.end())});
                }
            }
        }
        return c;
    }

private:
    Result<PayloadListing> list(const XarFile& file, std::uint64_t keep) {
        Bytes storage;
        auto span = xarArchiveBytes(bytes_, archive_, file, limits_.maxExpandedBytes, storage);
        if (!span) return fail(span.error());
        return listPayload(*span, limits_, keep);
    }

    const ByteReader& bytes_;
    const XarArchive& archive_;
    const PayloadLimits& limits_;
    bool listPayloads_;
};

}  // namespace

Result<ByteSpan> xarArchiveBytes(const ByteReader& bytes, const XarArchive& archive, const XarFile& file,
                                 std::uint64_t maxInflated, Bytes& storage) {
    if (!file.data) return fail(file.path + " has no data in the archive");
    const XarFileData& d = *file.data;
    if (d.encoding.empty() || d.encoding == "application/octet-stream") return archivedXarBytes(bytes, archive, file);
    auto data = extractXarFile(bytes, archive, file, std::min<std::uint64_t>(maxInflated, kMaxXarEncodedArchive));
    if (!data) return fail(data.error());
    storage = std::move(*data);
    return asByteSpan(storage);
}

Result<PackageContents> readPackageContents(const ByteReader& bytes, const PayloadLimits& limits, bool listPayloads) {
    auto archive = parseXar(bytes);
    if (!archive) return fail(archive.error());
    ContentsReader reader(bytes, *archive, limits, listPayloads);
    PackageContents contents;
    if (const XarFile* distribution = findXarFile(*archive, "Distribution")) {
        contents.isDistribution = true;
        for (const auto& folder : reader.componentFolders(*distribution))
            contents.components.push_back(reader.component(folder));
    } else {
        if (!findXarFile(*archive, "PackageInfo") && !findXarFile(*archive, "Payload"))
            return fail("the archive holds no Distribution, PackageInfo or Payload");
        contents.components.push_back(reader.component(""));
    }
    return contents;
}

Result<PackageContents> readPackageContents(const std::string& path, const PayloadLimits& limits) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail("The item " + path + " does not exist.");
    if (S_ISDIR(st.st_mode)) {
        if (isBundlePackage(path))
            return fail("The item " + path + " is a bundle-style package; only flat packages are listed.");
        return fail("The item " + path + " is not an Installer package.");
    }
    auto mapped = MappedFile::open(path);
    if (!mapped) return fail(mapped.error());
    if (!looksLikeXar(mapped->reader())) return fail("The item " + path + " is not an Installer package.");
    auto contents = readPackageContents(mapped->reader(), limits);
    if (!contents) return fail("The package " + path + " cannot be read: " + contents.error() + ".");
    return contents;
}

}  // namespace tessarin
