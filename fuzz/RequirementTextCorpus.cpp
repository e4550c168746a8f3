// Writes the requirement text fuzzer's starting inputs: requirements as codesign prints them for
// Developer ID, ad hoc, Apple's and App Store code, every clause and match form, and a set.
#include <vector>

#include "CorpusFolder.h"

int main(int argc, char** argv) {
    const std::string h(40, 'a');
    const std::vector<std::string> texts = {
        "identifier \"com.example.app\" and anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
        "/* exists */ and certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and certificate "
        "leaf[subject.OU] = ABCDE12345",
        "cdhash H\"" + h + "\" or cdhash H\"" + h + "\"",
        "identifier \"com.apple.ls\" and anchor apple",
        "anchor apple generic and certificate leaf[field.1.2.840.113635.100.6.1.9] /* exists */",
        "! (notarized and legacy) or anchor trusted or certificate root trusted or certificate -2 = H\"" + h + "\"",
        "info[CFBundleVersion] >= \"1.2\" and info[A] = *x* and info[B] = \"y\"* and info[C] = *z and info[D] ~ w",
        "entitlement[\"com.apple.security.app-sandbox\"] exists and certificate leaf[email] absent",
        "certificate leaf[timestamp.1.2.840.113635.100.6.1.33] > <2020-01-01 00:00:00 +0000>",
        "certificate leaf[policy.1.2.840.113635.100.5.1] and platform = 2 and (helper) and anchor apple beta",
        "identifier 0x610a62 and info[0x610962] = 0x1b5b324a // comment\n# another\n",
        "designated => identifier tool\nhost => anchor apple and identifier com.apple.launchd\n",
    };
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::string& t : texts) inputs.emplace_back("text-" + std::to_string(inputs.size()), t);
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
