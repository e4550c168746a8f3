// Times whole processes: runs each given command many times, interleaved round by round with the
// others, and prints per command the median wall time and child CPU time of a round.
//
//   spawn-bench [--rounds R] [--per-round N] [--files LIST] --cmd LABEL[:STATUS] PROG ARG... [--cmd ...]
//
// "{}" in a command's arguments stands for the next file of LIST (one path a line), cycling. A run
// fails when it exits other than with STATUS (default 0).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchClock.h"

extern char** environ;

using tessarin::bench::median;
using tessarin::bench::now;

namespace {

struct Command {
    std::string label;
    std::vector<std::string> argv;
    std::vector<double> wall;  // per round
    std::vector<double> cpu;   // per round: user + system time of the children
    int expected = 0;          // exit status of a good run
    int failures = 0;
    int lastStatus = 0;
};

[[noreturn]] void usage() {
    std::fprintf(
        stderr,
        "usage: spawn-bench [--rounds R] [--per-round N] [--files LIST] --cmd LABEL[:STATUS] PROG ARG... ...\n");
    std::exit(2);
}

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// Runs one process with its output thrown away; returns its wait status, adds its CPU time.
int runOnce(const std::vector<std::string>& args, double& cpu) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return -1;
    }
    cpu += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5, perRound = 1;
    std::vector<std::string> files;
    std::vector<Command> commands;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!commands.empty() && a != "--cmd") {
            commands.back().argv.push_back(a);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--per-round" && i + 1 < argc) {
            perRound = std::atoi(argv[++i]);
        } else if (a == "--files" && i + 1 < argc) {
            std::ifstream in(argv[++i]);
            for (std::string line; std::getline(in, line);)
                if (!line.empty()) files.push_back(line);
            if (files.empty()) {
                std::fprintf(stderr, "spawn-bench: no files in %s\n", argv[i]);
                return 2;
            }
        } else if (a == "--cmd" && i + 1 < argc) {
            std::string label = argv[++i];
            int expected = 0;
            if (auto colon = label.find(':'); colon != std::string::npos) {
                expected = std::atoi(label.c_str() + colon + 1);
                label.resize(colon);
            }
            commands.push_back({label, {}, {}, {}, expected, 0, 0});
        } else {
            usage();
        }
    }
    if (commands.empty() || rounds < 1 || perRound < 1) usage();
    for (const auto& c : commands)
        if (c.argv.empty()) usage();

    auto argsFor = [&](const Command& c, std::size_t k) {
        std::vector<std::string> args = c.argv;
        for (auto& a : args)
            if (a == "{}" && !files.empty()) a = files[k % files.size()];
        return args;
    };

    // One untimed pass: page cache and dynamic loader caches warm for every command.
    for (auto& c : commands) {
        double cpu = 0;
        for (std::size_t k = 0; k < std::max<std::size_t>(1, files.size()); ++k) runOnce(argsFor(c, k), cpu);
    }

    for (int r = 0; r < rounds; ++r) {
        for (std::size_t j = 0; j < commands.size(); ++j) {
            // Rotate the order so that no command always runs right after the same other one.
            Command& c = commands[(j + r) % commands.size()];
            double cpu = 0;
            double start = now();
            for (int k = 0; k < perRound; ++k) {
                int status = runOnce(argsFor(c, static_cast<std::size_t>(k)), cpu);
                if (!WIFEXITED(status) || WEXITSTATUS(status) != c.expected) {
                    ++c.failures;
                    c.lastStatus = status;
                }
            }
            c.wall.push_back(now() - start);
            c.cpu.push_back(cpu);
        }
    }

    for (const auto& c : commands) {
        std::printf("%s.wall_s=%.6f\n", c.label.c_str(), median(c.wall));
        std::printf("%s.cpu_s=%.6f\n", c.label.c_str(), median(c.cpu));
        std::printf("%s.per_run_ms=%.4f\n", c.label.c_str(), median(c.wall) / perRound * 1000);
        std::printf("%s.failures=%d\n", c.label.c_str(), c.failures);
        if (c.failures) {
            int s = c.lastStatus;
            std::printf("%s.last_status=%s%d\n", c.label.c_str(), WIFSIGNALED(s) ? "signal " : "",
                        WIFSIGNALED(s) ? WTERMSIG(s)
                        : WIFEXITED(s) ? WEXITSTATUS(s)
                                       : s);
        }
        std::printf("%s.rounds_s=", c.label.c_str());
        for (double t : c.wall) std::printf("%.4f ", t);
        std::printf("\n");
    }
    return 0;
}
