// Apple's disk images as files: which kind a file is, the UDIF trailer ("koly") with every range it
// names checked against the file, and the block tables of its XML property list. Nothing here reads
// the file system inside an image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

enum class DiskImageKind {
    NotDiskImage,
    Udif,       // a "koly" trailer: read-only, compressed or read-write .dmg
    Encrypted,  // "encrcdsa" at the start or "cdsaencr" at the end: nothing is readable without the passphrase
    Sparse,     // "sprs" at the start: a .sparseimage, which grows in bands and has no trailer
    Raw,        // no trailer: a bare disk or volume (HFS+, HFSX, APFS, a GUID partition map), as
                // read/write and CD/DVD master images keep it; it carries no signature
};

// Tells the kind from the file's first and last bytes; cheap, and never wrong about a UDIF trailer.
DiskImageKind diskImageKind(ByteSpan file);

struct UdifChecksum {
    std::uint32_t type = 0;  // UDIF_CHECKSUM_*
    std::uint32_t bits = 0;
    Bytes value;  // the first bits / 8 bytes of the field (at most 128)
};

struct UdifTrailer {
    std::uint64_t offset = 0;  // where the trailer starts: the file's size less 512
    std::uint32_t version = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t flags = 0;
    std::uint64_t runningDataForkOffset = 0;
    std::uint64_t dataForkOffset = 0, dataForkLength = 0;
    std::uint64_t rsrcForkOffset = 0, rsrcForkLength = 0;
    std::uint32_t segmentNumber = 0, segmentCount = 0;
    Bytes segmentId;  // 16 bytes
    UdifChecksum dataChecksum;
    std::uint64_t xmlOffset = 0, xmlLength = 0;
    std::uint64_t codeSignatureOffset = 0, codeSignatureLength = 0;  // zero when unsigned
    UdifChecksum masterChecksum;
    std::uint32_t imageVariant = 0;
    std::uint64_t sectorCount = 0;
};

// The trailer as Apple's code signing recognises one (DiskImageRep::readHeader): at least 520 bytes,
// "koly" at the start of the last 512, version 4. Its fields are returned unchecked; nothing when the
// file is no such image.
std::optional<UdifTrailer> findUdifTrailer(ByteSpan file);

// The trailer with every range it names (data fork, resource fork, XML plist, code signature)
// checked to lie before it; a trailer that points elsewhere is refused with the range it got wrong.
Result<UdifTrailer> parseUdifTrailer(ByteSpan file);

struct UdifChunk {
    std::uint32_t type = 0;  // BLKX_CHUNK_*
    std::uint32_t comment = 0;
    std::uint64_t sectorNumber = 0;  // from the table's first sector
    std::uint64_t sectorCount = 0;
    std::uint64_t compressedOffset = 0;  // from the data fork's start plus the table's data offset
    std::uint64_t compressedLength = 0;
};

// One partition's block table: the "mish" data of one resource-fork/blkx entry.
struct UdifBlockTable {
    std::string name;  // the entry's Name, e.g. "Apple_HFS : 4"
    std::uint32_t version = 0;
    std::uint64_t firstSector = 0, sectorCount = 0;
    std::uint64_t dataOffset = 0;
    std::uint32_t buffersNeeded = 0;
    UdifChecksum checksum;
    std::vector<UdifChunk> chunks;
};

struct UdifImage {
    UdifTrailer trailer;
    std::vector<UdifBlockTable> tables;
    bool licenseAgreement = false;  // the plist carries an "LPic" resource: a licence shown before mounting
};

// The trailer and the block tables of the XML plist it points to. Every chunk must name a known type,
// lie within its table's sectors and, where it holds data, within the data fork.
Result<UdifImage> parseUdif(ByteSpan file);

// Lower-case names for chunk types ("zlib", "raw"); empty for types no image should hold.
std::string udifChunkTypeName(std::uint32_t type);

}  // namespace tessarin
