// Hostile items, generated here, run through the stand-in tools and the headless report as child
// processes. Every run must end by itself within 10 seconds without a signal or a sanitizer report,
// stay under 256 MB of peak memory, explain any failure in what it prints, and leave the item as it
// was; each case also names the outcome it must come to.
//
// Memory: peak resident size comes from wait4 and covers the process and the tools it ran. In a
// sanitized build the runtime's shadow memory and quarantine count too, so there the limit is the
// same command's peak on a trivial item plus 256 MB. Time: instrumented code runs five to eight
// times slower (the largest resource seal accepted takes 0.8 s plain, 4.9 s sanitized), so a
// sanitized build allows 30 s. The plain 10 s and 256 MB are enforced in builds without
// sanitizers: the release tree runs the same suite.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "ArchiveBuilder.h"
#include "BundleBuilder.h"
#include "DiskImageBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "RealChain.h"
#include "RequirementBuilder.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "XarBuilder.h"
#include "codesign/CodeSignature.h"
#include "codesign/CodeSignatureConstants.h"
#include "diskimage/UdifConstants.h"
#include "macho/MachO.h"
#include "plist/Plist.h"

using namespace tessarin;
using test::BundleBuilder;
using test::Bytes;
using test::childrenOfHere;
using test::repeat;

namespace {

using Dir = const std::string&;

constexpr std::int32_t kX86_64 = 0x01000007;
constexpr std::int32_t kArm64 = 0x0100000C;
constexpr std::int32_t kI386 = 7;
#ifdef TESSARIN_HOSTILE_SANITIZED
// The largest seal accepted takes 25 s under the sanitizers alone; a loaded machine doubles that.
constexpr auto kTimeLimit = std::chrono::seconds(60);
#else
constexpr auto kTimeLimit = std::chrono::seconds(10);
#endif
constexpr long kMemoryLimitKb = 256 * 1024;
constexpr std::size_t kOutputCap = 4u << 20;  // a runaway writer must not fill the suite's memory

// ---- Child processes -------------------------------------------------------------------------
//
// Children are started by a small spawner forked before the suite has built anything: a process's
// peak resident size carries over through fork and exec, so children forked from the suite itself
// would report the suite's own peak.

struct SpawnResult {
    int waitStatus = 0;
    int timedOut = 0;
    long maxRssKb = 0;  // the process's or its largest waited-for child's peak
    double seconds = 0;
};

struct ChildRun : SpawnResult {
    std::string out, err;
    int status() const { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }
    int signal() const { return WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0; }
};

// Moves exactly `size` bytes through `io` (::read or ::write), again where a signal cut it short.
template <typename Char, typename Io>
bool transferAll(Io io, int fd, Char* p, std::size_t size) {
    while (size > 0) {
        ssize_t n = io(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
bool writeAll(int fd, const void* data, std::size_t size) {
    return transferAll(::write, fd, static_cast<const char*>(data), size);
}
bool readAll(int fd, void* data, std::size_t size) { return transferAll(::read, fd, static_cast<char*>(data), size); }

// Requests are NUL-separated words: cwd, stdout file, stderr file, uid (or -1), argv...; the
// whole request is preceded by its length.
void spawnerLoop(int socket) {
    for (;;) {
        std::uint32_t length = 0;
        if (!readAll(socket, &length, sizeof length)) ::_exit(0);
        std::vector<char> request(length);
        if (!readAll(socket, request.data(), length)) ::_exit(0);
        std::vector<char*> words;
        for (std::size_t at = 0; at < length; at += std::strlen(request.data() + at) + 1)
            words.push_back(request.data() + at);
        const long uid = std::strtol(words[3], nullptr, 10);
        std::vector<char*> argv(words.begin() + 4, words.end());
        argv.push_back(nullptr);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(socket);
            ::setpgid(0, 0);
            const int fds[] = {::open("/dev/null", O_RDONLY), ::open(words[1], O_WRONLY | O_CREAT | O_TRUNC, 0600),
                               ::open(words[2], O_WRONLY | O_CREAT | O_TRUNC, 0600)};
            for (int k = 0; k < 3; ++k)
                if (fds[k] < 0 || ::dup2(fds[k], k) < 0) ::_exit(126);
            if (::chdir(words[0]) != 0) ::_exit(126);
            if (uid >= 0 && (::setgid(static_cast<gid_t>(uid)) != 0 || ::setuid(static_cast<uid_t>(uid)) != 0))
                ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        SpawnResult result;
        if (pid > 0) {
            ::setpgid(pid, pid);
            rusage usage{};
            for (;;) {
                pid_t done = ::wait4(pid, &result.waitStatus, WNOHANG, &usage);
                if (done == pid) break;
                if (done < 0 && errno != EINTR) break;
                if (!result.timedOut && std::chrono::steady_clock::now() - start > kTimeLimit) {
                    result.timedOut = 1;
                    ::kill(-pid, SIGKILL);
                }
                ::usleep(2000);
            }
            // Whatever the child started is ended with it.
            ::kill(-pid, SIGKILL);
            result.maxRssKb = usage.ru_maxrss;
        } else {
            result.waitStatus = 127 << 8;
        }
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!writeAll(socket, &result, sizeof result)) ::_exit(0);
    }
}

// The suite's end of the socket to the spawner, started on first use.
int spawnerSocket() {
    static const int socket = [] {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair");
        pid_t pid = ::fork();
        if (pid < 0) throw std::runtime_error("fork");
        if (pid == 0) {
            ::close(pair[0]);
            spawnerLoop(pair[1]);
        }
        ::close(pair[1]);
        return pair[0];
    }();
    return socket;
}

// Made while the suite is still small: before any test runs.
const bool kSpawnerStarted = (spawnerSocket(), true);

std::string readWhole(const std::string& path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 && out.size() < kOutputCap;)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return out;
}

// Runs argv in its own process group (a timeout ends the tools it started too), with standard
// input from /dev/null and its output collected in `scratch`, optionally as another user.
ChildRun runChild(const std::vector<std::string>& argv, const std::string& cwd, const std::string& scratch,
                  std::optional<uid_t> user = {}) {
    const std::string outPath = scratch + "/stdout", errPath = scratch + "/stderr";
    std::string request;
    for (const std::string& word : std::vector<std::string>{cwd, outPath, errPath, user ? std::to_string(*user) : "-1"})
        request += word + '\0';
    for (const auto& a : argv) request += a + '\0';
    const auto length = static_cast<std::uint32_t>(request.size());
    ChildRun run;
    const int socket = spawnerSocket();
    if (!writeAll(socket, &length, sizeof length) || !writeAll(socket, request.data(), request.size()) ||
        !readAll(socket, static_cast<SpawnResult*>(&run), sizeof(SpawnResult)))
        throw std::runtime_error("the spawner is gone");
    run.out = readWhole(outPath);
    run.err = readWhole(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return run;
}

// ---- What an item is on disk -----------------------------------------------------------------

struct EntryState {
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    off_t size = 0;
    std::pair<time_t, long> mtime, ctime;  // seconds and nanoseconds
    std::string linkTarget;
    std::string digest;  // of a regular file's contents (holes are skipped, the size says they are there)
    std::map<std::string, std::string> xattrs;

    bool operator==(const EntryState& o) const = default;
};
using TreeState = std::map<std::string, EntryState>;

std::string contentDigest(const char* name, off_t size) {
    int fd = ::open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "unreadable";
    Hasher h(CS_HASHTYPE_SHA256);
    std::vector<char> buffer(1 << 16);
    off_t at = 0;
    while (at < size) {
        // Only the data of a sparse file is read; its holes read as zeros for every reader alike.
        off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = size;
        std::string mark = std::to_string(data) + ":";
        h.update(std::as_bytes(std::span(mark.data(), mark.size())));
        for (off_t p = data; p < hole;) {
            ssize_t n = ::pread(fd, buffer.data(), std::min<off_t>(static_cast<off_t>(buffer.size()), hole - p), p);
            if (n <= 0) break;
            h.update(std::as_bytes(std::span(buffer.data(), static_cast<std::size_t>(n))));
            p += n;
        }
        at = hole;
    }
    ::close(fd);
    auto d = h.finish();
    return std::string(d.begin(), d.end());
}

std::map<std::string, std::string> xattrsOf(const char* name) {
    std::map<std::string, std::string> out;
    char names[65536];
    ssize_t n = ::llistxattr(name, names, sizeof names);
    for (ssize_t at = 0; n > 0 && at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[65536];
        ssize_t v = ::lgetxattr(name, names + at, value, sizeof value);
        out[names + at] = v >= 0 ? std::string(value, static_cast<std::size_t>(v)) : "?";
    }
    return out;
}

EntryState entryState(const char* name, const struct stat& st) {
    EntryState e;
    e.mode = st.st_mode;
    e.uid = st.st_uid;
    e.gid = st.st_gid;
    e.size = st.st_size;
    e.mtime = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    e.ctime = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    e.xattrs = xattrsOf(name);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = ::readlink(name, target, sizeof target);
        e.linkTarget.assign(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    } else if (S_ISREG(st.st_mode)) {
        e.digest = contentDigest(name, st.st_size);
    }
    return e;
}

// Walks by changing into each folder, without recursion, so that neither paths nor the stack grow
// with the depth of the tree. Starts in the folder `root` names.
void walk(const std::string& root, TreeState& state) {
    struct Frame {
        std::string relative;
        std::vector<std::string> children;
        std::size_t next = 0;
    };
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0) return;
    state["."] = entryState(root.c_str(), st);
    if (::chdir(root.c_str()) != 0) return;
    std::vector<Frame> stack;
    stack.push_back({".", childrenOfHere()});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next == f.children.size()) {
            stack.pop_back();
            if (::chdir("..") != 0) throw std::runtime_error("cannot climb back out of " + f.relative);
            continue;
        }
        const std::string name = f.children[f.next++];
        const std::string relative = f.relative + "/" + name;
        if (::lstat(name.c_str(), &st) != 0) continue;
        state[relative] = entryState(name.c_str(), st);
        if (S_ISDIR(st.st_mode) && ::chdir(name.c_str()) == 0) stack.push_back({relative, childrenOfHere()});
    }
}

// Runs `step` inside `folder` (entered by a short relative name, as paths there may be too long).
void inFolder(const std::string& folder, const std::function<void()>& step) {
    int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (::chdir(folder.c_str()) != 0) throw std::runtime_error("cannot enter " + folder);
    step();
    if (::fchdir(here) != 0) throw std::runtime_error("cannot return to the working folder");
    ::close(here);
}

TreeState snapshot(const std::string& root) {
    TreeState state;
    inFolder(".", [&] { walk(root, state); });
    return state;
}

// What changed between two states, for the failure message.
std::string differences(const TreeState& before, const TreeState& after) {
    std::string out;
    for (const auto& [path, e] : before) {
        auto it = after.find(path);
        if (it == after.end())
            out += "  removed: " + path + "\n";
        else if (!(it->second == e))
            out += "  changed: " + path + "\n";
    }
    for (const auto& [path, e] : after)
        if (!before.count(path)) out += "  added: " + path + "\n";
    return out;
}

// ---- Item builders ----------------------------------------------------------------------------

Bytes thin(std::int32_t cputype) { return test::thinMachO(cputype, cputype == kArm64 ? 0 : 3); }

test::SignOptions adhoc() {
    test::SignOptions o;
    o.identifier = "com.example.hostile";
    return o;
}

Bytes signedThin(const test::SignOptions& options = adhoc()) { return test::signMachO(thin(kArm64), options); }

std::uint32_t be32(const Bytes& b, std::size_t at) { return test::getU32(b, at, true); }

// `b` with the 32-bit words at the given offsets overwritten.
Bytes patched(Bytes b, std::initializer_list<std::pair<std::size_t, std::uint32_t>> words, bool bigEndian = true) {
    for (auto [at, value] : words) test::putU32(b, at, value, bigEndian);
    return b;
}

Bytes resized(Bytes b, std::size_t size, std::uint8_t fill = 0) {
    b.resize(size, fill);
    return b;
}

template <typename Contents>
std::string file(Dir dir, const std::string& name, const Contents& bytes) {
    test::writeFile(dir + "/" + name, bytes);
    return dir + "/" + name;
}
std::string tool(Dir dir, const Bytes& bytes) { return file(dir, "tool", bytes); }
std::string pkg(Dir dir, const Bytes& bytes) { return file(dir, "Hostile.pkg", bytes); }

std::string app(Dir dir, const std::string& name = "Hostile.app") {
    BundleBuilder b(dir + "/" + name);
    b.info("CFBundleShortVersionString", "1.0").executable("Hostile", thin(kX86_64));
    return b.build();
}

std::string signedApp(Dir dir, const std::string& name = "Hostile.app") {
    std::string path = app(dir, name);
    test::BundleSignOptions o;
    o.code = adhoc();
    test::signBundle(path, o);
    return path;
}

// Makes the app (signed unless told otherwise), then changes it.
std::function<std::string(Dir)> appThen(std::function<void(const std::string& app)> change, bool sign = true) {
    return [=](Dir d) {
        const std::string a = sign ? signedApp(d) : app(d);
        change(a);
        return a;
    };
}

// A bundle without code, signed, whose signature folder is then changed.
std::function<std::string(Dir)> codelessThen(std::function<void(const std::string& signature)> change) {
    return [=](Dir d) {
        BundleBuilder b(d + "/Strings.bundle");
        b.resource("a.txt", "a\n").build();
        test::signBundle(b.path(), {});
        change(b.contentsPath() + "/_CodeSignature");
        return b.path();
    };
}

// An app whose Info.plist is the given bytes.
std::string appWithInfo(Dir dir, std::string info) {
    BundleBuilder b(dir + "/Hostile.app");
    b.executable("Hostile", thin(kX86_64)).rawInfoPlist(std::move(info));
    return b.build();
}

// An app whose English InfoPlist.strings is the given bytes; its Info.plist says version 1.0.
std::string appWithStrings(Dir dir, std::string strings) {
    BundleBuilder b(dir + "/Hostile.app");
    b.info("CFBundleShortVersionString", "1.0")
        .executable("Hostile", thin(kX86_64))
        .rawLocalized("en", std::move(strings));
    return b.build();
}

// A binary property list from its objects (each already encoded), with one-byte references.
std::string binaryPlist(const std::vector<std::string>& objects, std::uint64_t top = 0,
                        std::optional<std::uint64_t> claimedObjects = {}) {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out += o;
    }
    const std::uint64_t table = out.size();
    auto be = [&](std::uint64_t v, int bytes) {
        for (int k = bytes - 1; k >= 0; --k) out += static_cast<char>(v >> (8 * k));
    };
    for (auto off : offsets) be(off, 4);
    out += std::string(6, '\0');
    out += '\x04';  // offset size
    out += '\x01';  // reference size
    be(claimedObjects.value_or(objects.size()), 8);
    be(top, 8);
    be(table, 8);
    return out;
}

std::string zlib(const std::string& text) {
    uLongf size = compressBound(text.size());
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(size);
    return out;
}

// A xar archive holding `toc` as its table of contents (compressed as given), then `heap`.
Bytes xarWith(const std::string& compressedToc, std::uint64_t declaredCompressed, std::uint64_t declaredInflated,
              const std::string& heap = std::string(20, '\0')) {
    Bytes b{'x', 'a', 'r', '!', 0, 28, 0, 1};  // magic, header size, version
    b.resize(28, 0);
    test::putU64be(b, 8, declaredCompressed);
    test::putU64be(b, 16, declaredInflated);
    test::putU32be(b, 24, 1);
    b.insert(b.end(), compressedToc.begin(), compressedToc.end());
    b.insert(b.end(), heap.begin(), heap.end());
    return b;
}

Bytes xarOfToc(const std::string& toc) {
    std::string z = zlib(toc);
    return xarWith(z, z.size(), toc.size());
}

const char* kTocStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar><toc>"
    "<checksum style=\"sha1\"><offset>0</offset><size>20</size></checksum>";

// A chain of `depth` folders named "d" under `at`.
void folderChain(const std::string& at, int depth) {
    inFolder(at, [depth] {
        for (int i = 0; i < depth; ++i)
            if (::mkdir("d", 0755) != 0 || ::chdir("d") != 0) throw std::runtime_error("cannot make the folder chain");
        test::writeFile("bottom", "the bottom\n");
    });
}

// A socket file with no one listening, bound by a short name: socket paths are limited to about 100 bytes.
void makeSocket(const std::string& folder, const std::string& name) {
    inFolder(folder, [&] {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, name.c_str(), sizeof addr.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("cannot bind");
        ::close(fd);
    });
}

void sparseFile(const std::string& path, const Bytes& head, off_t size) {
    test::writeFile(path, head);
    if (::truncate(path.c_str(), size) != 0) throw std::runtime_error("cannot extend " + path);
}

// ---- Commands and cases ---------------------------------------------------------------------

enum class Command { LipoArchs, LipoInfo, CodesignDisplay, CodesignVerify, Spctl, SpctlInstall, Pkgutil, Report };

// Where spctl expands a container: it must be empty again after every run.
const std::string& expansionFolder() {
    static const test::TempDir folder;
    return folder.path();
}

// Every command each item is given to: a stand-in tool (none: Tessarin itself) and its options.
struct CommandLine {
    Command command;
    const char* tool;
    std::vector<std::string> options;

    std::string name() const {
        std::string out = *tool ? tool : "tessarin";
        for (const auto& o : options) out += " " + o;
        return out;
    }
    std::vector<std::string> argv(const std::string& item) const {
        std::vector<std::string> out{*tool ? test::standinDirectory() + "/" + tool : TESSARIN_PROGRAM};
        out.insert(out.end(), options.begin(), options.end());
        out.push_back(item);
        return out;
    }
};
const CommandLine kCommands[] = {
    {Command::LipoArchs, "lipo", {"-archs"}},
    {Command::LipoInfo, "lipo", {"-info"}},
    {Command::CodesignDisplay, "codesign", {"-dvvv"}},
    {Command::CodesignVerify, "codesign", {"--verify", "--deep", "--strict"}},
    {Command::Spctl, "spctl", {"-a", "-vv", "--components-json", "--expand-under", expansionFolder()}},
    {Command::SpctlInstall, "spctl", {"-a", "-vv", "-t", "install"}},
    {Command::Pkgutil, "pkgutil", {"--check-signature"}},
    {Command::Report, "", {"--report", "--components"}},
};

constexpr int kNonzero = -1;

// One command's expected outcome: its exit status (or any nonzero one) and a text its output holds.
struct Expect {
    Command command;
    int status;
    std::string text;
    bool absent = false;  // the text must not appear
};

struct HostileCase {
    const char* name;
    // Makes the item inside the folder it is given and returns the item as the commands are given it.
    std::function<std::string(Dir)> make;
    std::vector<Expect> expect;
    bool unprivileged = false;  // permissions matter: run as nobody when the suite runs as root
};

// A case that expects the same of every command that reads this kind of item.
Expect lipo(int status, std::string text) { return {Command::LipoArchs, status, std::move(text)}; }
Expect display(int status, std::string text) { return {Command::CodesignDisplay, status, std::move(text)}; }
Expect verify(int status, std::string text) { return {Command::CodesignVerify, status, std::move(text)}; }
Expect assess(int status, std::string text) { return {Command::Spctl, status, std::move(text)}; }
Expect install(int status, std::string text) { return {Command::SpctlInstall, status, std::move(text)}; }
Expect pkgutil(int status, std::string text) { return {Command::Pkgutil, status, std::move(text)}; }
Expect report(std::string text) { return {Command::Report, 0, std::move(text)}; }
Expect reportLacks(std::string text) { return {Command::Report, 0, std::move(text), true}; }

HostileCase hostile(const char* name, std::function<std::string(Dir)> make, std::vector<Expect> expect,
                    bool unprivileged = false) {
    return {name, std::move(make), std::move(expect), unprivileged};
}

std::vector<HostileCase> cases();

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class Hostile : public ::testing::TestWithParam<HostileCase> {};

#ifdef TESSARIN_HOSTILE_SANITIZED
// The peak of each command on a trivial item, for the sanitized builds' allowance.
long baselineKb(const CommandLine& c) {
    static std::map<Command, long> cache;
    if (!cache.count(c.command)) {
        test::TempDir dir;
        test::writeFile(dir / "plain", "plain");
        cache[c.command] = runChild(c.argv(dir / "plain"), dir.path(), dir.path()).maxRssKb;
    }
    return cache[c.command];
}
#endif

bool sanitizerReported(const std::string& text) {
    for (const char* mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "runtime error:", "UndefinedBehaviorSanitizer", "SUMMARY: AddressSanitizer"})
        if (text.find(mark) != std::string::npos) return true;
    return false;
}

TEST_P(Hostile, EndsCleanlyAndLeavesTheItemAlone) {
    const HostileCase& c = GetParam();
    test::TempDir dir;
    std::optional<uid_t> user;
    if (c.unprivileged && ::geteuid() == 0) {
        // Root reads every folder whatever its mode; nobody does not.
        passwd* nobody = ::getpwnam("nobody");
        if (!nobody) GTEST_SKIP() << "running as root and there is no user nobody to drop to";
        user = nobody->pw_uid;
        ::chmod(dir.path().c_str(), 0755);
    }
    test::TempDir scratch;
    const std::string item = c.make(dir.path());
    if (user) {
        // The folders the item needs must be open to nobody except where the case closed them.
        ASSERT_NE(::access(dir.path().c_str(), X_OK), -1);
    }
    const TreeState before = snapshot(dir.path());
    for (const CommandLine& command : kCommands) {
        SCOPED_TRACE(command.name());
        ChildRun run = runChild(command.argv(item), dir.path(), scratch.path(), user);
        const std::string output = run.out + run.err;
        const int status = run.status();
        EXPECT_FALSE(run.timedOut) << "still running after " << kTimeLimit.count() << " s\n" << output.substr(0, 4000);
        EXPECT_EQ(run.signal(), 0) << "ended by signal " << run.signal() << "\n" << output.substr(0, 4000);
        EXPECT_FALSE(sanitizerReported(output)) << output.substr(0, 8000);
#ifdef TESSARIN_HOSTILE_SANITIZED
        const long limitKb = baselineKb(command) + kMemoryLimitKb;
#else
        const long limitKb = kMemoryLimitKb;
#endif
        EXPECT_LT(run.maxRssKb, limitKb) << "peak " << run.maxRssKb / 1024 << " MB";
        if (status != 0) EXPECT_FALSE(output.empty()) << "failed with status " << status << " and said nothing";
        for (const Expect& e : c.expect) {
            if (e.command != command.command) continue;
            if (e.status == kNonzero)
                EXPECT_NE(status, 0) << output;
            else
                EXPECT_EQ(status, e.status) << output;
            EXPECT_EQ(output.find(e.text) != std::string::npos, !e.absent)
                << (e.absent ? "did not expect \"" : "expected \"") << e.text << "\" in:\n"
                << output;
        }
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_empty(expansionFolder(), ec)) << "expanded contents were left behind";
        const TreeState after = snapshot(dir.path());
        EXPECT_TRUE(after == before) << "the item changed:\n" << differences(before, after);
        // One line per run: the figures the limits are judged by.
        std::printf("[%s] %s: status %d, %.1f s, %ld MB\n", c.name, command.name().c_str(), status, run.seconds,
                    run.maxRssKb / 1024);
    }
}

INSTANTIATE_TEST_SUITE_P(Items, Hostile, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- The table ---------------------------------------------------------------------------------

// A file signed with a CMS signature whose DER is then replaced by `der` (padded to its room).
Bytes withCms(const Bytes& der) {
    test::SignOptions o = adhoc();
    o.cms = test::SigningChain::shared().signer(test::LeafKind::DeveloperIDApplication);
    Bytes b = signedThin(o);
    const std::size_t wrapper = test::blobOffset(b, CSSLOT_SIGNATURESLOT);
    const std::size_t room = be32(b, wrapper + 4) - 8;
    for (std::size_t i = 0; i < room; ++i) b[wrapper + 8 + i] = i < der.size() ? der[i] : 0;
    return b;
}

std::size_t codeSignatureCommand(const Bytes& file) {
    auto macho = parseMachO(asByteSpan(file));
    auto commands = parseLoadCommands(asByteSpan(file), macho->slices[0]);
    for (const auto& c : *commands)
        if (c.cmd == LC_CODE_SIGNATURE) return c.offset;
    throw std::runtime_error("no LC_CODE_SIGNATURE");
}

// A disk image signed ad hoc, its trailer's `field` (when nonzero) overwritten with `value`.
Bytes diskImage(std::uint64_t lastChunkBias = 0, std::uint32_t field = 0, std::uint64_t value = 0) {
    test::DiskImageOptions o;
    o.content.assign(20000, 0x42);
    o.zlib = true;
    o.lastChunkBias = lastChunkBias;
    Bytes image = test::signDiskImage(test::buildDiskImage(o), adhoc());
    if (field) test::putU64(image, image.size() - UDIF_TRAILER_SIZE + field, value, true);
    return image;
}

// A Developer ID-signed app (under the test chain) with the `index`th forged ticket naming its code
// stapled as Contents/CodeResources.
std::string appWithForgedTicket(Dir d, std::size_t index) {
    BundleBuilder b(d + "/Hostile.app");
    b.info("CFBundleShortVersionString", "1.0").executable("Hostile", thin(kX86_64)).build();
    test::BundleSignOptions o;
    o.code = adhoc();
    o.code.cms = test::SigningChain::shared().signer(test::LeafKind::DeveloperIDApplication);
    test::signBundle(b.path(), o);
    const std::string exe = test::readFile(b.executablePath());
    const Bytes cdhash = test::sealCdhash(Bytes(exe.begin(), exe.end()));
    test::writeFile(b.path() + "/Contents/CodeResources", test::forgedTickets(cdhash)[index].bytes);
    return b.path();
}

// A flat package signed under a test chain with the `index`th forged ticket naming it stapled after it.
std::string packageWithForgedTicket(Dir d, std::size_t index) {
    test::XarBuild b = test::buildXar(test::signedProduct(test::SigningChain::shared()));
    const Bytes digest(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                       b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize));
    return pkg(d, test::stapleTicket(b.bytes, test::forgedTickets(digest)[index].bytes));
}

// A flat package whose CMS signature is made by a throw-away self-signed key while its table of
// contents lists `listed` as the signer's chain (by default a genuine Developer ID chain, copied out of
// a real binary where the sample is here).
std::string packageSignedByAnotherKey(Dir d, std::vector<Bytes> listed = {}) {
    const auto& chain = test::SigningChain::shared();
    if (listed.empty()) listed = test::realDeveloperIdChain();
    if (listed.empty()) listed = {chain.leaf(test::LeafKind::DeveloperIDInstaller).certificateDer};
    test::CmsOptions plain;
    plain.timestamp = false;
    test::XarBuildOptions o;
    o.files = test::sampleProductFiles();
    o.signCms = [&](const Bytes& checksum) {
        return chain.signCms(checksum, chain.leaf(test::LeafKind::SelfSigned), {}, plain);
    };
    o.certificates = listed;
    return pkg(d, test::buildXar(o).bytes);
}

// Signed code whose requirements slot holds `requirement` as its designated requirement.
std::string codeWithRequirement(Dir d, const Bytes& requirement) {
    test::SignOptions o = adhoc();
    o.requirements = test::RequirementBuilder::set({{3, requirement}});
    return tool(d, signedThin(o));
}

// An app whose nested framework is sealed with `requirement` as its requirement text.
std::string appSealingNestedWith(Dir d, const std::string& requirement) {
    BundleBuilder b(d + "/Hostile.app");
    b.info("CFBundleShortVersionString", "1.0").executable("Hostile", thin(kX86_64)).build();
    BundleBuilder f = b.nested("Contents/Frameworks/Kit.framework", BundleBuilder::Kind::Framework);
    f.executable("Kit", thin(kX86_64)).build();
    test::BundleSignOptions o;
    o.code = adhoc();
    o.nestedRequirements["Frameworks/Kit.framework"] = requirement;
    test::signBundle(b.path(), o);
    return b.path();
}

// Archives that try to write outside the folder they are expanded in, or to fill the disk.
std::vector<HostileCase> archiveCases() {
    using test::ArchiveItem;
    using Items = std::vector<ArchiveItem>;
    auto archive = [](const char* name, test::Packing packing, Items items) {
        return [=](Dir d) { return file(d, name, test::packArchive(packing, items)); };
    };
    const Bytes code = thin(kX86_64);
    const std::string machO(code.begin(), code.end());
    return {
        hostile("ArchiveZipSlip",
                archive("x.zip", test::Packing::Zip,
                        {{"../../evil", ArchiveItem::File, "x"},
                         {"/tmp/tessarin-evil", ArchiveItem::File, "x"},
                         {"ok/tool", ArchiveItem::File, machO, 0755}}),
                {assess(3, "../../evil"), assess(3, "is refused"), report("ok/tool"), report("is refused")}),
        hostile("ArchiveWritesThroughItsOwnLinks",
                archive("x.tar", test::Packing::Tar,
                        {{"up", ArchiveItem::Link, "../../.."},
                         {"up/evil", ArchiveItem::File, "x"},
                         {"etc", ArchiveItem::Link, "/etc"},
                         {"etc/evil", ArchiveItem::File, "x"},
                         {"loop", ArchiveItem::Link, "loop"},
                         {"loop/x", ArchiveItem::File, "x"}}),
                {assess(3, "is refused"), report("is refused")}),
        hostile("ArchiveZipBomb",
                archive("x.zip", test::Packing::Zip, {{"zeros", ArchiveItem::File, std::string(80 << 20, '\0')}}),
                {assess(3, "as a zip bomb does"), report("as a zip bomb does")}),
        hostile("ArchiveMillionEmptyEntries",
                [](Dir d) {
                    Items items(1'000'000);
                    for (std::size_t i = 0; i < items.size(); ++i) items[i].path = "e/" + std::to_string(i);
                    return file(d, "x.tgz", test::packArchive(test::Packing::TarGz, items));
                },
                {assess(3, "entries, the most expanded"), report("nothing was expanded")}),
        hostile("ArchiveNamesNotUtf8",
                archive("x.zip", test::Packing::Zip, {{"caf\xe9/tool", ArchiveItem::File, machO, 0755}}),
                {report("caf\\xE9/tool")}),
    };
}

std::vector<HostileCase> ticketCases() {
    std::vector<HostileCase> out;
    const Expect notNotarized{Command::Spctl, kNonzero, "Notarized", true};
    const Expect notNotarizedInstall{Command::SpctlInstall, kNonzero, "Notarized", true};
    const Expect notTrusted{Command::Pkgutil, kNonzero, "trusted by the Apple notary service", true};
    static std::vector<std::string> names;  // the cases hold their names by pointer
    names.reserve(2 * test::forgedTicketNames().size());
    for (std::size_t i = 0; i < test::forgedTicketNames().size(); ++i) {
        names.push_back(std::string("TicketOnApp") + test::forgedTicketNames()[i]);
        out.push_back(hostile(names.back().c_str(), [i](Dir d) { return appWithForgedTicket(d, i); },
                              {notNotarized, assess(3, "rejected"), display(0, "Notarization Ticket=stapled"),
                               reportLacks("It has been notarized")}));
        names.push_back(std::string("TicketOnPackage") + test::forgedTicketNames()[i]);
        out.push_back(
            hostile(names.back().c_str(), [i](Dir d) { return packageWithForgedTicket(d, i); },
                    {notTrusted, notNotarizedInstall, install(3, "rejected"), reportLacks("It has been notarized")}));
    }
    return out;
}

std::vector<HostileCase> cases() {
    const std::string unsignedCode = "code object is not signed at all";
    const std::string badFormat = "invalid or unsupported format for signature";
    const std::string codeModified = "invalid signature (code or signature have been modified)";
    const std::string notPackage = "is not an Installer package";
    const std::string singleFile = "This is a single file.";
    const std::string unsatisfied = "does not satisfy its designated Requirement";
    const std::string sealedFails = "file modified: ";
    const std::string details = "Details for Hostile.app";
    const Bytes s = signedThin();  // its SuperBlob at `sb`, its CodeDirectory at `cd`, `cdLength` long
    const std::size_t sb = test::signatureOffset(s), cd = test::blobOffset(s, CSSLOT_CODEDIRECTORY);
    const std::uint32_t cdLength = be32(s, cd + 4);
    const Bytes fat = test::fatMachO({{kX86_64, 3}, {kArm64, 0}});
    const std::vector<Expect> formatRefused = {display(1, badFormat), verify(1, badFormat)};
    std::vector<HostileCase> all = {
        // Mach-O headers that are cut short or lie about their commands.
        hostile("MachOTruncatedHeader", [](Dir d) { return tool(d, resized(thin(kArm64), 20)); },
         {lipo(1, "truncated or malformed object"), display(1, unsignedCode), report(singleFile)}),
        hostile("MachOLyingCommandSizes",
         [](Dir d) { return tool(d, patched(thin(kArm64), {{16, 0xFFFFFFFF}, {20, 0xFFFFFFF0}}, false)); },
         {lipo(0, "arm64"), display(1, badFormat), verify(1, badFormat), report("This is a Mach-O file.")}),
        hostile("MachOZeroSizedCommand", [](Dir d) { return tool(d, patched(thin(kX86_64), {{32 + 4, 0}}, false)); },
         {lipo(0, "x86_64"), display(1, badFormat)}),
        hostile("MachOSignaturePastTheEnd",
         [=](Dir d) { return tool(d, patched(s, {{codeSignatureCommand(s) + 8, 0xFFFFFF00}}, false)); },
         {lipo(0, "arm64"), display(1, badFormat), verify(1, badFormat)}),

        // Disk images whose trailer or block table lies, or that are encrypted.
        hostile("DiskImageSignatureLengthLies",
         [](Dir d) { return file(d, "x.dmg", diskImage(0, UDIF_OFF_CODESIGN_LENGTH, ~0ull - 255)); },
         {display(1, "disk image format unrecognized, invalid, or unsuitable"), assess(3, "rejected")}),
        // Code signing reads no block table: the signer's own lying table is still what was signed.
        hostile("DiskImageChunkPastTheEnd", [](Dir d) { return file(d, "x.dmg", diskImage(1u << 30)); },
         {display(0, "Format=disk image"), verify(0, "")}),
        hostile("DiskImageEncrypted", [](Dir d) {
             return file(d, "x.dmg", resized({'e', 'n', 'c', 'r', 'c', 'd', 's', 'a', 0, 0, 0, 2}, 1u << 20, 0xee));
         }, {display(1, "encrypted disk images are not verified here"), install(3, "rejected"),
          report("the disk image is encrypted")}),
        // Images that would fill the disk: a 4 GB sparse image, and a small one whose trailer claims 4 GB.
        hostile("DiskImageSparseFourGigabytes", [](Dir d) {
             sparseFile(d + "/x.dmg", Bytes{'s', 'p', 'r', 's', 0, 0, 0, 3}, off_t{4} << 30);
             return d + "/x.dmg";
         }, {report("the disk image is a sparse")}),
        hostile("DiskImageClaimsFourGigabytes",
         [](Dir d) { return file(d, "x.dmg", diskImage(0, UDIF_OFF_SECTOR_COUNT, std::uint64_t{1} << 23)); },
         {report("x.dmg")}),

        // Attacks on the verdicts: text that looks like a verdict, code that vouches for what it does not
        // seal, links out of the item, bytes riding along.
        hostile("VerdictLinesInTheItemsName", [](Dir d) {
             const std::string folder = d + "/evil\nsource=Notarized Developer ID\nsource=Apple System";
             ::mkdir(folder.c_str(), 0755);
             return signedApp(folder, "x\nsource=Mac App Store.app");
         }, {assess(3, "source=no usable signature"), assess(3, "evil\\nsource=Notarized Developer ID"),
          reportLacks("It has been notarized"), reportLacks("supplied by Apple"), reportLacks("through App Store")}),
        hostile("ToolDroppedIntoAnApp", [](Dir d) {
             test::SignOptions o = adhoc();
             o.cms = test::SigningChain::shared().signer(test::LeafKind::DeveloperIDApplication);
             BundleBuilder b(d + "/X.app");
             b.executable("tool", test::signMachO(thin(kX86_64), o)).resource("run.sh", "#!/bin/sh\n");
             return b.build();
         }, {verify(1, "invalid Info.plist (plist or signature have been modified)"), assess(3, "rejected"),
          reportLacks("It has been notarized")}),
        hostile("ContentsLinkedToAnotherApp", [](Dir d) {
             const std::string genuine = signedApp(d, "Genuine.app");
             ::mkdir((d + "/Borrowed.app").c_str(), 0755);
             ::symlink((genuine + "/Contents").c_str(), (d + "/Borrowed.app/Contents").c_str());
             return d + "/Borrowed.app";
         }, {verify(1, "must be a regular file"), assess(3, "rejected")}),
        hostile("InfoPlistLinkedOutTheItem", [](Dir d) {
             const std::string app = signedApp(d);
             ::rename((app + "/Contents/Info.plist").c_str(), (d + "/Info.plist").c_str());
             ::symlink((d + "/Info.plist").c_str(), (app + "/Contents/Info.plist").c_str());
             return app;
         }, {verify(1, "must be a regular file"), assess(3, "rejected")}),
        hostile("FileBesideContents", appThen([](Dir a) { test::writeFile(a + "/payload.sh", "#!/bin/sh\n"); }),
         {verify(1, "unsealed contents present in the bundle root"), assess(3, "rejected")}),
        hostile("DataAfterTheSignature", [=](Dir d) { return tool(d, resized(s, s.size() + 4096, 0x41)); },
         {verify(1, "main executable failed strict validation"), install(3, "rejected")}),

        // Fat headers: counts in the billions, slices past the end or on top of each other.
        hostile("FatCountInTheBillions",
         [](Dir d) { return tool(d, patched(Bytes(4096, 0), {{0, 0xCAFEBABF}, {4, ~0u}})); },
         {lipo(1, "fat_arch_64 structs would extend past the end of the file"), display(1, unsignedCode)}),
        hostile("FatCountTakenForJava",
         [](Dir d) { return tool(d, patched(Bytes(64, 0), {{0, 0xCAFEBABE}, {4, ~0u}})); },
         {lipo(1, "taken for a Java class file")}),
        hostile("FatSlicePastTheEnd", [=](Dir d) { return tool(d, patched(fat, {{8 + 20 + 8, 0xFFFFF000}})); },
         {lipo(1, "offset plus size of slice 1 extends past the end of the file"), display(1, unsignedCode)}),
        hostile("FatSlicesOverlap", [=](Dir d) { return tool(d, patched(fat, {{8 + 20 + 8, be32(fat, 8 + 8)}})); },
         {lipo(1, "slice 0 and slice 1 overlap")}),
        hostile("Fat64SliceSizeNearTwoToThe64", [](Dir d) {
             Bytes b = test::fatMachO({{kX86_64, 3}, {kArm64, 0}}, true);
             test::putU64be(b, 8 + 32 + 16, 0xFFFFFFFFFFFFF000ull);
             return tool(d, b);
         }, {lipo(1, "extends past the end of the file")}),
        hostile("FatSlicesOfTwoTeams", [](Dir d) {
             test::SignOptions a = adhoc(), b = adhoc();
             a.teamId = "TEAMAAAAAA";
             b.teamId = "TEAMBBBBBB";
             return tool(d, test::fatMachO({test::signMachO(thin(kX86_64), a), test::signMachO(thin(kArm64), b)},
                                           {{kX86_64, 3}, {kArm64, 0}}));
         }, {verify(1, codeModified), install(3, "rejected")}),

        // SuperBlobs and CodeDirectories.
        hostile("SuperBlobRefersToItself", [=](Dir d) { return tool(d, patched(s, {{sb + 16, 0}})); },
         {display(1, badFormat), verify(1, badFormat), install(3, "rejected")}),
        hostile("SuperBlobBlobsOverlap", [=](Dir d) { return tool(d, patched(s, {{sb + 24, be32(s, sb + 16)}})); },
         formatRefused),
        hostile("SuperBlobCountInTheBillions", [=](Dir d) { return tool(d, patched(s, {{sb + 8, ~0u}})); },
         formatRefused),
        hostile("CodeDirectorySlotCountInTheBillions", [=](Dir d) { return tool(d, patched(s, {{cd + 28, ~0u}})); },
         formatRefused),
        hostile("CodeDirectorySpecialSlotsInTheBillions", [=](Dir d) { return tool(d, patched(s, {{cd + 24, ~0u}})); },
         formatRefused),
        hostile("CodeDirectoryCodeLimitPastTheEnd", [=](Dir d) { return tool(d, patched(s, {{cd + 32, 0xFFFFFFF0}})); },
         formatRefused),
        hostile("CodeDirectoryIdentifierUnterminated", [=](Dir d) {
             Bytes b = patched(s, {{cd + 20, cdLength - 1}});
             b[cd + cdLength - 1] = 'A';
             return tool(d, b);
         }, {display(1, badFormat)}),

        // CMS signatures that are not what they claim.
        hostile("CmsGarbage", [](Dir d) { return tool(d, withCms(Bytes(3000, 0x41))); },
         {display(0, "Signature size="), verify(1, codeModified), install(3, "rejected")}),
        hostile("CmsLengthInTheBillions",
         [](Dir d) { return tool(d, withCms({0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x06, 0x09})); },
         {verify(1, codeModified), install(3, "rejected")}),
        hostile("CmsNestedIndefinitely", [](Dir d) {
             Bytes der;
             for (int i = 0; i < 4000; ++i) der.insert(der.end(), {0x30, 0x80});
             return tool(d, withCms(der));
         }, {verify(1, codeModified), install(3, "rejected")}),

        // Property lists.
        hostile("InfoPlistNestedDeeply", [](Dir d) {
             return appWithInfo(d, "<plist>" + repeat("<array>", 200000) + repeat("</array>", 200000) + "</plist>");
         }, {report(details)}),
        hostile("InfoPlistBinaryCycle", [](Dir d) { return appWithInfo(d, binaryPlist({std::string("\xA1\x00", 2)})); },
         {report(details)}),
        hostile("InfoPlistBinarySharedReferences", [](Dir d) {
             // Forty levels of arrays that hold the next level twice: 2^40 values once expanded.
             std::vector<std::string> objects;
             for (int k = 0; k < 40; ++k) objects.push_back(std::string("\xA2") + char(k + 1) + char(k + 1));
             objects.push_back("\x09");
             return appWithInfo(d, binaryPlist(objects));
         }, {report(details)}),
        hostile("InfoPlistBinaryCountInTheBillions", [](Dir d) {
             return appWithInfo(d, binaryPlist({std::string("\xAF\x13\x0F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", 11)}));
         }, {report(details)}),
        hostile("InfoPlistBinaryObjectsInTheBillions",
         [](Dir d) { return appWithInfo(d, binaryPlist({"\x09"}, 0, std::uint64_t{1} << 40)); }, {report(details)}),
        hostile("InfoPlistOfTooManyValues",
         [](Dir d) { return appWithInfo(d, "<plist><array>" + repeat("<true/>", 3000000) + "</array></plist>"); },
         {display(1, unsignedCode), report(details)}),
        hostile("CodeResourcesOfHalfAMillionValues", appThen([](Dir a) {
             // Near the largest seal accepted: 128,000 entries of four values each.
             std::string seal = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>files2</key><dict>";
             for (int i = 0; i < 127990; ++i)
                 seal += "<key>Resources/f" + std::to_string(i) +
                         "</key><dict><key>hash2</key><data>AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=</data></dict>";
             test::writeFile(a + "/Contents/_CodeSignature/CodeResources", seal + "</dict></dict></plist>");
         }),
         {display(0, "Sealed Resources version=2 rules=0 files=127990"),
          verify(1, "a sealed resource is missing or invalid")}),

        // Localized strings tables (the bundle version comes from them first).
        hostile("StringsNestedDeeply",
         [](Dir d) { return appWithStrings(d, "CFBundleShortVersionString = " + repeat("{ a = ", 200000)); },
         {report("1.0")}),
        hostile("StringsCommentNeverEnds", [](Dir d) { return appWithStrings(d, "/*" + repeat("*", 1 << 20)); },
         {report("1.0")}),
        hostile("StringsOddUtf16", [](Dir d) { return appWithStrings(d, std::string("\xFF\xFE\x22\x00\x61", 5)); },
         {report("1.0")}),
        hostile("StringsManyKeys", [](Dir d) {
             std::string text;
             // Just under the 1 MB a table may have, as distinct keys.
             for (int i = 0; text.size() < (1u << 20) - 16; ++i) text += "k" + std::to_string(i) + ";";
             return appWithStrings(d, text);
         }, {report("1.0")}),

        // Flat packages.
        hostile("XarTocLengthInTheBillions", [](Dir d) { return pkg(d, xarWith(zlib("<xar/>"), 1ull << 62, 6)); },
         {pkgutil(1, "extends past the end of the file"), install(3, "rejected")}),
        hostile("XarTocInflatesToTerabytes",
         [](Dir d) { return pkg(d, xarWith(zlib("<xar/>"), zlib("<xar/>").size(), 1ull << 40)); },
         {pkgutil(1, "more than the 16 MB accepted")}),
        hostile("XarBadZlib", [](Dir d) { return pkg(d, xarWith("this is not zlib data", 21, 4096)); },
         {pkgutil(1, "not valid compressed data"), install(3, "rejected")}),
        hostile("XarHeapOffsetPastTheEnd", [](Dir d) {
             return pkg(d, xarOfToc("<xar><toc><checksum style=\"sha1\"><offset>1152921504606846976</offset>"
                                    "<size>20</size></checksum></toc></xar>"));
         }, {pkgutil(1, "extends past the end of the file")}),
        hostile("XarFileDataPastTheEnd", [](Dir d) {
             return pkg(d, xarOfToc(std::string(kTocStart) +
                                    "<file id=\"1\"><name>Distribution</name><data>"
                                    "<offset>20</offset><length>18446744073709551615</length><size>1</size>"
                                    "</data></file></toc></xar>"));
         }, {pkgutil(1, "extends past the end of the file")}),
        hostile("XarLongNameOverManyFiles", [](Dir d) {
             // A folder with a 1 MB name holding many files: each of their paths repeats the name.
             return pkg(d, xarOfToc(std::string(kTocStart) + "<file><name>" + repeat("n", 1u << 20) + "</name>" +
                                    repeat("<file><name>a</name></file>", 100000) + "</file></toc></xar>"));
         }, {pkgutil(1, "MB of file paths"), install(3, "MB of file paths")}),
        hostile("XarManyAttributes", [](Dir d) {
             std::string attributes;
             for (int i = 0; i < 1000000; ++i) attributes += " a" + std::to_string(i) + "=''";
             return pkg(d, xarOfToc("<xar><toc" + attributes + "/></xar>"));
         }, {pkgutil(1, "too many attributes on one element"), install(3, "too many attributes")}),
        hostile("XarTocAtItsLimit", [](Dir d) {
             const std::string text = repeat("t", (16u << 20) - 200);
             return pkg(d, xarOfToc(std::string(kTocStart) + "<x>" + text + "</x></toc></xar>"));
         }, {pkgutil(1, "Status: no signature")}),
        hostile("PackageListingAChainItsKeyDidNotMake", [](Dir d) { return packageSignedByAnotherKey(d); },
         {pkgutil(1, "did not make its signature"), install(3, "rejected"),
          {Command::Pkgutil, 1, "Certificate Chain", true}, {Command::SpctlInstall, 3, "origin=", true},
          reportLacks("Developer ID")}),
        hostile("PackageListingItsOwnKeyBeforeAppleIssuers", [](Dir d) {
             std::vector<Bytes> listed = test::realDeveloperIdChain();
             const Bytes own = test::SigningChain::shared().leaf(test::LeafKind::SelfSigned).certificateDer;
             if (!listed.empty()) listed.front() = own;
             return packageSignedByAnotherKey(d, listed.empty() ? std::vector<Bytes>{own} : listed);
         }, {pkgutil(1, "Status: signed by untrusted certificate"), install(3, "rejected"),
          {Command::SpctlInstall, 3, "origin=", true}}),
        hostile("XarTruncated", [](Dir d) {
             test::XarBuildOptions o;
             o.files = test::sampleProductFiles();
             const Bytes b = test::buildXar(o).bytes;
             return pkg(d, resized(b, b.size() / 2));
         }, {pkgutil(1, "cannot be read")}),

        // Requirements that nest, lie about their lengths or never close.
        hostile("RequirementSlotNestedDeeply", [](Dir d) {
             test::RequirementBuilder deep;
             for (int i = 0; i < 100000; ++i) deep.op(opNot);
             return codeWithRequirement(d, deep.op(opTrue).requirement());
         }, {verify(3, unsatisfied), display(0, "Internal requirements count=1")}),
        hostile("RequirementSlotLyingStringLength", [](Dir d) {
             return codeWithRequirement(d, test::RequirementBuilder().word(opIdent).word(0xfffffff0).requirement());
         }, {verify(3, unsatisfied)}),
        hostile("RequirementSlotLyingOwnLength", [](Dir d) {
             const Bytes r = test::RequirementBuilder().ident("com.example.tool").requirement();
             return codeWithRequirement(d, patched(r, {{4, 0x7ffffff0}}));
         }, {verify(1, "invalid or unsupported format for signature")}),
        hostile("SealedRequirementNestedDeeply",
         [](Dir d) { return appSealingNestedWith(d, repeat("! ", 32000) + "always"); },
         {verify(1, sealedFails), verify(1, "Kit.framework")}),
        hostile("SealedRequirementOfAMegabyte",
         [](Dir d) { return appSealingNestedWith(d, "identifier \"" + repeat("a", 1u << 20)); },
         {verify(1, sealedFails)}),
        hostile("SealedRequirementNeverCloses", [](Dir d) { return appSealingNestedWith(d, repeat("(", 60000)); },
         {verify(1, sealedFails)}),

        // Bundles inside bundles, deeper than any real one, and a bundle that holds itself.
        hostile("NestedBundleRecursion", [](Dir d) {
             std::vector<std::string> levels{app(d)};
             std::string at = d + "/Hostile.app/Contents/Frameworks";
             for (int k = 0; k < 12; ++k) {
                 BundleBuilder b(at + "/Level" + std::to_string(k) + ".framework", BundleBuilder::Kind::Framework);
                 b.executable("Level" + std::to_string(k), thin(kX86_64)).build();
                 levels.push_back(b.path());
                 at = b.path() + "/Versions/A/Frameworks";
             }
             test::BundleSignOptions o;
             o.code = adhoc();
             o.signNested = false;
             for (auto it = levels.rbegin(); it != levels.rend(); ++it) test::signBundle(*it, o);
             return levels.front();
         }, {verify(1, "nested code is too deeply nested"), assess(3, "rejected"), report(details)}),
        hostile("NestedBundleIsALinkToItself",
         appThen([](Dir a) { ::symlink("../..", (a + "/Contents/Frameworks").c_str()); }),
         {verify(1, "file added"), report(details)}),

        // File-system hazards.
        hostile("SymbolicLinkLoops", appThen([](Dir a) {
             for (auto [name, target] : {std::pair{"a", "b"}, {"b", "a"}, {"self", "."}, {"up", "../.."}})
                 ::symlink(target, (a + "/Contents/Resources/" + name).c_str());
         }),
         {verify(1, "file added"), report(details)}),
        hostile("ItemIsALinkLoop", [](Dir d) {
             ::symlink("Loop.app", (d + "/Loop.app").c_str());
             return d + "/Loop.app";
         }, {lipo(1, "Too many levels of symbolic links"), {Command::Report, 1, "cannot open"}}),
        hostile("FifoAndSocketInABundle", appThen([](Dir a) {
             ::mkfifo((a + "/Contents/Resources/pipe").c_str(), 0644);
             makeSocket(a + "/Contents/Resources", "socket");
         }),
         {verify(1, "file added"), report(details)}),
        hostile("ItemIsAFifo", [](Dir d) {
             ::mkfifo((d + "/pipe").c_str(), 0644);
             return d + "/pipe";
         }, {lipo(1, "is not a regular file"), install(3, "rejected"), report("Details for pipe")}),
        // A bundle without code keeps its signature in files: each is read with a bound, never waited on.
        hostile("CodelessSignaturePartIsAFifo", codelessThen([](Dir signature) {
             ::unlink((signature + "/CodeRequirements").c_str());
             ::mkfifo((signature + "/CodeRequirements").c_str(), 0644);
         }),
         {verify(1, "invalid or unsupported format for signature"), display(1, "invalid or unsupported format")}),
        hostile("CodelessDirectoryOf64Megabytes",
         codelessThen([](Dir signature) { ::truncate((signature + "/CodeDirectory").c_str(), 64 << 20); }),
         {verify(1, "invalid or unsupported format for signature")}),
        hostile("StoreReceiptIsGarbage",
         appThen([](Dir a) { test::writeFile(a + "/Contents/_MASReceipt/receipt", repeat("\x30\x82\xff\xff", 4096)); }),
         {verify(0, ""), assess(3, "note: Mac App Store receipt present, not signed by Apple")}),
        hostile("InfoPlistIsAFifo", appThen([](Dir a) {
             ::unlink((a + "/Contents/Info.plist").c_str());
             ::mkfifo((a + "/Contents/Info.plist").c_str(), 0644);
         }, false),
         {verify(1, unsignedCode), report(details)}),
        hostile("UnreadableFolder", [](Dir d) {
             BundleBuilder b(d + "/Hostile.app");
             b.info("CFBundleShortVersionString", "1.0").executable("Hostile", thin(kX86_64));
             b.resource("Locked/secret.txt", "sealed\n").build();
             test::BundleSignOptions o;
             o.code = adhoc();
             test::signBundle(b.path(), o);
             ::chmod((b.resourcesPath() + "/Locked").c_str(), 0);
             return b.path();
         }, {verify(1, "a sealed resource could not be read"), report(details)}, true),
        hostile("FolderChain5000Deep", appThen([](Dir a) { folderChain(a + "/Contents/Resources", 5000); }),
         {verify(1, "bundle folders are nested too deeply"), report("No 32-bit only components were found.")}),
        hostile("NamesWithLineFeedsAndBadBytes", [](Dir d) {
             BundleBuilder b(d + "/Hostile.app");
             b.info("CFBundleShortVersionString", "1.0").executable("Hostile", thin(kX86_64));
             b.resource("line\nfeed.txt", "text\n").resource("bad\xFF\xFE bytes.txt", "text\n");
             b.file("Contents/Helpers/old\ntool", thin(kI386)).file("Contents/Helpers/old\xC3(tool", thin(kI386));
             return b.build();
         }, {report("32-bit only")}),
        // A name never starts a line of its own, in the report's header or in the tools' lines.
        hostile("ItemNameWithLineFeed", [](Dir d) { return app(d, "Line\nFeed.app"); },
         {report("Details for Line\\nFeed.app version"), report("/Line\\nFeed.app: rejected")}),
        hostile("ItemNameNotUtf8", [](Dir d) { return app(d, "Bad\xFF\xFEName.app"); },
         {report("Details for Bad\\xFF\\xFEName.app"), report("/Bad\\xFF\\xFEName.app: rejected")}),
        hostile("NamesBeginningWithADash", [](Dir d) {
             BundleBuilder b(d + "/-v.app");
             b.info("CFBundleShortVersionString", "1.0").executable("-rf", thin(kX86_64));
             b.file("Contents/Helpers/--help", thin(kI386));
             return b.build();
         }, {display(1, unsignedCode), report("--help")}),
        hostile("ItemNamedLikeAnOption", [](Dir d) {
             test::writeFile(d + "/-archs", thin(kX86_64));
             return std::string("-archs");
         }, {{Command::Report, 2, "unknown option '-archs'"}}),
        hostile("SparseFileOf8GB", [](Dir d) {
             sparseFile(d + "/huge", thin(kX86_64), off_t{8} << 30);
             return d + "/huge";
         }, {lipo(0, "x86_64"), display(1, unsignedCode), report("This is a Mach-O file.")}),
        hostile("SparseFileOf8GBAddedToABundle",
         appThen([](Dir a) { sparseFile(a + "/Contents/Resources/data.bin", {}, off_t{8} << 30); }),
         {verify(1, "file added"), assess(3, "rejected"), report(details)}),
        hostile("SparseExecutableOf8GB",
         appThen([](Dir a) { sparseFile(a + "/Contents/MacOS/Hostile", thin(kX86_64), off_t{8} << 30); }, false),
         {display(1, unsignedCode), report(details)}),
        hostile("DirectoriesWhereFilesBelong", appThen([](Dir a) {
             for (const char* p :
                  {"/Contents/Info.plist", "/Contents/_CodeSignature/CodeResources", "/Contents/MacOS/Hostile"}) {
                 ::unlink((a + p).c_str());
                 test::makeDirectories(a + p);
             }
             test::makeDirectories(a + "/Contents/Resources/en.lproj/InfoPlist.strings");
         }),
         {display(1, unsignedCode), verify(1, unsignedCode), report(details)}),
        hostile("PackageFolderOfFolders", [](Dir d) {
             test::makeDirectories(d + "/Hostile.pkg/Contents/Archive.bom");
             test::makeDirectories(d + "/Hostile.pkg/Contents/Info.plist");
             return d + "/Hostile.pkg";
         }, {pkgutil(1, notPackage), report("Details for Hostile.pkg")}),
    };
    for (auto& c : ticketCases()) all.push_back(std::move(c));
    for (auto& c : archiveCases()) all.push_back(std::move(c));
    return all;
}

}  // namespace
