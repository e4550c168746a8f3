// What every starting-corpus generator shares: the folder it is given and writing one input there.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace tessarin::fuzz {

inline std::optional<std::string> corpusFolder(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return std::nullopt;
    }
    return std::string(argv[1]);
}

// Any contiguous container of bytes or characters.
template <class Bytes>
bool writeInput(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace tessarin::fuzz
