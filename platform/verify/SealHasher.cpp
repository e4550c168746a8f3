// The sealed-file hashing pool: cores, the workers' loop and one file's digests.
#include "verify/SealHasher.h"

#include "macho/MachOConstants.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace tessarin {

// The cores this process may run on (a CPU affinity mask counts, as under taskset).
unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<unsigned>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

SealHasher::SealHasher(const std::string& contentRoot, unsigned threads)
    : root_(contentRoot), threads_(std::max(1u, threads)) {
    rootFd_ = ::open(contentRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_PATH);
}

SealHasher::~SealHasher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        next_ = jobs_.size();
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
    if (rootFd_ >= 0) ::close(rootFd_);
}

void SealHasher::add(HashJob job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    // Fewer files than this are hashed faster than threads start.
    if (workers_.empty() && threads_ > 1 && jobs_.size() >= kJobsForThreads) startWorkers();
}

std::deque<HashJob>& SealHasher::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    work();
    for (auto& t : workers_) t.join();
    workers_.clear();
    return jobs_;
}

void SealHasher::startWorkers() {
    try {
        for (unsigned t = 1; t < threads_; ++t) workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        // Fewer threads than asked is only slower.
    }
}

// Takes jobs until the queue is empty and no more will come.
void SealHasher::work() {
    Bytes buffer(kChunk);
    Hasher sha1(CS_HASHTYPE_SHA1), sha256(CS_HASHTYPE_SHA256);
    for (;;) {
        HashJob* job = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return next_ < jobs_.size() || done_; });
            if (next_ == jobs_.size()) return;
            job = &jobs_[next_++];  // a deque's elements stay put as it grows
        }
        job->bad = !matches(*job, buffer, sha1, sha256);
    }
}

namespace {

bool machOMagic(const std::uint8_t* p) { return startsWithMachOMagic(p); }

}  // namespace

bool SealHasher::matches(HashJob& job, Bytes& buffer, Hasher& sha1, Hasher& sha256) const {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = rootFd_ >= 0 ? ::openat(rootFd_, job.relative.c_str(), flags)
                          : ::open((root_ + "/" + job.relative).c_str(), flags);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size > buffer.size()) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bool ok = true;
    for (std::uint64_t total = 0;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        // The component walk learns from this read whether the file is code, without a second open.
        if (total == 0 && (n >= 4 || static_cast<std::uint64_t>(n) >= size)) {
            job.headRead = true;
            job.machO = n >= 4 && machOMagic(buffer.data());
        }
        total += static_cast<std::uint64_t>(n);
        ByteSpan chunk(reinterpret_cast<const std::byte*>(buffer.data()), static_cast<std::size_t>(n));
        if (job.sha1) sha1.update(chunk);
        if (job.sha256) sha256.update(chunk);
        // A short read that reaches the size fstat gave is the end; a file that grew is read on.
        if (static_cast<std::size_t>(n) < buffer.size() && total >= size) break;
    }
    ::close(fd);
    // finish() also starts the hashers over for the next file, whatever happened to this one.
    Bytes d1 = job.sha1 ? sha1.finish() : Bytes();
    Bytes d256 = job.sha256 ? sha256.finish() : Bytes();
    if (!ok) return false;
    if (job.sha256 && d256 != *job.entry->hash2) return false;
    if (job.sha1 && d1 != *job.entry->hash) return false;
    return true;
}

}  // namespace tessarin
