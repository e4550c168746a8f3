// Hashes a bundle's sealed files on a few threads while the walk that finds them goes on.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Bytes.h"
#include "codesign/CodeResources.h"
#include "codesign/CodeSignature.h"

namespace tessarin {

// One sealed file to hash and what its digests must be; `bad` is the worker's answer.
struct HashJob {
    std::string relative;
    const SealedResource* entry = nullptr;
    bool sha1 = false;
    bool sha256 = false;
    bool bad = false;
    bool headRead = false;  // its first bytes were read: `machO` says what they are
    bool machO = false;     // they are a Mach-O or universal file's magic
};

// The cores this process may run on (a CPU affinity mask counts, as under taskset).
unsigned usableCores();

// Hashes sealed files on a few threads while the walk is still finding them: jobs are queued as
// they are found, workers start once there are enough to pay for them, and the walking thread
// joins in when it is done. Each thread streams its files through one buffer of its own, so
// memory stays the same whatever the files' sizes. Answers are per job; the caller reports them
// in path order, so the outcome does not depend on which thread finished first.
class SealHasher {
public:
    SealHasher(const std::string& contentRoot, unsigned threads);
    SealHasher(const SealHasher&) = delete;
    SealHasher& operator=(const SealHasher&) = delete;
    // A walk that gave up leaves its queue unhashed.
    ~SealHasher();

    void add(HashJob job);

    // Hashes what is left on this thread too, then waits for the workers. Afterwards every job
    // has its answer.
    std::deque<HashJob>& finish();

private:
    static constexpr std::size_t kJobsForThreads = 8;
    // Small enough that the second digest of a strict check reads the chunk from cache again.
    static constexpr std::size_t kChunk = 256u << 10;

    void startWorkers();

    // Takes jobs until the queue is empty and no more will come.
    void work();

    bool matches(HashJob& job, Bytes& buffer, Hasher& sha1, Hasher& sha256) const;

    const std::string root_;
    const unsigned threads_;
    int rootFd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<HashJob> jobs_;
    std::size_t next_ = 0;
    bool done_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace tessarin
