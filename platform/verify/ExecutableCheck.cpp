// The verifier's judgement of code: every slice of a Mach-O file, whose signature is embedded or kept
// in its bundle's _CodeSignature, or the one signature of a bundle without code.
#include <algorithm>
#include <filesystem>

#include "base/MappedFile.h"
#include "codesign/CodeSignature.h"
#include "diskimage/Udif.h"
#include "macho/MachO.h"
#include "verify/RequirementCheck.h"
#include "verify/SliceCheck.h"
#include "verify/Verifier.h"

namespace fs = std::filesystem;

namespace tessarin::detail {
namespace {

SliceVerdict sliceVerdict(const std::string& architecture, const SignatureFacts& facts) {
    SliceVerdict s{architecture, facts.adhoc, facts.cms, facts.cdhashes, {}, facts.flags};
    for (const auto& cd : facts.codeDirectories) s.hashTypes.push_back(cd.hashType);
    return s;
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

}  // namespace

void takeRequirementVerdict(CodeVerdict& v, DesignatedRequirementVerdict dr) {
    v.requirementSet = std::move(dr.set);
    v.requirementsProblem = std::move(dr.setProblem);
    v.designatedRequirement = std::move(dr.requirement);
    v.designatedRequirementImplicit = dr.implicit;
    v.designatedRequirementSatisfied = dr.satisfied;
    v.designatedRequirementProblem = std::move(dr.failure);
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

CodeVerdict Verifier::verifyMachOFile(CodeVerdict v, const BundleContext* bundle) {
    auto mapped = MappedFile::open(v.executablePath);
    if (!mapped) return failed(std::move(v), ProblemKind::NotSigned);
    ByteSpan file = mapped->bytes();
    auto macho = parseMachO(file);
    // A file given on its own that is no Mach-O may be a disk image, which Apple tries next
    // (DiskRep::bestGuess: MachORep, then DiskImageRep, then EncDiskImageRep).
    const DiskImageKind image = macho || bundle ? DiskImageKind::NotDiskImage : diskImageKind(file);
    if (image == DiskImageKind::Udif || image == DiskImageKind::Encrypted) return verifyDiskImage(std::move(v), file);
    // Anything else that is not Mach-O (a flat package, a script, a document) carries no embedded
    // signature, but may carry one in its extended attributes (DiskRep::bestGuess ends with FileDiskRep).
    if (!macho && !bundle && image == DiskImageKind::NotDiskImage) {
        const CodelessSignature attributes = readAttributeSignature(v.executablePath);
        if (attributes.present) return verifySignedFile(std::move(v), file, attributes);
    }
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
    takeRequirementVerdict(v, std::move(dr));
    std::vector<std::uint64_t> signatureEnds(macho->slices.size(), 0);
    signatureEnds[describe] = described.facts.signatureEnd;
    v.slices.push_back(sliceVerdict(v.architecture, described.facts));
    if (options_.checkContents && options_.architecture.empty()) {
        for (std::size_t i = 0; i < macho->slices.size(); ++i) {
            if (i == describe) continue;
            SignatureDescription d = judge(i);
            signatureEnds[i] = d.facts.signatureEnd;
            if (d.facts.isSigned) v.slices.push_back(sliceVerdict(v.architectures[i], d.facts));
            // Every slice must name the described one's team, or none when it names none, before
            // the slice itself is validated (Apple's handleOtherArchitectures).
            if (d.facts.isSigned && !sameTeam(d.facts, described.facts)) {
                Problem p;
                p.kind = ProblemKind::SliceTeamsDiffer;
                p.where = v.architectures[i];
                addProblem(v, std::move(p));
            }
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
    const SliceContext slices = context.slices();
    // The Info.plist stands in for the code: Apple's BundleDiskRep takes it as the main executable.
    return verifySeparate(std::move(v), slices.infoPlist.value_or(ByteSpan{}), signature, slices, true);
}

CodeVerdict Verifier::verifySignedFile(CodeVerdict v, ByteSpan file, const CodelessSignature& signature) {
    v.kind = CodeKind::SignedFile;
    v.format = "generic";
    if (signature.problem != ProblemKind::None) return failed(std::move(v), signature.problem);
    return verifySeparate(std::move(v), file, signature, SliceContext{}, false);
}

CodeVerdict Verifier::verifySeparate(CodeVerdict v, ByteSpan code, const CodelessSignature& signature,
                                     const SliceContext& slices, bool bundleSeal) {
    const ByteSpan blob = asByteSpan(signature.superBlob);
    SignatureDescription d = options_.checkContents ? checkSeparateSignature(code, blob, slices, anchors_)
                                                    : describeSignature(blob, anchors_);
    takeFacts(v, d.facts);
    if (bundleSeal) {
        infoPlistBound_ = d.facts.infoPlistBound;
        resourcesBound_ = d.facts.resourcesBound;
    }
    for (auto& p : d.problems) addProblem(v, std::move(p));
    if (!v.problems.empty()) return v;
    SliceRequirementFacts r;
    r.superBlob = blob;
    r.facts = &d.facts;
    r.allCdhashes = d.facts.cdhashes;
    r.infoPlist = slices.infoPlist;
    r.appleRoots = &anchors_;
    takeRequirementVerdict(v, judgeDesignatedRequirement(r, options_.checkContents));
    // One signature and no architecture: the assessment judges it as it would a slice.
    v.slices.push_back(sliceVerdict(std::string(), d.facts));
    if (v.failureKind == CodeFailure::None) v.valid = options_.checkContents;
    return v;
}

}  // namespace tessarin::detail
