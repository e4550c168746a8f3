// One code item and the code nested in it, as the component tree shows them: what it is, how it is
// signed, what it may do, and everything found wrong with it. Plain data; tools/print words it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "crypto/Trust.h"
#include "macho/BuildVersion.h"
#include "plist/Plist.h"
#include "verify/Assessment.h"
#include "verify/CodeVerdict.h"
#include "verify/Problem.h"

namespace tessarin {

enum class CodeItemKind {
    MachO,           // a bare Mach-O given as the item itself
    App,             // the item, an application
    Framework,       // versioned, read from Versions/Current
    PlugIn,          // by extension: .appex .plugin .bundle .qlgenerator .mdimporter .saver .prefPane .kext
    OtherBundle,     // a bundle with code none of the other kinds describes
    CodelessBundle,  // a bundle signed without code, or holding none
    NotCode,
    Dylib,              // a library sealed as nested code
    XpcService,         // .xpc
    LoginItem,          // in Contents/Library/LoginItems
    SystemExtension,    // in Contents/Library/SystemExtensions
    HelperApp,          // an app in Contents/Helpers or Contents/Library/LaunchServices
    HelperTool,         // a Mach-O executable sealed as nested code (Contents/MacOS beside the main one, Helpers...)
    NestedApp,          // an app anywhere else inside
    DetachedSignature,  // a bundle whose executable is signed by the files in _CodeSignature
    LooseMachO,         // Mach-O the seal treats as a plain file, or that no seal covers
    Link,               // a symbolic link, never followed
    DiskImage,          // a .dmg judged by its own signature
    Archive,            // a zip or tar archive: no signature of its own, only what it holds
    InstallerPackage,   // a flat package, or one component package of a distribution
    SignedFile,         // a plain file signed in its extended attributes (a script, a data file)
};
enum class SignatureKind { Unsigned, AdHoc, LinkerSigned, Certificate };

// How notarization stands for one item, following the assessment's own rule.
enum class NotarizationStatus {
    NotApplicable,    // not Developer ID code: Apple's, the store's, ad hoc, unsigned or invalid
    StapledTicket,    // a verified ticket stapled to the item names it
    ContainerTicket,  // a verified ticket stapled to the outermost item names it
    ConfirmedOnline,  // the ticket service returned a verified ticket that names it
    NotEstablished,   // no ticket at hand names it; offline, that is all that can be said
    NotPossible,  // signed (by secure timestamp) after the notary service began requiring the hardened runtime, without
                  // it
};

struct SliceFacts {
    std::string architecture;
    bool is64 = false;
    std::optional<BuildVersion> build;
};

// A script an installer package runs, as stored (its first bytes when long).
struct InstallerScript {
    std::string name;
    std::string text;
    bool truncated = false;
};

struct CodeItem {
    CodeItemKind kind = CodeItemKind::NotCode;
    std::string path;          // as verification named it
    std::string relativePath;  // to the outermost item; empty for it
    std::string executablePath;
    std::vector<std::string> slices;  // architecture names, in file order
    std::vector<SliceFacts> sliceFacts;
    std::string bundleIdentifier, bundleVersion, bundleShortVersion;
    std::string linkTarget;  // for a link, as stored
    // An installer package's: where it installs, and the scripts it runs (its identifier and version
    // are in the bundle members above).
    std::string installLocation;
    std::vector<InstallerScript> scripts;

    std::string identifier;
    std::string teamId;
    std::uint32_t flags = 0;  // the primary CodeDirectory's CS_* flags
    std::optional<std::uint32_t> runtimeVersion;
    SignatureKind signature = SignatureKind::Unsigned;
    bool valid = false;
    bool contentsChecked = true;  // false: the signature was read, its code pages not hashed
    ProblemKind cause = ProblemKind::None;
    std::vector<CertificateInfo> chain;  // leaf first, without the DER
    bool chainTrusted = false;
    std::optional<std::time_t> signingTime;  // claimed by the signer
    std::optional<std::time_t> timestamp;    // proven by a secure timestamp

    std::optional<PlistValue> entitlements;  // the XML blob's, else the DER blob's
    bool entitlementsDer = false;            // a DER blob is present
    std::string entitlementsProblem;         // why a blob present could not be read
    std::vector<std::string> weakeningEntitlements;

    AssessmentSource source = AssessmentSource::None;
    NotarizationStatus notarization = NotarizationStatus::NotApplicable;

    std::vector<CodeItem> children;  // nested code and what the walk found inside
    std::vector<Problem> problems;   // every problem, the first one speaking for the item
};

// The item a verification describes, with the nested code it verified: the verdict's facts only,
// nothing read from disk (kinds by path, relative to `root` when given).
CodeItem codeItemOf(const CodeVerdict& verdict, const std::string& root = {});

// Entitlement keys that weaken the hardened runtime or allow debugging when set to true.
bool weakensRuntime(const std::string& entitlement);

}  // namespace tessarin
