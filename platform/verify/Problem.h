// Problems are data: what a check found wrong, where, and the digests it expected and got.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Bytes.h"

namespace tessarin {

enum class ProblemKind {
    None,
    NoSuchFile,               // the item is not there
    NotSigned,                // no signature, or nothing that could carry one
    BundleUnrecognized,       // a folder that is no bundle
    ArchitectureMissing,      // the chosen slice is not in the file
    SignatureMalformed,       // the signature's own structure is broken
    CodeLimitOutOfRange,      // a CodeDirectory covers bytes the slice does not hold before its signature
    CodePageModified,         // a code page's hash differs (where: slot number)
    SpecialSlotModified,      // a blob or file bound in a special slot differs (slot: which)
    InfoPlistModified,        // the bundle's Info.plist differs from the one its signature binds
    UnboundBlob,              // a blob is present that the CodeDirectory does not bind (slot: which)
    CmsSignatureInvalid,      // the CMS signature does not sign the primary CodeDirectory
    CdhashListMismatch,       // the CDHashes the signature lists are not the code's
    ChainNotValid,            // the certificates do not chain even to their own root
    ChainExpired,             // they do, but not at the time the signature's timestamp proves
    TeamIdentifierWrong,      // an Apple developer leaf's organizational unit is not the directory's team
    TeamIdentifierInvalid,    // the directory's team, to be compared with such a leaf, is not UTF-8
    SliceTeamsDiffer,         // a slice of a universal file names another team than the one described
    ResourcesAbsent,          // the seal is bound but the bundle has none
    ResourceSealModified,     // the seal file differs from what the CodeDirectory binds
    ResourceEnvelopeInvalid,  // the seal or its rules cannot be read
    FileAdded,                // where: the absolute path
    FileModified,
    FileMissing,
    SymlinkOutside,         // a sealed link leads out of the bundle (strict)
    NestedCodeInvalid,      // where: the nested code; nested: its own problems
    NestedCodeModified,     // a slice of nested code fails the requirement its container sealed
    NestingTooDeep,         // bundles inside bundles beyond what is followed
    FoldersTooDeep,         // folders inside a bundle beyond what is walked
    ResourceUnreadable,     // the bundle's folders could not be read
    ResourcesNotSealed,     // the bundle holds resources its executable's signature does not seal
    InfoPlistNotBound,      // the bundle has an Info.plist its executable's signature does not bind
    UnsealedBundleRoot,     // something beside Contents/ (strict)
    UnsealedFrameworkRoot,  // something at a nested framework's top level that is not its links (strict)
    BadFrameworkVersion,    // another version of a nested framework is not valid code that satisfies its seal (strict)
    LinkInBundleStructure,  // Contents, Info.plist, the seal or the executable is a symbolic link
    ObsoleteEnvelope,       // a version 1 seal without files2/rules2 (strict)
    WeakResourceRules,      // the seal's rules leave out more than the bundle may (strict)
    StrayBytes,             // bytes no slice or signature accounts for (strict)
    DiskImageMalformed,     // a disk image whose signature does not fill the room before its trailer
    DiskImageUnsupported,   // an encrypted disk image: its signature is not read here (where: why)
};

struct Problem {
    ProblemKind kind = ProblemKind::None;
    std::string where;            // a path, or empty when the kind says it all
    std::uint32_t slot = 0;       // code slot index or special slot number, where one applies
    Bytes expected;               // the digest the signature holds, where one applies
    Bytes actual;                 // the digest of what is there
    std::vector<Problem> nested;  // for NestedCodeInvalid: the nested code's problems
};

}  // namespace tessarin
