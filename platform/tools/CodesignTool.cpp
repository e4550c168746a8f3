// The codesign stand-in: displays (-d) and verifies (-v, --verify) embedded code signatures, writing
// the real tool's lines on standard error; lists an item's components (--components) for callers
// that keep hostile binaries out of their own process.
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/FileRead.h"
#include "codesign/RequirementParser.h"
#include "tools/print/CodeText.h"
#include "tools/print/ComponentText.h"
#include "tools/print/Printable.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;

namespace {

struct Arguments {
    bool display = false;
    bool verify = false;
    bool components = false;      // --components: the component tree as text
    bool componentsJson = false;  // --components-json: the same as JSON
    int verbosity = 0;
    bool deep = false;
    bool strict = false;
    std::string architecture;
    std::optional<std::string> entitlements;     // "-" or ":-": standard output
    std::optional<std::string> requirements;     // "-": standard output
    std::optional<std::string> testRequirement;  // "=text", else a file holding text or a compiled requirement
    std::vector<std::string> paths;
};

// The whole usage, for --help and after a mistake: what this stand-in implements of the real options.
const char* usageText() {
    return "Usage: codesign -d [-v...] [--arch NAME] [--entitlements -] [-r-] path ...\n"
           "       codesign -v [--deep] [--strict] [--verbose[=N]] [--arch NAME] [-R REQ] path ...\n"
           "       codesign --components[-json] path ...\n"
           "       codesign --help\n"
           "  -d, --display           describe the signature, on standard error; more -v, more lines\n"
           "  -v, --verify            verify the signature (a lone -v); further -v add verbosity\n"
           "  --verbose[=N]           more detail (repeatable), or level N\n"
           "  --deep, --deep-verify   with -v: verify nested code as well\n"
           "  --strict[=LIST], --no-strict\n"
           "                          with -v: check strictly (any LIST means all checks), or not\n"
           "  -a, --arch, --architecture NAME\n"
           "                          judge only this architecture of a universal file\n"
           "  --entitlements PATH     with -d: write the entitlements to PATH; - or :- is standard output\n"
           "  -R REQ, -R=TEXT, --test-requirement REQ\n"
           "                          with -v: the code must also satisfy REQ (=TEXT: requirement text; else a\n"
           "                          file holding text or a compiled requirement); exit 3 when it does not\n"
           "  -r PATH, -r-, --requirements PATH\n"
           "                          with -d: write the requirement set in text form to PATH; - is standard output\n"
           "  --components            list everything inside the item, on standard output: each nested\n"
           "                          code item, loose Mach-O file and link with its kind, signer, team,\n"
           "                          architectures, flags, entitlements, notarization and problems\n"
           "  --components-json       the same as one JSON document per path\n"
           "  --xml, --check-notarization\n"
           "                          accepted and ignored\n"
           "  --                      end of the options\n"
           "  --help                  print this usage and exit\n"
           "Tessarin's stand-in for Apple's codesign: display and verification only, never signing.\n"
           "Exit status: 0 when every path passed, 1 when one did not, 2 for a mistake on the command line,\n"
           "3 when intact code does not satisfy its designated requirement or the one -R gives. With\n"
           "--components, 1 when any component is unsigned or invalid.\n";
}

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments a;
    int vees = 0;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (s == "--") {
            for (++i; i < argc; ++i) a.paths.push_back(argv[i]);
            break;
        }
        if (s == "--components")
            a.components = true;
        else if (s == "--components-json")
            a.componentsJson = true;
        else if (s == "--display")
            a.display = true;
        else if (s == "--verify")
            a.verify = true;
        else if (s == "--verbose")
            ++a.verbosity;
        else if (s.rfind("--verbose=", 0) == 0)
            a.verbosity = std::atoi(s.c_str() + 10);
        else if (s == "--deep" || s == "--deep-verify")
            a.deep = true;
        else if (s == "--strict" || s.rfind("--strict=", 0) == 0)
            a.strict = true;
        else if (s == "--no-strict")
            a.strict = false;
        else if (s == "--xml" || s == "--check-notarization") {
        } else if (s == "--arch" || s == "--architecture" || s == "-a") {
            auto v = value();
            if (!v) return std::nullopt;
            a.architecture = *v;
        } else if (s == "--entitlements") {
            auto v = value();
            if (!v) return std::nullopt;
            a.entitlements = *v;
        } else if (s == "--test-requirement") {
            auto v = value();
            if (!v) return std::nullopt;
            a.testRequirement = *v;
        } else if (s.rfind("--test-requirement=", 0) == 0) {
            a.testRequirement = s.substr(19);
        } else if (s == "--requirements") {
            auto v = value();
            if (!v) return std::nullopt;
            a.requirements = *v;
        } else if (s.size() > 1 && s[0] == '-' && s[1] != '-') {
            for (std::size_t k = 1; k < s.size(); ++k) {
                // "-r-", "-R=text": the rest of the word, else the next one, is the option's value.
                if (s[k] == 'r' || s[k] == 'R') {
                    std::string rest = s.substr(k + 1);
                    if (rest.empty()) {
                        auto v = value();
                        if (!v) return std::nullopt;
                        rest = *v;
                    }
                    (s[k] == 'r' ? a.requirements : a.testRequirement) = rest;
                    break;
                }
                switch (s[k]) {
                case 'd': a.display = true; break;
                case 'v': ++vees; break;
                default: return std::nullopt;
                }
            }
        } else if (s.rfind("--", 0) == 0) {
            return std::nullopt;
        } else {
            a.paths.push_back(s);
        }
    }
    // As in the real tool, a lone -v asks for verification and further ones add verbosity.
    if (!a.display && !a.verify && vees > 0) {
        a.verify = true;
        --vees;
    }
    a.verbosity += vees;
    const int modes = int(a.display || a.verify) + int(a.components) + int(a.componentsJson);
    if (modes != 1 || a.paths.empty()) return std::nullopt;
    return a;
}

int display(const Arguments& args, const std::string& path) {
    CodeVerifyOptions options;
    options.checkContents = false;
    options.architecture = args.architecture;
    CodeVerdict v = verifyCode(path, options, TrustAnchors::appleRoots());
    if (!v.isSigned || v.failureKind != CodeFailure::None) {
        std::cerr << printable(path) << ": " << codeFailureSentence(v) << "\n";
        return 1;
    }
    std::cerr << codesignDisplayText(v, args.verbosity);
    int status = 0;
    if (args.requirements) {
        if (!v.requirementsProblem.empty()) {
            std::cerr << printable(path) << ": the requirements set is malformed: " << v.requirementsProblem << "\n";
            status = 1;
        }
        const std::string text = codesignRequirementsText(v);
        if (*args.requirements == "-") {
            std::cout << text;
            std::cout.flush();
        } else {
            std::ofstream file(*args.requirements, std::ios::binary | std::ios::trunc);
            file << text;
            if (!file) {
                std::cerr << printable(*args.requirements) << ": cannot write the requirements\n";
                return 1;
            }
        }
    }
    if (args.entitlements && v.hasEntitlements) {
        if (*args.entitlements == "-" || *args.entitlements == ":-") {
            std::cout << v.entitlementsXml;
            std::cout.flush();
        } else {
            std::ofstream file(*args.entitlements, std::ios::binary | std::ios::trunc);
            file << v.entitlementsXml;
            if (!file) {
                std::cerr << *args.entitlements << ": cannot write the entitlements\n";
                return 1;
            }
        }
    }
    return status;
}

// The -R argument compiled: "=text" is the requirement itself, anything else a file holding its text
// or a compiled requirement blob.
Result<Requirement> testRequirement(const std::string& argument) {
    if (!argument.empty() && argument[0] == '=') return parseRequirementText(std::string_view(argument).substr(1));
    auto bytes = readSmallFile(argument, kMaxRequirementTextLength);
    if (!bytes) return fail(printable(argument) + ": cannot read the requirement");
    if (bytes->size() >= 4 && (*bytes)[0] == 0xfa && (*bytes)[1] == 0xde && (*bytes)[2] == 0x0c && (*bytes)[3] == 0x00)
        return parseRequirement(asByteSpan(*bytes));
    return parseRequirementText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

int verify(const Arguments& args, const std::optional<Requirement>& requirement, const std::string& path) {
    CodeVerifyOptions options;
    options.testRequirement = requirement;
    options.deep = args.deep;
    options.strict = args.strict;
    options.architecture = args.architecture;
    CodeVerdict v = verifyCode(path, options, TrustAnchors::appleRoots());
    std::cerr << codesignVerifyText(path, v, args.verbosity);
    return codesignVerifyStatus(v);
}

bool allValid(const CodeItem& item) {
    // A folder that is no bundle is not code itself: only what it holds is judged.
    if (item.kind != CodeItemKind::Link && item.kind != CodeItemKind::NotCode && !item.valid) return false;
    for (const auto& c : item.children)
        if (!allValid(c)) return false;
    return true;
}

// The tree is built here, in the stand-in's own process, so that a caller never parses the item's
// binaries in its own.
int components(const Arguments& args, const std::string& path) {
    ComponentTree tree = componentTreeOf(path, TrustAnchors::appleRoots());
    if (tree.root.cause == ProblemKind::NoSuchFile) {
        std::cerr << printable(path) << ": No such file or directory\n";
        return 1;
    }
    std::cout << (args.componentsJson ? componentTreeJson(tree) : componentTreeText(tree)) << std::flush;
    return allValid(tree.root) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // One heap for every thread: the seal is parsed on a thread of its own, and glibc grows a
    // thread's own heap a page at a time, with a system call each (8,000 for a 20,000-file seal).
    ::mallopt(M_ARENA_MAX, 1);
    if (argc == 2 && std::string(argv[1]) == "--help") return (std::cout << usageText() << std::flush) ? 0 : 1;
    auto args = parseArguments(argc, argv);
    if (!args) {
        std::cerr << usageText();
        return 2;
    }
    std::optional<Requirement> requirement;
    if (args->verify && args->testRequirement) {
        auto compiled = testRequirement(*args->testRequirement);
        if (!compiled) {
            std::cerr << "test-requirement: " << printable(compiled.error()) << "\n";
            return 2;
        }
        requirement = std::move(*compiled);
    }
    int status = 0;
    for (const auto& path : args->paths) {
        int s = args->components || args->componentsJson ? components(*args, path)
                : args->verify                           ? verify(*args, requirement, path)
                                                         : display(*args, path);
        if (s != 0) status = s;
    }
    return status;
}
