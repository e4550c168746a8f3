// Writes the XML fuzzer's starting inputs: the tables of contents of the test builder's packages
// (unsigned, signed, with a CMS signature) and small documents with entities, CDATA and comments.
#include <cstdio>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "SigningChain.h"
#include "XarBuilder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    XarBuildOptions plain;
    plain.files = sampleProductFiles();
    plain.files.back().data.resize(100);
    const SigningChain& chain = SigningChain::shared();
    XarBuildOptions signedOptions = signedProduct(chain);
    signedOptions.files = plain.files;
    CmsOptions untimed;
    untimed.timestamp = false;
    signedOptions.signCms = [&](const Bytes& checksum) {
        return chain.signCms(checksum, chain.leaf(LeafKind::DeveloperIDInstaller), {}, untimed);
    };

    std::vector<std::pair<std::string, std::string>> inputs = {
        {"toc-unsigned", buildXar(plain).toc},
        {"toc-signed", buildXar(signedOptions).toc},
        {"entities",
         "<?xml version=\"1.0\"?>\n<!-- c --><xar a='&lt;&#65;&#x42;'><toc><name>&amp;&quot;&apos;"
         "<![CDATA[<raw>]]></name><x:e xmlns:x=\"u\"/></toc></xar>"},
    };
    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
