// The verifier's inner workings, shared by its file and bundle half and its walk over sealed resources.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "codesign/CodeResources.h"
#include "crypto/Trust.h"
#include "verify/CodeSignVerifier.h"
#include "verify/SliceCheck.h"

namespace tessarin::detail {

inline constexpr int kMaxNestingDepth = 8;        // bundles inside bundles beyond this are refused
inline constexpr int kMaxDirectoryDepth = 128;    // folders inside a bundle's content

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
    // The CDHashes of every slice of nested code, for matching its seal; a problem when it has none.
    std::optional<std::vector<Bytes>> nestedCdhashes(const std::string& path);

    const CodeVerifyOptions& options_;
    const TrustAnchors& anchors_;
    bool infoPlistBound_ = false;  // of the described slice's primary directory
};

}  // namespace tessarin::detail
