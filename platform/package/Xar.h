// xar archives (flat Installer packages): header, table of contents, heap ranges of the checksum and
// signatures, the files listed, and a stapled notarization ticket after the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

struct XarHeader {
    std::uint16_t headerSize = 0;
    std::uint16_t version = 0;
    std::uint64_t tocCompressedLength = 0;
    std::uint64_t tocUncompressedLength = 0;
    std::uint32_t checksumAlgorithm = 0;  // XAR_CKSUM_*
    std::string checksumName;             // with XAR_CKSUM_OTHER: the name after the fixed header
};

// A range of the heap, which begins right after the compressed table of contents.
struct XarHeapRange {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct XarFileData {
    XarHeapRange archived;                                // <offset> and <length>
    std::uint64_t extractedSize = 0;                      // <size>
    std::string encoding;                                 // <encoding style=...>, e.g. "application/x-gzip"
    std::string archivedChecksumStyle, archivedChecksum;  // lower-case style, hex digest
    std::string extractedChecksumStyle, extractedChecksum;
};

struct XarFile {
    std::string path;  // names of the enclosing <file> elements joined with '/'
    std::string type;  // "file", "directory", "symlink", ...
    std::optional<XarFileData> data;
};

// <signature style="RSA"> or <x-signature style="CMS">: where the signature lies and the
// certificates the archive carries for it (DER, leaf first).
struct XarSignature {
    std::string style;
    XarHeapRange range;
    std::vector<Bytes> certificates;
};

struct XarArchive {
    XarHeader header;
    std::uint64_t heapOffset = 0;  // header size + compressed table of contents
    std::string toc;               // the inflated XML
    std::string checksumStyle;     // lower-case algorithm name ("sha1", "md5", "sha256", ...)
    std::optional<XarHeapRange> checksum;
    std::optional<XarSignature> signature;     // RSA over the checksum
    std::optional<XarSignature> cmsSignature;  // CMS over the checksum
    std::vector<XarFile> files;
    std::uint64_t archiveEnd = 0;  // one past the last byte the header, table and heap entries cover
};

// Reads the header and the table of contents and checks that every heap range lies in the file.
// The inflated table is bounded (kXarMaxTocSize) whatever the header declares.
Result<XarArchive> parseXar(const ByteReader& bytes);

// True for bytes that begin with the xar magic.
bool looksLikeXar(const ByteReader& bytes);

// The digest of the compressed table of contents with the archive's checksum algorithm, and the
// checksum stored in the heap; verifyXarChecksum fails with a sentence when they differ.
Result<Bytes> computeXarTocDigest(const ByteReader& bytes, const XarArchive& archive);
Result<Bytes> storedXarChecksum(const ByteReader& bytes, const XarArchive& archive);
Result<Bytes> verifyXarChecksum(const ByteReader& bytes, const XarArchive& archive);

Result<Bytes> xarHeapBytes(const ByteReader& bytes, const XarArchive& archive, const XarHeapRange& range);

const XarFile* findXarFile(const XarArchive& archive, const std::string& path);

// A file's contents, inflated when stored compressed, refused above maxSize, and checked against
// its archived and extracted checksums where the table gives them.
Result<Bytes> extractXarFile(const ByteReader& bytes, const XarArchive& archive, const XarFile& file,
                             std::uint64_t maxSize);

// A file's bytes as the heap holds them (still in their xar encoding), without a copy, checked against
// the archived checksum where the table gives one: a Payload hundreds of megabytes long is read where
// it lies, and only what the table (and so the signature) vouches for is read at all.
Result<ByteSpan> archivedXarBytes(const ByteReader& bytes, const XarArchive& archive, const XarFile& file);

// A notarization ticket stapled after the archive: the bytes between the terminator trailer and the
// ticket trailer at the very end of the file. Nothing when the file does not end in a ticket trailer.
struct StapledTicket {
    std::uint64_t offset = 0;  // of the ticket bytes
    Bytes ticket;
};
Result<std::optional<StapledTicket>> findStapledTicket(const ByteReader& bytes, std::uint64_t archiveEnd);

}  // namespace tessarin
