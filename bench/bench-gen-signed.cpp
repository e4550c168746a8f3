// Makes the signed application of the verification and report benchmarks: Big.app with 20,000
// sealed files holding 1 GB of resources, a universal main executable, a nested helper app and a
// 32-bit library, sealed by the tests' signer and signed by the tests' Developer ID-like chain (a root
// of its own: codesign accepts it, spctl turns it away for not being Apple's, after the same hashing).
//
//   bench-gen-signed DIR        writes DIR/Big.app and DIR/Big.manifest
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "codesign/CodeSignatureConstants.h"

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kArm64 = 0x0100000C;
constexpr long kSealedFiles = 20000;
constexpr std::uint64_t kResourceBytes = 1000000000;  // 1 GB
constexpr int kLargeFiles = 100;                      // half the bytes in a hundred large files
constexpr int kFolders = 400;

struct Random {
    std::uint64_t state = 0xb16a9917e5ull;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
};

void write(const std::string& path, const std::uint8_t* data, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    while (size) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) throw std::runtime_error("cannot write " + path);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

Bytes slice(std::int32_t cputype, std::int32_t subtype, std::size_t size) {
    SliceSpec s;
    s.cputype = cputype;
    s.cpusubtype = subtype;
    s.is64 = (static_cast<std::uint32_t>(cputype) & 0x01000000u) != 0;
    return thinMachO(s, size);
}

int make(const std::string& dir) {
    const std::string app = dir + "/Big.app";
    if (fs::exists(app)) {
        std::fprintf(stderr, "bench-gen-signed: %s exists already\n", app.c_str());
        return 1;
    }
    fs::create_directories(dir);

    BundleBuilder big(app);
    big.info("CFBundleIdentifier", "org.example.big")
        .info("CFBundleName", "Big")
        .info("CFBundleShortVersionString", "3.2.1")
        .info("CFBundleVersion", "321")
        .info("DTSDKName", "macosx11.0")
        .executable("Big",
                    fatMachO({slice(kX86_64, 3, 8u << 20), slice(kArm64, 0, 8u << 20)}, {{kX86_64, 3}, {kArm64, 0}}));
    big.build();
    // Nested code the deep verification descends into, and 32-bit components for the scan.
    BundleBuilder helper = big.nested("Contents/Library/LoginItems/BigHelper.app", BundleBuilder::Kind::App);
    helper.info("CFBundleIdentifier", "org.example.big.helper")
        .executable("BigHelper", fatMachO({{kI386, 3}, {kX86_64, 3}}))
        .resource("helper.txt", "helper resource\n");
    helper.build();
    SliceSpec legacy;
    legacy.cputype = kI386;
    legacy.cpusubtype = 3;
    legacy.filetype = 6;  // MH_DYLIB
    writeFile(big.contentsPath() + "/Frameworks/libLegacy.dylib", thinMachO(legacy));

    // Sizes: a hundred large files share half the bytes; the rest, a few bytes to ~50 KB, the other half.
    const long kSmallFiles = kSealedFiles - kLargeFiles - 4;  // the helper's three files and the library
    Random random;
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(kSmallFiles));
    std::uint64_t sum = 0;
    for (auto& s : sizes) sum += (s = 1 + random.below(50000));
    const std::uint64_t smallBytes = kResourceBytes / 2;
    std::uint64_t scaled = 0;
    for (auto& s : sizes) scaled += (s = std::max<std::uint64_t>(1, s * smallBytes / sum));
    sizes.back() += smallBytes - scaled;
    for (int i = 0; i < kLargeFiles; ++i) sizes.push_back(kResourceBytes / 2 / kLargeFiles);

    // Contents differ from file to file: windows into one random buffer at varying offsets.
    std::vector<std::uint8_t> pool((64u << 20) + 4096);
    for (std::size_t i = 0; i + 8 <= pool.size(); i += 8) {
        std::uint64_t v = random.next();
        std::memcpy(&pool[i], &v, 8);
    }
    std::uint64_t total = 0;
    const std::string resources = big.resourcesPath();
    for (int f = 0; f < kFolders; ++f) fs::create_directories(resources + "/Assets" + std::to_string(f));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::uint64_t size = sizes[i];
        const std::string path = resources + "/Assets" + std::to_string(i % kFolders) + "/asset" + std::to_string(i) +
                                 (size > (1u << 20) ? ".pak" : ".dat");
        std::vector<std::uint8_t> bytes(size);
        for (std::uint64_t done = 0; done < size;) {
            const std::uint64_t offset = random.below(pool.size() - 4096 * 2);
            const std::uint64_t n = std::min<std::uint64_t>(size - done, pool.size() - offset);
            std::memcpy(bytes.data() + done, pool.data() + offset, n);
            done += n;
        }
        write(path, bytes.data(), bytes.size());
        total += size;
    }

    BundleSignOptions options;
    options.code.identifier = "org.example.big";
    options.code.sha1Primary = false;
    options.code.teamId = SigningChain::teamId();
    options.code.flags = CS_RUNTIME;
    options.code.runtime = 0x000b0000;
    options.code.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    signBundle(app, options);

    long files = 0;
    for (auto& e : fs::recursive_directory_iterator(app))
        if (e.is_regular_file()) ++files;
    FILE* manifest = std::fopen((dir + "/Big.manifest").c_str(), "w");
    if (!manifest) throw std::runtime_error("cannot write the manifest");
    std::fprintf(manifest, "files=%ld\nresource_bytes=%llu\nsealed=%ld\nsignature=developer-id-test\n", files,
                 static_cast<unsigned long long>(total), kSealedFiles);
    std::fclose(manifest);
    std::printf("Big.app: %ld files, %llu bytes of resources\n", files, static_cast<unsigned long long>(total));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench-gen-signed DIR\n");
        return 2;
    }
    try {
        return make(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-gen-signed: %s\n", e.what());
        return 1;
    }
}
