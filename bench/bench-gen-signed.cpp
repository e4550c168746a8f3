// Makes the signed application of the verification and report benchmarks: Big.app with 20,000
// sealed files holding 1 GB of resources, a universal main executable, a nested helper app and a
// 32-bit library, sealed by the tests' signer and signed by the tests' Developer ID-like chain (a root
// of its own: codesign accepts it, spctl turns it away for not being Apple's, after the same hashing).
// With --disk-image, half that app (10,000 files, 500 MB) in an ext4 file system inside a UDIF image
// of zlib chunks, signed by the same chain: Debian has no HFS+ writer, and 7zz reads either.
//
//   bench-gen-signed DIR                writes DIR/Big.app and DIR/Big.manifest
//   bench-gen-signed --disk-image DIR   writes DIR/Big.dmg and DIR/Big.dmg.manifest
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "BundleBuilder.h"
#include "DiskImageBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "codesign/CodeSignatureConstants.h"

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

extern "C" char** environ;

constexpr std::int32_t kI386 = 7, kX86_64 = 0x01000007, kArm64 = 0x0100000C;

struct Shape {
    long sealedFiles;
    std::uint64_t resourceBytes;
    int largeFiles;  // half the bytes in these
    int folders;
};
constexpr Shape kBig{20000, 1000000000, 100, 400};
constexpr Shape kHalf{10000, 500000000, 50, 200};
constexpr std::uint64_t kChunkSectors = 2048;  // 1 MiB chunks, as disk image tools write them

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

struct Made {
    long files = 0;
    std::uint64_t resourceBytes = 0;
};

Made makeApp(const std::string& app, const Shape& shape) {
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
    const long kSmallFiles = shape.sealedFiles - shape.largeFiles - 4;  // the helper's three files and the library
    Random random;
    std::vector<std::uint64_t> sizes(static_cast<std::size_t>(kSmallFiles));
    std::uint64_t sum = 0;
    for (auto& s : sizes) sum += (s = 1 + random.below(50000));
    const std::uint64_t smallBytes = shape.resourceBytes / 2;
    std::uint64_t scaled = 0;
    for (auto& s : sizes) scaled += (s = std::max<std::uint64_t>(1, s * smallBytes / sum));
    sizes.back() += smallBytes - scaled;
    for (int i = 0; i < shape.largeFiles; ++i) sizes.push_back(shape.resourceBytes / 2 / shape.largeFiles);

    // Contents differ from file to file: windows into one random buffer at varying offsets.
    std::vector<std::uint8_t> pool((64u << 20) + 4096);
    for (std::size_t i = 0; i + 8 <= pool.size(); i += 8) {
        std::uint64_t v = random.next();
        std::memcpy(&pool[i], &v, 8);
    }
    std::uint64_t total = 0;
    const std::string resources = big.resourcesPath();
    for (int f = 0; f < shape.folders; ++f) fs::create_directories(resources + "/Assets" + std::to_string(f));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::uint64_t size = sizes[i];
        const std::string path = resources + "/Assets" + std::to_string(i % shape.folders) + "/asset" +
                                 std::to_string(i) + (size > (1u << 20) ? ".pak" : ".dat");
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

    Made made;
    made.resourceBytes = total;
    for (auto& e : fs::recursive_directory_iterator(app))
        if (e.is_regular_file()) ++made.files;
    return made;
}

int makeBig(const std::string& dir) {
    const std::string app = dir + "/Big.app";
    if (fs::exists(app)) {
        std::fprintf(stderr, "bench-gen-signed: %s exists already\n", app.c_str());
        return 1;
    }
    fs::create_directories(dir);
    const Made made = makeApp(app, kBig);
    FILE* manifest = std::fopen((dir + "/Big.manifest").c_str(), "w");
    if (!manifest) throw std::runtime_error("cannot write the manifest");
    std::fprintf(manifest, "files=%ld\nresource_bytes=%llu\nsealed=%ld\nsignature=developer-id-test\n", made.files,
                 static_cast<unsigned long long>(made.resourceBytes), kBig.sealedFiles);
    std::fclose(manifest);
    std::printf("Big.app: %ld files, %llu bytes of resources\n", made.files,
                static_cast<unsigned long long>(made.resourceBytes));
    return 0;
}

void run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed");
}

Bytes readAll(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    Bytes bytes(static_cast<std::size_t>(fs::file_size(path)));
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("cannot read " + path);
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return bytes;
}

// The half-size app in a file system in a signed image; the tree and the file system are removed
// after, and at most the file system and the image are held in memory at once.
int makeDiskImage(const std::string& dir) {
    const std::string dmg = dir + "/Big.dmg", tree = dir + "/image-tree", volume = dir + "/image-fs.img";
    if (fs::exists(dmg)) {
        std::fprintf(stderr, "bench-gen-signed: %s exists already\n", dmg.c_str());
        return 1;
    }
    fs::remove_all(tree);
    fs::create_directories(tree);
    const Made made = makeApp(tree + "/Big.app", kHalf);
    fs::create_symlink("/Applications", tree + "/Applications");  // as a vendor's image shows it
    // Room for the files' blocks, the folders and the file system's own tables.
    std::uint64_t blocks = 0;
    for (auto& e : fs::recursive_directory_iterator(tree))
        blocks += e.is_regular_file() && !e.is_symlink() ? (e.file_size() + 4095) / 4096 + 1 : 1;
    const std::uint64_t megabytes = blocks * 4096 / 1000000 * 110 / 100 + 64;
    run({"mkfs.ext4", "-q", "-F", "-O", "^has_journal", "-L", "Big", "-d", tree, volume,
         std::to_string(megabytes) + "M"});
    fs::remove_all(tree);

    Bytes image;
    {
        DiskImageOptions options;
        options.content = readAll(volume);
        options.zlib = true;
        options.chunkSectors = kChunkSectors;
        image = buildDiskImage(options);
    }
    fs::remove(volume);
    SignOptions sign;
    sign.identifier = "Big";
    sign.teamId = SigningChain::teamId();
    sign.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    image = signDiskImage(image, sign);
    write(dmg + ".partial", image.data(), image.size());
    fs::rename(dmg + ".partial", dmg);

    FILE* manifest = std::fopen((dir + "/Big.dmg.manifest").c_str(), "w");
    if (!manifest) throw std::runtime_error("cannot write the manifest");
    std::fprintf(manifest,
                 "files=%ld\nresource_bytes=%llu\nsealed=%ld\nfile_system_mb=%llu\nimage_bytes=%zu\n"
                 "chunk_sectors=%llu\nsignature=developer-id-test\n",
                 made.files, static_cast<unsigned long long>(made.resourceBytes), kHalf.sealedFiles,
                 static_cast<unsigned long long>(megabytes), image.size(),
                 static_cast<unsigned long long>(kChunkSectors));
    std::fclose(manifest);
    std::printf("Big.dmg: Big.app of %ld files, %llu bytes of resources, in %llu MB of ext4; image %zu bytes\n",
                made.files, static_cast<unsigned long long>(made.resourceBytes),
                static_cast<unsigned long long>(megabytes), image.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool diskImage = argc == 3 && std::strcmp(argv[1], "--disk-image") == 0;
    if (argc != 2 && !diskImage) {
        std::fprintf(stderr, "usage: bench-gen-signed [--disk-image] DIR\n");
        return 2;
    }
    try {
        return diskImage ? makeDiskImage(argv[2]) : makeBig(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-gen-signed: %s\n", e.what());
        return 1;
    }
}
