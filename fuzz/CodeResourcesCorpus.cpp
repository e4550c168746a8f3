// Writes the resource-seal fuzzer's starting inputs: the seals the test signer writes for a bundle
// with resources, localizations, a link and a nested framework, in both generations.
#include "BundleBuilder.h"
#include "CorpusFolder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "TempDir.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    TempDir scratch;
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const bool firstGeneration : {false, true}) {
        BundleBuilder app(scratch / (firstGeneration ? "Old.app" : "Tool.app"));
        app.executable("Tool", thinMachO(0x0100000C, 0)).resource("a.txt", "a\n").resource("b/c.png", "png");
        app.localized("en", {{"CFBundleName", "Tool"}}).localized("fr", {{"CFBundleName", "Outil"}});
        app.symlink("Contents/Resources/link", "a.txt");
        app.build();
        app.nested("Contents/Frameworks/Kit.framework", BundleBuilder::Kind::Framework)
            .executable("Kit", thinMachO(0x0100000C, 0))
            .build();
        BundleSignOptions options;
        options.version1Only = firstGeneration;
        signBundle(app.path(), options);
        inputs.emplace_back(firstGeneration ? "seal-first-generation" : "seal-signed-bundle",
                            readFile(app.contentsPath() + "/_CodeSignature/CodeResources"));
    }
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
