// The signature checks' background runs and the verdicts their completion applies.
#include "SignatureCheck.h"

#include <system_error>

#include <thread>
#include "base/DisplayText.h"
#include "container/PrivateFolder.h"
#include "contents/Contents.h"

namespace tessarin {

namespace {

ToolRun runInto(SignatureCheckState& state, std::string& text, const char* launchPath,
                const std::vector<std::string>& arguments, const char* prefix, const ToolSet& tools) {
    ToolRun run = runTool(launchPath, arguments, true, tools);
    if (run.status != 0) state.signaturesValid = false;
    text = toolReport(prefix, run);
    return run;
}

void assess(SignatureCheckState& state, const std::vector<std::string>& arguments, const ToolSet& tools,
            bool components = false) {
    if (components && tools.isStandIn(kSpctlPath)) {
        // Our spctl prints the tree on standard output, where Apple's prints nothing; the log shows
        // the assessment exactly as without it.
        std::vector<std::string> withTree = arguments;
        withTree.insert(withTree.begin(), "--components-json");
        // A container's contents are expanded in a folder the check owns, so that it is removed
        // whichever way the tool ends: done, failed, cancelled with the window, or crashed.
        std::optional<PrivateFolder> folder;
        if (containerKindOf(arguments.back()) != ContainerKind::None) {
            if (auto made = PrivateFolder::create("tessarin-", "/tmp")) {
                folder.emplace(std::move(*made));
                withTree.insert(withTree.begin() + 1, {"--expand-under", folder->path()});
            }
        }
        ToolRun run = runTool(kSpctlPath, withTree, true, tools);
        folder.reset();
        state.components = componentsFromRun(run, arguments.back(), "spctl");
        run.output.clear();
        if (run.status != 0) state.signaturesValid = false;
        state.assessmentText = toolReport(kSpctlErrorPrefix, run);
        state.assessmentSource = assessmentSourceOf(run.errors);
        return;
    }
    ToolRun run = runInto(state, state.assessmentText, kSpctlPath, arguments, kSpctlErrorPrefix, tools);
    state.assessmentSource = assessmentSourceOf(run.errors);
    if (components) {
        // Another spctl's verification cannot be shared, and a second pass would hash everything again.
        state.components.emplace();
        state.components->problem = "The component list of " + displayText(arguments.back()) +
                                    " cannot be made: the spctl that ran is not Tessarin's own.";
    }
}

// The assessment and the second tool (codesign -dvvv or pkgutil) run side by side: the second only
// reads what the first hashes, so on a second core it adds next to nothing to the check. Each writes
// its own state; validity is the conjunction of both, so the order they finish in does not matter.
void assessBeside(SignatureCheckState& state, const std::vector<std::string>& assessment, const char* launchPath,
                  const std::vector<std::string>& arguments, const char* prefix, const ToolSet& tools,
                  bool components) {
    SignatureCheckState second;
    std::thread beside;
    try {
        beside = std::thread([&] { runInto(second, second.signatureText, launchPath, arguments, prefix, tools); });
    } catch (const std::system_error&) {
        // No thread to be had: one after the other.
    }
    assess(state, assessment, tools, components);
    if (beside.joinable())
        beside.join();
    else
        runInto(second, second.signatureText, launchPath, arguments, prefix, tools);
    state.signatureText = std::move(second.signatureText);
    if (!second.signaturesValid) state.signaturesValid = false;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// spctl's arguments for an item: code is assessed for execution, packages and single files for
// installation (how a command-line tool's notarization is judged).
std::vector<std::string> assessmentArguments(const std::string& path, bool forExecution, bool online) {
    std::vector<std::string> arguments = {"-a", "-vv"};
    if (online) arguments.push_back("--online");
    if (!forExecution) arguments.insert(arguments.end(), {"-t", "install"});
    arguments.push_back(path);
    return arguments;
}

}  // namespace

SignatureCheckState runMachOSignatureCheck(const std::string& path, const ToolSet& tools, bool online,
                                           bool components) {
    SignatureCheckState state;
    assessBeside(state, assessmentArguments(path, false, online), kCodesignPath, {"-dvvv", path}, kCodesignErrorPrefix,
                 tools, components);
    return state;
}

SignatureCheckState runAppOrPackageSignatureCheck(const std::string& path, bool isApp, const ToolSet& tools,
                                                  bool online, bool components) {
    SignatureCheckState state;
    if (isApp)
        assessBeside(state, assessmentArguments(path, true, online), kCodesignPath, {"-dvvv", path},
                     kCodesignErrorPrefix, tools, components);
    else
        assessBeside(state, assessmentArguments(path, false, online), kPkgutilPath, {"--check-signature", path},
                     kPkgutilErrorPrefix, tools, components);
    return state;
}

SignatureCheckState runOnlineNotarizationLookup(const std::string& path, SignatureCheckKind kind,
                                                const ToolSet& tools) {
    SignatureCheckState state;
    assess(state, assessmentArguments(path, kind == SignatureCheckKind::App, true), tools);
    return state;
}

OnlineLookupVerdict onlineLookupVerdict(const SignatureCheckState& state) {
    OnlineLookupVerdict v;
    v.isNotarized = startsWith(state.assessmentSource, "Notarized");
    v.text = "\nOnline notarization lookup:\n" + state.assessmentText;
    return v;
}

SignatureVerdict signatureVerdict(const SignatureCheckState& state, SignatureCheckKind kind) {
    SignatureVerdict v;
    const std::string& source = state.assessmentSource;
    v.isNotarized = startsWith(source, "Notarized");
    v.isApple = startsWith(source, "Apple");
    v.isAppStore = startsWith(source, "Mac App");
    v.validSignatures = state.signaturesValid;
    const char* first = "\nMachO signature check:\n";
    const char* second = "\ncodesign check:\n";
    if (kind == SignatureCheckKind::App) {
        first = "\nApp signature check:\n";
    } else if (kind == SignatureCheckKind::Package) {
        first = "\nInstaller package signature info:\n";
        second = "\npkgutil signature check:\n";
    }
    v.firstPiece = first + state.assessmentText;
    v.secondPiece = second + state.signatureText + "\n";
    return v;
}

std::string assessmentSourceOf(const std::string& spctlErrors) {
    // The first line names the item; the verdict's own lines follow it.
    std::size_t start = spctlErrors.find('\n');
    while (start != std::string::npos && start + 1 < spctlErrors.size()) {
        ++start;
        std::size_t end = spctlErrors.find('\n', start);
        const std::string line = spctlErrors.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (startsWith(line, "source=")) return line.substr(7);
        start = end;
    }
    return "";
}

}  // namespace tessarin
