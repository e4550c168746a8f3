// One helper program run to its end under our bounds: a fixed argument vector (no shell), no
// input, its output kept within a limit, its own process group killed when it runs too long, when
// the caller asks, or when we die.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessarin {

struct ChildRunOptions {
    int timeLimitSeconds = 600;
    std::size_t outputLimit = 64 * 1024;  // the first this many bytes of stdout, the last of stderr
    std::uint64_t fileSizeLimit = 0;      // RLIMIT_FSIZE in the child; 0: none
    // Asked a few times a second while the child runs; false ends it as stopped.
    std::function<bool()> keepGoing;
    // The child's whole environment ("NAME=value"); empty: ours.
    std::vector<std::string> environment;
    // When set, the child may create, change or remove nothing outside this folder (Landlock,
    // where the kernel has it); it may still read anywhere.
    std::string writableOnlyBeneath;
};

struct ChildRun {
    std::string startError;  // why it could not be started (errno text); empty when it ran
    bool timedOut = false;
    bool stopped = false;  // keepGoing said no
    int exitStatus = -1;   // when it exited
    int signal = 0;        // when a signal ended it
    std::string out, err;
    bool errCut = false;    // stderr held more than the limit: only its end is kept
    bool confined = false;  // writableOnlyBeneath was enforced by the kernel

    bool started() const { return startError.empty(); }
    bool succeeded() const { return started() && !timedOut && !stopped && signal == 0 && exitStatus == 0; }
    // The last non-empty line of stderr, or of stdout when stderr is empty.
    std::string lastLine() const;
};

// Runs argv[0] (an absolute path) with argv; never throws, always reaps.
ChildRun runChild(const std::vector<std::string>& argv, const ChildRunOptions& options);

}  // namespace tessarin
