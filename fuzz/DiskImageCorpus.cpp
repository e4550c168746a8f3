// Writes the disk image fuzzer's starting inputs: images as the test builder writes them, raw and
// zlib-chunked, signed ad hoc and with a stapled ticket slot.
#include "CorpusFolder.h"
#include "DiskImageBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    DiskImageOptions raw;
    raw.content.assign(3000, 0x5a);
    raw.chunkSectors = 2;
    DiskImageOptions zlib = raw;
    zlib.zlib = true;
    const Bytes signedImage = signDiskImage(buildDiskImage(zlib), SignOptions{});
    const std::vector<std::pair<std::string, Bytes>> inputs{
        {"dmg-raw", buildDiskImage(raw)},
        {"dmg-zlib", buildDiskImage(zlib)},
        {"dmg-signed-adhoc", signedImage},
        {"dmg-stapled", stapleDiskImage(signedImage, Bytes(64, 0x73))},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
