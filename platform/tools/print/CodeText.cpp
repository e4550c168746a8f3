// What the codesign stand-in prints: the display lines of -d and the verdict of --verify.
#include "tools/print/CodeText.h"
#include "tools/print/Printable.h"
#include "tools/print/RequirementText.h"

#include <cstdio>
#include <ctime>

#include "base/Hex.h"
#include "codesign/CodeSignatureConstants.h"

namespace tessarin {
namespace {

// "Aug 2, 2026 at 10:01:42 AM", in local time as the real tool shows it.
std::string displayTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int hour = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %d, %d at %d:%02d:%02d %s", months[tm.tm_mon % 12], tm.tm_mday,
                  tm.tm_year + 1900, hour, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

std::string versionText(std::uint32_t v) {
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
}

}  // namespace

std::string codeFailureSentence(const CodeVerdict& v) {
    switch (v.cause) {
    case ProblemKind::None: return "";
    case ProblemKind::NoSuchFile: return "No such file or directory";
    case ProblemKind::NotSigned: return "code object is not signed at all";
    case ProblemKind::BundleUnrecognized: return "bundle format unrecognized, invalid, or unsuitable";
    case ProblemKind::ArchitectureMissing: return "the requested architecture is not present in the code";
    case ProblemKind::SignatureMalformed: return "invalid or unsupported format for signature";
    case ProblemKind::CodeLimitOutOfRange:
    case ProblemKind::CodePageModified:
    case ProblemKind::SpecialSlotModified:
    case ProblemKind::UnboundBlob:
    case ProblemKind::CmsSignatureInvalid:
    case ProblemKind::CdhashListMismatch:
    case ProblemKind::SliceTeamsDiffer: return "invalid signature (code or signature have been modified)";
    case ProblemKind::TeamIdentifierWrong: return "a Team Identifier is wrong or inappropriate";
    case ProblemKind::TeamIdentifierInvalid: return "a Team Identifier string is invalid";
    case ProblemKind::ChainNotValid: return "CSSMERR_TP_NOT_TRUSTED";
    case ProblemKind::ChainExpired: return "CSSMERR_TP_CERT_EXPIRED";
    case ProblemKind::ResourcesAbsent: return "code has no resources but signature indicates they must be present";
    case ProblemKind::ResourceEnvelopeInvalid: return "resource envelope is obsolete or invalid";
    case ProblemKind::ResourceSealModified:
    case ProblemKind::FileAdded:
    case ProblemKind::FileModified:
    case ProblemKind::FileMissing:
    case ProblemKind::SymlinkOutside:
    case ProblemKind::NestedCodeInvalid: return "a sealed resource is missing or invalid";
    case ProblemKind::NestedCodeModified: return "nested code is modified or invalid";
    case ProblemKind::NestingTooDeep: return "nested code is too deeply nested";
    case ProblemKind::FoldersTooDeep: return "bundle folders are nested too deeply";
    case ProblemKind::ResourceUnreadable: return "a sealed resource could not be read";
    case ProblemKind::ResourcesNotSealed: return "resources are present but not sealed by signature";
    case ProblemKind::InfoPlistModified:
    case ProblemKind::InfoPlistNotBound: return "invalid Info.plist (plist or signature have been modified)";
    case ProblemKind::UnsealedBundleRoot: return "unsealed contents present in the bundle root";
    case ProblemKind::UnsealedFrameworkRoot:
        return "unsealed contents present in the root directory of an embedded framework";
    case ProblemKind::BadFrameworkVersion: return "embedded framework contains modified or invalid version";
    case ProblemKind::LinkInBundleStructure:
        return "the main executable or Info.plist must be a regular file (no symlinks, etc.)";
    case ProblemKind::ObsoleteEnvelope: return "resource envelope is obsolete (version 1 signature)";
    case ProblemKind::WeakResourceRules: return "resource envelope is obsolete (custom omit rules)";
    case ProblemKind::StrayBytes: return "main executable failed strict validation";
    case ProblemKind::DiskImageMalformed: return "disk image format unrecognized, invalid, or unsuitable";
    case ProblemKind::DiskImageUnsupported: return "encrypted disk images are not verified here";
    }
    return "";
}

namespace {

// The lines under the verdict for the problems found in sealed resources; a failing nested item
// adds its own lines and where it is, the first in path order only.
void appendResourceLines(const std::vector<Problem>& problems, std::vector<std::string>& lines) {
    bool nestedShown = false;
    for (const Problem& p : problems) {
        switch (p.kind) {
        case ProblemKind::FileAdded: lines.push_back("file added: " + printable(p.where)); break;
        case ProblemKind::FileModified:
        case ProblemKind::NestedCodeModified: lines.push_back("file modified: " + printable(p.where)); break;
        case ProblemKind::FileMissing: lines.push_back("file missing: " + printable(p.where)); break;
        case ProblemKind::SymlinkOutside:
            lines.push_back("invalid destination for symbolic link in bundle: " + printable(p.where));
            break;
        case ProblemKind::NestedCodeInvalid:
            if (nestedShown) break;
            nestedShown = true;
            appendResourceLines(p.nested, lines);
            lines.push_back("In subcomponent: " + printable(p.where));
            break;
        default: break;
        }
    }
}

}  // namespace

std::vector<std::string> resourceProblemLines(const CodeVerdict& v) {
    std::vector<std::string> lines;
    appendResourceLines(v.problems, lines);
    return lines;
}

std::string codeDirectoryFlagNames(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> names[] = {
        {CS_ADHOC, "adhoc"},
        {CS_HARD, "hard"},
        {CS_KILL, "kill"},
        {CS_CHECK_EXPIRATION, "expires"},
        {CS_RESTRICT, "restrict"},
        {CS_ENFORCEMENT, "enforcement"},
        {CS_REQUIRE_LV, "library-validation"},
        {CS_RUNTIME, "runtime"},
        {CS_LINKER_SIGNED, "linker-signed"},
    };
    std::string out;
    for (const auto& [bit, name] : names) {
        if (!(flags & bit)) continue;
        if (!out.empty()) out += ',';
        out += name;
    }
    return out.empty() ? "none" : out;
}

std::string hashTypeName(std::uint8_t hashType) {
    switch (hashType) {
    case CS_HASHTYPE_SHA1: return "sha1";
    case CS_HASHTYPE_SHA256: return "sha256";
    case CS_HASHTYPE_SHA256_TRUNCATED: return "sha256-truncated";
    case CS_HASHTYPE_SHA384: return "sha384";
    default: return "unknown";
    }
}

std::string codesignDisplayText(const CodeVerdict& v, int verbosity) {
    std::string out;
    auto line = [&](const std::string& s) { out += s + "\n"; };
    if (!v.executablePath.empty()) line("Executable=" + printable(v.executablePath));  // none without code
    const CodeDirectoryInfo& best = *v.best();
    if (verbosity >= 1) {
        line("Identifier=" + printable(v.identifier));
        line("Format=" + v.format);
        line("CodeDirectory v=" + hexDigits(best.version) + " size=" + std::to_string(best.length) + " flags=0x" +
             hexDigits(best.flags) + "(" + codeDirectoryFlagNames(best.flags) + ") hashes=" +
             std::to_string(best.nCodeSlots) + "+" + std::to_string(best.nSpecialSlots) + " location=embedded");
    }
    if (verbosity >= 3) {
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
    if (verbosity >= 1) {
        if (v.cms) {
            line("Signature size=" + std::to_string(v.cms->size));
            if (verbosity >= 2)
                for (const auto& cert : v.cms->certificates) line("Authority=" + printable(cert.commonName));
            if (v.cms->timestampTime)
                line("Timestamp=" + displayTime(*v.cms->timestampTime));
            else if (v.cms->signingTime)
                line("Signed Time=" + displayTime(*v.cms->signingTime));
        } else {
            line("Signature=adhoc");
        }
        if (v.ticketStapled) line("Notarization Ticket=stapled");
        line(v.infoPlistEntries ? "Info.plist entries=" + std::to_string(*v.infoPlistEntries)
                                : std::string("Info.plist=not bound"));
        line("TeamIdentifier=" + (v.teamId.empty() ? std::string("not set") : printable(v.teamId)));
        if (v.runtimeVersion) line("Runtime Version=" + versionText(*v.runtimeVersion));
        if (v.sealedResources)
            line("Sealed Resources version=" + std::to_string(v.sealedResources->version) + " rules=" +
                 std::to_string(v.sealedResources->rules) + " files=" + std::to_string(v.sealedResources->files));
        else
            line("Sealed Resources=none");
        // Linker-signed code carries no requirements blob at all, unlike an empty set.
        line(v.requirementsSize == 0 ? std::string("Internal requirements=none")
                                     : "Internal requirements count=" + std::to_string(v.requirementsCount) +
                                           " size=" + std::to_string(v.requirementsSize));
    }
    return out;
}

std::string codesignVerifyText(const std::string& path, const CodeVerdict& v, int verbosity) {
    if (!v.valid) {
        std::string out = printable(path) + ": " + codeFailureSentence(v) + "\n";
        for (const auto& line : resourceProblemLines(v)) out += line + "\n";
        return out;
    }
    // A requirement given on the command line fails the verification itself, before any judgement
    // of the designated one.
    if (v.testRequirementSatisfied == false)
        return printable(path) + ": test-requirement: code failed to satisfy specified code requirement(s)\n";
    const std::string intact = verbosity >= 1 ? printable(path) + ": valid on disk\n" : std::string();
    if (!v.designatedRequirementSatisfied)
        return intact + printable(path) + ": does not satisfy its designated Requirement\n";
    if (verbosity < 1) return "";
    return intact + printable(path) + ": satisfies its Designated Requirement\n";
}

int codesignVerifyStatus(const CodeVerdict& v) {
    if (!v.valid) return 1;
    if (v.testRequirementSatisfied == false) return 3;
    return v.designatedRequirementSatisfied ? 0 : 3;
}

std::string codesignRequirementsText(const CodeVerdict& v) {
    std::string text;
    if (v.requirementSet) text += requirementSetText(*v.requirementSet);
    if (v.designatedRequirementImplicit && v.designatedRequirement)
        text += "# designated => " + requirementText(*v.designatedRequirement) + "\n";
    return text;
}

}  // namespace tessarin
