// Runs `tessarin-traced` (the application with timestamp hooks, report-trace-hooks.cpp) several
// times and prints where each run's time went, as key=value medians over the runs:
//
//   report-timeline [--rounds R] PROG ARG...
//
// The program gets descriptor 9 (a memfd) for its events; its output goes to /dev/null. Times
// are from the spawn: load (exec, dynamic loading, library start-up), setup (Qt, opening and
// classifying the item), the scan, the wait for the signature checks, composition, the rest of
// main and the exit. Each tool run is given by name with its wall time and its spawn call; the
// timeline of one run names the thread of each event.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BenchClock.h"

extern char** environ;

using tessarin::bench::median;

namespace {

long long monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Event {
    double t;  // seconds since the spawn
    std::string name, detail;
    long thread = 0;
};

struct Run {
    double wall = 0;
    int status = 0;
    std::vector<Event> events;
};

Run runOnce(const std::vector<std::string>& args) {
    Run run;
    int trace = ::memfd_create("tessarin-trace", MFD_CLOEXEC);
    if (trace < 0) {
        std::perror("memfd_create");
        std::exit(1);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, trace, 9);
    pid_t pid;
    const long long start = monotonicNs();
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "report-timeline: cannot start %s\n", argv[0]);
        std::exit(1);
    }
    while (::waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {}
    run.wall = (monotonicNs() - start) / 1e9;

    std::string text;
    char buffer[65536];
    for (off_t offset = 0;;) {
        ssize_t n = ::pread(trace, buffer, sizeof buffer, offset);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    ::close(trace);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        long long ns = 0;
        Event e;
        if (!(fields >> ns >> e.name >> e.thread)) continue;
        fields >> e.detail;
        e.t = (ns - start) / 1e9;
        run.events.push_back(e);
    }
    return run;
}

// The time of the first (or last) event of this name, or -1.
double at(const Run& r, const std::string& name, bool last = false) {
    double t = -1;
    for (const auto& e : r.events)
        if (e.name == name) {
            t = e.t;
            if (!last) break;
        }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    int i = 1;
    if (i + 1 < argc && std::string(argv[i]) == "--rounds") {
        rounds = std::atoi(argv[i + 1]);
        i += 2;
    }
    if (i >= argc || rounds < 1) {
        std::fprintf(stderr, "usage: report-timeline [--rounds R] PROG ARG...\n");
        return 2;
    }
    std::vector<std::string> args(argv + i, argv + argc);

    runOnce(args);  // warm-up: page cache and loader caches
    std::vector<Run> runs;
    for (int r = 0; r < rounds; ++r) runs.push_back(runOnce(args));

    std::map<std::string, std::vector<double>> phases;
    int failures = 0;
    for (const Run& r : runs) {
        if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) ++failures;
        const double start = at(r, "start"), mainBegin = at(r, "main_begin"), scanBegin = at(r, "scan_begin"),
                     scanEnd = at(r, "scan_end"), composeBegin = at(r, "compose_begin", true),
                     composeEnd = at(r, "compose_end", true), mainEnd = at(r, "main_end");
        auto span = [&](const char* key, double from, double to) {
            if (from >= 0 && to >= 0) phases[key].push_back(to - from);
        };
        phases["wall_s"].push_back(r.wall);
        span("load_s", 0, start);
        span("premain_s", start, mainBegin);
        span("setup_s", mainBegin, scanBegin);
        span("scan_s", scanBegin, scanEnd);
        span("wait_s", scanEnd, composeBegin);
        span("compose_s", composeBegin, composeEnd);
        span("finish_s", composeEnd, mainEnd);
        span("exit_s", mainEnd, r.wall);
        // Tool runs, in order; a spawn call belongs to the tool run it falls in.
        double firstTool = -1, lastTool = -1;
        std::map<std::string, double> begun;
        double spawnBegin = -1;
        std::string current;
        for (const auto& e : r.events) {
            if (e.name == "tool_begin") {
                begun[e.detail] = e.t;
                current = e.detail;
                if (firstTool < 0) firstTool = e.t;
            } else if (e.name == "tool_end" && begun.count(e.detail)) {
                phases["tool." + e.detail + ".begin_s"].push_back(begun[e.detail]);
                phases["tool." + e.detail + ".wall_s"].push_back(e.t - begun[e.detail]);
                lastTool = e.t;
            } else if (e.name == "spawn_begin") {
                spawnBegin = e.t;
            } else if (e.name == "spawn_end" && spawnBegin >= 0 && !current.empty()) {
                phases["tool." + current + ".spawn_s"].push_back(e.t - spawnBegin);
            }
        }
        span("checks_s", firstTool, lastTool);
    }
    std::printf("rounds=%d\nfailures=%d\n", rounds, failures);
    for (const auto& [key, values] : phases) std::printf("%s=%.6f\n", key.c_str(), median(values));
    std::printf("runs_s=");
    for (const Run& r : runs) std::printf("%.4f ", r.wall);
    std::printf("\n");
    // One run's events, the one of median wall time, for the record.
    std::vector<double> walls;
    for (const Run& r : runs) walls.push_back(r.wall);
    const double m = median(walls);
    const Run* pick = &runs.front();
    for (const Run& r : runs)
        if (std::abs(r.wall - m) < std::abs(pick->wall - m)) pick = &r;
    // Threads by order of appearance: T0 is the one that ran the static initialisers, the main thread.
    std::map<long, int> threads;
    std::printf("timeline=");
    for (const auto& e : pick->events) {
        const int index = threads.emplace(e.thread, static_cast<int>(threads.size())).first->second;
        std::printf("%.4f:T%d:%s%s%s ", e.t, index, e.name.c_str(), e.detail.empty() ? "" : ":", e.detail.c_str());
    }
    std::printf("%.4f:exit\n", pick->wall);
    return 0;
}
