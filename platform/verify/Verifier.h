// The verifier's inner workings, shared by its bundle, code and nested-code halves and its walk over
// sealed resources.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "bundle/Bundle.h"
#include "codesign/CodeResources.h"
#include "codesign/Requirement.h"
#include "crypto/Trust.h"
#include "verify/CodeSignVerifier.h"
#include "verify/RequirementCheck.h"
#include "verify/SliceCheck.h"

namespace tessarin::detail {

inline constexpr int kMaxNestingDepth = 8;      // bundles inside bundles beyond this are refused
inline constexpr int kMaxDirectoryDepth = 128;  // folders inside a bundle's content
// Info.plist, CodeResources (20,000 files seal in ~6 MB), tickets
inline constexpr std::uint64_t kMaxSmallFile = 64u << 20;

// One slice of nested code as its container's seal sees it: whether it satisfies the requirement the
// seal gives (every slice must), and its CDHashes, a fact only.
struct NestedSlice {
    std::vector<Bytes> cdhashes;
    bool satisfies = false;
    // What checking the slice's signature fails with before any requirement is asked: its
    // certificate's team (TeamIdentifierWrong, TeamIdentifierInvalid) or another slice's (SliceTeamsDiffer).
    ProblemKind failure = ProblemKind::None;
};

// What a bundle contributes to checking its main executable's special slots.
struct BundleContext {
    std::string contentRoot;  // where _CodeSignature lies, for an executable without its own signature
    std::optional<Bytes> infoPlist;
    std::optional<Bytes> codeResources;

    SliceContext slices() const {
        SliceContext c;
        c.inBundle = true;
        if (infoPlist) c.infoPlist = asByteSpan(*infoPlist);
        if (codeResources) c.codeResources = asByteSpan(*codeResources);
        return c;
    }
};

CodeFailure failureOf(ProblemKind kind);

// Whether a symbolic link, or a step out with "..", lies on the way from `base` to `relative`.
bool linkOnTheWay(const std::string& base, const std::string& relative);
// The folder a framework's Versions/Current names, when Versions is a real folder and Current a link
// to a plain name beside it; or, for another version, Versions/<version> when it is a real folder.
std::optional<std::string> frameworkVersionFolder(const std::string& root, const std::string& version = "Current");
// Whether a seal's rules are too weak for strict validation: the catch-all rule is not plainly true,
// or a rule omits more than a bundle of this layout may leave out.
bool hasWeakResourceRules(const CodeResources& seal, Bundle::Layout layout);
// Whether the content holds any file or link other than the `allowed` relative paths (folders among
// them are not entered).
bool holdsMoreThan(const std::string& contentRoot, const std::set<std::string>& allowed);
// What lies unsealed at the top of an app (beside Contents) or a framework (beside Versions and the
// links to their namesakes in the current version, and inside Versions beside Current and versions).
std::vector<Problem> unsealedTopLevel(const std::string& root, Bundle::Layout layout, bool embedded);
// A signature read from the separate files in _CodeSignature: a code-less bundle's, or one for an
// executable that carries none of its own.
struct CodelessSignature {
    bool present = false;                     // _CodeSignature/CodeDirectory is there
    ProblemKind problem = ProblemKind::None;  // a part linked, unreadable or too large
    Bytes superBlob;                          // the parts as one SuperBlob, when readable
};
CodelessSignature readCodelessSignature(const std::string& contentRoot);
// The same from a plain file's extended attributes.
CodelessSignature readAttributeSignature(const std::string& path);

// Where an app keeps the store's receipt, relative to Contents; the seal leaves it out.
inline constexpr const char* kMasReceiptPath = "_MASReceipt/receipt";
inline constexpr std::uint64_t kMaxMasReceipt = 1u << 20;
MasReceiptInfo checkMasReceipt(ByteSpan der, const TrustAnchors& anchors);

// What a signature's description and its designated requirement's judgement add to a verdict.
void takeFacts(CodeVerdict& v, const SignatureFacts& facts);
void takeRequirementVerdict(CodeVerdict& v, DesignatedRequirementVerdict dr);

// Records a problem; the first one recorded speaks for the item.
void addProblem(CodeVerdict& v, Problem p);
CodeVerdict failed(CodeVerdict v, ProblemKind kind, std::string where = {});

class Verifier {
public:
    Verifier(const CodeVerifyOptions& options, const TrustAnchors& anchors) : options_(options), anchors_(anchors) {}

    CodeVerdict verify(const std::string& path, int depth);

private:
    CodeVerdict verifyMachOFile(CodeVerdict v, const BundleContext* bundle);
    // A disk image's own signature, kept before its UDIF trailer (DiskImageCheck.cpp).
    CodeVerdict verifyDiskImage(CodeVerdict v, ByteSpan file);
    // `version`: the framework version to verify when not the current one (as its own bundle).
    CodeVerdict verifyBundle(CodeVerdict v, int depth, const std::string& version = "Current");
    // A bundle without code whose _CodeSignature holds the signature's parts.
    CodeVerdict verifyCodeless(CodeVerdict v, const CodelessSignature& signature, const BundleContext& context);
    // A plain file (a script, a data file) signed in its extended attributes: its bytes are the code.
    CodeVerdict verifySignedFile(CodeVerdict v, ByteSpan file, const CodelessSignature& signature);
    // Either of the two above once its code is known; `bundleSeal`: the signature binds the bundle's
    // Info.plist and seal.
    CodeVerdict verifySeparate(CodeVerdict v, ByteSpan code, const CodelessSignature& signature,
                               const SliceContext& slices, bool bundleSeal);
    // `appContent`: an app's Contents, where the store's receipt lies outside the seal.
    void checkResources(CodeVerdict& v, const std::string& contentRoot, const CodeResources& seal,
                        const std::set<std::string>& excluded, int depth, bool appContent);
    // The CDHashes of every slice of nested code (code-less code: its one signature), for matching
    // its seal, and whether each satisfies `requirement` when there is one; nothing when it has no
    // readable signature.
    std::optional<std::vector<NestedSlice>> nestedSlices(const std::string& path, const Requirement* requirement,
                                                         const std::string& version = "Current");
    // Whether every version of a nested framework besides the current one is valid code (judged as
    // deeply as the framework itself) whose every slice satisfies the framework's sealed requirement.
    bool otherVersionsHold(const std::string& framework, const Requirement& requirement, int depth);

    const CodeVerifyOptions& options_;
    const TrustAnchors& anchors_;
    bool infoPlistBound_ = false;  // of the described slice's primary directory
    bool resourcesBound_ = false;
};

}  // namespace tessarin::detail
