// A test-only code signer: gives MachOBuilder images a real embedded signature (CodeDirectories,
// requirements, entitlements, ad hoc or CMS) and seals bundles with _CodeSignature/CodeResources.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "codesign/CodeResources.h"

namespace tessarin::test {

using Bytes = std::vector<std::uint8_t>;

// Produces a detached CMS SignedData over `content` (the primary CodeDirectory) whose signed
// attributes list `cdhashes` (one per CodeDirectory, slot order). SigningChain::signCms fits here.
using CmsSigner = std::function<Bytes(const Bytes& content, const std::vector<Bytes>& cdhashes)>;

struct SignOptions {
    std::string identifier = "com.example.tool";
    std::string teamId;       // none when empty
    std::uint32_t flags = 0;  // CS_* flags; CS_ADHOC is added for ad hoc signatures
    CmsSigner cms;            // empty: ad hoc (an empty signature wrapper, as real ad hoc code has)
    bool sha1Primary = true;  // SHA-1 primary with a SHA-256 alternate; else SHA-256 only
    std::uint32_t version = 0x20500;
    std::uint32_t runtime = 0;  // hardened runtime version when nonzero
    std::uint8_t pageSizeLog2 = 12;
    std::optional<std::string> entitlementsXml;
    std::optional<Bytes> entitlementsDer;
    std::optional<Bytes> infoPlist;      // special slot -1
    std::optional<Bytes> codeResources;  // special slot -3
    bool designatedRequirement = true;   // one requirement in the set (else an empty set)
    std::optional<Bytes> requirements;   // the whole requirements set as given (RequirementBuilder::set)
    bool linkerSigned = false;           // as a linker writes it: no requirements blob, no wrapper
};

// Signs a thin image built by MachOBuilder: appends LC_SEGMENT(_64) __LINKEDIT and
// LC_CODE_SIGNATURE and writes the signature at the end of the image.
Bytes signMachO(Bytes image, const SignOptions& options);
// Signs every slice of a thin or fat file (fat: rebuilt with the same slice order and types).
Bytes signMachOFile(const Bytes& file, const SignOptions& options);

// A SuperBlob of the blobs given (slot, blob), in slot order.
Bytes assembleSuperBlob(std::vector<std::pair<std::uint32_t, Bytes>> blobs);
// A blob wrapper (0xfade0b01) around bytes: how the CMS signature and a stapled ticket are kept.
Bytes wrapperBlob(const Bytes& payload);
// A SuperBlob for code that keeps its signature apart from any Mach-O (a disk image): CodeDirectories
// hashing code[0, codeLimit) with the options' page size (0: one hash over it all), binding `specials`
// (slot -> bytes) beside the requirements set, then the CMS signature or an empty ad hoc wrapper.
Bytes signatureOver(const Bytes& code, std::uint64_t codeLimit, std::map<std::uint32_t, Bytes> specials,
                    const SignOptions& options);

// The rule sets a signer writes by default ("rules" and "rules2").
std::vector<ResourceRule> defaultRules();
std::vector<ResourceRule> defaultRules2();

struct BundleSignOptions {
    SignOptions code;  // for the main executable (identifier etc.)
    std::vector<ResourceRule> rules = defaultRules();
    std::vector<ResourceRule> rules2 = defaultRules2();
    bool signNested = true;     // sign nested bundles and Mach-O helpers first, inner first
    bool version1Only = false;  // the first generation of seal: no files2 or rules2
    // The executable left unsigned and its signature's parts written to _CodeSignature, as old
    // kernel extensions were signed (the code's page size as `code` gives it; 0 hashes it whole).
    bool separateSignature = false;
    // The requirement text sealed for nested code, by path relative to the content folder; others
    // get `identifier "<its identifier>"`.
    std::map<std::string, std::string> nestedRequirements;
};

// Seals a bundle in place (app: Contents/, framework: Versions/Current, else flat): signs nested
// code, writes _CodeSignature/CodeResources with files/files2/rules/rules2 and signs the main
// executable with its Info.plist and CodeResources slots bound. A bundle without an executable gets
// the signature's parts as files (CodeDirectory, CodeRequirements, CodeRequirements-1 for the SHA-256
// alternate, CodeSignature), its one code slot hashing the whole Info.plist, and is sealed in its
// container by CDHash. Throws on an unusable bundle.
void signBundle(const std::string& bundlePath, const BundleSignOptions& options);

// The CDHash a container seals for nested code: the strongest CodeDirectory's, of the first slice.
Bytes sealCdhash(const Bytes& file);

// Where the first slice's SuperBlob starts in a signed file, and where its blob of `slot` starts
// (both from the file's start), for tests that alter one field of a signature.
std::size_t signatureOffset(const Bytes& file);
std::size_t blobOffset(const Bytes& file, std::uint32_t slot);

}  // namespace tessarin::test
