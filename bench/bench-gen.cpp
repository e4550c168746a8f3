// Makes the benchmark data that needs no signature: the 32-bit scan tree and the lipo sample files.
//
//   bench-gen tree ROOT     100,000 files in 5,000 folders below ROOT, counts in ROOT.manifest
//   bench-gen lipo DIR      thin and fat Mach-O files, their paths in DIR/files.txt
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "MachOBuilder.h"

namespace fs = std::filesystem;
using tessarin::test::Bytes;
using tessarin::test::fatMachO;
using tessarin::test::SliceSpec;
using tessarin::test::thinMachO;

namespace {

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kArm = 12, kArm64 = 0x0100000C, kPpc = 18;

// splitmix64: the same tree on every machine, without a library generator's version drift.
struct Random {
    std::uint64_t state = 0x7e55a12e2025ull;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
};

void write(const std::string& path, const void* data, std::size_t size, mode_t mode = 0644) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const char* p = static_cast<const char*>(data);
    while (size) {
        ssize_t n = ::write(fd, p, size);
        if (n <= 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}
void write(const std::string& path, const Bytes& b, mode_t mode = 0644) { write(path, b.data(), b.size(), mode); }
void write(const std::string& path, const std::string& s) { write(path, s.data(), s.size()); }

std::string infoPlist(const std::string& executable, const std::string& identifier) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable +
           "</string>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>" +
           identifier +
           "</string>\n"
           "\t<key>CFBundlePackageType</key>\n\t<string>APPL</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>1.0</string>\n"
           "</dict>\n</plist>\n";
}

Bytes sized(std::int32_t cputype, std::int32_t subtype, std::size_t size) {
    SliceSpec s;
    s.cputype = cputype;
    s.cpusubtype = subtype;
    s.is64 = (static_cast<std::uint32_t>(cputype) & 0x01000000u) != 0;
    s.bigEndian = cputype == kPpc;
    return thinMachO(s, size);
}

int makeTree(const std::string& root) {
    constexpr int kTopFolders = 70, kSubFolders = 70;  // 70 + 4,900 plain folders
    constexpr int kApps = 10, kFoldersPerApp = 3, kFilesPerApp = 2;
    constexpr long kFiles = 100000;
    constexpr long kPlainFiles = kFiles - kApps * kFilesPerApp;

    if (fs::exists(root)) {
        std::fprintf(stderr, "bench-gen: %s exists already\n", root.c_str());
        return 1;
    }
    fs::create_directories(root);
    std::vector<std::string> folders;
    for (int t = 0; t < kTopFolders; ++t) {
        char top[32];
        std::snprintf(top, sizeof top, "/Group%02d", t);
        folders.push_back(root + top);
        fs::create_directory(folders.back());
        for (int s = 0; s < kSubFolders; ++s) {
            char sub[32];
            std::snprintf(sub, sizeof sub, "/Part%02d", s);
            folders.push_back(root + top + sub);
            fs::create_directory(folders.back());
        }
    }

    Random random;
    long thin32 = 0, listedApps = 0;
    // Nested application bundles: i386 only (listed, with its thin executable), i386 with x86_64
    // (not listed) and x86_64 only (not listed).
    for (int a = 0; a < kApps; ++a) {
        std::string name = "Helper" + std::to_string(a);
        std::string app = folders[static_cast<std::size_t>(a) * 487 % folders.size()] + "/" + name + ".app";
        fs::create_directories(app + "/Contents/MacOS");
        write(app + "/Contents/Info.plist", infoPlist(name, "org.example.helper" + std::to_string(a)));
        Bytes exe;
        if (a < 5) {
            exe = thinMachO(kI386, 3);
            ++thin32;
            ++listedApps;
        } else if (a < 8) {
            exe = fatMachO({{kI386, 3}, {kX86_64, 3}});
        } else {
            exe = thinMachO(kX86_64, 3);
        }
        write(app + "/Contents/MacOS/" + name, exe, 0755);
    }

    std::string text;
    for (long i = 0; i < kPlainFiles; ++i) {
        const std::string& folder = folders[static_cast<std::size_t>(i) % folders.size()];
        char name[48];
        const std::uint64_t kind = random.below(1000);
        if (kind < 50) {  // thin 32-bit little-endian: listed
            std::snprintf(name, sizeof name, "/lib%05ld.dylib", i);
            write(folder + name, kind < 40 ? sized(kI386, 3, 4096 + 4096 * random.below(3)) : sized(kArm, 9, 4096));
            ++thin32;
        } else if (kind < 90) {  // thin 64-bit
            std::snprintf(name, sizeof name, "/lib%05ld.dylib", i);
            write(folder + name, sized(kind < 75 ? kX86_64 : kArm64, kind < 75 ? 3 : 0, 4096 + 4096 * random.below(3)));
        } else if (kind < 100) {  // universal
            std::snprintf(name, sizeof name, "/tool%05ld", i);
            write(folder + name, fatMachO({{kX86_64, 3}, {kArm64, 0}}), 0755);
        } else if (kind < 105) {  // big-endian 32-bit PowerPC: not listed
            std::snprintf(name, sizeof name, "/ppc%05ld", i);
            write(folder + name, sized(kPpc, 0, 4096));
        } else if (kind < 110) {  // empty and short files
            std::snprintf(name, sizeof name, "/short%05ld", i);
            write(folder + name, "\xce\xfa\xed", kind % 4);
        } else {  // resources: text and data of a few hundred bytes
            std::snprintf(name, sizeof name, "/res%05ld.txt", i);
            const std::size_t size = 16 + random.below(random.below(4) == 0 ? 4000 : 600);
            text.resize(size);
            for (auto& c : text) c = static_cast<char>('a' + random.below(26));
            write(folder + name, text);
        }
    }

    const long folderCount = static_cast<long>(folders.size()) + kApps * kFoldersPerApp;
    FILE* manifest = std::fopen((root + ".manifest").c_str(), "w");
    if (!manifest) {
        std::perror("manifest");
        return 1;
    }
    std::fprintf(manifest, "files=%ld\ndirectories=%ld\nthin32=%ld\ncomponents=%ld\n", kFiles, folderCount, thin32,
                 thin32 + listedApps);
    std::fclose(manifest);
    std::printf("tree: %ld files in %ld folders, %ld thin 32-bit, %ld components\n", kFiles, folderCount, thin32,
                thin32 + listedApps);
    return 0;
}

int makeLipoFiles(const std::string& dir) {
    fs::create_directories(dir);
    struct Sample {
        const char* name;
        Bytes bytes;
    };
    std::vector<Sample> samples;
    samples.push_back({"thin-x86_64", thinMachO(kX86_64, 3)});
    samples.push_back({"thin-arm64", thinMachO(kArm64, 0)});
    samples.push_back({"thin-i386", thinMachO(kI386, 3)});
    samples.push_back({"thin-ppc", thinMachO(kPpc, 0)});
    samples.push_back({"fat-i386-x86_64", fatMachO({{kI386, 3}, {kX86_64, 3}})});
    samples.push_back({"fat-x86_64-arm64", fatMachO({{kX86_64, 3}, {kArm64, 0}})});
    samples.push_back({"fat64-x86_64-arm64", fatMachO({{kX86_64, 3}, {kArm64, 0}}, true)});
    samples.push_back({"fat-four", fatMachO({{kI386, 3}, {kX86_64, 3}, {kArm64, 0}, {kPpc, 0}})});
    // A large universal binary: a tool that reads more than the headers pays for it here.
    samples.push_back({"fat-large", fatMachO({sized(kX86_64, 3, 24u << 20), sized(kArm64, 0, 24u << 20)},
                                             {{kX86_64, 3}, {kArm64, 0}})});
    samples.push_back({"thin-large", sized(kArm64, 0, 16u << 20)});
    std::string list;
    for (const auto& s : samples) {
        std::string path = dir + "/" + s.name;
        write(path, s.bytes, 0755);
        list += path + "\n";
    }
    write(dir + "/files.txt", list);
    std::printf("lipo: %zu files in %s\n", samples.size(), dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "tree") == 0) return makeTree(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "lipo") == 0) return makeLipoFiles(argv[2]);
    std::fprintf(stderr, "usage: bench-gen tree ROOT | bench-gen lipo DIR\n");
    return 2;
}
