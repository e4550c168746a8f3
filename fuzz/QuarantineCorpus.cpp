// Writes the quarantine fuzzer's starting inputs: attribute values as browsers and archivers write
// them, and values whose first characters are combined or wide.
#include <vector>

#include "CorpusFolder.h"

int main(int argc, char** argv) {
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"safari", "0083;5e1c0000;Safari;5B3C2F1A-0D4E-4C8B-9A71-2E5F6B7C8D9E"},
        {"archiver", "0081;65a1b2c3;The Unarchiver;"},
        {"combined",
         "0e\xCC\x81"
         "8\xE2\x80\x8D;00000000;\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7 agent;"},
        {"hangul",
         "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8"
         "083;5e1c0000;x;"},
        {"short", "0083;5e1c"},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
