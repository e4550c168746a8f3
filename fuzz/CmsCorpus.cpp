// Writes the CMS fuzzer's starting inputs: detached signatures by the test chain over the content
// the fuzzer checks against, with and without a timestamp and CDHash list, and its certificates.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "SigningChain.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    const std::string& dir = *folder;
    const std::string text = "tessarin fuzz content";
    const Bytes content(text.begin(), text.end());
    const SigningChain& chain = SigningChain::shared();
    const TestIdentity& leaf = chain.leaf(LeafKind::DeveloperIDApplication);
    const std::time_t now = std::time(nullptr);
    std::vector<std::pair<std::string, Bytes>> inputs = {
        {"cms-timestamped", chain.signCms(content, leaf, {Bytes(20, 1), Bytes(20, 2)}, now, true)},
        {"cms-plain", chain.signCms(content, chain.leaf(LeafKind::SoftwareSigning), {}, now, false)},
        {"certificate-leaf", leaf.certificateDer},
        {"certificate-intermediate", chain.intermediate().certificateDer},
    };
    for (const auto& [name, bytes] : inputs) {
        if (!tessarin::fuzz::writeInput(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
