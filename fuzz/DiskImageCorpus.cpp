// Writes the disk image fuzzer's starting inputs: images as the test builder writes them, raw and
// zlib-chunked, signed ad hoc and with a stapled ticket slot.
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "DiskImageBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
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
    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(*folder + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], folder->c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
