// Writes the AppleDouble fuzzer's starting inputs: companions as a Mac writes them, with no
// attribute, a quarantine, and several attributes of different name lengths.
#include <vector>

#include "ArchiveBuilder.h"
#include "CorpusFolder.h"

using tessarin::test::appleDouble;

int main(int argc, char** argv) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"none", appleDouble({})},
        {"quarantine", appleDouble({{"com.apple.quarantine", "0083;65a0c2f1;Safari;"}})},
        {"several", appleDouble({{"a", ""},
                                 {"com.apple.metadata:kMDItemWhereFroms", std::string("bplist00\0\1", 10)},
                                 {"com.apple.lastuseddate#PS", std::string(16, '\x7f')}})},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
