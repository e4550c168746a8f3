// libFuzzer entry: hostile disk images must parse or fail cleanly, and every chunk the reader
// accepts must lie inside the file, where a reader of the image's contents would look for it.
#include <cstddef>
#include <cstdint>

#include "base/ByteReader.h"
#include "diskimage/Udif.h"
#include "diskimage/UdifConstants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tessarin::ByteReader file(data, size);
    (void)tessarin::diskImageKind(file.all());
    auto image = tessarin::parseUdif(file.all());
    if (!image) return 0;
    const auto& t = image->trailer;
    for (const auto& table : image->tables) {
        for (const auto& chunk : table.chunks) {
            using namespace tessarin;
            const bool holdsData = chunk.type != BLKX_CHUNK_ZERO && chunk.type != BLKX_CHUNK_IGNORE &&
                                   chunk.type != BLKX_CHUNK_COMMENT && chunk.type != BLKX_CHUNK_TERMINATOR;
            const std::uint64_t at = t.dataForkOffset + table.dataOffset + chunk.compressedOffset;
            if (holdsData && !file.contains(at, chunk.compressedLength)) __builtin_trap();
        }
    }
    return 0;
}
