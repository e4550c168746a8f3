// Reads the UDIF trailer and the block tables through the bounded reader; the XML plist through the
// bounded plist reader. Offsets in the trailer and the tables are the image's own claims: each is
// checked against what the file holds before anything is read through it.
#include "diskimage/Udif.h"

#include <algorithm>

#include "base/ByteCursor.h"
#include "base/ByteReader.h"
#include "base/Hex.h"
#include "diskimage/UdifConstants.h"
#include "plist/Plist.h"

namespace tessarin {
namespace {

Error malformed(const std::string& what) { return fail("truncated or malformed disk image (" + what + ")"); }

// Whether [offset, offset + length) lies within [0, limit), without overflow.
bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

UdifChecksum readChecksum(ByteCursor& c) {
    UdifChecksum sum;
    sum.type = c.u32be();
    sum.bits = c.u32be();
    const ByteSpan value = c.bytes(128);
    if (c) sum.value = toBytes(value.first(std::min<std::uint64_t>(sum.bits / 8, value.size())));
    return sum;
}

// What an encrypted or sparse image is, in one sentence: its contents cannot be read here.
Error unreadableKind(DiskImageKind kind) {
    if (kind == DiskImageKind::Encrypted)
        return fail("the disk image is encrypted: its contents cannot be read without its passphrase");
    return fail(
        "the disk image is a sparse image, which has no UDIF trailer; it must be converted to a .dmg to be read");
}

const PlistArray* blkxEntries(const PlistValue& root) {
    const PlistValue* fork = root.find("resource-fork");
    const PlistValue* blkx = fork ? fork->find("blkx") : nullptr;
    return blkx ? blkx->array() : nullptr;
}

Result<UdifBlockTable> parseBlockTable(ByteSpan data, const UdifTrailer& trailer, std::size_t index) {
    const std::string which = "block table " + std::to_string(index);
    ByteReader r(data);
    ByteCursor c(r, 0);
    UdifBlockTable t;
    const std::uint32_t signature = c.u32be();
    t.version = c.u32be();
    t.firstSector = c.u64be();
    t.sectorCount = c.u64be();
    t.dataOffset = c.u64be();
    t.buffersNeeded = c.u32be();
    c.u32be();   // block descriptors
    c.skip(24);  // reserved
    t.checksum = readChecksum(c);
    const std::uint32_t count = c.u32be();
    if (!c) return malformed(which + " is shorter than its " + std::to_string(BLKX_HEADER_SIZE) + "-byte header");
    if (signature != BLKX_SIGNATURE) return malformed(which + " does not start with \"mish\"");
    // The count sizes nothing until the bytes are known to hold that many entries.
    if (std::uint64_t(count) * BLKX_CHUNK_SIZE > r.size() - BLKX_HEADER_SIZE)
        return malformed(which + " lists " + std::to_string(count) + " chunks but holds room for " +
                         std::to_string((r.size() - BLKX_HEADER_SIZE) / BLKX_CHUNK_SIZE));
    if (!within(t.firstSector, t.sectorCount, UINT64_MAX)) return malformed(which + " has a sector range that wraps");

    const std::uint64_t forkLength = trailer.dataForkLength;
    t.chunks.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        UdifChunk k;
        k.type = c.u32be();
        k.comment = c.u32be();
        k.sectorNumber = c.u64be();
        k.sectorCount = c.u64be();
        k.compressedOffset = c.u64be();
        k.compressedLength = c.u64be();
        if (!c) return malformed(which + " is cut short at chunk " + std::to_string(i));
        const std::string chunk = which + " chunk " + std::to_string(i);
        if (udifChunkTypeName(k.type).empty()) return malformed(chunk + " has the unknown type " + hexNumber(k.type));
        if (!within(k.sectorNumber, k.sectorCount, t.sectorCount))
            return malformed(chunk + " covers sectors past the end of its table's " + std::to_string(t.sectorCount));
        const bool holdsData = k.type != BLKX_CHUNK_ZERO && k.type != BLKX_CHUNK_IGNORE &&
                               k.type != BLKX_CHUNK_COMMENT && k.type != BLKX_CHUNK_TERMINATOR;
        // The chunk's bytes lie at the table's data offset plus its own, from the data fork's start.
        if (holdsData &&
            (t.dataOffset > forkLength || !within(k.compressedOffset, k.compressedLength, forkLength - t.dataOffset)))
            return malformed(chunk + " (offset plus length) extends past the end of the data fork");
        t.chunks.push_back(k);
    }
    return t;
}

}  // namespace

DiskImageKind diskImageKind(ByteSpan file) {
    ByteReader r(file);
    if (findUdifTrailer(file)) return DiskImageKind::Udif;
    if (r.u64be(0) == ENCRYPTED_V2_MAGIC) return DiskImageKind::Encrypted;
    if (r.size() >= 8 && r.u64be(r.size() - 8) == ENCRYPTED_V1_MAGIC) return DiskImageKind::Encrypted;
    if (r.u32be(0) == SPARSE_MAGIC) return DiskImageKind::Sparse;
    // An HFS+ or HFSX volume header 1024 bytes in, an APFS container superblock, a GUID partition map.
    if (const auto v = r.u16be(1024); v == 0x482B || v == 0x4858) return DiskImageKind::Raw;
    if (r.u32be(32) == 0x4E585342u) return DiskImageKind::Raw;           // "NXSB"
    if (r.u64be(512) == 0x4546492050415254u) return DiskImageKind::Raw;  // "EFI PART"
    return DiskImageKind::NotDiskImage;
}

std::optional<UdifTrailer> findUdifTrailer(ByteSpan file) {
    ByteReader r(file);
    // Apple asks for room for a blob header besides the trailer.
    if (r.size() < UDIF_TRAILER_SIZE + 8) return std::nullopt;
    UdifTrailer t;
    t.offset = r.size() - UDIF_TRAILER_SIZE;
    ByteCursor c(r, t.offset);
    const std::uint32_t signature = c.u32be();
    t.version = c.u32be();
    if (signature != UDIF_SIGNATURE || t.version != UDIF_VERSION) return std::nullopt;
    t.headerSize = c.u32be();
    t.flags = c.u32be();
    t.runningDataForkOffset = c.u64be();
    t.dataForkOffset = c.u64be();
    t.dataForkLength = c.u64be();
    t.rsrcForkOffset = c.u64be();
    t.rsrcForkLength = c.u64be();
    t.segmentNumber = c.u32be();
    t.segmentCount = c.u32be();
    t.segmentId = toBytes(c.bytes(16));
    t.dataChecksum = readChecksum(c);
    t.xmlOffset = c.u64be();
    t.xmlLength = c.u64be();
    c.skip(UDIF_OFF_CODESIGN_OFFSET - UDIF_OFF_XML_LENGTH - 8);
    t.codeSignatureOffset = c.u64be();
    t.codeSignatureLength = c.u64be();
    c.skip(UDIF_OFF_MASTER_CHECKSUM - UDIF_OFF_CODESIGN_LENGTH - 8);
    t.masterChecksum = readChecksum(c);
    t.imageVariant = c.u32be();
    t.sectorCount = c.u64be();
    if (!c) return std::nullopt;  // cannot happen: the trailer's 512 bytes are there
    return t;
}

Result<UdifTrailer> parseUdifTrailer(ByteSpan file) {
    const DiskImageKind kind = diskImageKind(file);
    if (kind == DiskImageKind::Encrypted || kind == DiskImageKind::Sparse) return unreadableKind(kind);
    auto found = findUdifTrailer(file);
    if (!found) {
        ByteReader r(file);
        if (r.size() >= UDIF_TRAILER_SIZE && r.u32be(r.size() - UDIF_TRAILER_SIZE) == UDIF_SIGNATURE)
            return malformed("UDIF trailer version " + std::to_string(*r.u32be(r.size() - UDIF_TRAILER_SIZE + 4)) +
                             " is not the supported version 4");
        return fail("not a disk image: no UDIF trailer (\"koly\") in the last 512 bytes");
    }
    const UdifTrailer& t = *found;
    if (t.headerSize != UDIF_TRAILER_SIZE)
        return malformed("UDIF trailer gives its size as " + std::to_string(t.headerSize) + ", not 512");
    // Everything the trailer names lies before it.
    struct Range {
        const char* what;
        std::uint64_t offset, length;
    };
    const Range ranges[] = {
        {"data fork", t.dataForkOffset, t.dataForkLength},
        {"resource fork", t.rsrcForkOffset, t.rsrcForkLength},
        {"XML property list", t.xmlOffset, t.xmlLength},
        {"code signature", t.codeSignatureOffset, t.codeSignatureLength},
    };
    for (const auto& range : ranges) {
        if (!within(range.offset, range.length, t.offset))
            return malformed(std::string("the trailer's ") + range.what + " (offset " + std::to_string(range.offset) +
                             " plus length " + std::to_string(range.length) + ") extends past the trailer at " +
                             std::to_string(t.offset));
    }
    return t;
}

Result<UdifImage> parseUdif(ByteSpan file) {
    auto trailer = parseUdifTrailer(file);
    if (!trailer) return fail(trailer.error());
    UdifImage image;
    image.trailer = std::move(*trailer);
    const UdifTrailer& t = image.trailer;
    if (t.xmlLength == 0) return malformed("the trailer names no XML property list, so there are no block tables");
    auto plist = parsePlist(file.subspan(t.xmlOffset, t.xmlLength));
    if (!plist) return malformed("its XML property list: " + plist.error());
    const PlistArray* entries = blkxEntries(*plist);
    if (!entries) return malformed("its XML property list has no resource-fork/blkx array");
    if (const PlistValue* fork = plist->find("resource-fork")) image.licenseAgreement = fork->find("LPic") != nullptr;
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const PlistValue& entry = (*entries)[i];
        const PlistValue* data = entry.find("Data");
        if (!data || !data->data()) return malformed("blkx entry " + std::to_string(i) + " has no Data");
        auto table = parseBlockTable(asByteSpan(data->data()->bytes), t, i);
        if (!table) return fail(table.error());
        if (const PlistValue* name = entry.find("Name"); name && name->string()) table->name = *name->string();
        image.tables.push_back(std::move(*table));
    }
    return image;
}

std::string udifChunkTypeName(std::uint32_t type) {
    switch (type) {
    case BLKX_CHUNK_ZERO: return "zero";
    case BLKX_CHUNK_RAW: return "raw";
    case BLKX_CHUNK_IGNORE: return "ignore";
    case BLKX_CHUNK_ADC: return "adc";
    case BLKX_CHUNK_ZLIB: return "zlib";
    case BLKX_CHUNK_BZIP2: return "bzip2";
    case BLKX_CHUNK_LZFSE: return "lzfse";
    case BLKX_CHUNK_LZMA: return "lzma";
    case BLKX_CHUNK_COMMENT: return "comment";
    case BLKX_CHUNK_TERMINATOR: return "terminator";
    default: return "";
    }
}

}  // namespace tessarin
