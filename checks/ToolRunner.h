// Runs a command-line tool without a shell and collects its status and both output streams.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tessarin {

struct ToolRun {
    std::int32_t status = 0;  // termination status: 0 is success
    std::string output;       // bytes written to standard output
    std::string errors;       // bytes written to standard error (empty when not captured)
};

// Ends tool runs on request, from any thread: cancel() kills the process group of every run in
// progress and makes every later run end before it starts. The runs of one batch share one
// through their ToolSet; a run without one cannot be cancelled.
class ToolCancellation {
public:
    ToolCancellation();
    ~ToolCancellation();
    ToolCancellation(const ToolCancellation&) = delete;
    ToolCancellation& operator=(const ToolCancellation&) = delete;

    void cancel();
    bool cancelled() const { return cancelled_.load(); }
    // A cancellation of its own for a part of the batch (one window's runs), which this one's
    // cancel() also ends.
    std::shared_ptr<ToolCancellation> makeChild();

    // The runner's side. A started tool is tracked from its launch until it has exited (not yet
    // reaped, so that its process group cannot have been reused when cancel() kills it); track()
    // kills the group at once and returns false when cancel() came first.
    bool track(pid_t processGroup);
    void untrack(pid_t processGroup);
    // Readable from the moment of cancel(), so that a runner waiting on pipes wakes up.
    int wakeDescriptor() const { return wake_[0]; }

private:
    std::mutex mutex_;
    std::atomic<bool> cancelled_{false};
    std::set<pid_t> running_;
    std::vector<std::weak_ptr<ToolCancellation>> children_;
    int wake_[2] = {-1, -1};
};

// Where each fixed launch path really starts. The platform's tool is used where it exists;
// elsewhere our stand-in of the same name from libexec/tessarin/ beside the program's bin/.
// Tests hand the runner other tools through `overrides`; the app never does.
class ToolSet {
public:
    static const ToolSet& platform();
    ToolSet() = default;
    // `standIn`: the executable speaks our stand-in's own options beside Apple's.
    void override(const std::string& launchPath, const std::string& executable, bool standIn = false) {
        overrides_[launchPath] = {executable, standIn};
    }
    std::string resolve(const std::string& launchPath) const;
    // Whether `launchPath` starts our stand-in rather than the platform's tool (or a test's fake).
    bool isStandIn(const std::string& launchPath) const;

    // Runs through this set may be ended by `cancellation`; each tool then gets a process group
    // of its own, so that what it starts ends with it.
    void setCancellation(std::shared_ptr<ToolCancellation> cancellation) { cancellation_ = std::move(cancellation); }
    const std::shared_ptr<ToolCancellation>& cancellation() const { return cancellation_; }

private:
    struct Override {
        std::string executable;
        bool standIn = false;
    };
    std::map<std::string, Override> overrides_;
    std::shared_ptr<ToolCancellation> cancellation_;
};

inline constexpr const char* kSpctlPath = "/usr/sbin/spctl";
inline constexpr const char* kCodesignPath = "/usr/bin/codesign";
inline constexpr const char* kPkgutilPath = "/usr/sbin/pkgutil";
inline constexpr const char* kLipoPath = "/usr/bin/lipo";

// Blocks until the tool has exited. Both pipes are drained together, so a tool that fills one
// while the other is read cannot stall. A tool that cannot be started gives a nonzero status
// and an error text naming the tool and the reason; so does a run cancelled before its start. A
// cancelled run returns as soon as its tool has been killed and reaped, with status 128 + SIGKILL.
ToolRun runTool(const std::string& launchPath, const std::vector<std::string>& arguments, bool captureErrors,
                const ToolSet& tools = ToolSet::platform());

// The text a signature check keeps of one run; bytes that are not UTF-8 show escaped (DisplayText.h).
std::string toolReport(const std::string& errorPrefix, const ToolRun& run);

inline constexpr const char* kSpctlErrorPrefix = "\u26D4\uFE0F spctl error ";
inline constexpr const char* kCodesignErrorPrefix = "\u26D4\uFE0F codesign error ";
inline constexpr const char* kPkgutilErrorPrefix = "\u26D4\uFE0F pkgutil error ";

}  // namespace tessarin
