// Writes the xar fuzzer's starting inputs: packages as the test builder writes them, with each
// checksum algorithm, signed with RSA and CMS, with a stapled ticket, and one whose component installs
// a payload and runs a script.
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "SigningChain.h"
#include "TicketBuilder.h"
#include "XarBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    std::vector<std::pair<std::string, Bytes>> inputs;

    XarBuildOptions plain;
    plain.files = sampleProductFiles();
    plain.files.back().data.resize(100);  // keep inputs small for the fuzzer
    inputs.emplace_back("xar-unsigned-sha1", buildXar(plain).bytes);

    XarBuildOptions md5 = plain;
    md5.checksumAlgorithm = 2;
    inputs.emplace_back("xar-unsigned-md5", buildXar(md5).bytes);

    XarBuildOptions named = plain;
    named.checksumAlgorithm = 3;
    named.checksumName = "sha256";
    inputs.emplace_back("xar-unsigned-sha256", buildXar(named).bytes);

    const SigningChain& chain = SigningChain::shared();
    XarBuildOptions rsa = signedProduct(chain);
    rsa.files = plain.files;
    XarBuild signedBuild = buildXar(rsa);
    inputs.emplace_back("xar-signed-rsa", signedBuild.bytes);
    Bytes digest(signedBuild.bytes.begin() + static_cast<long>(signedBuild.checksumOffset),
                 signedBuild.bytes.begin() + static_cast<long>(signedBuild.checksumOffset + signedBuild.checksumSize));
    inputs.emplace_back("xar-signed-stapled", stapleTicket(signedBuild.bytes, TicketBuilder().naming(digest).build()));

    XarBuildOptions cms = rsa;
    CmsOptions untimed;
    untimed.timestamp = false;
    cms.signCms = [&](const Bytes& checksum) {
        return chain.signCms(checksum, chain.leaf(LeafKind::DeveloperIDInstaller), {}, untimed);
    };
    inputs.emplace_back("xar-signed-rsa-cms", buildXar(cms).bytes);

    // A product archive whose component installs a small payload and runs a script.
    XarBuildOptions product;
    product.files = {distributionFile({"Example.pkg"})};
    const std::string script = "#!/bin/sh\nexit 0\n";
    for (const auto& f : componentFiles(
             "Example.pkg", "com.example.pkg", "1.0",
             buildPbzx(buildCpio({{".", 040755, {}, 0, 0, {}}, {"./Example.app", 040755, {}, 0, 0, {}}}), 64),
             gzipCompress(buildCpio({{"./postinstall", 0100755, Bytes(script.begin(), script.end()), 0, 0, {}}}))))
        product.files.push_back(f);
    inputs.emplace_back("xar-product-payload", buildXar(product).bytes);

    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
