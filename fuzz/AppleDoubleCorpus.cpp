// Writes the AppleDouble fuzzer's starting inputs: companions as a Mac writes them, with no
// attribute, a quarantine, and several attributes of different name lengths.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveBuilder.h"
#include "CorpusFolder.h"

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    using Attributes = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::pair<std::string, Attributes>> inputs = {
        {"none", {}},
        {"quarantine", {{"com.apple.quarantine", "0083;65a0c2f1;Safari;"}}},
        {"several",
         {{"a", ""},
          {"com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\0\1", 10)},
          {"com.apple.lastuseddate#PS", std::string(16, '\x7f')}}},
    };
    for (const auto& [name, attributes] : inputs) {
        if (!tessarin::fuzz::writeInput(*folder + "/" + name, tessarin::test::appleDouble(attributes))) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], folder->c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
