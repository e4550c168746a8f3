// Writes the XML fuzzer's starting inputs: the tables of contents of the test builder's packages
// (unsigned, signed, with a CMS signature) and small documents with entities, CDATA and comments.
#include "CorpusFolder.h"
#include "XarBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const SigningChain& chain = SigningChain::shared();
    XarBuildOptions signedOptions = signedProduct(chain);
    signedOptions.files.back().data.resize(100);
    signedOptions.signCms = [&](const Bytes& checksum) {
        return chain.signCms(checksum, chain.leaf(LeafKind::DeveloperIDInstaller), {}, CmsOptions{.timestamp = false});
    };
    XarBuildOptions plain;
    plain.files = signedOptions.files;
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"toc-unsigned", buildXar(plain).toc},
        {"toc-signed", buildXar(signedOptions).toc},
        {"entities",
         "<?xml version=\"1.0\"?>\n<!-- c --><xar a='&lt;&#65;&#x42;'><toc><name>&amp;&quot;&apos;"
         "<![CDATA[<raw>]]></name><x:e xmlns:x=\"u\"/></toc></xar>"},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
