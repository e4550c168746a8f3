// What verifying code finds: the facts a signature displays and every problem, as plain data. The
// tools and views turn it into text (tools/print).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "codesign/Requirement.h"
#include "crypto/Trust.h"
#include "verify/Problem.h"

namespace tessarin {

// SignedFile: a plain file signed in its extended attributes.
enum class CodeKind { Missing, NotCode, MachO, AppBundle, FrameworkBundle, Bundle, UnrecognizedDirectory, DiskImage, SignedFile };

enum class CodeFailure {
    None,
    NoSuchFile,           // "No such file or directory"
    NotSigned,            // "code object is not signed at all"
    BundleUnrecognized,   // "bundle format unrecognized, invalid, or unsuitable"
    ArchitectureMissing,  // the chosen --arch is not in the file
    Malformed,            // the signature's own structure is broken
    CodeModified,         // a page, a special slot, the CodeDirectory or the CMS does not match
    ResourcesModified,    // "a sealed resource is missing or invalid" (+ resourceProblems)
    NestedCodeInvalid,    // nested code fails its own signature or its sealed requirement
    UntrustedChain,       // intact, but the certificates do not even chain to their own root
    DiskImageMalformed,   // "disk image format unrecognized, invalid, or unsuitable"
};
// Verification, like the real tool's, accepts an intact signature whose certificates chain validly to
// a root of their own; whether that root is one of the anchors is CmsSignatureInfo::chainTrusted,
// for the assessment tool to judge.

// One CodeDirectory (the primary in slot 0, then the alternates from slot 0x1000).
struct CodeDirectoryInfo {
    std::uint32_t slot = 0;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint32_t length = 0;   // of the CodeDirectory blob ("size=")
    std::uint8_t hashType = 0;  // CS_HASHTYPE_*
    std::uint8_t hashSize = 0;
    std::uint8_t platform = 0;
    std::uint32_t pageSize = 0;  // bytes; 0 when one hash covers all the code
    std::uint32_t nCodeSlots = 0;
    std::uint32_t nSpecialSlots = 0;
    std::uint64_t codeLimit = 0;
    std::string identifier;
    std::string teamId;                           // empty when none
    std::optional<std::uint32_t> runtimeVersion;  // hardened runtime version, xxxx.yy.zz nibbles
    std::optional<std::uint64_t> execSegBase, execSegLimit, execSegFlags;
    Bytes cdhashFull;  // the blob's digest with its own hash type
    Bytes cdhash;      // truncated to 20 bytes
};

// The CMS signature, when the code has one (not ad hoc).
struct CmsSignatureInfo {
    std::uint32_t size = 0;                     // of the DER ("Signature size=")
    bool signatureValid = false;                // signs the primary CodeDirectory
    bool cdhashesMatch = false;                 // its signed CDHash list equals the actual CDHashes
    bool chainTrusted = false;                  // against the anchors given to the verifier
    bool chainValid = false;                    // the certificates chain to their own root, trusted or not
    bool chainExpired = false;                  // they would, but not at the time the timestamp proves
    std::string failure;                        // one sentence when any of these is false
    std::vector<CertificateInfo> certificates;  // leaf first ("Authority=" lines)
    std::optional<std::time_t> signingTime;     // signed attribute, not proof
    std::optional<std::time_t> timestampTime;   // verified RFC 3161 timestamp
};

struct SealedResourcesInfo {
    int version = 0;  // 2 when files2/rules2 are sealed, else 1
    int rules = 0;    // entries of the rule set in force
    int files = 0;    // entries of the file set in force
};

// One slice's signature as the assessment judges it: every slice is judged, the weakest answers.
struct SliceVerdict {
    std::string architecture;
    bool adhoc = false;
    std::optional<CmsSignatureInfo> cms;
    std::vector<Bytes> cdhashes;
    std::vector<std::uint8_t> hashTypes;  // each CDHash's CS_HASHTYPE_*, in the same order
    std::uint32_t flags = 0;              // the primary CodeDirectory's (hardened runtime and kin)
};

// The Mac App Store's purchase receipt (Contents/_MASReceipt/receipt), which the store adds after
// signing and the seal leaves out. Shown, never a verdict of its own: the signing leaf decides.
struct MasReceiptInfo {
    bool signatureValid = false;  // the PKCS #7 signature over the receipt holds
    bool chainsToApple = false;   // ... by Apple's receipt signer, under its WWDR authority, to an anchor
    std::string signer;           // the signing certificate's common name, when readable
    std::string detail;           // one sentence when it does not chain
};

// Everything verifyCode learns about one item. Plain data: the tools turn it into text.
struct CodeVerdict {
    std::string path;  // as given
    CodeKind kind = CodeKind::Missing;
    std::string executablePath;              // the Mach-O judged (a bundle's main executable)
    std::string format;                      // "Mach-O thin (arm64)", "app bundle with Mach-O universal (x86_64 arm64)"
    std::vector<std::string> architectures;  // the executable's slices, in file order
    std::string architecture;                // the slice described below

    bool isSigned = false;
    bool adhoc = false;
    bool valid = false;  // only meaningful after a run with checkContents
    CodeFailure failureKind = CodeFailure::None;
    ProblemKind cause = ProblemKind::None;  // the problem that speaks for the item when it fails
    std::vector<Problem> problems;          // every problem found, in the order the checks ran

    std::vector<CodeDirectoryInfo> codeDirectories;  // in slot order, primary first
    std::size_t bestCodeDirectory = 0;               // index of the strongest hash, the one displayed
    std::string identifier;
    std::string teamId;
    std::uint32_t flags = 0;
    std::optional<std::uint32_t> runtimeVersion;

    std::optional<CmsSignatureInfo> cms;
    std::optional<int> infoPlistEntries;  // nothing: "Info.plist=not bound"
    std::optional<SealedResourcesInfo> sealedResources;
    std::uint32_t requirementsCount = 0;
    std::uint32_t requirementsSize = 0;  // of the requirements blob, 0 when absent
    std::string entitlementsXml;         // the XML entitlements blob's plist, as stored
    bool hasEntitlements = false;
    Bytes entitlementsDer;  // the DER entitlements blob's payload, as stored; empty when absent

    // The requirements set as read (nothing when absent or malformed: requirementsProblem says why),
    // the designated requirement in force (the set's, else the one codesign derives) and whether it
    // holds for every slice verified. Not part of `valid`: intact code may still not be what its
    // requirement names.
    std::optional<RequirementSet> requirementSet;
    std::string requirementsProblem;
    std::optional<Requirement> designatedRequirement;
    bool designatedRequirementImplicit = false;
    bool designatedRequirementSatisfied = false;  // only meaningful after a run with checkContents
    std::string designatedRequirementProblem;     // why it could not be judged, when it could not
    // Whether the described slice satisfies the options' test requirement; nothing without one.
    std::optional<bool> testRequirementSatisfied;

    bool ticketStapled = false;  // Contents/CodeResources beside _CodeSignature
    Bytes ticket;                // its bytes (bounded), for the assessment tool

    std::optional<MasReceiptInfo> receipt;  // an app's store receipt, when one is there
    bool codeless = false;                  // a bundle signed without code: the signature's parts are files

    std::vector<SliceVerdict> slices;   // every signed slice judged, the described one first
    std::vector<CodeVerdict> children;  // nested code verified on its own (deep)
    // Sealed files whose first bytes the hashing read and found to be no Mach-O (absolute, normal
    // paths): the component walk need not open them again.
    std::vector<std::string> hashedNotMachO;

    const CodeDirectoryInfo* best() const {
        return codeDirectories.empty() ? nullptr : &codeDirectories[bestCodeDirectory];
    }
};

}  // namespace tessarin
