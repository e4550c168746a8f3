// One code item and the code nested in it, as the component tree shows them: what it is, how it is
// signed, and everything found wrong with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "verify/CodeVerdict.h"
#include "verify/Problem.h"

namespace tessarin {

enum class CodeItemKind { MachO, App, Framework, PlugIn, OtherBundle, CodelessBundle, NotCode };
enum class SignatureKind { Unsigned, AdHoc, LinkerSigned, Certificate };

struct CodeItem {
    CodeItemKind kind = CodeItemKind::NotCode;
    std::string path;
    std::vector<std::string> slices;  // architecture names, in file order
    std::string identifier;
    std::string teamId;
    std::uint32_t flags = 0;  // the primary CodeDirectory's CS_* flags
    SignatureKind signature = SignatureKind::Unsigned;
    std::vector<CodeItem> children;  // nested code that was verified on its own
    std::vector<Problem> problems;   // every problem, the first one speaking for the item
};

// The item a verification describes, with the nested code it verified.
CodeItem codeItemOf(const CodeVerdict& verdict);

}  // namespace tessarin
