// spctl and codesign for the application's tests: the same judgement and lines as the stand-ins,
// against the test chain's root instead of Apple's, and a note of every argument, byte for byte.
// usage: tessarin-test-verifier spctl|codesign ROOT.der RECORD [the tool's own arguments...]
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/print/AssessmentText.h"
#include "tools/print/CodeText.h"
#include "verify/Assessment.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const std::string role = argv[1];
    std::ifstream rootFile(argv[2], std::ios::binary);
    TrustAnchors anchors;
    anchors.rootsDer.emplace_back(std::istreambuf_iterator<char>(rootFile), std::istreambuf_iterator<char>());

    // One line per run: the role and each argument, each ended by a NUL.
    std::ofstream record(argv[3], std::ios::binary | std::ios::app);
    record << role << '\0';
    const std::vector<std::string> arguments(argv + 4, argv + argc);
    for (const std::string& argument : arguments) record << argument << '\0';
    record << '\n';
    record.close();

    const std::string& path = arguments.back();
    if (role == "spctl") {
        bool install = false;
        for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
            if (arguments[i] == "-t" && arguments[i + 1] == "install") install = true;
        const Assessment a = assessPath(path, install ? AssessmentType::Install : AssessmentType::Execute, anchors);
        std::cerr << assessmentText(path, a, 2);
        return a.accepted ? 0 : 3;
    }
    if (role == "codesign") {
        CodeVerifyOptions options;
        options.checkContents = false;
        const CodeVerdict v = verifyCode(path, options, anchors);
        if (!v.isSigned || v.failureKind != CodeFailure::None) {
            std::cerr << path << ": " << codeFailureSentence(v) << "\n";
            return 1;
        }
        std::cerr << codesignDisplayText(v, 3);
        return 0;
    }
    return 2;
}
