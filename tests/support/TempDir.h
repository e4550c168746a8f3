// Scratch directories and small file helpers shared by every test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::test {

// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view relative) const { return path_ + "/" + std::string(relative); }

private:
    std::string path_;
};

// Writes bytes to a file, creating its parent folders.
void writeFile(const std::string& path, std::string_view bytes);
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string readFile(const std::string& path);
void makeDirectories(const std::string& path);
// The build's folder of stand-in tools (libexec/tessarin beside bin/ of the running test).
std::string standinDirectory();
// The names in the working folder, without "." and "..".
std::vector<std::string> childrenOfHere();
// `s` written `n` times over.
std::string repeat(const std::string& s, std::size_t n);
// A small shell script that stands in for a tool in runner tests; returns its path.
std::string writeScript(const std::string& path, std::string_view body);

}  // namespace tessarin::test
