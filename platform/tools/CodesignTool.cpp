// The codesign stand-in: displays (-d) and verifies (-v, --verify) embedded code signatures, writing
// the real tool's lines on standard error.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/Hex.h"
#include "tools/print/RequirementText.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;

namespace {

struct Arguments {
    bool display = false;
    bool verify = false;
    int verbosity = 0;
    bool deep = false;
    bool strict = false;
    std::string architecture;
    std::optional<std::string> entitlements;  // "-" or ":-": standard output
    std::optional<std::string> requirements;  // "-": standard output
    std::vector<std::string> paths;
};

const char* kUsage =
    "Usage: codesign -d [-v...] [--arch NAME] [--entitlements -] [-r-] path ...\n"
    "       codesign -v [--deep] [--strict] [--verbose[=N]] [--arch NAME] path ...\n";

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
        if (s == "--display") a.display = true;
        else if (s == "--verify") a.verify = true;
        else if (s == "--verbose") ++a.verbosity;
        else if (s.rfind("--verbose=", 0) == 0) a.verbosity = std::atoi(s.c_str() + 10);
        else if (s == "--deep" || s == "--deep-verify") a.deep = true;
        else if (s == "--strict" || s.rfind("--strict=", 0) == 0) a.strict = true;
        else if (s == "--no-strict") a.strict = false;
        else if (s == "--xml" || s == "--check-notarization") {}
        else if (s == "--arch" || s == "--architecture" || s == "-a") {
            auto v = value();
            if (!v) return std::nullopt;
            a.architecture = *v;
        } else if (s == "--entitlements") {
            auto v = value();
            if (!v) return std::nullopt;
            a.entitlements = *v;
        } else if (s == "--requirements") {
            auto v = value();
            if (!v) return std::nullopt;
            a.requirements = *v;
        } else if (s.size() > 1 && s[0] == '-' && s[1] != '-') {
            for (std::size_t k = 1; k < s.size(); ++k) {
                if (s[k] == 'r') {  // "-r-": the rest of the word, else the next one, names the destination
                    std::string rest = s.substr(k + 1);
                    if (rest.empty()) {
                        auto v = value();
                        if (!v) return std::nullopt;
                        rest = *v;
                    }
                    a.requirements = rest;
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
    if ((!a.display && !a.verify) || a.paths.empty()) return std::nullopt;
    return a;
}


// "Aug 2, 2026 at 10:01:42 AM", in local time as the real tool shows it.
std::string displayTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %d, %d at %d:%02d:%02d %s", months[tm.tm_mon % 12], tm.tm_mday,
                  tm.tm_year + 1900, hour, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

std::string versionText(std::uint32_t v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
}

int display(const Arguments& args, const std::string& path) {
    CodeVerifyOptions options;
    options.checkContents = false;
    options.architecture = args.architecture;
    CodeVerdict v = verifyCode(path, options, TrustAnchors::appleRoots());
    if (!v.isSigned || v.failureKind != CodeFailure::None) {
        std::cerr << path << ": " << v.failure << "\n";
        return 1;
    }
    std::string out;
    auto line = [&](const std::string& s) { out += s + "\n"; };
    line("Executable=" + v.executablePath);
    const CodeDirectoryInfo& best = *v.best();
    if (args.verbosity >= 1) {
        line("Identifier=" + v.identifier);
        line("Format=" + v.format);
        line("CodeDirectory v=" + hexDigits(best.version) + " size=" + std::to_string(best.length) + " flags=0x" +
             hexDigits(best.flags) + "(" + codeDirectoryFlagNames(best.flags) + ") hashes=" +
             std::to_string(best.nCodeSlots) + "+" + std::to_string(best.nSpecialSlots) + " location=embedded");
    }
    if (args.verbosity >= 3) {
        line("Hash type=" + hashTypeName(best.hashType) + " size=" + std::to_string(best.hashSize));
        std::string choices;
        for (const auto& cd : v.codeDirectories) {
            line("CandidateCDHash " + hashTypeName(cd.hashType) + "=" + hex(cd.cdhash));
            line("CandidateCDHashFull " + hashTypeName(cd.hashType) + "=" + hex(cd.cdhashFull));
            choices += (choices.empty() ? "" : ",") + hashTypeName(cd.hashType);
        }
        line("Hash choices=" + choices);
        if (v.cms) {
            line("CMSDigest=" + hex(best.cdhashFull));
            line("CMSDigestType=" + std::to_string(best.hashType));
        }
        line(best.pageSize ? "Page size=" + std::to_string(best.pageSize) : std::string("Page size=none"));
        line("CDHash=" + hex(best.cdhash));
    }
    if (args.verbosity >= 1) {
        if (v.cms) {
            line("Signature size=" + std::to_string(v.cms->size));
            if (args.verbosity >= 2)
                for (const auto& cert : v.cms->certificates) line("Authority=" + cert.commonName);
            if (v.cms->timestampTime) line("Timestamp=" + displayTime(*v.cms->timestampTime));
            else if (v.cms->signingTime) line("Signed Time=" + displayTime(*v.cms->signingTime));
        } else {
            line("Signature=adhoc");
        }
        if (v.ticketStapled) line("Notarization Ticket=stapled");
        line(v.infoPlistEntries ? "Info.plist entries=" + std::to_string(*v.infoPlistEntries)
                                : std::string("Info.plist=not bound"));
        line("TeamIdentifier=" + (v.teamId.empty() ? std::string("not set") : v.teamId));
        if (v.runtimeVersion) line("Runtime Version=" + versionText(*v.runtimeVersion));
        if (v.sealedResources)
            line("Sealed Resources version=" + std::to_string(v.sealedResources->version) +
                 " rules=" + std::to_string(v.sealedResources->rules) +
                 " files=" + std::to_string(v.sealedResources->files));
        else
            line("Sealed Resources=none");
        // Linker-signed code carries no requirements blob at all, unlike an empty set.
        line(v.requirementsSize == 0 ? std::string("Internal requirements=none")
                                     : "Internal requirements count=" + std::to_string(v.requirementsCount) +
                                           " size=" + std::to_string(v.requirementsSize));
    }
    std::cerr << out;
    int status = 0;
    if (args.requirements) {
        // The signature's own set, then the designated requirement codesign derives when it has none.
        std::string text;
        if (v.requirementSet) text += requirementSetText(*v.requirementSet);
        if (v.designatedRequirementImplicit && v.designatedRequirement)
            text += "# designated => " + requirementText(*v.designatedRequirement) + "\n";
        if (!v.requirementsProblem.empty()) {
            std::cerr << path << ": the requirements set is malformed: " << v.requirementsProblem << "\n";
            status = 1;
        }
        if (*args.requirements == "-") {
            std::cout << text;
            std::cout.flush();
        } else {
            std::ofstream file(*args.requirements, std::ios::binary | std::ios::trunc);
            file << text;
            if (!file) {
                std::cerr << *args.requirements << ": cannot write the requirements\n";
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

int verify(const Arguments& args, const std::string& path) {
    CodeVerifyOptions options;
    options.deep = args.deep;
    options.strict = args.strict;
    options.architecture = args.architecture;
    CodeVerdict v = verifyCode(path, options, TrustAnchors::appleRoots());
    if (!v.valid) {
        std::string out = path + ": " + v.failure + "\n";
        for (const auto& p : v.resourceProblems) out += p + "\n";
        std::cerr << out;
        return 1;
    }
    std::string out = args.verbosity >= 1 ? path + ": valid on disk\n" : std::string();
    if (!v.designatedRequirementSatisfied) {
        // Intact, but not the code its designated requirement names: status 3, as for requirements.
        std::cerr << out << path << ": does not satisfy its designated Requirement\n";
        return 3;
    }
    if (args.verbosity >= 1) std::cerr << out << path << ": satisfies its Designated Requirement\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    auto args = parseArguments(argc, argv);
    if (!args) {
        std::cerr << kUsage;
        return 2;
    }
    int status = 0;
    for (const auto& path : args->paths) {
        int s = args->verify ? verify(*args, path) : display(*args, path);
        if (s != 0) status = s;
    }
    return status;
}
