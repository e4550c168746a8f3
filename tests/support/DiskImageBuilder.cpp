// Writes UDIF images from the format's published layout; signs them from Apple's DiskImageRep rules
// (the signature's place, what the CodeDirectory covers, the blinded trailer in slot -6).
#include "DiskImageBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "MachOBuilder.h"
#include "codesign/CodeSignature.h"
#include "codesign/CodeSignatureConstants.h"
#include "diskimage/UdifConstants.h"
#include "plist/Plist.h"

namespace tessarin::test {
namespace {

constexpr std::size_t kSignatureRoom = 1 << 20;

ByteSpan span(const Bytes& b) { return {reinterpret_cast<const std::byte*>(b.data()), b.size()}; }

std::uint64_t get64(const Bytes& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | b.at(at + i);
    return v;
}

struct Chunk {
    std::uint32_t type;
    std::uint64_t sector, sectors, offset, length;
};

Bytes blockTable(const std::vector<Chunk>& chunks, std::uint64_t sectorCount) {
    Bytes t(BLKX_HEADER_SIZE, 0);
    putU32(t, 0, BLKX_SIGNATURE, true);
    putU32(t, 4, 1, true);
    putU64(t, 16, sectorCount, true);
    putU32(t, 200, static_cast<std::uint32_t>(chunks.size() + 1), true);
    auto add = [&](const Chunk& c) {
        const std::size_t at = t.size();
        t.resize(at + BLKX_CHUNK_SIZE, 0);
        putU32(t, at, c.type, true);
        putU64(t, at + 8, c.sector, true);
        putU64(t, at + 16, c.sectors, true);
        putU64(t, at + 24, c.offset, true);
        putU64(t, at + 32, c.length, true);
    };
    for (const auto& c : chunks) add(c);
    add({BLKX_CHUNK_TERMINATOR, sectorCount, 0, 0, 0});
    return t;
}

Bytes trailer(std::uint64_t dataLength, std::uint64_t xmlOffset, std::uint64_t xmlLength, std::uint64_t sectors) {
    Bytes t(UDIF_TRAILER_SIZE, 0);
    putU32(t, 0, UDIF_SIGNATURE, true);
    putU32(t, UDIF_OFF_VERSION, UDIF_VERSION, true);
    putU32(t, UDIF_OFF_HEADER_SIZE, UDIF_TRAILER_SIZE, true);
    putU32(t, UDIF_OFF_FLAGS, 1, true);
    putU64(t, UDIF_OFF_DATA_FORK_LENGTH, dataLength, true);
    putU32(t, UDIF_OFF_SEGMENT_NUMBER, 1, true);
    putU32(t, UDIF_OFF_SEGMENT_COUNT, 1, true);
    putU64(t, UDIF_OFF_XML_OFFSET, xmlOffset, true);
    putU64(t, UDIF_OFF_XML_LENGTH, xmlLength, true);
    putU32(t, UDIF_OFF_IMAGE_VARIANT, 1, true);
    putU64(t, UDIF_OFF_SECTOR_COUNT, sectors, true);
    return t;
}

// Splits an image into the bytes before its signature, the signature, and the trailer.
struct Parts {
    Bytes code, signature, trailer;
};
Parts partsOf(const Bytes& image) {
    if (image.size() < UDIF_TRAILER_SIZE) throw std::invalid_argument("not a disk image");
    const std::size_t at = image.size() - UDIF_TRAILER_SIZE;
    Parts p;
    p.trailer.assign(image.begin() + static_cast<std::ptrdiff_t>(at), image.end());
    const std::uint64_t offset = get64(p.trailer, UDIF_OFF_CODESIGN_OFFSET);
    const std::size_t end = offset ? static_cast<std::size_t>(offset) : at;
    p.code.reserve(end + kSignatureRoom);  // room to append the signature and trailer without a copy
    p.code.assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(end));
    p.signature.assign(image.begin() + static_cast<std::ptrdiff_t>(end),
                       image.begin() + static_cast<std::ptrdiff_t>(at));
    return p;
}

Bytes assemble(Parts p) {
    putU64(p.trailer, UDIF_OFF_CODESIGN_OFFSET, p.signature.empty() ? 0 : p.code.size(), true);
    putU64(p.trailer, UDIF_OFF_CODESIGN_LENGTH, p.signature.size(), true);
    Bytes out = std::move(p.code);
    out.insert(out.end(), p.signature.begin(), p.signature.end());
    out.insert(out.end(), p.trailer.begin(), p.trailer.end());
    return out;
}

}  // namespace

Bytes buildDiskImage(const DiskImageOptions& o) {
    // The chunks go straight into one buffer sized for them, the plist and a signature, so that a
    // benchmark's image of hundreds of megabytes costs its own size once more, not three times.
    const std::uint64_t sectors = (o.content.size() + UDIF_SECTOR_SIZE - 1) / UDIF_SECTOR_SIZE;
    const std::uint64_t count = (sectors + o.chunkSectors - 1) / o.chunkSectors;
    const std::uint64_t chunkBytes = o.chunkSectors * UDIF_SECTOR_SIZE;
    Bytes image;
    image.reserve(count * (o.zlib ? compressBound(static_cast<uLong>(chunkBytes)) : chunkBytes) +
                  count * BLKX_CHUNK_SIZE * 2 + kSignatureRoom);
    std::vector<Chunk> chunks;
    Bytes piece;
    for (std::uint64_t s = 0; s < sectors; s += o.chunkSectors) {
        const std::uint64_t n = std::min(o.chunkSectors, sectors - s);
        const auto from = o.content.begin() + static_cast<std::ptrdiff_t>(s * UDIF_SECTOR_SIZE);
        piece.assign(from, from + static_cast<std::ptrdiff_t>(
                                      std::min<std::uint64_t>(n * UDIF_SECTOR_SIZE, o.content.end() - from)));
        piece.resize(n * UDIF_SECTOR_SIZE, 0);
        const std::size_t at = image.size();
        if (o.zlib) {
            uLongf size = compressBound(static_cast<uLong>(piece.size()));
            image.resize(at + size);
            if (compress2(image.data() + at, &size, piece.data(), static_cast<uLong>(piece.size()), 9) != Z_OK)
                throw std::runtime_error("zlib failed");
            image.resize(at + size);
        } else {
            image.insert(image.end(), piece.begin(), piece.end());
        }
        chunks.push_back({o.zlib ? BLKX_CHUNK_ZLIB : BLKX_CHUNK_RAW, s, n, at, image.size() - at});
    }
    const std::uint64_t dataLength = image.size();
    if (!chunks.empty()) chunks.back().offset += o.lastChunkBias;
    PlistDict table{{"Attributes", PlistValue("0x0050")},
                    {"Data", PlistValue(PlistData{blockTable(chunks, sectors)})},
                    {"ID", PlistValue("-1")},
                    {"Name", PlistValue("whole disk (Apple_HFS : 0)")}};
    PlistDict fork{{"blkx", PlistValue(PlistArray{PlistValue(std::move(table))})}};
    if (o.licenseAgreement)
        fork.emplace(
            "LPic",
            PlistValue(PlistArray{PlistValue(PlistDict{
                {"Data", PlistValue(PlistData{Bytes(8, 0)})}, {"ID", PlistValue("5000")}, {"Name", PlistValue("")}})}));
    const std::string xml = toXmlPlist(PlistValue(PlistDict{{"resource-fork", PlistValue(std::move(fork))}}));
    image.insert(image.end(), xml.begin(), xml.end());
    const Bytes t = trailer(dataLength, dataLength, xml.size(), sectors);
    image.insert(image.end(), t.begin(), t.end());
    return image;
}

Bytes signDiskImage(const Bytes& image, SignOptions o) {
    Parts p = partsOf(image);
    o.pageSizeLog2 = 0;
    o.sha1Primary = false;
    o.version = o.teamId.empty() ? 0x20100 : 0x20200;
    // The trailer as bound: the signature's future offset in place, its length unknown and zero.
    Bytes blinded = p.trailer;
    putU64(blinded, UDIF_OFF_CODESIGN_OFFSET, p.code.size(), true);
    putU64(blinded, UDIF_OFF_CODESIGN_LENGTH, 0, true);
    p.signature = signatureOver(p.code, p.code.size(), {{CSSLOT_REP_SPECIFIC, blinded}}, o);
    return assemble(std::move(p));
}

namespace {

EmbeddedSignature signatureOf(const Parts& p) {
    auto sig = parseEmbeddedSignature(span(p.signature));
    if (!sig) throw std::invalid_argument("the image is not signed: " + sig.error());
    return *sig;
}

}  // namespace

Bytes stapleDiskImage(const Bytes& image, const Bytes& ticket) {
    Parts p = partsOf(image);
    const EmbeddedSignature sig = signatureOf(p);
    std::vector<std::pair<std::uint32_t, Bytes>> blobs;
    for (const auto& e : sig.index)
        if (e.type != CSSLOT_TICKETSLOT)
            blobs.emplace_back(e.type,
                               Bytes(p.signature.begin() + e.offset, p.signature.begin() + e.offset + e.length));
    blobs.emplace_back(CSSLOT_TICKETSLOT, wrapperBlob(ticket));
    p.signature = assembleSuperBlob(std::move(blobs));
    return assemble(std::move(p));
}

Bytes diskImageCdhash(const Bytes& image) { return codeDirectoryHash(*signatureOf(partsOf(image)).primary()); }

}  // namespace tessarin::test
