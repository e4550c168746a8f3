// The report: header, quarantine and signature lines, architecture lines, then the whole log.
#include "SaveReport.h"

#include "CpuTypeCodes.h"

namespace tessarin {

namespace {

const char* bundleArchitectureLine(std::int32_t code) {
    switch (code) {
    case kCpuType32BitIntel: return "Has 32-bit Intel code.";
    case kCpuType32BitPowerPC: return "Has 32-bit PowerPC code.";
    case kCpuType64BitIntel: return "Has 64-bit Intel code.";
    case kCpuTypeArm64: return "Has Apple Silicon code.";
    case kCpuType64BitPowerPC: return "Has 64-bit PowerPC code.";
    default: return "Has code for an unknown architecture.";
    }
}

}  // namespace

std::string buildSaveString(const SaveReportInputs& in) {
    std::string s = "Details for " + in.title;
    if (!in.bundleVer.empty()) s += " version " + in.bundleVer;
    s += "\n";
    if (in.dateText) s += "on " + *in.dateText + "\n";

    auto line = [&s](const char* text) {
        s += text;
        s += "\n";
    };
    line(in.inQuarantine == 0 ? "\u26A0\uFE0F When checked, the quarantine flag was SET."
                              : "\u2705 When checked, the quarantine flag was NOT set.");
    line(in.validSignatures == 1 ? "\u2705 Signatures were found to be valid."
                                 : "\u26A0\uFE0F No signature was found, or the signature was NOT valid.");
    if (in.isNotarized == 1) line("\u2705 It has been notarized.");
    if (in.isAppStore == 1) line("\u2705 It was supplied through App Store and doesn't require notarization.");
    if (in.isApple == 1) line("\u2705 It is supplied by Apple and doesn't require notarization.");

    if (in.isFolder) {
        for (std::int32_t code : in.theArches) line(bundleArchitectureLine(code));
    } else {
        if (in.is32Bit) line("Has 32-bit Intel code.");
        if (in.is64Bit) line("Has 64-bit Intel code.");
        if (in.isARM) line("Has ARM-64 code.");
    }
    s += in.logText;
    return s;
}

std::string defaultReportName(const std::string& title) {
    return (title.empty() ? std::string("Untitled") : title) + "-Tessarin.text";
}

}  // namespace tessarin
