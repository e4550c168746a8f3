// Verifies embedded code signatures: page and special-slot hashes of every CodeDirectory, the CMS
// signature over the primary one, and a bundle's sealed resources, hashed on a few threads.
#include "verify/CodeSignVerifier.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <sched.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>
#include <unistd.h>

#include "bundle/Bundle.h"
#include "crypto/Cms.h"
#include "codesign/CodeResources.h"
#include "codesign/CodeSignature.h"
#include "macho/MachO.h"
#include "base/MappedFile.h"
#include "plist/Plist.h"
#include "base/Bytes.h"
#include "verify/RequirementCheck.h"

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr int kMaxNestingDepth = 8;              // bundles inside bundles beyond this are refused
constexpr int kMaxDirectoryDepth = 128;          // folders inside a bundle's content
constexpr std::uint64_t kMaxSmallFile = 64u << 20;  // Info.plist, CodeResources (20,000 files seal in ~6 MB), tickets

std::string hostArchitecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#else
    return "";
#endif
}

bool allZero(ByteSpan b) {
    return std::all_of(b.begin(), b.end(), [](std::byte x) { return x == std::byte{0}; });
}

bool equalBytes(ByteSpan a, const Bytes& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), b.size()) == 0;
}

ByteSpan asSpan(const Bytes& v) {
    return {reinterpret_cast<const std::byte*>(v.data()), v.size()};
}

// Reads a whole file of bounded size; nothing when it is missing, unreadable or too large.
std::optional<Bytes> readSmallFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::uint64_t(st.st_size) > kMaxSmallFile) {
        ::close(fd);
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

// One sealed file to hash and what its digests must be; `bad` is the worker's answer.
struct HashJob {
    std::string relative;
    const SealedResource* entry = nullptr;
    bool sha1 = false;
    bool sha256 = false;
    bool bad = false;
};

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

// Hashes sealed files on a few threads while the walk is still finding them: jobs are queued as
// they are found, workers start once there are enough to pay for them, and the walking thread
// joins in when it is done. Each thread streams its files through one buffer of its own, so
// memory stays the same whatever the files' sizes. Answers are per job; the caller reports them
// in path order, so the outcome does not depend on which thread finished first.
class SealHasher {
public:
    SealHasher(const std::string& contentRoot, unsigned threads) : root_(contentRoot), threads_(std::max(1u, threads)) {
        rootFd_ = ::open(contentRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_PATH);
    }
    SealHasher(const SealHasher&) = delete;
    SealHasher& operator=(const SealHasher&) = delete;
    // A walk that gave up leaves its queue unhashed.
    ~SealHasher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            next_ = jobs_.size();
        }
        wake_.notify_all();
        for (auto& t : workers_) t.join();
        if (rootFd_ >= 0) ::close(rootFd_);
    }

    void add(HashJob job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
        // Fewer files than this are hashed faster than threads start.
        if (workers_.empty() && threads_ > 1 && jobs_.size() >= kJobsForThreads) startWorkers();
    }

    // Hashes what is left on this thread too, then waits for the workers. Afterwards every job
    // has its answer.
    std::deque<HashJob>& finish() {
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

private:
    static constexpr std::size_t kJobsForThreads = 8;
    // Small enough that the second digest of a strict check reads the chunk from cache again.
    static constexpr std::size_t kChunk = 256u << 10;

    void startWorkers() {
        try {
            for (unsigned t = 1; t < threads_; ++t) workers_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked is only slower.
        }
    }

    // Takes jobs until the queue is empty and no more will come.
    void work() {
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

    bool matches(const HashJob& job, Bytes& buffer, Hasher& sha1, Hasher& sha256) const {
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

std::string formatOf(const MachOFile& file) {
    std::string names;
    for (const auto& s : file.slices) {
        if (!names.empty()) names += ' ';
        names += architectureName(s.cputype, s.cpusubtype);
    }
    return std::string(file.fat ? "Mach-O universal (" : "Mach-O thin (") + names + ")";
}

CodeVerdict failed(CodeVerdict v, CodeFailure kind, std::string sentence = {}) {
    v.valid = false;
    v.failureKind = kind;
    v.failure = sentence.empty() ? codeFailureSentence(kind) : std::move(sentence);
    return v;
}

// What a bundle contributes to checking its main executable's special slots.
struct BundleContext {
    std::optional<Bytes> infoPlist;
    std::optional<Bytes> codeResources;
};

class Verifier {
public:
    Verifier(const CodeVerifyOptions& options, const TrustAnchors& anchors) : options_(options), anchors_(anchors) {}

    CodeVerdict verify(const std::string& path, int depth);

private:
    CodeVerdict verifyMachOFile(CodeVerdict v, const BundleContext* bundle);
    CodeVerdict verifyBundle(CodeVerdict v, int depth);
    // Checks one slice's signature; fills the verdict's displayed facts when `describe` is set.
    // Returns false (with the verdict's failure set) when the slice fails.
    bool checkSlice(CodeVerdict& v, ByteSpan file, const MachOSlice& slice, const BundleContext* bundle,
                    bool describe, std::vector<Bytes>* cdhashes);
    void checkResources(CodeVerdict& v, const std::string& contentRoot, const CodeResources& seal,
                        const std::set<std::string>& excluded, int depth);
    std::vector<Bytes> nestedCdhashes(const std::string& path, std::string& failure);

    const CodeVerifyOptions& options_;
    const TrustAnchors& anchors_;
    bool infoPlistBound_ = false;  // of the described slice's primary directory
    std::vector<Bytes> allCdhashes_;  // of every slice of the file being judged, in file order
};

CodeVerdict Verifier::verify(const std::string& path, int depth) {
    CodeVerdict v;
    v.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        v.kind = CodeKind::Missing;
        return failed(std::move(v), CodeFailure::NoSuchFile);
    }
    if (S_ISDIR(st.st_mode)) {
        if (depth > kMaxNestingDepth)
            return failed(std::move(v), CodeFailure::NestedCodeInvalid, "nested code is too deeply nested");
        return verifyBundle(std::move(v), depth);
    }
    v.kind = CodeKind::NotCode;
    v.executablePath = fs::absolute(path).lexically_normal().string();
    return verifyMachOFile(std::move(v), nullptr);
}

CodeVerdict Verifier::verifyMachOFile(CodeVerdict v, const BundleContext* bundle) {
    auto mapped = MappedFile::open(v.executablePath);
    if (!mapped) return failed(std::move(v), CodeFailure::NotSigned);
    ByteSpan file = mapped->bytes();
    auto macho = parseMachO(file);
    // Anything that is not Mach-O (a flat package, a script, a document) carries no embedded signature.
    if (!macho || macho->slices.empty()) return failed(std::move(v), CodeFailure::NotSigned);
    if (v.kind == CodeKind::NotCode) v.kind = CodeKind::MachO;
    v.format = formatOf(*macho);
    for (const auto& s : macho->slices) v.architectures.push_back(architectureName(s.cputype, s.cpusubtype));

    // The slice described: the chosen one, else the host's, else the first.
    std::size_t describe = 0;
    if (!options_.architecture.empty()) {
        auto it = std::find(v.architectures.begin(), v.architectures.end(), options_.architecture);
        if (it == v.architectures.end()) return failed(std::move(v), CodeFailure::ArchitectureMissing);
        describe = static_cast<std::size_t>(it - v.architectures.begin());
    } else {
        auto it = std::find(v.architectures.begin(), v.architectures.end(), hostArchitecture());
        if (it != v.architectures.end()) describe = static_cast<std::size_t>(it - v.architectures.begin());
    }
    v.architecture = v.architectures[describe];
    // Ad hoc code's designated requirement names the CDHashes of every architecture.
    allCdhashes_.clear();
    for (const auto& s : macho->slices) {
        auto location = findCodeSignature(file, s);
        if (!location || !*location) continue;
        auto sig = parseEmbeddedSignature(file.subspan(s.offset, s.size).subspan((*location)->offset, (*location)->size));
        if (!sig) continue;
        for (const auto& cd : sig->codeDirectories) allCdhashes_.push_back(codeDirectoryHash(cd));
    }

    if (!checkSlice(v, file, macho->slices[describe], bundle, true, nullptr)) return v;
    if (options_.checkContents && options_.architecture.empty()) {
        for (std::size_t i = 0; i < macho->slices.size(); ++i) {
            if (i == describe) continue;
            if (!checkSlice(v, file, macho->slices[i], bundle, false, nullptr)) return v;
        }
    }
    if (v.failureKind == CodeFailure::None) v.valid = options_.checkContents;
    return v;
}

bool Verifier::checkSlice(CodeVerdict& v, ByteSpan file, const MachOSlice& slice, const BundleContext* bundle,
                          bool describe, std::vector<Bytes>* cdhashes) {
    auto setFailure = [&](CodeFailure kind, std::string sentence = {}) {
        v = failed(std::move(v), kind, std::move(sentence));
        return false;
    };
    auto location = findCodeSignature(file, slice);
    if (!location) return setFailure(CodeFailure::Malformed);
    if (!*location) {
        if (describe) v.isSigned = false;
        return setFailure(CodeFailure::NotSigned);
    }
    ByteSpan sliceBytes = file.subspan(slice.offset, slice.size);
    ByteSpan sigBytes = sliceBytes.subspan((*location)->offset, (*location)->size);
    auto sig = parseEmbeddedSignature(sigBytes);
    if (!sig) return setFailure(CodeFailure::Malformed);
    const CodeDirectory& primary = *sig->primary();
    if (describe) v.isSigned = true;

    std::vector<Bytes> hashes;
    for (const auto& cd : sig->codeDirectories) hashes.push_back(codeDirectoryHash(cd));
    if (cdhashes) *cdhashes = hashes;

    const bool adhoc = (primary.flags & CS_ADHOC) != 0 || !sig->cms || sig->cms->empty();
    if (describe) {
        v.adhoc = adhoc;
        v.codeDirectories.clear();
        int bestStrength = -1;
        for (const auto& cd : sig->codeDirectories) {
            CodeDirectoryInfo info;
            info.slot = cd.slot;
            info.version = cd.version;
            info.flags = cd.flags;
            info.length = static_cast<std::uint32_t>(cd.blob.size());
            info.hashType = cd.hashType;
            info.hashSize = cd.hashSize;
            info.platform = cd.platform;
            info.pageSize = cd.pageSize();
            info.nCodeSlots = cd.nCodeSlots;
            info.nSpecialSlots = cd.nSpecialSlots;
            info.codeLimit = cd.codeLimit();
            info.identifier = cd.identifier;
            info.teamId = cd.teamId;
            if (cd.hasRuntime && cd.runtime != 0) info.runtimeVersion = cd.runtime;
            if (cd.hasExecSeg) {
                info.execSegBase = cd.execSegBase;
                info.execSegLimit = cd.execSegLimit;
                info.execSegFlags = cd.execSegFlags;
            }
            info.cdhashFull = codeDirectoryHashFull(cd);
            info.cdhash = codeDirectoryHash(cd);
            if (hashTypeStrength(cd.hashType) > bestStrength) {
                bestStrength = hashTypeStrength(cd.hashType);
                v.bestCodeDirectory = v.codeDirectories.size();
            }
            v.codeDirectories.push_back(std::move(info));
        }
        infoPlistBound_ = primary.nSpecialSlots >= CSSLOT_INFOSLOT && !allZero(primary.specialSlot(CSSLOT_INFOSLOT));
        v.identifier = primary.identifier;
        v.teamId = primary.teamId;
        v.flags = primary.flags;
        v.runtimeVersion = v.codeDirectories[v.bestCodeDirectory].runtimeVersion;
        v.requirementsCount = sig->requirementsCount;
        v.requirementsSize = sig->requirements ? static_cast<std::uint32_t>(sig->requirements->size()) : 0;
        if (auto payload = sig->entitlementsPayload()) {
            v.hasEntitlements = true;
            v.entitlementsXml.assign(reinterpret_cast<const char*>(payload->data()), payload->size());
        }
        if (sig->ticket && !v.ticketStapled) {
            v.ticketStapled = true;
            auto t = sig->ticket->subspan(0, std::min<std::size_t>(sig->ticket->size(), kMaxSmallFile));
            v.ticket.assign(reinterpret_cast<const std::uint8_t*>(t.data()),
                            reinterpret_cast<const std::uint8_t*>(t.data()) + t.size());
        }
    }

    // The CMS signature is judged for display too: its certificates and times are what is shown.
    std::optional<CmsSignatureInfo> cmsInfo;
    if (!adhoc) {
        CmsVerdict cms = verifyDetachedCms(*sig->cms, primary.blob, anchors_);
        CmsSignatureInfo info;
        info.size = static_cast<std::uint32_t>(sig->cms->size());
        info.signatureValid = cms.parsed && cms.signatureValid;
        info.chainTrusted = cms.chain.trusted;
        info.chainValid = cms.chain.trusted;
        info.certificates = cms.chain.chain;
        if (!info.chainTrusted && !info.certificates.empty()) {
            // Does the set chain to its own last certificate? That is all the real tool's
            // verification asks; trust in the root is the assessment's question.
            std::vector<Bytes> ders;
            for (const auto& c : info.certificates) ders.push_back(c.der);
            TrustAnchors own;
            own.rootsDer.push_back(info.certificates.back().der);
            std::time_t at = cms.timestampTime ? *cms.timestampTime : std::time(nullptr);
            info.chainValid = verifyChain(ders, own, at).trusted;
        }
        info.signingTime = cms.signingTime;
        info.timestampTime = cms.timestampTime;
        if (cms.signedCdhashes.empty()) {
            info.cdhashesMatch = true;  // older signatures carry no CDHash list
        } else {
            info.cdhashesMatch = cms.signedCdhashes.size() == hashes.size();
            for (std::size_t i = 0; info.cdhashesMatch && i < hashes.size(); ++i) {
                auto signedHash = cms.signedCdhashes[i];
                if (signedHash.size() > CS_CDHASH_LEN) signedHash.resize(CS_CDHASH_LEN);
                info.cdhashesMatch = signedHash == hashes[i];
            }
        }
        info.failure = cms.failure;
        if (info.failure.empty() && !info.cdhashesMatch)
            info.failure = "the CDHashes the signature lists do not match the code directories";
        if (info.failure.empty() && !info.chainTrusted) info.failure = cms.chain.failure;
        cmsInfo = std::move(info);
        if (describe) v.cms = cmsInfo;
    }

    SliceRequirementFacts facts;
    facts.signature = &*sig;
    facts.adhoc = adhoc;
    facts.certificates = cmsInfo ? &cmsInfo->certificates : nullptr;
    facts.chainValid = cmsInfo && cmsInfo->signatureValid && cmsInfo->chainValid;
    facts.allCdhashes = allCdhashes_;
    facts.infoPlist = bundle ? &bundle->infoPlist : nullptr;
    facts.appleRoots = &anchors_;
    DesignatedRequirementVerdict dr = judgeDesignatedRequirement(facts, options_.checkContents);
    if (describe) {
        v.requirementSet = std::move(dr.set);
        v.requirementsProblem = std::move(dr.setProblem);
        v.designatedRequirement = std::move(dr.requirement);
        v.designatedRequirementImplicit = dr.implicit;
        v.designatedRequirementSatisfied = dr.satisfied;
        v.designatedRequirementProblem = std::move(dr.failure);
    } else if (!dr.satisfied) {
        v.designatedRequirementSatisfied = false;
        if (v.designatedRequirementProblem.empty()) v.designatedRequirementProblem = std::move(dr.failure);
    }

    if (!options_.checkContents) return true;

    // Every CodeDirectory must hash the code and the special slots; the signature covers none of the
    // code itself, so one missed directory would let a page be swapped.
    const std::uint64_t sigOffset = (*location)->offset;
    std::map<std::pair<std::uint8_t, std::uint32_t>, Bytes> fileDigests;
    auto fileDigest = [&](std::uint8_t type, std::uint32_t which, const Bytes& bytes) {
        auto key = std::make_pair(type, which);
        auto it = fileDigests.find(key);
        if (it == fileDigests.end()) it = fileDigests.emplace(key, codeSignatureDigest(type, asSpan(bytes))).first;
        return it->second;
    };
    for (const auto& cd : sig->codeDirectories) {
        const std::uint64_t limit = cd.codeLimit();
        if (limit > sigOffset || limit > sliceBytes.size())
            return setFailure(CodeFailure::CodeModified);
        const std::uint64_t page = cd.pageSize() ? cd.pageSize() : limit;
        for (std::uint32_t i = 0; i < cd.nCodeSlots; ++i) {
            const std::uint64_t start = std::uint64_t(i) * page;
            const std::uint64_t end = std::min(start + page, limit);
            if (start > end) return setFailure(CodeFailure::CodeModified);
            auto digest = codeSignatureDigest(cd.hashType, sliceBytes.subspan(start, end - start));
            if (!equalBytes(cd.codeSlot(i), digest)) return setFailure(CodeFailure::CodeModified);
        }
        auto blobSlot = [&](std::uint32_t k, const std::optional<ByteSpan>& blob) {
            const bool bound = k <= cd.nSpecialSlots && !allZero(cd.specialSlot(k));
            if (!blob) return !bound;
            if (!bound) return false;  // a blob the directory does not vouch for was slipped in
            return equalBytes(cd.specialSlot(k), codeSignatureDigest(cd.hashType, *blob));
        };
        if (!blobSlot(CSSLOT_REQUIREMENTS, sig->requirements) || !blobSlot(CSSLOT_ENTITLEMENTS, sig->entitlements) ||
            !blobSlot(CSSLOT_DER_ENTITLEMENTS, sig->entitlementsDer))
            return setFailure(CodeFailure::CodeModified);
        auto fileSlot = [&](std::uint32_t k, const std::optional<Bytes>* bytes) {
            if (k > cd.nSpecialSlots || allZero(cd.specialSlot(k))) return 0;  // not bound
            if (!bytes || !*bytes) return 1;                                   // bound but absent
            return equalBytes(cd.specialSlot(k), fileDigest(cd.hashType, k, **bytes)) ? 0 : 2;
        };
        if (bundle) {
            if (fileSlot(CSSLOT_INFOSLOT, &bundle->infoPlist) != 0) return setFailure(CodeFailure::CodeModified);
        }
        int resources = fileSlot(CSSLOT_RESOURCEDIR, bundle ? &bundle->codeResources : nullptr);
        if (resources == 1)
            return setFailure(CodeFailure::ResourcesModified,
                              "code has no resources but signature indicates they must be present");
        if (resources == 2) return setFailure(CodeFailure::ResourcesModified);
    }
    if (cmsInfo) {
        if (!cmsInfo->signatureValid || !cmsInfo->cdhashesMatch) return setFailure(CodeFailure::CodeModified);
        if (!cmsInfo->chainValid) return setFailure(CodeFailure::UntrustedChain);
    }
    return true;
}

std::vector<Bytes> Verifier::nestedCdhashes(const std::string& path, std::string& failure) {
    std::string executable = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        auto b = Bundle::open(path);
        auto exe = b ? b->executablePath() : std::nullopt;
        if (!exe) {
            failure = codeFailureSentence(CodeFailure::NotSigned);
            return {};
        }
        executable = *exe;
    }
    std::vector<Bytes> all;
    auto mapped = MappedFile::open(executable);
    auto macho = mapped ? parseMachO(mapped->bytes()) : Result<MachOFile>(fail("unreadable"));
    if (!macho) {
        failure = codeFailureSentence(CodeFailure::NotSigned);
        return {};
    }
    CodeVerifyOptions quiet = options_;
    quiet.checkContents = false;
    Verifier inner(quiet, anchors_);
    for (const auto& slice : macho->slices) {
        CodeVerdict scratch;
        std::vector<Bytes> hashes;
        if (!inner.checkSlice(scratch, mapped->bytes(), slice, nullptr, false, &hashes)) {
            failure = scratch.failure;
            return {};
        }
        all.insert(all.end(), hashes.begin(), hashes.end());
    }
    return all;
}

CodeVerdict Verifier::verifyBundle(CodeVerdict v, int depth) {
    auto bundle = Bundle::open(v.path);
    if (!bundle) {
        v.kind = CodeKind::UnrecognizedDirectory;
        return failed(std::move(v), CodeFailure::BundleUnrecognized);
    }
    const fs::path root = fs::absolute(v.path).lexically_normal();
    std::string ext = root.extension().string();
    const PlistDict* info = bundle->infoDictionary();
    std::string packageType;
    if (info) {
        if (auto it = info->find("CFBundlePackageType"); it != info->end() && it->second.string())
            packageType = *it->second.string();
    }
    std::string prefix;
    if (ext == ".app" || packageType == "APPL") {
        v.kind = CodeKind::AppBundle;
        prefix = "app bundle";
    } else if (bundle->layout() == Bundle::Layout::Framework || ext == ".framework" || packageType == "FMWK") {
        v.kind = CodeKind::FrameworkBundle;
        prefix = "framework bundle";
    } else {
        v.kind = CodeKind::Bundle;
        prefix = "bundle";
    }

    std::string contentRoot;
    switch (bundle->layout()) {
    case Bundle::Layout::App: contentRoot = (root / "Contents").string(); break;
    case Bundle::Layout::Framework: {
        // The seal lives in the version Current names; problems are reported under that version.
        std::error_code ec;
        fs::path current = root / "Versions" / "Current";
        fs::path target = fs::read_symlink(current, ec);
        contentRoot = (ec || target.is_absolute()) ? current.string() : (root / "Versions" / target).lexically_normal().string();
        break;
    }
    case Bundle::Layout::Shallow: contentRoot = root.string(); break;
    }

    BundleContext context;
    context.infoPlist = readSmallFile(bundle->infoPlistPath());
    const std::string sealPath = contentRoot + "/_CodeSignature/CodeResources";
    context.codeResources = readSmallFile(sealPath);
    if (bundle->layout() == Bundle::Layout::App) {
        if (auto ticket = readSmallFile(contentRoot + "/CodeResources")) {
            v.ticketStapled = true;
            v.ticket = std::move(*ticket);
        }
    }

    auto exe = bundle->executablePath();
    if (!exe) {
        v.format = prefix;
        return failed(std::move(v), CodeFailure::NotSigned);
    }
    // Named inside the content folder even when reached through a framework's top-level links.
    std::error_code ec;
    fs::path exeRel = fs::weakly_canonical(*exe, ec).lexically_relative(fs::weakly_canonical(contentRoot, ec));
    const bool inside = !ec && !exeRel.empty() && exeRel.native().rfind("..", 0) != 0;
    v.executablePath = inside ? contentRoot + "/" + exeRel.generic_string() : fs::absolute(*exe).lexically_normal().string();
    v = verifyMachOFile(std::move(v), &context);
    v.format = prefix + (v.format.empty() ? "" : " with " + v.format);
    if (!v.isSigned) return v;

    if (info && infoPlistBound_) v.infoPlistEntries = static_cast<int>(info->size());

    std::optional<CodeResources> seal;
    if (context.codeResources) {
        auto parsed = parseCodeResources(asSpan(*context.codeResources));
        if (parsed) {
            seal = std::move(*parsed);
            v.sealedResources = SealedResourcesInfo{seal->version(), static_cast<int>(seal->rulesInForce().size()),
                                                    static_cast<int>(seal->filesInForce().size())};
        } else if (options_.checkContents && v.failureKind == CodeFailure::None) {
            return failed(std::move(v), CodeFailure::ResourcesModified, "resource envelope is obsolete or invalid");
        }
    }
    if (!options_.checkContents || v.failureKind != CodeFailure::None || !seal) return v;

    std::set<std::string> excluded;
    excluded.insert("_CodeSignature");
    if (bundle->layout() == Bundle::Layout::App) excluded.insert("CodeResources");
    if (inside) excluded.insert(exeRel.generic_string());
    checkResources(v, contentRoot, *seal, excluded, depth);
    if (v.failureKind == CodeFailure::None) v.valid = true;
    return v;
}

void Verifier::checkResources(CodeVerdict& v, const std::string& contentRoot, const CodeResources& seal,
                              const std::set<std::string>& excluded, int depth) {
    auto rules = ResourceRuleSet::compile(seal.rulesInForce());
    if (!rules) {
        v = failed(std::move(v), CodeFailure::ResourcesModified, "resource envelope is obsolete or invalid");
        return;
    }
    const auto& sealed = seal.filesInForce();
    const bool v2 = seal.hasVersion2;

    unsigned threads = options_.threads;
    if (threads == 0) threads = std::clamp(usableCores(), 1u, 4u);
    SealHasher hasher(contentRoot, threads);
    std::unordered_set<const SealedResource*> seen;  // entries found on disk
    seen.reserve(sealed.size());
    std::vector<std::pair<std::string, std::string>> problems;  // (relative path, line)
    auto abs = [&](const std::string& rel) { return contentRoot + "/" + rel; };
    // Of the nested code that fails, the first in path order speaks for the bundle, whatever
    // order the folders list in.
    std::optional<std::string> nestedFailure;  // its relative path
    std::string nestedSentence;
    std::vector<std::string> nestedLines;

    auto checkNested = [&](const std::string& rel, const SealedResource& entry) {
        if (options_.deep) {
            CodeVerdict inner = verify(abs(rel), depth + 1);
            if (!inner.valid) {
                if (!nestedFailure || rel < *nestedFailure) {
                    nestedFailure = rel;
                    nestedSentence = inner.failure;
                    nestedLines = std::move(inner.resourceProblems);
                    nestedLines.push_back("In subcomponent: " + abs(rel));
                }
                return;
            }
        }
        std::string failure;
        auto hashes = nestedCdhashes(abs(rel), failure);
        if (!failure.empty()) {
            problems.emplace_back(rel, "file modified: " + abs(rel));
            return;
        }
        bool found = std::any_of(hashes.begin(), hashes.end(), [&](const auto& h) { return h == *entry.cdhash; });
        if (!found) problems.emplace_back(rel, "file modified: " + abs(rel));
    };

    std::error_code ec;
    fs::recursive_directory_iterator it(contentRoot, fs::directory_options::none, ec), end;
    if (ec) {
        v = failed(std::move(v), CodeFailure::ResourcesModified);
        return;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& p = it->path();
        std::string rel = p.lexically_relative(contentRoot).generic_string();
        if (it.depth() == 0 && excluded.count(rel)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
            continue;
        }
        if (excluded.count(rel)) continue;
        if (it.depth() > kMaxDirectoryDepth) {
            v = failed(std::move(v), CodeFailure::ResourcesModified, "bundle folders are nested too deeply");
            return;
        }
        // The type the directory listing gave, where it gives one: no stat per entry.
        std::error_code sec;
        const fs::file_type type = it->symlink_status(sec).type();
        if (sec || type == fs::file_type::not_found) continue;
        const bool isLink = type == fs::file_type::symlink;
        auto sealedIt = sealed.find(rel);
        const SealedResource* entry = sealedIt == sealed.end() ? nullptr : &sealedIt->second;
        if (type == fs::file_type::directory) {
            // A sealed directory is nested code (sealed by CDHash); an unsealed bundle where a nested
            // rule applies is code added after signing. Only folders with an extension count as
            // bundles here: "Resources" of a framework holds an Info.plist too.
            const ResourceRule* rule = rules->match(rel);
            if (entry) {
                it.disable_recursion_pending();
                seen.insert(entry);
                if (entry->cdhash) checkNested(rel, *entry);
                else problems.emplace_back(rel, "file modified: " + abs(rel));
            } else if (v2 && rule && rule->nested && !rule->omit && p.has_extension() && Bundle::open(p.string())) {
                it.disable_recursion_pending();
                problems.emplace_back(rel, "file added: " + abs(rel));
            }
            continue;
        }
        const ResourceRule* rule = rules->match(rel);
        if (!entry) {
            // The first generation of seals had no form for links; one it left out is no addition.
            if (rule && !rule->omit && (v2 || !isLink))
                problems.emplace_back(rel, "file added: " + abs(rel));
            continue;
        }
        seen.insert(entry);
        if (isLink) {
            std::error_code lec;
            fs::path target = fs::read_symlink(p, lec);
            if (!v2 && !lec && entry->hash) {
                // A first-generation seal hashes the link's target text.
                const std::string& t = target.native();
                auto d = codeSignatureDigest(CS_HASHTYPE_SHA1, {reinterpret_cast<const std::byte*>(t.data()), t.size()});
                if (d != *entry->hash) problems.emplace_back(rel, "file modified: " + abs(rel));
                continue;
            }
            if (!entry->symlink || lec || target.string() != *entry->symlink) {
                problems.emplace_back(rel, "file modified: " + abs(rel));
            } else if (options_.strict) {
                fs::path resolved = (p.parent_path() / target).lexically_normal();
                fs::path inside = resolved.lexically_relative(contentRoot);
                if (target.is_absolute() || inside.empty() || inside.native().rfind("..", 0) == 0)
                    problems.emplace_back(rel, "invalid destination for symbolic link in bundle: " + abs(rel));
            }
            continue;
        }
        if (entry->symlink || type != fs::file_type::regular) {
            problems.emplace_back(rel, "file modified: " + abs(rel));
            continue;
        }
        if (entry->cdhash) {
            checkNested(rel, *entry);
            continue;
        }
        HashJob job{rel, entry, false, false, false};
        if (v2 && entry->hash2) {
            job.sha256 = true;
            job.sha1 = options_.strict && entry->hash.has_value();
        } else if (entry->hash) {
            job.sha1 = true;
        } else {
            problems.emplace_back(rel, "file modified: " + abs(rel));
            continue;
        }
        hasher.add(std::move(job));
    }
    if (ec) {
        v = failed(std::move(v), CodeFailure::ResourcesModified, "a sealed resource could not be read");
        return;
    }

    for (const HashJob& job : hasher.finish())
        if (job.bad) problems.emplace_back(job.relative, "file modified: " + abs(job.relative));

    for (const auto& [rel, entry] : sealed) {
        if (seen.count(&entry) || entry.optional) continue;
        // An optional rule (localizations) makes its files optional even where the entry does not say so.
        const ResourceRule* rule = rules->match(rel);
        if (rule && rule->optional) continue;
        problems.emplace_back(rel, "file missing: " + abs(rel));
    }

    if (nestedFailure)
        for (auto& line : nestedLines) problems.emplace_back(*nestedFailure, std::move(line));
    if (problems.empty()) return;
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& p : problems) v.resourceProblems.push_back(std::move(p.second));
    if (nestedFailure) v = failed(std::move(v), CodeFailure::NestedCodeInvalid, nestedSentence);
    else v = failed(std::move(v), CodeFailure::ResourcesModified);
}

}  // namespace

CodeVerdict verifyCode(const std::string& path, const CodeVerifyOptions& options, const TrustAnchors& anchors) {
    Verifier verifier(options, anchors);
    return verifier.verify(path, 0);
}

std::string codeFailureSentence(CodeFailure failure) {
    switch (failure) {
    case CodeFailure::None: return "";
    case CodeFailure::NoSuchFile: return "No such file or directory";
    case CodeFailure::NotSigned: return "code object is not signed at all";
    case CodeFailure::BundleUnrecognized: return "bundle format unrecognized, invalid, or unsuitable";
    case CodeFailure::ArchitectureMissing: return "the requested architecture is not present in the code";
    case CodeFailure::Malformed: return "invalid or unsupported format for signature";
    case CodeFailure::CodeModified: return "invalid signature (code or signature have been modified)";
    case CodeFailure::ResourcesModified: return "a sealed resource is missing or invalid";
    case CodeFailure::NestedCodeInvalid: return "nested code is modified or invalid";
    case CodeFailure::UntrustedChain: return "CSSMERR_TP_NOT_TRUSTED";
    }
    return "";
}

std::string codeDirectoryFlagNames(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> names[] = {
        {CS_ADHOC, "adhoc"},
        {CS_HARD, "hard"},
        {CS_KILL, "kill"},
        {CS_CHECK_EXPIRATION, "expires"},
        {CS_RESTRICT, "restrict"},
        {CS_ENFORCEMENT, "enforcement"},
        {CS_REQUIRE_LV, "library-validation"},
        {CS_RUNTIME, "runtime"},
        {CS_LINKER_SIGNED, "linker-signed"},
    };
    std::string out;
    for (const auto& [bit, name] : names) {
        if (!(flags & bit)) continue;
        if (!out.empty()) out += ',';
        out += name;
    }
    return out.empty() ? "none" : out;
}

std::string hashTypeName(std::uint8_t hashType) {
    switch (hashType) {
    case CS_HASHTYPE_SHA1: return "sha1";
    case CS_HASHTYPE_SHA256: return "sha256";
    case CS_HASHTYPE_SHA256_TRUNCATED: return "sha256-truncated";
    case CS_HASHTYPE_SHA384: return "sha384";
    default: return "unknown";
    }
}

}  // namespace tessarin
