// The runner against small scripts: statuses, separate streams, large outputs, tools that cannot start.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "TempDir.h"
#include "ToolRun.h"

using namespace tessarin;
using tessarin::test::endsSoon;
using tessarin::test::TempDir;
using tessarin::test::writeScript;

namespace {

ToolSet toolsWith(const std::string& launchPath, const std::string& script) {
    ToolSet tools;
    tools.override(launchPath, script);
    return tools;
}

std::vector<pid_t> pidsIn(const std::string& file) {
    std::vector<pid_t> pids;
    std::ifstream in(file);
    for (pid_t pid; in >> pid;) pids.push_back(pid);
    return pids;
}

}  // namespace

// Statuses as signed numbers (a tool killed by a signal is never a success), the two streams kept
// apart (standard error only when asked for), and arguments passed unchanged without a shell.
TEST(ToolRunner, StatusesStreamsAndArgumentsComeBackAsTheToolGaveThem) {
    TempDir dir;
    struct Row {
        std::string script;
        bool captureErrors;
        std::vector<std::string> args;
        int status;
        std::string output, errors;
    };
    const Row rows[] = {
        {"exit 0", true, {}, 0, "", ""},
        {"exit 1", true, {}, 1, "", ""},
        {"exit 3", true, {}, 3, "", ""},
        {"exit 255", true, {}, 255, "", ""},
        {"kill -9 $$", true, {}, 128 + 9, "", ""},
        {"printf A; printf B >&2", true, {}, 0, "A", "B"},
        {"printf out; printf err >&2", false, {}, 0, "out", ""},
        {"for a in \"$@\"; do printf '[%s]' \"$a\"; done",
         false,
         {"-archs", "/path with blanks/it's \"q\" $HOME;*"},
         0,
         "[-archs][/path with blanks/it's \"q\" $HOME;*]",
         ""},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        auto script = writeScript(dir / ("tool" + std::to_string(n++)), row.script);
        ToolRun run = runTool("/usr/bin/codesign", row.args, row.captureErrors, toolsWith("/usr/bin/codesign", script));
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.output, row.output);
        EXPECT_EQ(run.errors, row.errors);
    }
}

TEST(ToolRunner, DrainsTenMegabytesOnEachPipeAtOnce) {
    TempDir dir;
    // Interleaved writes: a runner that reads one pipe to its end first would stall here.
    auto script = writeScript(dir / "big",
                              "i=0; while [ $i -lt 10 ]; do head -c 1048576 /dev/zero; "
                              "head -c 1048576 /dev/zero >&2; i=$((i+1)); done");
    ToolRun run = runTool("/usr/sbin/pkgutil", {}, true, toolsWith("/usr/sbin/pkgutil", script));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.size(), 10u * 1048576u);
    EXPECT_EQ(run.errors.size(), 10u * 1048576u);
}

// Also when standard error is not asked for: a tool that never ran has nothing else to say.
TEST(ToolRunner, AToolThatCannotStartGivesStatus127AndASentence) {
    TempDir dir;
    tessarin::test::writeFile(dir / "plain", "not a program");
    ::chmod((dir / "plain").c_str(), 0644);
    for (const auto& [tool, reason] : {std::pair{dir / "nothing-here", "No such file or directory"},
                                       std::pair{dir / "plain", "Permission denied"}}) {
        const ToolRun run = runTool("/usr/sbin/spctl", {}, false, toolsWith("/usr/sbin/spctl", tool));
        EXPECT_EQ(run.status, 127);
        EXPECT_EQ(run.errors, "The tool /usr/sbin/spctl (" + tool + ") could not be started: " + reason + ".");
    }
}

TEST(ToolRunner, LeavesNoDescriptorsOrChildrenBehind) {
    TempDir dir;
    auto countFds = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    };
    auto script = writeScript(dir / "quick", "printf x; printf y >&2");
    ToolSet tools = toolsWith("/usr/bin/codesign", script);
    tools.override("/usr/sbin/spctl", dir / "missing");
    const std::size_t before = countFds();
    for (int i = 0; i < 20; ++i) {
        runTool("/usr/bin/codesign", {}, i % 2 == 0, tools);
        runTool("/usr/sbin/spctl", {}, true, tools);
    }
    EXPECT_EQ(countFds(), before);
    // Every child has been reaped: nothing is left to wait for.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ToolRunner, CancellationKillsTheToolWithWhatItStartedAndRefusesLaterRuns) {
    TempDir dir;
    const std::string pids = dir / "pids";
    // The background sleep keeps the pipes open after its parent dies: only killing the whole
    // group (or giving up on the pipes) lets the run return.
    auto script = writeScript(dir / "slow", "sleep 300 & echo $! >>'" + pids + "'; echo $$ >>'" + pids + "'; wait");
    // Cancelled itself, or through the cancellation it was made from (a window's, when the program quits).
    for (bool throughParent : {false, true}) {
        SCOPED_TRACE(throughParent ? "through its parent" : "itself");
        ::unlink(pids.c_str());
        ToolSet tools = toolsWith("/usr/sbin/spctl", script);
        auto parent = std::make_shared<ToolCancellation>();
        tools.setCancellation(throughParent ? parent->makeChild() : parent);

        ToolRun run;
        std::thread runner([&] { run = runTool("/usr/sbin/spctl", {}, true, tools); });
        while (pidsIn(pids).size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        parent->cancel();
        runner.join();

        EXPECT_EQ(run.status, 128 + SIGKILL);
        for (pid_t pid : pidsIn(pids)) EXPECT_TRUE(endsSoon(pid)) << pid;
        ToolRun later = runTool("/usr/sbin/spctl", {}, true, tools);
        EXPECT_NE(later.status, 0);
        EXPECT_NE(later.errors.find("cancelled"), std::string::npos);
        EXPECT_EQ(pidsIn(pids).size(), 2u);  // the later run started nothing
        errno = 0;
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
    // A window's cancellation ends its own runs only.
    auto program = std::make_shared<ToolCancellation>();
    program->makeChild()->cancel();
    EXPECT_FALSE(program->cancelled());
    program->cancel();
    EXPECT_TRUE(program->makeChild()->cancelled());
}

TEST(ToolRunner, FallsBackToTheStandInBesideTheProgram) {
    ToolSet none;
    std::string resolved = none.resolve("/usr/bin/no-such-tessarin-tool");
    EXPECT_EQ(resolved, tessarin::test::standinDirectory() + "/no-such-tessarin-tool");
    EXPECT_EQ(none.resolve("/bin/sh"), "/bin/sh");
}

TEST(ToolReport, SuccessJoinsTheStreamsAndFailureShowsStatusThenEachNonEmptyStreamOnItsOwnLine) {
    const std::tuple<const char*, ToolRun, std::string> cases[] = {
        {kCodesignErrorPrefix, {0, "A", "B"}, "AB"},
        {kSpctlErrorPrefix, {1, "", ""}, "\u26D4\uFE0F spctl error 1\n"},
        {kSpctlErrorPrefix, {3, "", "PATH: rejected"}, "\u26D4\uFE0F spctl error 3\nPATH: rejected\n"},
        {kPkgutilErrorPrefix, {-2, "out", "err"}, "\u26D4\uFE0F pkgutil error -2\nout\nerr\n"},
        // Bytes that are not UTF-8 are escaped, not replaced.
        {kSpctlErrorPrefix,
         {0, "/a/evil\xFF.app: accepted\n", "source=Developer ID\n"},
         "/a/evil\\xFF.app: accepted\nsource=Developer ID\n"},
        {kSpctlErrorPrefix,
         {3, "", "/a/evil\xFF.app: rejected"},
         "\u26D4\uFE0F spctl error 3\n/a/evil\\xFF.app: rejected\n"},
    };
    for (const auto& [prefix, run, report] : cases) EXPECT_EQ(toolReport(prefix, run), report) << run.status;
}
