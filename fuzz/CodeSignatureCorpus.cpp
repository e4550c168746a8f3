// Writes the code-signature fuzzer's starting inputs: SuperBlobs as the test signer writes them
// (ad hoc, linker-signed, old and new CodeDirectory versions, entitlements) and a resource seal.
#include "BundleBuilder.h"
#include "CorpusFolder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "TempDir.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    std::vector<SignOptions> variants(6);
    variants[1].linkerSigned = true;
    variants[2].version = 0x20100;
    variants[3].version = 0x20400;
    variants[3].teamId = "ABCDE12345";
    variants[4].entitlementsXml = "<plist><dict><key>a</key><true/></dict></plist>";
    variants[4].entitlementsDer = Bytes{0x70, 0x00};
    variants[5].sha1Primary = false;
    variants[5].pageSizeLog2 = 14;
    std::vector<std::pair<std::string, Bytes>> inputs;
    for (const SignOptions& options : variants) {
        // The SuperBlob alone, without its zero padding: the fuzzer mutates what the parser reads.
        const Bytes image = signMachO(thinMachO(0x0100000C, 0), options);
        const std::size_t at = signatureOffset(image);
        const auto end = image.begin() + static_cast<std::ptrdiff_t>(at + getU32(image, at + 4, true));
        inputs.emplace_back("signature-" + std::to_string(inputs.size()),
                            Bytes(image.begin() + static_cast<std::ptrdiff_t>(at), end));
    }
    TempDir scratch;
    BundleBuilder app(scratch / "Tool.app");
    app.executable("Tool", thinMachO(0x0100000C, 0)).resource("a.txt", "a\n").build();
    signBundle(app.path(), BundleSignOptions{});
    const std::string seal = readFile(app.contentsPath() + "/_CodeSignature/CodeResources");
    inputs.emplace_back("seal.plist", Bytes(seal.begin(), seal.end()));
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
