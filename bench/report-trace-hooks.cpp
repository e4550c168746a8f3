// Timestamps for the headless report's timeline, linked only into the bench build `tessarin-traced`
// (the application's own objects, with `-Wl,--wrap` on the functions below). Each event is one
// line "NANOSECONDS EVENT THREAD [DETAIL]" (CLOCK_MONOTONIC, comparable across processes) written to
// descriptor 9 when the caller opened it; without it the program runs as the real one does.
#include <fcntl.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <QString>

#include "Scan32Bit.h"
#include "ToolRunner.h"

namespace tessarin {
class ViewController;
}

namespace {

constexpr int kTraceFd = 9;
bool tracing = false;  // set before anything else runs, by started()

void mark(const char* event, const std::string& detail = {}) {
    if (!tracing) return;
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    char line[512];
    int n = std::snprintf(line, sizeof line, "%lld %s %ld %s\n",
                          static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec, event,
                          static_cast<long>(::gettid()), detail.c_str());
    if (n > 0) (void)!::write(kTraceFd, line, static_cast<std::size_t>(std::min<int>(n, sizeof line - 1)));
}

// Before main and before the executable's other static objects: what lies before it is exec,
// dynamic loading and the libraries' own initialisation.
__attribute__((constructor(101))) void started() {
    const int flags = ::fcntl(kTraceFd, F_GETFL);
    tracing = flags != -1;
    // Appends are whole: two threads marking at once cannot overwrite each other's line.
    if (tracing) ::fcntl(kTraceFd, F_SETFL, flags | O_APPEND);
    mark("start");
}

}  // namespace

using tessarin::FileURL;
using tessarin::Scan32BitResult;
using tessarin::ToolRun;
using tessarin::ToolSet;
using Strings = std::vector<std::string>;

// The linker sends every call of the wrapped symbol to __wrap_X; __real_X is the original. The
// names are the Itanium manglings of the functions in the headers included above.
extern "C" {

int __real_main(int argc, char** argv);
int __wrap_main(int argc, char** argv) {
    mark("main_begin");
    int status = __real_main(argc, argv);
    mark("main_end");
    return status;
}

Scan32BitResult __real__ZN8tessarin19scan32BitComponentsERKNS_7FileURLERKSt6vectorIiSaIiEE(
    const FileURL& url, const std::vector<std::int32_t>& arches);
Scan32BitResult __wrap__ZN8tessarin19scan32BitComponentsERKNS_7FileURLERKSt6vectorIiSaIiEE(
    const FileURL& url, const std::vector<std::int32_t>& arches) {
    mark("scan_begin");
    Scan32BitResult r = __real__ZN8tessarin19scan32BitComponentsERKNS_7FileURLERKSt6vectorIiSaIiEE(url, arches);
    mark("scan_end");
    return r;
}

ToolRun
__real__ZN8tessarin7runToolERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKSt6vectorIS5_SaIS5_EEbRKNS_7ToolSetE(
    const std::string& launchPath, const Strings& arguments, bool captureErrors, const ToolSet& tools);
ToolRun
__wrap__ZN8tessarin7runToolERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKSt6vectorIS5_SaIS5_EEbRKNS_7ToolSetE(
    const std::string& launchPath, const Strings& arguments, bool captureErrors, const ToolSet& tools) {
    const std::string name =
        launchPath.substr(launchPath.rfind('/') + 1) + (arguments.empty() ? "" : "_" + arguments[0]);
    mark("tool_begin", name);
    ToolRun r =
        __real__ZN8tessarin7runToolERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKSt6vectorIS5_SaIS5_EEbRKNS_7ToolSetE(
            launchPath, arguments, captureErrors, tools);
    mark("tool_end", name);
    return r;
}

int __real_posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
int __wrap_posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    mark("spawn_begin");
    int rc = __real_posix_spawn(pid, path, actions, attributes, argv, envp);
    mark("spawn_end");
    return rc;
}

// A const member function: `this` comes first, as an argument would.
QString __real__ZNK8tessarin14ViewController13composeReportEv(const tessarin::ViewController* self);
QString __wrap__ZNK8tessarin14ViewController13composeReportEv(const tessarin::ViewController* self) {
    mark("compose_begin");
    QString report = __real__ZNK8tessarin14ViewController13composeReportEv(self);
    mark("compose_end");
    return report;
}

}  // extern "C"
