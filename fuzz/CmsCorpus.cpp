// Writes the CMS fuzzer's starting inputs: detached signatures by the test chain over the content
// the fuzzer checks against, with and without a timestamp and CDHash list, and its certificates.
#include <ctime>

#include "CorpusFolder.h"
#include "SigningChain.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const std::string text = "tessarin fuzz content";
    const Bytes content(text.begin(), text.end());
    const SigningChain& chain = SigningChain::shared();
    const TestIdentity& leaf = chain.leaf(LeafKind::DeveloperIDApplication);
    const std::time_t now = std::time(nullptr);
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"cms-timestamped", chain.signCms(content, leaf, {Bytes(20, 1), Bytes(20, 2)}, now, true)},
        {"cms-plain", chain.signCms(content, chain.leaf(LeafKind::SoftwareSigning), {}, now, false)},
        {"certificate-leaf", leaf.certificateDer},
        {"certificate-intermediate", chain.intermediate().certificateDer},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
