// Times scan32BitComponents against the minimal C walker (opening files by full path, and relative
// to the open directory) over the same tree, interleaved in one process so that machine load falls
// on all alike; prints key=value lines for bench/run.sh.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "Scan32Bit.h"
#include "c-walker.h"

using namespace tessarin;
using tessarin::bench::median;
using tessarin::bench::now;

namespace {

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: scan-bench ROOT [--reps N] [--only scan|walker|walker_path|walker_at] [--no-warmup]\n"
                 "                       [--expect-components N]\n");
    std::exit(2);
}

struct Contender {
    const char* name;
    std::function<void()> run;
    std::vector<double> times;
    std::vector<double> cpu;  // user + system time of this process during the run
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void printRuns(const Contender& c) {
    std::printf("%s_median_s=%.6f\n%s_cpu_s=%.6f\n%s_runs_s=", c.name, median(c.times), c.name, median(c.cpu), c.name);
    for (double t : c.times) std::printf("%.4f ", t);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) usage();
    const std::string root = argv[1];
    int reps = 7;
    bool warmup = true;
    std::string only;
    long expectComponents = -1;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc)
            reps = std::atoi(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (a == "--no-warmup")
            warmup = false;
        else if (a == "--expect-components" && i + 1 < argc)
            expectComponents = std::atol(argv[++i]);
        else
            usage();
    }
    if (reps < 1 ||
        (!only.empty() && only != "scan" && only != "walker" && only != "walker_path" && only != "walker_at"))
        usage();
    const bool withScan = only.empty() || only == "scan";
    const bool withPath = only.empty() || only == "walker" || only == "walker_path";
    const bool withAt = only.empty() || only == "walker" || only == "walker_at";

    const FileURL url{root, true};
    // The heading flags also take the item's own architectures; a 64-bit Intel item is the common case.
    const std::vector<std::int32_t> arches{0x01000007};
    cwalk_counts counts{};
    Scan32BitResult result;
    auto walk = [&](cwalk_open how) {
        if (cwalk(root.c_str(), how, &counts) != 0) {
            std::fprintf(stderr, "scan-bench: cannot open %s\n", root.c_str());
            std::exit(1);
        }
    };

    std::vector<Contender> contenders;
    if (withPath) contenders.push_back({"walker_path", [&] { walk(CWALK_OPEN_PATH); }, {}, {}});
    if (withAt) contenders.push_back({"walker_at", [&] { walk(CWALK_OPEN_AT); }, {}, {}});
    if (withScan) contenders.push_back({"scan", [&] { result = scan32BitComponents(url, arches); }, {}, {}});

    if (warmup)
        for (auto& c : contenders) c.run();
    for (int r = 0; r < reps; ++r) {
        // Rotate the order so that none always runs right after the same other one.
        for (std::size_t j = 0; j < contenders.size(); ++j) {
            Contender& c = contenders[(j + static_cast<std::size_t>(r)) % contenders.size()];
            const double start = now(), cpuStart = cpuNow();
            c.run();
            c.times.push_back(now() - start);
            c.cpu.push_back(cpuNow() - cpuStart);
        }
    }

    if (withPath || withAt)
        std::printf("directories=%lu\nfiles=%lu\nthin32=%lu\n", counts.directories, counts.files, counts.thin32);
    for (const auto& c : contenders) printRuns(c);
    if (only.empty()) {
        const double scan = contenders[2].times.empty() ? 0 : median(contenders[2].times);
        const double path = median(contenders[0].times), at = median(contenders[1].times);
        std::printf("ratio_path=%.3f\nratio_at=%.3f\n", scan / path, scan / at);
        std::printf("cpu_ratio_at=%.3f\n", median(contenders[2].cpu) / median(contenders[1].cpu));
        std::printf("scan_files_per_s=%.0f\nwalker_path_files_per_s=%.0f\nwalker_at_files_per_s=%.0f\n",
                    counts.files / scan, counts.files / path, counts.files / at);
    }
    if (withScan) {
        std::printf("scan_started=%d\ncomponents=%zu\n", result.started ? 1 : 0, result.components.size());
        if (expectComponents >= 0 && static_cast<long>(result.components.size()) != expectComponents) {
            std::fprintf(stderr, "scan-bench: the scan listed %zu components, the tree holds %ld\n",
                         result.components.size(), expectComponents);
            return 3;
        }
    }
    return 0;
}
