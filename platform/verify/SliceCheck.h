// Pure checks over bytes: what one slice's signature says, and whether the slice still matches it.
// No paths and no file reads: a bundle hands over the bytes its special slots bind.
#pragma once

#include <optional>
#include <vector>

#include "base/Bytes.h"
#include "crypto/Trust.h"
#include "verify/CodeVerdict.h"
#include "verify/Problem.h"

namespace tessarin {

// What a signature displays.
struct SignatureFacts {
    bool isSigned = false;
    bool adhoc = false;
    std::vector<CodeDirectoryInfo> codeDirectories;  // primary first
    std::size_t bestCodeDirectory = 0;               // the strongest hash, the one displayed
    std::vector<Bytes> cdhashes;                     // each directory's CDHash, in slot order
    std::string identifier;
    std::string teamId;      // the displayed directory's, as Apple's teamID() reads it
    bool teamIdSet = false;  // that directory names a team at all (even an empty one)
    // What the signer's certificate says of the team: TeamIdentifierWrong or TeamIdentifierInvalid
    // when an Apple developer leaf names another, else None.
    ProblemKind teamProblem = ProblemKind::None;
    std::uint32_t flags = 0;
    std::optional<std::uint32_t> runtimeVersion;
    bool infoPlistBound = false;     // the primary directory binds an Info.plist
    bool resourcesBound = false;     // ... and a resource seal
    std::uint64_t signatureEnd = 0;  // where the signature ends, from the slice's start
    std::uint32_t requirementsCount = 0;
    std::uint32_t requirementsSize = 0;
    bool hasEntitlements = false;
    std::string entitlementsXml;
    Bytes entitlementsDer;        // the DER entitlements blob's payload, empty when absent
    std::optional<Bytes> ticket;  // a ticket kept in the signature itself
    std::optional<CmsSignatureInfo> cms;
};

struct SignatureDescription {
    SignatureFacts facts;
    std::vector<Problem> problems;  // NotSigned or SignatureMalformed; empty when described
};

// Describes a SuperBlob: its CodeDirectories and CDHashes, and its CMS signature judged against
// `anchors` (certificates, times, whether it signs the directories).
SignatureDescription describeSignature(ByteSpan superBlob, const TrustAnchors& anchors);

// Describes the signature of one thin slice (the bytes of a thin Mach-O file or of one slice of a
// universal file).
SignatureDescription describeSlice(ByteSpan slice, const TrustAnchors& anchors);

// What a bundle binds into its main executable's special slots. Outside a bundle both are nothing.
struct SliceContext {
    bool inBundle = false;
    std::optional<ByteSpan> infoPlist;
    std::optional<ByteSpan> codeResources;
    // What a disk image binds in its own special slot: its trailer as signed (CSSLOT_REP_SPECIFIC).
    std::optional<ByteSpan> repSpecific;
};

// Describes the slice and checks every CodeDirectory against it: each special slot, each code page,
// the resource seal's slot, and the CMS signature. Every problem is listed, in the order the checks run.
SignatureDescription checkSlice(ByteSpan slice, const SliceContext& context, const TrustAnchors& anchors);

// The same for a signature kept apart from its code, as a SuperBlob assembled from a bundle's
// _CodeSignature: `code` is the bundle's executable slice, or its Info.plist when it has no executable.
SignatureDescription checkSeparateSignature(ByteSpan code, ByteSpan superBlob, const SliceContext& context,
                                            const TrustAnchors& anchors);

// Whether two slices' signatures name the same team, or both none (a universal file's slices must).
bool sameTeam(const SignatureFacts& a, const SignatureFacts& b);

// Whether a thin slice has a signature of its own (a code signature load command, readable or not).
bool carriesSignature(ByteSpan slice);

}  // namespace tessarin
