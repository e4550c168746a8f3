// Scratch directories for tests; removal does not follow symbolic links.
#include "TempDir.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tessarin::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tessarin-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make unreadable folders on purpose; give them back their permissions first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    fs::remove_all(path_, ec);
}

void makeDirectories(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
}

void writeFile(const std::string& path, std::string_view bytes) {
    makeDirectories(fs::path(path).parent_path().string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    writeFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string standinDirectory() {
    return (fs::canonical("/proc/self/exe").parent_path().parent_path() / "libexec" / "tessarin").string();
}

std::string writeScript(const std::string& path, std::string_view body) {
    writeFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

}  // namespace tessarin::test
