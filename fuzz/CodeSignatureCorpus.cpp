// Writes the code-signature fuzzer's starting inputs: SuperBlobs as the test signer writes them
// (ad hoc, linker-signed, old and new CodeDirectory versions, entitlements) and a resource seal.
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "codesign/CodeSignature.h"
#include "macho/MachO.h"
#include "plist/Plist.h"

using namespace tessarin;
using tessarin::test::Bytes;

namespace {

// The SuperBlob alone, trimmed of its zero padding: the fuzzer mutates what the parser reads.
Bytes superBlobOf(const Bytes& image) {
    std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(image.data()), image.size());
    auto macho = parseMachO(bytes);
    if (!macho) return {};
    auto loc = findCodeSignature(bytes, macho->slices[0]);
    if (!loc || !*loc) return {};
    auto sig = parseEmbeddedSignature(bytes.subspan((*loc)->offset, (*loc)->size));
    if (!sig) return {};
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>((*loc)->offset),
                 image.begin() + static_cast<std::ptrdiff_t>((*loc)->offset + sig->length));
}
}  // namespace

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    std::vector<test::SignOptions> variants(6);
    variants[1].linkerSigned = true;
    variants[2].version = 0x20100;
    variants[3].version = 0x20400;
    variants[3].teamId = "ABCDE12345";
    variants[4].entitlementsXml = "<plist><dict><key>a</key><true/></dict></plist>";
    variants[4].entitlementsDer = Bytes{0x70, 0x00};
    variants[5].sha1Primary = false;
    variants[5].pageSizeLog2 = 14;
    int written = 0;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        Bytes blob = superBlobOf(test::signMachO(test::thinMachO(0x0100000C, 0), variants[i]));
        if (!blob.empty() && tessarin::fuzz::writeInput(dir + "/signature-" + std::to_string(i), blob)) ++written;
    }
    PlistDict files2, entry, rules2, omit;
    entry["hash2"] = PlistValue(PlistData{Bytes(32, 1)});
    files2["Resources/a.txt"] = PlistValue(entry);
    omit["omit"] = PlistValue(true);
    omit["weight"] = PlistValue(std::int64_t{20});
    rules2["^.*"] = PlistValue(true);
    rules2["^Info\\.plist$"] = PlistValue(omit);
    PlistDict seal;
    seal["files2"] = PlistValue(files2);
    seal["rules2"] = PlistValue(rules2);
    std::string xml = toXmlPlist(PlistValue(seal));
    if (tessarin::fuzz::writeInput(dir + "/seal.plist", Bytes(xml.begin(), xml.end()))) ++written;
    return written == static_cast<int>(variants.size()) + 1 ? 0 : 1;
}
