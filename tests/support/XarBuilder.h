// Builds flat Installer packages for tests: xar header, zlib table of contents and heap with its
// checksum, optionally signed over that checksum and with a stapled ticket after the archive.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SigningChain.h"

namespace tessarin::test {

using Bytes = std::vector<std::uint8_t>;

struct XarBuildFile {
    std::string path;  // "Distribution", "example.pkg/PackageInfo": folders are made as needed
    Bytes data;
    bool compressed = true;  // application/x-gzip (zlib), else application/octet-stream
};

struct XarBuildOptions {
    std::uint32_t checksumAlgorithm = 1;  // XAR_CKSUM_*
    std::string checksumName;             // with XAR_CKSUM_OTHER, e.g. "sha256"
    std::vector<XarBuildFile> files;
    // Signature over the checksum of the compressed table of contents; unsigned when empty.
    std::function<Bytes(const Bytes& checksum)> sign;
    std::vector<Bytes> certificates;  // DER, leaf first
    // A CMS signature over the same checksum (<x-signature style="CMS">), with its certificates.
    std::function<Bytes(const Bytes& checksum)> signCms;
    std::vector<Bytes> cmsCertificates;  // default: `certificates`
    // Changes the table after it was checksummed and signed (the heap is left as it was).
    std::function<void(std::string& toc)> editTocAfterSigning;
};

// The archive and where its parts lie (absolute offsets into `bytes`).
struct XarBuild {
    Bytes bytes;
    std::string toc;
    std::uint64_t tocOffset = 0, tocLength = 0;
    std::uint64_t heapOffset = 0;
    std::uint64_t checksumOffset = 0, checksumSize = 0;
    std::uint64_t signatureOffset = 0, signatureSize = 0;
    std::uint64_t cmsOffset = 0, cmsSize = 0;
    std::uint64_t archiveEnd = 0;
};

XarBuild buildXar(const XarBuildOptions& options);

// A package with a Distribution and one component (PackageInfo, Bom, Payload).
std::vector<XarBuildFile> sampleProductFiles();

// ---- Payload and Scripts archives ----

struct CpioBuildEntry {
    std::string path;  // "./Applications/Example.app"
    std::uint32_t mode = 0100644;
    Bytes data;  // a symbolic link's target for mode 0120000
    std::uint32_t uid = 0, gid = 0;
    std::optional<std::uint64_t> claimedSize;  // a size field that lies about `data`
    std::uint64_t linkGroup = 0;               // entries with the same nonzero group share an inode: hard links
};
enum class CpioBuildFormat { Odc, Newc };

// A cpio archive as pkgbuild writes one (odc) or as GNU cpio -H newc does, ending in its trailer.
Bytes buildCpio(const std::vector<CpioBuildEntry>& entries, CpioBuildFormat format = CpioBuildFormat::Odc,
                bool trailer = true);
Bytes gzipCompress(const Bytes& data);
Bytes xzCompress(const Bytes& data);
// A pbzx stream of `data` cut into chunks of `chunkSize`: xz chunks, or stored ones where `raw`.
Bytes buildPbzx(const Bytes& data, std::uint64_t chunkSize, bool raw = false);

// A component package's files in a product archive (or at the root for an empty folder): a
// PackageInfo, a Bom, and the Payload and Scripts archives given (none when empty).
std::vector<XarBuildFile> componentFiles(const std::string& folder, const std::string& identifier,
                                         const std::string& version, const Bytes& payload, const Bytes& scripts);
// A Distribution naming each folder as an embedded pkg-ref ("#" and the name, spaces as %20).
XarBuildFile distributionFile(const std::vector<std::string>& folders);

// The trailers and ticket that stapling appends after the archive (TicketBuilder makes tickets).
Bytes stapleTicket(Bytes archive, const Bytes& ticket);

void putU32be(Bytes& b, std::size_t offset, std::uint32_t v);
void putU64be(Bytes& b, std::size_t offset, std::uint64_t v);

// A package of sampleProductFiles() signed with xar's own signature over its checksum (digested with
// `digestName`) by `chain`'s leaf of `kind`, carrying the leaf, the chain's intermediate and its root.
XarBuildOptions signedProduct(const SigningChain& chain, LeafKind kind = LeafKind::DeveloperIDInstaller,
                              bool expired = false, const std::string& digestName = "sha1");

}  // namespace tessarin::test
