// The floor of deep strict verification: OpenSSL's SHA-1 and SHA-256 over as many bytes as the
// bundle holds, in 1 MiB blocks as `openssl speed -evp ... -bytes 1048576` hashes them, on one or
// more threads, and nothing else (no files, no parsing). spawn-bench times it beside the tools, so
// the floor is measured under the same load as the verification it is compared with.
//
//   hash-floor --bytes N [--threads T] [--digests sha1,sha256]
//   hash-floor --files LIST [--threads T]
//
// With --files, the files named in LIST (one path a line) are read instead: open, fstat, read in
// 256 KiB chunks with both digests over each chunk, close, nothing else. That is what reading a
// bundle through the kernel adds to the floor on this machine, a ceiling no verifier that reads
// its files can pass.
//
// Prints bytes, seconds and GB/s per digest on stdout (spawn-bench throws that away; run it alone to
// read it). Hashing speed does not depend on the data, so one block is hashed over and over.
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchClock.h"

namespace {

constexpr std::size_t kBlock = 1u << 20;

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: hash-floor --bytes N [--threads T] [--digests sha1,sha256]\n"
                         "       hash-floor --files LIST [--threads T]\n");
    std::exit(2);
}

// Hashes `bytes` bytes with `md`, one digest per block; returns false when OpenSSL fails.
bool hashBytes(const EVP_MD* md, std::uint64_t bytes) {
    std::vector<unsigned char> block(kBlock);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 131u + 7u);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) return false;
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    bool ok = true;
    for (std::uint64_t done = 0; ok && done < bytes; done += kBlock) {
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, bytes - done));
        ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1 && EVP_DigestUpdate(ctx, block.data(), size) == 1 &&
             EVP_DigestFinal_ex(ctx, out, &n) == 1;
    }
    EVP_MD_CTX_free(ctx);
    return ok;
}

// Reads and hashes the files of `paths` from `next` on until none is left; adds the bytes read.
bool readFiles(const std::vector<std::string>& paths, std::atomic<std::size_t>& next, std::atomic<std::uint64_t>& total) {
    constexpr std::size_t kChunk = 256u << 10;
    std::vector<unsigned char> buffer(kChunk);
    EVP_MD_CTX* sha1 = EVP_MD_CTX_new();
    EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    bool ok = sha1 && sha256;
    for (std::size_t i; ok && (i = next++) < paths.size();) {
        const int fd = ::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0) ::close(fd);
            ok = false;
            break;
        }
        ok = EVP_DigestInit_ex(sha1, EVP_sha1(), nullptr) == 1 && EVP_DigestInit_ex(sha256, EVP_sha256(), nullptr) == 1;
        for (std::uint64_t done = 0; ok;) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got <= 0) break;
            done += static_cast<std::uint64_t>(got);
            ok = EVP_DigestUpdate(sha1, buffer.data(), got) == 1 && EVP_DigestUpdate(sha256, buffer.data(), got) == 1;
            if (static_cast<std::size_t>(got) < buffer.size() && done >= static_cast<std::uint64_t>(st.st_size)) break;
        }
        total += static_cast<std::uint64_t>(st.st_size);
        ok = ok && EVP_DigestFinal_ex(sha1, out, &n) == 1 && EVP_DigestFinal_ex(sha256, out, &n) == 1;
        ::close(fd);
    }
    EVP_MD_CTX_free(sha1);
    EVP_MD_CTX_free(sha256);
    return ok;
}

int readFloor(const char* list, unsigned threads) {
    std::ifstream in(list);
    std::vector<std::string> paths;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) paths.push_back(line);
    if (paths.empty()) usage();
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> total{0};
    std::vector<char> good(threads, 1);
    const double start = tessarin::bench::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back([&, t] { good[t] = readFiles(paths, next, total); });
    for (auto& t : pool) t.join();
    const double s = tessarin::bench::now() - start;
    std::printf("files=%zu\nbytes=%llu\nseconds=%.6f\nthreads=%u\n", paths.size(),
                static_cast<unsigned long long>(total.load()), s, threads);
    for (char g : good)
        if (!g) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t bytes = 0;
    unsigned threads = 1;
    std::string digests = "sha1,sha256";
    const char* list = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage();
        if (a == "--bytes")
            bytes = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--threads")
            threads = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--digests")
            digests = argv[++i];
        else if (a == "--files")
            list = argv[++i];
        else
            usage();
    }
    if (list) return readFloor(list, threads);
    if (bytes == 0) usage();
    std::vector<const EVP_MD*> mds;
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= digests.size();) {
        std::size_t comma = digests.find(',', at);
        if (comma == std::string::npos) comma = digests.size();
        const std::string name = digests.substr(at, comma - at);
        const EVP_MD* md = EVP_get_digestbyname(name.c_str());
        if (!md) usage();
        mds.push_back(md);
        names.push_back(name);
        at = comma + 1;
    }
    // Each digest is split over the threads in whole blocks, as the pool splits files.
    const std::uint64_t blocks = (bytes + kBlock - 1) / kBlock;
    bool ok = true;
    for (std::size_t d = 0; d < mds.size(); ++d) {
        const double start = tessarin::bench::now();
        std::vector<std::thread> pool;
        std::vector<char> good(threads, 1);
        for (unsigned t = 0; t < threads; ++t) {
            const std::uint64_t first = blocks * t / threads, last = blocks * (t + 1) / threads;
            const std::uint64_t share = std::min(bytes, last * kBlock) - std::min(bytes, first * kBlock);
            pool.emplace_back([&, t, share] { good[t] = hashBytes(mds[d], share); });
        }
        for (auto& t : pool) t.join();
        for (char g : good) ok = ok && g;
        const double s = tessarin::bench::now() - start;
        std::printf("%s.seconds=%.6f\n%s.gb_per_s=%.3f\n", names[d].c_str(), s, names[d].c_str(), bytes / s / 1e9);
    }
    std::printf("bytes=%llu\nthreads=%u\n", static_cast<unsigned long long>(bytes), threads);
    return ok ? 0 : 1;
}
