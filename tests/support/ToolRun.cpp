// Runs a program with its output captured in files of a scratch folder, so that output of any size
// is read whole without pipes that could fill up.
#include "ToolRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "TempDir.h"

namespace tessarin::test {

ToolRun runProgram(const std::string& program, const std::vector<std::string>& args) {
    TempDir scratch;
    const std::string outPath = scratch / "out", errPath = scratch / "err";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ToolRun r;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

ToolRun runStandin(const std::string& tool, const std::vector<std::string>& args) {
    return runProgram(standinDirectory() + "/" + tool, args);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

namespace {
// Whether the process is alive; a zombie has ended, only its parent has yet to reap it.
bool processRunning(long pid) {
    std::string line;
    if (!std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), line)) return false;
    const auto close = line.rfind(')');
    return close == std::string::npos || line.compare(close, 3, ") Z") != 0;
}

}  // namespace

bool endsSoon(long pid) {
    for (int i = 0; i < 500 && processRunning(pid); ++i) ::usleep(10000);
    return !processRunning(pid);
}

}  // namespace tessarin::test
