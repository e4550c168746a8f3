// Verifies embedded code signatures: page and special-slot hashes of every CodeDirectory, the CMS
// signature over the primary one, and a bundle's sealed resources, hashed on a few threads. This file
// holds the entry and the bundle's own judgement; the code (ExecutableCheck.cpp), nested code
// (NestedCode.cpp) and the sealed files (ResourceWalk.cpp) are judged beside it.
#include "verify/CodeSignVerifier.h"

#include <sys/stat.h>
#include <filesystem>
#include <future>
#include <set>

#include "base/FileRead.h"
#include "bundle/Bundle.h"
#include "codesign/CodeResources.h"
#include "plist/Plist.h"
#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// A seal this large (some 3,000 files) takes longer to parse than a thread takes to start.
constexpr std::size_t kSealParsedAside = 1u << 20;

}  // namespace

namespace detail {

CodeFailure failureOf(ProblemKind kind) {
    switch (kind) {
    case ProblemKind::None: return CodeFailure::None;
    case ProblemKind::NoSuchFile: return CodeFailure::NoSuchFile;
    case ProblemKind::NotSigned: return CodeFailure::NotSigned;
    case ProblemKind::BundleUnrecognized: return CodeFailure::BundleUnrecognized;
    case ProblemKind::ArchitectureMissing: return CodeFailure::ArchitectureMissing;
    case ProblemKind::SignatureMalformed: return CodeFailure::Malformed;
    case ProblemKind::CodeLimitOutOfRange:
    case ProblemKind::CodePageModified:
    case ProblemKind::SpecialSlotModified:
    case ProblemKind::InfoPlistModified:
    case ProblemKind::UnboundBlob:
    case ProblemKind::CmsSignatureInvalid:
    case ProblemKind::CdhashListMismatch:
    case ProblemKind::TeamIdentifierWrong:
    case ProblemKind::TeamIdentifierInvalid:
    case ProblemKind::SliceTeamsDiffer: return CodeFailure::CodeModified;
    case ProblemKind::ChainNotValid:
    case ProblemKind::ChainExpired: return CodeFailure::UntrustedChain;
    case ProblemKind::NestedCodeInvalid:
    case ProblemKind::NestedCodeModified:
    case ProblemKind::NestingTooDeep: return CodeFailure::NestedCodeInvalid;
    case ProblemKind::ResourcesAbsent:
    case ProblemKind::ResourceSealModified:
    case ProblemKind::ResourceEnvelopeInvalid:
    case ProblemKind::FileAdded:
    case ProblemKind::FileModified:
    case ProblemKind::FileMissing:
    case ProblemKind::SymlinkOutside:
    case ProblemKind::FoldersTooDeep:
    case ProblemKind::ResourceUnreadable:
    case ProblemKind::ResourcesNotSealed:
    case ProblemKind::UnsealedBundleRoot:
    case ProblemKind::UnsealedFrameworkRoot:
    case ProblemKind::BadFrameworkVersion:
    case ProblemKind::LinkInBundleStructure:
    case ProblemKind::ObsoleteEnvelope:
    case ProblemKind::WeakResourceRules: return CodeFailure::ResourcesModified;
    case ProblemKind::InfoPlistNotBound:
    case ProblemKind::StrayBytes: return CodeFailure::CodeModified;
    case ProblemKind::DiskImageMalformed:
    case ProblemKind::DiskImageUnsupported: return CodeFailure::DiskImageMalformed;
    }
    return CodeFailure::CodeModified;
}

// Records a problem; the first one recorded speaks for the item.
void addProblem(CodeVerdict& v, Problem p) {
    if (v.failureKind == CodeFailure::None) {
        v.failureKind = failureOf(p.kind);
        v.cause = p.kind;
    }
    v.valid = false;
    v.problems.push_back(std::move(p));
}

CodeVerdict failed(CodeVerdict v, ProblemKind kind, std::string where) {
    Problem p;
    p.kind = kind;
    p.where = std::move(where);
    addProblem(v, std::move(p));
    return v;
}

CodeVerdict Verifier::verify(const std::string& path, int depth) {
    CodeVerdict v;
    v.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        v.kind = CodeKind::Missing;
        return failed(std::move(v), ProblemKind::NoSuchFile);
    }
    if (S_ISDIR(st.st_mode)) {
        if (depth > kMaxNestingDepth) return failed(std::move(v), ProblemKind::NestingTooDeep);
        return verifyBundle(std::move(v), depth);
    }
    v.kind = CodeKind::NotCode;
    v.executablePath = fs::absolute(path).lexically_normal().string();
    return verifyMachOFile(std::move(v), nullptr);
}

CodeVerdict Verifier::verifyBundle(CodeVerdict v, int depth, const std::string& version) {
    auto bundle = version == "Current" ? Bundle::open(v.path) : Bundle::openFrameworkVersion(v.path, version);
    if (!bundle) {
        v.kind = CodeKind::UnrecognizedDirectory;
        return failed(std::move(v), ProblemKind::BundleUnrecognized);
    }
    const fs::path root = fs::absolute(v.path).lexically_normal();
    std::string ext = root.extension().string();
    const PlistDict* info = bundle->infoDictionary();
    std::string packageType;
    if (info) {
        if (auto it = info->find("CFBundlePackageType"); it != info->end() && it->second.string())
            packageType = *it->second.string();
    }
    std::string prefix;
    if (ext == ".app" || packageType == "APPL") {
        v.kind = CodeKind::AppBundle;
        prefix = "app bundle";
    } else if (bundle->layout() == Bundle::Layout::Framework || ext == ".framework" || packageType == "FMWK") {
        v.kind = CodeKind::FrameworkBundle;
        prefix = "framework bundle";
    } else {
        v.kind = CodeKind::Bundle;
        prefix = "bundle";
    }

    // The bundle's own structure is never reached through a link: that would judge, and vouch for,
    // files outside the item.
    std::string contentRoot;
    std::string infoRel = "Info.plist";
    switch (bundle->layout()) {
    case Bundle::Layout::App:
        contentRoot = (root / "Contents").string();
        if (linkOnTheWay(root.string(), "Contents")) return failed(std::move(v), ProblemKind::LinkInBundleStructure);
        break;
    case Bundle::Layout::Framework: {
        // The seal lives in the version Current names; problems are reported under that version.
        auto folder = frameworkVersionFolder(root.string(), bundle->frameworkVersion());
        if (!folder) return failed(std::move(v), ProblemKind::LinkInBundleStructure);
        contentRoot = *folder;
        infoRel = "Resources/Info.plist";
        break;
    }
    case Bundle::Layout::Shallow:
        contentRoot = root.string();
        infoRel = fs::path(bundle->infoPlistPath()).lexically_relative(root).generic_string();
        break;
    }
    const bool infoLinked = linkOnTheWay(contentRoot, infoRel);
    const bool sealLinked = linkOnTheWay(contentRoot, "_CodeSignature/CodeResources");

    BundleContext context;
    const std::string infoPath = contentRoot + "/" + infoRel;
    if (!infoLinked) context.infoPlist = readSmallFile(infoPath, kMaxSmallFile, false);
    if (!sealLinked)
        context.codeResources = readSmallFile(contentRoot + "/_CodeSignature/CodeResources", kMaxSmallFile, false);
    // A large seal is parsed on a thread of its own while the code is checked, which needs only its
    // bytes; a small one when it is wanted. (The future is declared after the bytes it reads, so it
    // is waited for before they go, whatever way this function returns.)
    std::future<Result<CodeResources>> sealParsed;
    if (context.codeResources) {
        const auto policy = context.codeResources->size() >= kSealParsedAside
                                ? std::launch::async | std::launch::deferred
                                : std::launch::deferred;
        sealParsed =
            std::async(policy, [bytes = asByteSpan(*context.codeResources)] { return parseCodeResources(bytes); });
    }
    if (bundle->layout() == Bundle::Layout::App && !linkOnTheWay(contentRoot, "CodeResources")) {
        if (auto ticket = readSmallFile(contentRoot + "/CodeResources", kMaxSmallFile, false)) {
            v.ticketStapled = true;
            v.ticket = std::move(*ticket);
        }
    }

    if (bundle->layout() == Bundle::Layout::App && !linkOnTheWay(contentRoot, kMasReceiptPath)) {
        if (auto receipt = readSmallFile(contentRoot + "/" + kMasReceiptPath, kMaxMasReceipt, false))
            v.receipt = checkMasReceipt(asByteSpan(*receipt), anchors_);
    }

    auto exe = bundle->executablePath();
    std::optional<fs::path> exeRel;
    if (!exe) {
        // Apple names code-less bundles by what they are, not by their package type.
        const bool installerPackage = info && info->find("IFMajorVersion") != info->end();
        v.format = installerPackage ? "installer package bundle" : "bundle";
        // Without code, the signature's parts lie in _CodeSignature; a named executable that is not
        // there is missing code, not a code-less bundle.
        const bool namesExecutable = info && info->find("CFBundleExecutable") != info->end();
        CodelessSignature codeless;
        if (!namesExecutable) codeless = readCodelessSignature(contentRoot);
        if (!codeless.present) return failed(std::move(v), ProblemKind::NotSigned);
        if (options_.checkContents && (infoLinked || sealLinked))
            v = failed(std::move(v), ProblemKind::LinkInBundleStructure);
        v = verifyCodeless(std::move(v), codeless, context);
    } else {
        // Named inside the content folder even when reached through a framework's top-level links.
        std::error_code ec;
        exeRel = fs::weakly_canonical(*exe, ec).lexically_relative(fs::weakly_canonical(contentRoot, ec));
        const bool inside = !ec && !exeRel->empty() && exeRel->native().rfind("..", 0) != 0;
        v.executablePath =
            inside ? contentRoot + "/" + exeRel->generic_string() : fs::absolute(*exe).lexically_normal().string();
        if (!inside || linkOnTheWay(contentRoot, exeRel->generic_string()))
            return failed(std::move(v), ProblemKind::LinkInBundleStructure);
        // A linked Info.plist or seal is read as absent; the link itself is what to report.
        if (options_.checkContents && (infoLinked || sealLinked))
            v = failed(std::move(v), ProblemKind::LinkInBundleStructure);
        context.contentRoot = contentRoot;
        v = verifyMachOFile(std::move(v), &context);
        v.format = prefix + (v.format.empty() ? "" : " with " + v.format);
    }
    if (!v.isSigned) return v;

    if (info && infoPlistBound_) v.infoPlistEntries = static_cast<int>(info->size());

    std::optional<CodeResources> seal;
    if (sealParsed.valid()) {
        auto parsed = sealParsed.get();
        if (parsed) {
            seal = std::move(*parsed);
            v.sealedResources = SealedResourcesInfo{seal->version(), static_cast<int>(seal->rulesInForce().size()),
                                                    static_cast<int>(seal->filesInForce().size())};
        } else if (options_.checkContents && v.failureKind == CodeFailure::None) {
            return failed(std::move(v), ProblemKind::ResourceEnvelopeInvalid);
        }
    }
    if (!options_.checkContents || v.failureKind != CodeFailure::None) return v;
    // Beside a Contents folder the platform reads a framework through its top-level links, with its
    // resources at its top, where no seal lies: its code may pass, its resources cannot.
    std::error_code cec;
    if (bundle->layout() == Bundle::Layout::Framework && version == "Current" &&
        fs::symlink_status(root / "Contents", cec).type() != fs::file_type::not_found)
        return failed(std::move(v), ProblemKind::ResourcesAbsent);

    // The bundle is judged whole: code signed for something else (a command-line tool dropped into
    // Contents/MacOS) seals none of what lies beside it and binds no Info.plist.
    if (context.infoPlist && !infoPlistBound_) return failed(std::move(v), ProblemKind::InfoPlistNotBound);
    std::set<std::string> excluded;
    excluded.insert("_CodeSignature");
    if (bundle->layout() == Bundle::Layout::App) excluded.insert("CodeResources");
    if (exeRel) excluded.insert(exeRel->generic_string());
    if (!resourcesBound_) {
        std::set<std::string> bare = excluded;
        bare.insert(infoRel);
        if (holdsMoreThan(contentRoot, bare)) return failed(std::move(v), ProblemKind::ResourcesNotSealed);
        v.valid = true;
        return v;
    }
    if (options_.strict) {
        // Another version of a framework is judged as a bundle of its own, without the framework's root.
        if (version == "Current")
            for (auto& p : unsealedTopLevel(root.string(), bundle->layout(), depth > 0)) addProblem(v, std::move(p));
        // Weak rules are refused before any file is looked at, and before a first-generation seal is.
        if (seal && hasWeakResourceRules(*seal, bundle->layout()))
            addProblem(v, Problem{ProblemKind::WeakResourceRules, {}, 0, {}, {}, {}});
        if (seal && !seal->hasVersion2) addProblem(v, Problem{ProblemKind::ObsoleteEnvelope, {}, 0, {}, {}, {}});
        if (v.failureKind != CodeFailure::None) return v;
    }
    if (!seal) return v;
    checkResources(v, contentRoot, *seal, excluded, depth, bundle->layout() == Bundle::Layout::App);
    if (v.failureKind == CodeFailure::None) v.valid = true;
    return v;
}

}  // namespace detail

CodeVerdict verifyCode(const std::string& path, const CodeVerifyOptions& options, const TrustAnchors& anchors) {
    detail::Verifier verifier(options, anchors);
    return verifier.verify(path, 0);
}

}  // namespace tessarin
