// Writes the payload fuzzer's starting inputs: small cpio archives of both header formats, plain and
// in each compression a package uses (gzip, xz, pbzx with xz and with stored chunks).
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "XarBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    const std::string script = "#!/bin/sh\necho installed\n";
    const std::vector<CpioBuildEntry> tree = {
        {".", 040755, {}, 0, 80, {}},
        {"./Example.app/Contents/MacOS/Example", 0100755, Bytes(script.begin(), script.end()), 501, 20, {}},
        {"./Example.app/Contents/Current", 0120755, Bytes{'A'}, 0, 0, {}}};
    const Bytes odc = buildCpio(tree, CpioBuildFormat::Odc);
    const Bytes newc = buildCpio(tree, CpioBuildFormat::Newc);
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"cpio-odc", odc},
        {"cpio-newc", newc},
        {"gzip-odc", gzipCompress(odc)},
        {"xz-newc", xzCompress(newc)},
        {"pbzx-xz-odc", buildPbzx(odc, 128)},
        {"pbzx-stored-newc", buildPbzx(newc, 128, true)},
    };
    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
