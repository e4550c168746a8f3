// libFuzzer entry: hostile disk images must parse or fail cleanly, and every chunk the reader
// accepts must lie inside the file, where a reader of the image's contents would look for it.
#include "FuzzEntry.h"
#include "base/ByteReader.h"
#include "diskimage/Udif.h"
#include "diskimage/UdifConstants.h"

void tessarin::fuzz::fuzzOne(Input in) {
    const ByteReader file(in.data, in.size);
    (void)diskImageKind(file.all());
    auto image = parseUdif(file.all());
    if (!image) return;
    for (const auto& table : image->tables) {
        for (const auto& chunk : table.chunks) {
            const bool holdsData = chunk.type != BLKX_CHUNK_ZERO && chunk.type != BLKX_CHUNK_IGNORE &&
                                   chunk.type != BLKX_CHUNK_COMMENT && chunk.type != BLKX_CHUNK_TERMINATOR;
            const std::uint64_t at = image->trailer.dataForkOffset + table.dataOffset + chunk.compressedOffset;
            require(!holdsData || file.contains(at, chunk.compressedLength));
        }
    }
}
