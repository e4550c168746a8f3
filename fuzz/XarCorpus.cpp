// Writes the xar fuzzer's starting inputs: packages as the test builder writes them, with each
// checksum algorithm, signed with RSA and CMS, with a stapled ticket, and one whose component installs
// a payload and runs a script.
#include "CorpusFolder.h"
#include "TicketBuilder.h"
#include "XarBuilder.h"

using namespace tessarin::test;

namespace {
XarBuildOptions withChecksum(XarBuildOptions o, std::uint32_t algorithm, const std::string& name = "") {
    o.checksumAlgorithm = algorithm;
    o.checksumName = name;
    return o;
}
}  // namespace

int main(int argc, char** argv) {
    const SigningChain& chain = SigningChain::shared();
    XarBuildOptions rsa = signedProduct(chain);
    rsa.files.back().data.resize(100);  // keep inputs small for the fuzzer
    XarBuildOptions plain;
    plain.files = rsa.files;
    const XarBuild signedBuild = buildXar(rsa);
    const Bytes digest(
        signedBuild.bytes.begin() + static_cast<long>(signedBuild.checksumOffset),
        signedBuild.bytes.begin() + static_cast<long>(signedBuild.checksumOffset + signedBuild.checksumSize));
    XarBuildOptions cms = rsa;
    cms.signCms = [&](const Bytes& checksum) {
        return chain.signCms(checksum, chain.leaf(LeafKind::DeveloperIDInstaller), {}, CmsOptions{.timestamp = false});
    };
    // A product archive whose component installs a small payload and runs a script.
    XarBuildOptions product;
    product.files = {distributionFile({"Example.pkg"})};
    const std::string script = "#!/bin/sh\nexit 0\n";
    for (const auto& f : componentFiles(
             "Example.pkg", "com.example.pkg", "1.0",
             buildPbzx(buildCpio({{".", 040755, {}, 0, 0, {}}, {"./Example.app", 040755, {}, 0, 0, {}}}), 64),
             gzipCompress(buildCpio({{"./postinstall", 0100755, Bytes(script.begin(), script.end()), 0, 0, {}}}))))
        product.files.push_back(f);
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"xar-unsigned-sha1", buildXar(plain).bytes},
        {"xar-unsigned-md5", buildXar(withChecksum(plain, 2)).bytes},
        {"xar-unsigned-sha256", buildXar(withChecksum(plain, 3, "sha256")).bytes},
        {"xar-signed-rsa", signedBuild.bytes},
        {"xar-signed-stapled", stapleTicket(signedBuild.bytes, TicketBuilder().naming(digest).build())},
        {"xar-signed-rsa-cms", buildXar(cms).bytes},
        {"xar-product-payload", buildXar(product).bytes},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
