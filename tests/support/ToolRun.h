// Runs a program the way the app runs the stand-in tools, for tests that check their output:
// standard output and error captured whole, standard input closed to /dev/null.
#pragma once

#include <string>
#include <vector>

namespace tessarin::test {

struct ToolRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs program (a path) with args, without a shell; a program that cannot be started exits 127.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args);
// Runs the build's stand-in tool of that name (lipo, codesign, spctl, pkgutil).
ToolRun runStandin(const std::string& tool, const std::vector<std::string>& args);

// The text split at newlines, without them.
std::vector<std::string> lines(const std::string& text);

// Waits up to five seconds for the process to end: SIGKILL is delivered at once, but a process is
// only gone once the kernel has torn it down.
bool endsSoon(long pid);

}  // namespace tessarin::test
