// Scratch directories for tests; removal does not follow symbolic links.
#include "TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
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

std::vector<std::string> childrenOfHere() {
    std::vector<std::string> children;
    if (DIR* d = ::opendir(".")) {
        while (dirent* entry = ::readdir(d))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.emplace_back(entry->d_name);
        ::closedir(d);
    }
    return children;
}

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Walks by changing into each folder, so that neither paths nor the stack grow with the depth of
// the tree (std::filesystem gives up once paths pass PATH_MAX); tests make unreadable folders on
// purpose, so each is given back its permissions first.
TempDir::~TempDir() {
    int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::chmod(path_.c_str(), 0700);
    if (::chdir(path_.c_str()) == 0) {
        std::vector<std::vector<std::string>> stack{childrenOfHere()};
        while (!stack.empty()) {
            if (stack.back().empty()) {
                stack.pop_back();
                if (stack.empty() || ::chdir("..") != 0) break;
                ::rmdir(stack.back().back().c_str());
                stack.back().pop_back();
                continue;
            }
            const std::string name = stack.back().back();
            struct stat st {};
            if (::lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                ::chmod(name.c_str(), 0700);
                if (::chdir(name.c_str()) == 0) {
                    stack.push_back(childrenOfHere());
                    continue;
                }
            }
            ::unlink(name.c_str());
            stack.back().pop_back();
        }
    }
    if (here >= 0 && ::fchdir(here) == 0) ::rmdir(path_.c_str());
    if (here >= 0) ::close(here);
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
