// What every starting-corpus generator shares: writing its named inputs into the folder given as its
// one argument. An input that came out empty means a builder failed, and fails the generator.
#pragma once

#include <cstdio>
#include <string>

namespace tessarin::fuzz {

// `inputs`: (name, bytes) pairs, the bytes any contiguous container of bytes or characters. Returns
// the generator's exit status.
template <class Inputs>
int writeCorpus(int argc, char** argv, const Inputs& inputs) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    for (const auto& [name, bytes] : inputs) {
        const std::string path = std::string(argv[1]) + "/" + name;
        std::FILE* f = bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb");
        const bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (!f || std::fclose(f) != 0 || !written) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace tessarin::fuzz
