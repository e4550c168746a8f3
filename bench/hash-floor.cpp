// The floor of deep strict verification: OpenSSL's SHA-1 and SHA-256 over as many bytes as the
// bundle holds, in 1 MiB blocks as `openssl speed -evp ... -bytes 1048576` hashes them, on one or
// more threads, and nothing else (no files, no parsing). spawn-bench times it beside the tools, so
// the floor is measured under the same load as the verification it is compared with.
//
//   hash-floor --bytes N [--threads T] [--digests sha1,sha256]
//
// Prints bytes, seconds and GB/s per digest on stdout (spawn-bench throws that away; run it alone to
// read it). Hashing speed does not depend on the data, so one block is hashed over and over.
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchClock.h"

namespace {

constexpr std::size_t kBlock = 1u << 20;

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: hash-floor --bytes N [--threads T] [--digests sha1,sha256]\n");
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

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t bytes = 0;
    unsigned threads = 1;
    std::string digests = "sha1,sha256";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage();
        if (a == "--bytes")
            bytes = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--threads")
            threads = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        else if (a == "--digests")
            digests = argv[++i];
        else
            usage();
    }
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
