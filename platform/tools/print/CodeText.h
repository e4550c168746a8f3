// What the codesign stand-in prints, as pure functions of a verification's result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "verify/CodeVerdict.h"

namespace tessarin {

// The sentence that follows "PATH: " when the code fails ("code object is not signed at all").
std::string codeFailureSentence(const CodeVerdict& verdict);
// "file added: /abs/path", "file modified: ...", "file missing: ...", then a failing nested item's lines
// and "In subcomponent: ...".
std::vector<std::string> resourceProblemLines(const CodeVerdict& verdict);
// Display names of CodeDirectory flags: "adhoc,runtime" ("none" when no flag is set).
std::string codeDirectoryFlagNames(std::uint32_t flags);
// "sha1", "sha256", "sha256-truncated", "sha384"; "unknown" otherwise.
std::string hashTypeName(std::uint8_t hashType);

// The lines of `codesign -d` at a verbosity (the number of v's), for signed code that described cleanly.
std::string codesignDisplayText(const CodeVerdict& verdict, int verbosity);
// What `codesign --verify` writes for the path: the failure and its lines; for intact code that does
// not satisfy its designated requirement that sentence (after "valid on disk" at verbosity 1 and
// more); else at verbosity 1 and more the two lines of success.
std::string codesignVerifyText(const std::string& path, const CodeVerdict& verdict, int verbosity);
// The exit status of `codesign --verify`: 0 when intact and satisfying its designated requirement, 3
// when only the requirement fails, 1 otherwise.
int codesignVerifyStatus(const CodeVerdict& verdict);
// What `codesign -d -r-` writes: the signature's requirement set, one "type => requirement" line
// each, then "# designated => ..." for the requirement codesign derives when the set has none.
std::string codesignRequirementsText(const CodeVerdict& verdict);

}  // namespace tessarin
