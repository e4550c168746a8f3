// The signature checks' background runs and the verdicts their completion applies.
#include "SignatureCheck.h"

namespace tessarin {

namespace {

void runInto(SignatureCheckState& state, std::string& text, const char* launchPath,
             const std::vector<std::string>& arguments, const char* prefix, const ToolSet& tools) {
    ToolRun run = runTool(launchPath, arguments, true, tools);
    if (run.status != 0) state.signaturesValid = false;
    text = toolReport(prefix, run, arguments.back());  // the item is always the last argument
}

}  // namespace

SignatureCheckState runMachOSignatureCheck(const std::string& path, const ToolSet& tools) {
    SignatureCheckState state;
    runInto(state, state.assessmentText, kSpctlPath, {"-a", "-vv", "-t", "install", path}, kSpctlErrorPrefix, tools);
    runInto(state, state.signatureText, kCodesignPath, {"-dvvv", path}, kCodesignErrorPrefix, tools);
    return state;
}

SignatureCheckState runAppOrPackageSignatureCheck(const std::string& path, bool isApp, const ToolSet& tools) {
    SignatureCheckState state;
    if (isApp) {
        runInto(state, state.assessmentText, kSpctlPath, {"-a", "-vv", path}, kSpctlErrorPrefix, tools);
        runInto(state, state.signatureText, kCodesignPath, {"-dvvv", path}, kCodesignErrorPrefix, tools);
    } else {
        runInto(state, state.assessmentText, kSpctlPath, {"-a", "-vv", "-t", "install", path}, kSpctlErrorPrefix,
                tools);
        runInto(state, state.signatureText, kPkgutilPath, {"--check-signature", path}, kPkgutilErrorPrefix, tools);
    }
    return state;
}

SignatureVerdict signatureVerdict(const SignatureCheckState& state, SignatureCheckKind kind) {
    SignatureVerdict v;
    const std::string& a = state.assessmentText;
    v.isNotarized = a.find("source=Notarized") != std::string::npos;
    v.isApple = a.find("source=Apple") != std::string::npos;
    v.isAppStore = a.find("source=Mac App") != std::string::npos;
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

}  // namespace tessarin
