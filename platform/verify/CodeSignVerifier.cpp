// Verifies embedded code signatures: page and special-slot hashes of every CodeDirectory, the CMS
// signature over the primary one, and a bundle's sealed resources, hashed on a few threads.
#include "verify/CodeSignVerifier.h"

#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <set>
#include <unordered_set>

#include "base/FileRead.h"
#include "base/MappedFile.h"
#include "bundle/Bundle.h"
#include "codesign/CodeResources.h"
#include "codesign/CodeSignature.h"
#include "macho/MachO.h"
#include "plist/Plist.h"
#include "verify/RequirementCheck.h"
#include "verify/SealHasher.h"
#include "verify/SliceCheck.h"
#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin {

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
    case ProblemKind::CdhashListMismatch: return CodeFailure::CodeModified;
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

}  // namespace detail

namespace {

using detail::addProblem;
using detail::failed;

SliceVerdict sliceVerdict(const std::string& architecture, const SignatureFacts& facts) {
    SliceVerdict s{architecture, facts.adhoc, facts.cms, facts.cdhashes, {}, facts.flags};
    for (const auto& cd : facts.codeDirectories) s.hashTypes.push_back(cd.hashType);
    return s;
}

constexpr std::uint64_t kMaxSmallFile = 64u << 20;  // Info.plist, CodeResources (20,000 files seal in ~6 MB), tickets

// The folder a bundle's seal and signature live in: Contents, the current version, or the bundle itself.
std::optional<std::string> contentRootOf(const Bundle& bundle) {
    const fs::path root = fs::absolute(bundle.bundlePath()).lexically_normal();
    switch (bundle.layout()) {
    case Bundle::Layout::App: return (root / "Contents").string();
    case Bundle::Layout::Framework: return detail::frameworkVersionFolder(root.string(), bundle.frameworkVersion());
    case Bundle::Layout::Shallow: return root.string();
    }
    return std::nullopt;
}

// A signature kept in _CodeSignature as the seal of the bundle holding it sees it: its CDHashes, and
// whether it satisfies the requirement sealed with them.
std::optional<std::vector<detail::NestedSlice>> signatureFilesSlice(const std::string& contentRoot,
                                                                    const std::optional<Bytes>& infoPlist,
                                                                    const Requirement* requirement,
                                                                    const TrustAnchors& anchors) {
    detail::CodelessSignature signature = detail::readCodelessSignature(contentRoot);
    if (!signature.present || signature.problem != ProblemKind::None) return std::nullopt;
    const ByteSpan blob = asByteSpan(signature.superBlob);
    auto parsed = parseEmbeddedSignature(blob);
    if (!parsed) return std::nullopt;
    detail::NestedSlice out;
    for (const auto& cd : parsed->codeDirectories) out.cdhashes.push_back(codeDirectoryHash(cd));
    if (requirement) {
        SignatureDescription d = describeSignature(blob, anchors);
        SliceRequirementFacts r;
        r.superBlob = blob;
        r.facts = &d.facts;
        if (infoPlist) r.infoPlist = asByteSpan(*infoPlist);
        r.appleRoots = &anchors;
        out.satisfies = d.problems.empty() && evaluateOnSlice(r, *requirement).holds;
    }
    return std::vector<detail::NestedSlice>{std::move(out)};
}

// A code-less bundle's one signature, so seen.
std::optional<std::vector<detail::NestedSlice>> codelessSlice(const Bundle& bundle,
                                                              const std::optional<Bytes>& infoPlist,
                                                              const Requirement* requirement,
                                                              const TrustAnchors& anchors) {
    const PlistDict* info = bundle.infoDictionary();
    if (info && info->find("CFBundleExecutable") != info->end()) return std::nullopt;
    auto root = contentRootOf(bundle);
    if (!root) return std::nullopt;
    return signatureFilesSlice(*root, infoPlist, requirement, anchors);
}

std::string hostArchitecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#else
    return "";
#endif
}

// Under strict validation every byte must belong to a header, a slice or padding of zeros, and every
// slice must end where its signature ends: anything else rides along unsigned.
bool hasStrayBytes(ByteSpan file, const MachOFile& macho, const std::vector<std::uint64_t>& signatureEnds) {
    for (std::size_t i = 0; i < macho.slices.size(); ++i)
        if (signatureEnds[i] != macho.slices[i].size) return true;
    if (!macho.fat) return false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> covered;  // [start, end)
    const std::uint64_t entry = macho.fat64 ? 32 : 20;
    covered.emplace_back(0, 8 + entry * macho.slices.size());
    for (const auto& s : macho.slices) covered.emplace_back(s.offset, s.offset + s.size);
    std::sort(covered.begin(), covered.end());
    std::uint64_t at = 0;
    for (const auto& [start, end] : covered) {
        for (std::uint64_t b = at; b < start && b < file.size(); ++b)
            if (file[b] != std::byte{0}) return true;
        at = std::max(at, end);
    }
    return at != file.size();
}

void takeFacts(CodeVerdict& v, const SignatureFacts& f) {
    v.isSigned = f.isSigned;
    if (!f.isSigned) return;
    v.adhoc = f.adhoc;
    v.codeDirectories = f.codeDirectories;
    v.bestCodeDirectory = f.bestCodeDirectory;
    v.identifier = f.identifier;
    v.teamId = f.teamId;
    v.flags = f.flags;
    v.runtimeVersion = f.runtimeVersion;
    v.requirementsCount = f.requirementsCount;
    v.requirementsSize = f.requirementsSize;
    v.hasEntitlements = f.hasEntitlements;
    v.entitlementsXml = f.entitlementsXml;
    v.entitlementsDer = f.entitlementsDer;
    if (f.ticket && !v.ticketStapled) {
        v.ticketStapled = true;
        v.ticket = *f.ticket;
    }
    v.cms = f.cms;
}

}  // namespace

namespace detail {

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

CodeVerdict Verifier::verifyMachOFile(CodeVerdict v, const BundleContext* bundle) {
    auto mapped = MappedFile::open(v.executablePath);
    if (!mapped) return failed(std::move(v), ProblemKind::NotSigned);
    ByteSpan file = mapped->bytes();
    auto macho = parseMachO(file);
    // Anything that is not Mach-O (a flat package, a script, a document) carries no embedded signature.
    if (!macho || macho->slices.empty()) return failed(std::move(v), ProblemKind::NotSigned);
    if (v.kind == CodeKind::NotCode) v.kind = CodeKind::MachO;
    std::string names;
    for (const auto& s : macho->slices) {
        v.architectures.push_back(architectureName(s.cputype, s.cpusubtype));
        names += (names.empty() ? "" : " ") + v.architectures.back();
    }
    v.format = std::string(macho->fat ? "Mach-O universal (" : "Mach-O thin (") + names + ")";

    // The slice described: the chosen one, else the host's, else the first.
    std::size_t describe = 0;
    if (!options_.architecture.empty()) {
        auto it = std::find(v.architectures.begin(), v.architectures.end(), options_.architecture);
        if (it == v.architectures.end()) return failed(std::move(v), ProblemKind::ArchitectureMissing);
        describe = static_cast<std::size_t>(it - v.architectures.begin());
    } else {
        auto it = std::find(v.architectures.begin(), v.architectures.end(), hostArchitecture());
        if (it != v.architectures.end()) describe = static_cast<std::size_t>(it - v.architectures.begin());
    }
    v.architecture = v.architectures[describe];

    const SliceContext context = bundle ? bundle->slices() : SliceContext{};
    auto sliceBytes = [&](std::size_t i) { return file.subspan(macho->slices[i].offset, macho->slices[i].size); };
    // A bundle's executable without a signature of its own takes it from the files in _CodeSignature,
    // as Apple's BundleDiskRep::component does. Only the slice described does: Apple judges each other
    // slice of a universal file as a Mach-O of its own (SecStaticCode::handleOtherArchitectures).
    CodelessSignature files;
    std::optional<ByteSpan> separate;
    if (bundle && !bundle->contentRoot.empty() && !carriesSignature(sliceBytes(describe))) {
        files = readCodelessSignature(bundle->contentRoot);
        if (files.present && files.problem != ProblemKind::None) return failed(std::move(v), files.problem);
        if (files.present) separate = asByteSpan(files.superBlob);
    }
    auto judge = [&](std::size_t i) {
        if (separate && i == describe)
            return options_.checkContents ? checkSeparateSignature(sliceBytes(i), *separate, context, anchors_)
                                          : describeSignature(*separate, anchors_);
        return options_.checkContents ? checkSlice(sliceBytes(i), context, anchors_)
                                      : describeSlice(sliceBytes(i), anchors_);
    };
    // Ad hoc code's designated requirement names the CDHashes of every architecture.
    std::vector<Bytes> everyCdhash;
    for (std::size_t i = 0; i < macho->slices.size(); ++i) {
        std::vector<Bytes> hashes;
        if (!separate || i != describe)
            hashes = sliceCdhashes(sliceBytes(i));
        else if (auto sig = parseEmbeddedSignature(*separate))
            for (const auto& cd : sig->codeDirectories) hashes.push_back(codeDirectoryHash(cd));
        everyCdhash.insert(everyCdhash.end(), hashes.begin(), hashes.end());
    }
    auto judgeRequirement = [&](std::size_t i, const SignatureFacts& facts) {
        SliceRequirementFacts r;
        r.slice = sliceBytes(i);
        if (i == describe) r.superBlob = separate;
        r.facts = &facts;
        r.allCdhashes = everyCdhash;
        r.infoPlist = context.infoPlist;
        r.appleRoots = &anchors_;
        return judgeDesignatedRequirement(r, options_.checkContents);
    };
    // The described slice's problems come first: it speaks for the file.
    SignatureDescription described = judge(describe);
    takeFacts(v, described.facts);
    infoPlistBound_ = described.facts.infoPlistBound;
    resourcesBound_ = described.facts.resourcesBound;
    for (auto& p : described.problems) {
        p.where = v.architecture;
        addProblem(v, std::move(p));
    }
    if (!v.problems.empty()) return v;
    // A requirement given to test is asked of the code as it would run here: the described slice,
    // as each slice of a universal file may carry an identifier of its own.
    if (options_.testRequirement && options_.checkContents) {
        SliceRequirementFacts r;
        r.slice = sliceBytes(describe);
        r.superBlob = separate;
        r.facts = &described.facts;
        r.infoPlist = context.infoPlist;
        r.appleRoots = &anchors_;
        v.testRequirementSatisfied = evaluateOnSlice(r, *options_.testRequirement).holds;
    }
    DesignatedRequirementVerdict dr = judgeRequirement(describe, described.facts);
    v.requirementSet = std::move(dr.set);
    v.requirementsProblem = std::move(dr.setProblem);
    v.designatedRequirement = std::move(dr.requirement);
    v.designatedRequirementImplicit = dr.implicit;
    v.designatedRequirementSatisfied = dr.satisfied;
    v.designatedRequirementProblem = std::move(dr.failure);
    std::vector<std::uint64_t> signatureEnds(macho->slices.size(), 0);
    signatureEnds[describe] = described.facts.signatureEnd;
    v.slices.push_back(sliceVerdict(v.architecture, described.facts));
    if (options_.checkContents && options_.architecture.empty()) {
        for (std::size_t i = 0; i < macho->slices.size(); ++i) {
            if (i == describe) continue;
            SignatureDescription d = judge(i);
            signatureEnds[i] = d.facts.signatureEnd;
            if (d.facts.isSigned) v.slices.push_back(sliceVerdict(v.architectures[i], d.facts));
            if (d.problems.empty()) {
                // Every slice carries its own signature, and each must satisfy its own requirement.
                DesignatedRequirementVerdict otherDr = judgeRequirement(i, d.facts);
                if (!otherDr.satisfied) {
                    v.designatedRequirementSatisfied = false;
                    if (v.designatedRequirementProblem.empty()) v.designatedRequirementProblem = otherDr.failure;
                }
            }
            for (auto& p : d.problems) {
                p.where = v.architectures[i];
                addProblem(v, std::move(p));
            }
        }
        if (options_.strict && v.failureKind == CodeFailure::None && hasStrayBytes(file, *macho, signatureEnds))
            addProblem(v, Problem{ProblemKind::StrayBytes, {}, 0, {}, {}, {}});
    }
    if (v.failureKind == CodeFailure::None) v.valid = options_.checkContents;
    return v;
}

CodeVerdict Verifier::verifyCodeless(CodeVerdict v, const CodelessSignature& signature, const BundleContext& context) {
    v.codeless = true;
    if (signature.problem != ProblemKind::None) return failed(std::move(v), signature.problem);
    const ByteSpan blob = asByteSpan(signature.superBlob);
    const SliceContext slices = context.slices();
    // The Info.plist stands in for the code: Apple's BundleDiskRep takes it as the main executable.
    const ByteSpan code = slices.infoPlist.value_or(ByteSpan{});
    SignatureDescription d = options_.checkContents ? checkSeparateSignature(code, blob, slices, anchors_)
                                                    : describeSignature(blob, anchors_);
    takeFacts(v, d.facts);
    infoPlistBound_ = d.facts.infoPlistBound;
    resourcesBound_ = d.facts.resourcesBound;
    for (auto& p : d.problems) addProblem(v, std::move(p));
    if (!v.problems.empty()) return v;
    SliceRequirementFacts r;
    r.superBlob = blob;
    r.facts = &d.facts;
    r.allCdhashes = d.facts.cdhashes;
    r.infoPlist = slices.infoPlist;
    r.appleRoots = &anchors_;
    DesignatedRequirementVerdict dr = judgeDesignatedRequirement(r, options_.checkContents);
    v.requirementSet = std::move(dr.set);
    v.requirementsProblem = std::move(dr.setProblem);
    v.designatedRequirement = std::move(dr.requirement);
    v.designatedRequirementImplicit = dr.implicit;
    v.designatedRequirementSatisfied = dr.satisfied;
    v.designatedRequirementProblem = std::move(dr.failure);
    // One signature and no architecture: the assessment judges it as it would a slice.
    v.slices.push_back(sliceVerdict(std::string(), d.facts));
    if (v.failureKind == CodeFailure::None) v.valid = options_.checkContents;
    return v;
}

std::optional<std::vector<NestedSlice>> Verifier::nestedSlices(const std::string& path, const Requirement* requirement,
                                                               const std::string& version) {
    std::string executable = path;
    std::optional<Bytes> info;
    std::optional<std::string> contentRoot;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        auto b = version == "Current" ? Bundle::open(path) : Bundle::openFrameworkVersion(path, version);
        if (!b) return std::nullopt;
        auto exe = b->executablePath();
        if (requirement) info = readSmallFile(b->infoPlistPath(), kMaxSmallFile, false);
        if (!exe) return codelessSlice(*b, info, requirement, anchors_);
        executable = *exe;
        contentRoot = contentRootOf(*b);
    }
    auto mapped = MappedFile::open(executable);
    if (!mapped) return std::nullopt;
    auto macho = parseMachO(mapped->bytes());
    if (!macho) return std::nullopt;
    // An executable with no signature of its own is sealed by the one in its bundle's _CodeSignature.
    if (contentRoot && std::none_of(macho->slices.begin(), macho->slices.end(), [&](const MachOSlice& s) {
            return carriesSignature(mapped->bytes().subspan(s.offset, s.size));
        }))
        return signatureFilesSlice(*contentRoot, info, requirement, anchors_);
    std::vector<NestedSlice> out;
    for (const auto& slice : macho->slices) {
        const ByteSpan bytes = mapped->bytes().subspan(slice.offset, slice.size);
        SignatureDescription d = describeSlice(bytes, anchors_);
        if (!d.problems.empty()) return std::nullopt;
        NestedSlice n;
        n.cdhashes = d.facts.cdhashes;
        if (requirement) {
            SliceRequirementFacts r;
            r.slice = bytes;
            r.facts = &d.facts;
            if (info) r.infoPlist = asByteSpan(*info);
            r.appleRoots = &anchors_;
            n.satisfies = evaluateOnSlice(r, *requirement).holds;
        }
        out.push_back(std::move(n));
    }
    return out;
}

constexpr std::size_t kMaxOtherVersions = 64;

bool Verifier::otherVersionsHold(const std::string& framework, const Requirement& requirement, int depth) {
    std::error_code ec;
    const fs::path versions = fs::path(framework) / "Versions";
    if (!fs::is_directory(versions, ec)) return true;  // a framework without versions has no others
    const fs::path current = fs::weakly_canonical(versions / "Current", ec);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(versions, ec)) {
        std::error_code tec;
        const std::string name = entry.path().filename().string();
        if (name == "Current" || !entry.is_directory(tec) || entry.is_symlink(tec)) continue;
        if (fs::weakly_canonical(entry.path(), tec) == current) continue;
        // Real frameworks keep a version or two beside the current one; a folder of thousands is
        // refused rather than verified one by one.
        if (names.size() == kMaxOtherVersions) return false;
        names.push_back(name);
    }
    if (ec) return false;
    for (const auto& name : names) {
        if (options_.deep) {
            CodeVerdict version;
            version.path = framework;
            version = verifyBundle(std::move(version), depth + 1, name);
            if (!version.valid) return false;
        }
        auto slices = nestedSlices(framework, &requirement, name);
        if (!slices || !std::all_of(slices->begin(), slices->end(), [](const NestedSlice& s) { return s.satisfies; }))
            return false;
    }
    return true;
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
    if (context.codeResources) {
        auto parsed = parseCodeResources(asByteSpan(*context.codeResources));
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
