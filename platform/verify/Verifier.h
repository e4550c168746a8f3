// The verifier's inner workings, shared by its file and bundle half and its walk over sealed resources.
#pragma once

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
#include "verify/SliceCheck.h"

namespace tessarin::detail {

inline constexpr int kMaxNestingDepth = 8;      // bundles inside bundles beyond this are refused
inline constexpr int kMaxDirectoryDepth = 128;  // folders inside a bundle's content

// One slice of nested code as its container's seal sees it: its CDHashes, and whether it satisfies
// the requirement the seal gives (the seal names one slice by CDHash; that slice must satisfy it).
struct NestedSlice {
    std::vector<Bytes> cdhashes;
    bool satisfies = false;
};

// What a bundle contributes to checking its main executable's special slots.
struct BundleContext {
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
// to a plain name beside it.
std::optional<std::string> frameworkVersionFolder(const std::string& root);
// Whether the content holds any file or link other than the `allowed` relative paths (folders among
// them are not entered).
bool holdsMoreThan(const std::string& contentRoot, const std::set<std::string>& allowed);
// What lies unsealed at the top of an app (beside Contents) or a framework (beside Versions and its
// links into the current version, and inside Versions beside Current and its version).
std::vector<Problem> unsealedTopLevel(const std::string& root, Bundle::Layout layout, bool embedded);
// Records a problem; the first one recorded speaks for the item.
void addProblem(CodeVerdict& v, Problem p);
CodeVerdict failed(CodeVerdict v, ProblemKind kind, std::string where = {});

class Verifier {
public:
    Verifier(const CodeVerifyOptions& options, const TrustAnchors& anchors) : options_(options), anchors_(anchors) {}

    CodeVerdict verify(const std::string& path, int depth);

private:
    CodeVerdict verifyMachOFile(CodeVerdict v, const BundleContext* bundle);
    CodeVerdict verifyBundle(CodeVerdict v, int depth);
    void checkResources(CodeVerdict& v, const std::string& contentRoot, const CodeResources& seal,
                        const std::set<std::string>& excluded, int depth);
    // The CDHashes of every slice of nested code, for matching its seal, and whether each satisfies
    // `requirement` when there is one; nothing when it has no readable signature.
    std::optional<std::vector<NestedSlice>> nestedSlices(const std::string& path, const Requirement* requirement);

    const CodeVerifyOptions& options_;
    const TrustAnchors& anchors_;
    bool infoPlistBound_ = false;  // of the described slice's primary directory
    bool resourcesBound_ = false;
};

}  // namespace tessarin::detail
