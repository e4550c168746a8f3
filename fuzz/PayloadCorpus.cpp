// Writes the payload fuzzer's starting inputs: small cpio archives of both header formats, plain and
// in each compression a package uses (gzip, xz, pbzx with xz and with stored chunks).
#include "CorpusFolder.h"
#include "XarBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
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
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
