// Runs a command-line tool without a shell and collects its status and both output streams.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessarin {

struct ToolRun {
    std::int32_t status = 0;   // termination status: 0 is success
    std::string output;        // bytes written to standard output
    std::string errors;        // bytes written to standard error (empty when not captured)
};

// Where each fixed launch path really starts. The platform's tool is used where it exists;
// elsewhere our stand-in of the same name from libexec/tessarin/ beside the program's bin/.
// Tests hand the runner other tools through `overrides`; the app never does.
class ToolSet {
public:
    static const ToolSet& platform();
    ToolSet() = default;
    void override(const std::string& launchPath, const std::string& executable) {
        overrides_[launchPath] = executable;
    }
    std::string resolve(const std::string& launchPath) const;

private:
    std::map<std::string, std::string> overrides_;
};

inline constexpr const char* kSpctlPath = "/usr/sbin/spctl";
inline constexpr const char* kCodesignPath = "/usr/bin/codesign";
inline constexpr const char* kPkgutilPath = "/usr/sbin/pkgutil";
inline constexpr const char* kLipoPath = "/usr/bin/lipo";

// Blocks until the tool has exited. Both pipes are drained together, so a tool that fills one
// while the other is read cannot stall. A tool that cannot be started gives a nonzero status
// and an error text naming the tool and the reason.
ToolRun runTool(const std::string& launchPath, const std::vector<std::string>& arguments,
                bool captureErrors, const ToolSet& tools = ToolSet::platform());

// Bytes as UTF-8 text, with U+FFFD in place of every ill-formed sequence.
std::string decodeUtf8(const std::string& bytes);

// The text a signature check keeps of one run.
std::string toolReport(const std::string& errorPrefix, const ToolRun& run);

inline constexpr const char* kSpctlErrorPrefix = "\u26D4\uFE0F spctl error ";
inline constexpr const char* kCodesignErrorPrefix = "\u26D4\uFE0F codesign error ";
inline constexpr const char* kPkgutilErrorPrefix = "\u26D4\uFE0F pkgutil error ";

}  // namespace tessarin
