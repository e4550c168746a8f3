// The verifier's judgement of a disk image's own signature, as Apple's DiskImageRep defines it: a
// SuperBlob filling the room between the image's data and its UDIF trailer, whose CodeDirectory
// hashes every byte before the signature in one piece (page size 0) and binds the trailer itself,
// signature length zeroed, in special slot -6. A stapled ticket is the blob in slot 0x10002.
#include "base/ByteReader.h"
#include "codesign/CodeSignature.h"
#include "diskimage/Udif.h"
#include "diskimage/UdifConstants.h"
#include "verify/RequirementCheck.h"
#include "verify/SliceCheck.h"
#include "verify/Verifier.h"

namespace tessarin::detail {
namespace {

// The smallest blob Apple reads as a SuperBlob: its header and count (EmbeddedSignatureBlob::readBlob).
constexpr std::uint32_t kSuperBlobHeader = 12;

// The trailer as the signature binds it: the signature's length zeroed, since it cannot be known
// before signing (DiskImageRep::setup blinds it; its offset stays).
Bytes trailerAsSigned(ByteSpan file, const UdifTrailer& trailer) {
    Bytes t = toBytes(file.subspan(trailer.offset, UDIF_TRAILER_SIZE));
    std::fill(t.begin() + UDIF_OFF_CODESIGN_LENGTH, t.begin() + UDIF_OFF_CODESIGN_LENGTH + 8, 0);
    return t;
}

// Page size 0 means one hash over everything up to the limit; a directory with no code slot at all
// would leave the whole image unhashed.
bool leavesCodeUnhashed(const CodeDirectoryInfo& cd) { return cd.codeLimit > 0 && cd.nCodeSlots == 0; }

}  // namespace

CodeVerdict Verifier::verifyDiskImage(CodeVerdict v, ByteSpan file) {
    v.kind = CodeKind::DiskImage;
    const auto trailer = findUdifTrailer(file);
    if (!trailer) {
        // Apple reads an encrypted image's signature from its authentication table (EncDiskImageRep);
        // that is not done here, and nothing is claimed of it.
        v.format = "encrypted disk image";
        return failed(std::move(v), ProblemKind::DiskImageUnsupported, "encrypted disk image");
    }
    v.format = "disk image";
    const std::uint64_t offset = trailer->codeSignatureOffset;
    if (offset == 0) return failed(std::move(v), ProblemKind::NotSigned);

    // Apple reads the SuperBlob that fills [offset, trailer): a blob that does not start there with
    // its magic, or claims more than that room, is no signature at all (BlobCore::readBlob); one
    // that fills the room other than exactly, or whose length the trailer misstates, is a broken
    // image (DiskImageRep::setup).
    ByteReader r(file);
    if (offset > trailer->offset) return failed(std::move(v), ProblemKind::NotSigned);
    const std::uint64_t frame = trailer->offset - offset;
    const auto magic = r.u32be(offset);
    const auto length = r.u32be(offset + 4);
    if (!magic || !length || *magic != CSMAGIC_EMBEDDED_SIGNATURE || *length < kSuperBlobHeader || *length > frame)
        return failed(std::move(v), ProblemKind::NotSigned);
    if (*length != frame || frame != trailer->codeSignatureLength)
        return failed(std::move(v), ProblemKind::DiskImageMalformed);

    const ByteSpan superBlob = file.subspan(offset, frame);
    const Bytes signedTrailer = trailerAsSigned(file, *trailer);
    SliceContext context;
    context.repSpecific = asByteSpan(signedTrailer);
    // The code is everything before the signature (DiskImageRep::signingLimit).
    SignatureDescription d = options_.checkContents
                                 ? checkSeparateSignature(file.first(offset), superBlob, context, anchors_)
                                 : describeSignature(superBlob, anchors_);
    if (d.problems.empty() && options_.checkContents) {
        for (const auto& cd : d.facts.codeDirectories) {
            if (leavesCodeUnhashed(cd)) {
                d.problems.push_back(Problem{ProblemKind::CodeLimitOutOfRange, {}, cd.slot, {}, {}, {}});
                break;
            }
            // Strictly, the directory must cover exactly the data (DiskImageRep::strictValidate).
            if (options_.strict && cd.codeLimit != offset) {
                d.problems.push_back(Problem{ProblemKind::SignatureMalformed, {}, cd.slot, {}, {}, {}});
                break;
            }
        }
    }
    takeFacts(v, d.facts);
    infoPlistBound_ = false;
    resourcesBound_ = false;
    for (auto& p : d.problems) addProblem(v, std::move(p));
    if (!v.problems.empty()) return v;

    SliceRequirementFacts facts;
    facts.superBlob = superBlob;
    facts.facts = &d.facts;
    facts.allCdhashes = d.facts.cdhashes;
    facts.appleRoots = &anchors_;
    takeRequirementVerdict(v, judgeDesignatedRequirement(facts, options_.checkContents));
    if (options_.testRequirement && options_.checkContents)
        v.testRequirementSatisfied = evaluateOnSlice(facts, *options_.testRequirement).holds;
    // One signature and no architecture: the assessment judges it as it would a slice.
    SliceVerdict slice{std::string(), d.facts.adhoc, d.facts.cms, d.facts.cdhashes, {}, d.facts.flags};
    for (const auto& cd : d.facts.codeDirectories) slice.hashTypes.push_back(cd.hashType);
    v.slices.push_back(std::move(slice));
    if (v.failureKind == CodeFailure::None) v.valid = options_.checkContents;
    return v;
}

}  // namespace tessarin::detail
