// The two signature checks as plain work: the background runs, and the verdicts their completion shows.
#pragma once

#include <optional>
#include <string>

#include "ComponentsCheck.h"
#include "ToolRunner.h"

namespace tessarin {

struct SignatureCheckState {
    std::string assessmentText;
    // The value of spctl's own "source=" line: the first line after the verdict line that starts with
    // it. The tool escapes everything it echoes from the item, so only its own lines start there;
    // searching the whole text would let a path or a certificate name decide the verdict.
    std::string assessmentSource;
    std::string signatureText;
    bool signaturesValid = true;
    // Asked for with `components`: the item's tree, from the assessment's own verification (so
    // nothing is hashed twice); a problem when the spctl that ran is not our stand-in.
    std::optional<ComponentsResult> components;
};

// The background operation of the single Mach-O check: spctl -t install, then codesign -dvvv.
// `online`: spctl also asks Apple's ticket service (--online); `components`: the item's tree too.
SignatureCheckState runMachOSignatureCheck(const std::string& path, const ToolSet& tools, bool online = false,
                                           bool components = false);
// The background operation of the app (spctl, codesign) or package (spctl -t install, pkgutil) check.
SignatureCheckState runAppOrPackageSignatureCheck(const std::string& path, bool isApp, const ToolSet& tools,
                                                  bool online = false, bool components = false);

enum class SignatureCheckKind { MachO, App, Package };

// The background operation of "Look Up Notarization Online": spctl --online, assessing the item as
// its signature check did. Only assessmentText and assessmentSource are set.
SignatureCheckState runOnlineNotarizationLookup(const std::string& path, SignatureCheckKind kind, const ToolSet& tools);
// The log text of a lookup, and whether it ticks Notarized: only spctl's own source line can.
struct OnlineLookupVerdict {
    bool isNotarized = false;
    std::string text;  // heading + assessment text
};
OnlineLookupVerdict onlineLookupVerdict(const SignatureCheckState& state);

// What the completion applies to the window, in the order it applies it.
struct SignatureVerdict {
    bool isNotarized = false;
    bool isApple = false;
    bool isAppStore = false;
    bool validSignatures = false;
    std::string firstPiece;   // heading + assessment text
    std::string secondPiece;  // heading + signature text + "\n"
};

SignatureVerdict signatureVerdict(const SignatureCheckState& state, SignatureCheckKind kind);

// The source spctl named in what it wrote on standard error (see assessmentSource); empty when none.
std::string assessmentSourceOf(const std::string& spctlErrors);

}  // namespace tessarin
