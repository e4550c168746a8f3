// Nested code as its container's seal sees it: the CDHashes of each slice and whether each satisfies
// the requirement sealed beside it, including a framework's versions other than the current one.
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>

#include "base/FileRead.h"
#include "base/MappedFile.h"
#include "bundle/Bundle.h"
#include "codesign/CodeSignature.h"
#include "macho/MachO.h"
#include "plist/Plist.h"
#include "verify/RequirementCheck.h"
#include "verify/SliceCheck.h"
#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin::detail {
namespace {

// The folder a bundle's seal and signature live in: Contents, the current version, or the bundle itself.
std::optional<std::string> contentRootOf(const Bundle& bundle) {
    const fs::path root = fs::absolute(bundle.bundlePath()).lexically_normal();
    switch (bundle.layout()) {
    case Bundle::Layout::App: return (root / "Contents").string();
    case Bundle::Layout::Framework: return frameworkVersionFolder(root.string(), bundle.frameworkVersion());
    case Bundle::Layout::Shallow: return root.string();
    }
    return std::nullopt;
}

// A signature kept apart from its code (in _CodeSignature, or in a file's extended attributes) as the
// seal of the bundle holding it sees it: its CDHashes, and whether it satisfies the requirement sealed
// with them.
std::optional<std::vector<NestedSlice>> separateSignatureSlice(const CodelessSignature& signature,
                                                               const std::optional<Bytes>& infoPlist,
                                                               const Requirement* requirement,
                                                               const TrustAnchors& anchors) {
    if (!signature.present || signature.problem != ProblemKind::None) return std::nullopt;
    const ByteSpan blob = asByteSpan(signature.superBlob);
    auto parsed = parseEmbeddedSignature(blob);
    if (!parsed) return std::nullopt;
    NestedSlice out;
    for (const auto& cd : parsed->codeDirectories) out.cdhashes.push_back(codeDirectoryHash(cd));
    SignatureDescription d = describeSignature(blob, anchors);
    out.failure = d.facts.teamProblem;
    if (requirement) {
        SliceRequirementFacts r;
        r.superBlob = blob;
        r.facts = &d.facts;
        if (infoPlist) r.infoPlist = asByteSpan(*infoPlist);
        r.appleRoots = &anchors;
        out.satisfies = d.problems.empty() && evaluateOnSlice(r, *requirement).holds;
    }
    return std::vector<NestedSlice>{std::move(out)};
}

std::optional<std::vector<NestedSlice>> signatureFilesSlice(const std::string& contentRoot,
                                                            const std::optional<Bytes>& infoPlist,
                                                            const Requirement* requirement,
                                                            const TrustAnchors& anchors) {
    return separateSignatureSlice(readCodelessSignature(contentRoot), infoPlist, requirement, anchors);
}

// A code-less bundle's one signature, so seen.
std::optional<std::vector<NestedSlice>> codelessSlice(const Bundle& bundle, const std::optional<Bytes>& infoPlist,
                                                      const Requirement* requirement, const TrustAnchors& anchors) {
    const PlistDict* info = bundle.infoDictionary();
    if (info && info->find("CFBundleExecutable") != info->end()) return std::nullopt;
    auto root = contentRootOf(bundle);
    if (!root) return std::nullopt;
    return signatureFilesSlice(*root, infoPlist, requirement, anchors);
}

}  // namespace

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
    // A plain file sealed as code carries its signature in its extended attributes.
    if (!macho && !contentRoot) return separateSignatureSlice(readAttributeSignature(path), {}, requirement, anchors_);
    if (!macho) return std::nullopt;
    // An executable with no signature of its own is sealed by the one in its bundle's _CodeSignature.
    if (contentRoot && std::none_of(macho->slices.begin(), macho->slices.end(), [&](const MachOSlice& s) {
            return carriesSignature(mapped->bytes().subspan(s.offset, s.size));
        }))
        return signatureFilesSlice(*contentRoot, info, requirement, anchors_);
    std::vector<NestedSlice> out;
    std::optional<SignatureFacts> first;
    for (const auto& slice : macho->slices) {
        const ByteSpan bytes = mapped->bytes().subspan(slice.offset, slice.size);
        SignatureDescription d = describeSlice(bytes, anchors_);
        if (!d.problems.empty()) return std::nullopt;
        NestedSlice n;
        n.cdhashes = d.facts.cdhashes;
        n.failure = d.facts.teamProblem;
        // Every slice names the same team, or none names one.
        if (!first)
            first = d.facts;
        else if (n.failure == ProblemKind::None && !sameTeam(*first, d.facts))
            n.failure = ProblemKind::SliceTeamsDiffer;
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
        if (!slices || !std::all_of(slices->begin(), slices->end(),
                                    [](const NestedSlice& s) { return s.satisfies && s.failure == ProblemKind::None; }))
            return false;
    }
    return true;
}

}  // namespace tessarin::detail
