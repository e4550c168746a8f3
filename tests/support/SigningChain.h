// Test certificate chains shaped like Apple's (root, Developer ID-like intermediate, leaves marked by
// Apple's OIDs, a timestamp authority, a ticket signer) and a CMS signer that fits MachOSigner's CmsSigner.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "MachOSigner.h"
#include "crypto/Trust.h"

namespace tessarin::test {

enum class LeafKind {
    DeveloperIDApplication,  // 1.2.840.113635.100.6.1.13, OU = team id
    DeveloperIDInstaller,    // 1.2.840.113635.100.6.1.14
    MacAppStoreInstaller,    // 1.2.840.113635.100.6.1.10, "3rd Party Mac Developer Installer"
    MacAppStore,             // 1.2.840.113635.100.6.1.9
    SoftwareSigning,         // CN "Software Signing", as Apple's own code has
    AppleDevelopment,        // 1.2.840.113635.100.6.1.12, under a WWDR-like intermediate (6.2.1)
    SelfSigned,              // its own root: no intermediate, no chain's root
};

// A certificate with its private key (both DER).
struct TestIdentity {
    Bytes certificateDer;
    Bytes privateKeyDer;
};

struct CmsOptions {
    std::time_t signingTime = 0;               // 0: now
    bool timestamp = true;                     // add an RFC 3161 token from the chain's authority
    std::optional<std::time_t> timestampTime;  // the token's time; default: signingTime
    bool timestampWrongImprint = false;        // the token hashes other bytes than the signature
    bool timestampByLeaf = false;              // the token is signed by the signing leaf, not the authority
    // Adds Apple's CDHashes2 attribute with its two values written out of DER order and signed as
    // written, as Apple's codesign of 2019 did. Without a timestamp.
    bool attributeValuesOutOfOrder = false;
};

// A notarization ticket signer's chain: root, "System Integration"-style intermediate and leaves
// (EC P-256), kept under a root of its own as Apple keeps tickets apart from code signing.
struct TicketSigners {
    TestIdentity root, intermediate;
    TestIdentity leaf;  // "Software Ticket Signing" with 1.2.840.113635.100.6.1.30; valid a day ago to a year ahead
    TestIdentity unmarkedLeaf;                                           // the same shape without that extension
    std::vector<Bytes> certificates(const TestIdentity& signer) const {  // as a ticket carries them
        return {signer.certificateDer, intermediate.certificateDer};
    }
    TicketAnchors anchors() const { return TicketAnchors{{root.certificateDer}}; }
};
// `copyAppleNames`: the root and intermediate bear Apple's names exactly ("Apple Root CA - G3",
// "Apple System Integration CA 4"), as a forger would make them.
TicketSigners makeTicketSigners(bool copyAppleNames = false);

// A date for an extension value: `text` ("20120223000000Z") under `tag`; Apple's Developer ID leaves
// hold it in a UTF8String (0x0c), 0x18 makes it a GeneralizedTime.
Bytes extensionDate(const std::string& text, std::uint8_t tag = 0x0c);

std::string base64(const Bytes& b);

class SigningChain {
public:
    // Shared chains, generated once per process (EC P-256 keys). `unrelated()` has the same shape
    // under a different root, for "wrong root" cases.
    static const SigningChain& shared();
    static const SigningChain& unrelated();

    // The root's organization and unit default to the test's own; a chain may borrow another's names.
    explicit SigningChain(const std::string& rootName, const std::string& rootOrganization = "Tessarin Test",
                          const std::string& rootUnit = "Test Certification Authority");

    TrustAnchors anchors() const;  // just this chain's root, and its ticket signers' root for tickets
    const TicketSigners& ticketSigners() const { return tickets_; }
    const TestIdentity& root() const { return root_; }
    const TestIdentity& intermediate() const { return intermediate_; }
    const TestIdentity& timestampAuthority() const { return timestampAuthority_; }
    // The intermediate re-issued with its name and key but dates that ended a year ago: it still
    // issues every leaf, as an expired authority does.
    const TestIdentity& expiredIntermediate() const { return expiredIntermediate_; }
    // Valid from a day ago for two years; expired: valid three years ago to one year ago.
    const TestIdentity& leaf(LeafKind kind, bool expired = false) const;
    static std::string teamId() { return "TESTTEAM01"; }

    // A detached DER CMS SignedData over `content` signed by `leaf`, carrying its issuer and the root
    // (nothing more for a self-signed leaf),
    // signingTime, and the CDHash list (plist "cdhashes") as Apple's 1.2.840.113635.100.9.1 attribute.
    Bytes signCms(const Bytes& content, const TestIdentity& leaf, const std::vector<Bytes>& cdhashes,
                  std::time_t signingTime, bool withTimestamp) const;
    Bytes signCms(const Bytes& content, const TestIdentity& leaf, const std::vector<Bytes>& cdhashes,
                  const CmsOptions& options) const;
    // For MachOSigner's SignOptions::cms.
    CmsSigner signer(LeafKind kind, bool expired = false, CmsOptions options = {}) const;
    CmsSigner signer(const TestIdentity& leaf, CmsOptions options = {}) const;

    // A new Developer ID Application leaf, valid from 2015 to two years ahead, whose developer account
    // creation extension (1.2.840.113635.100.6.1.33) holds `accountCreation` as written; none: absent.
    // Its unit names `team`.
    TestIdentity developerIdLeaf(const std::optional<Bytes>& accountCreation, const std::string& team = teamId()) const;

    // A Mac App Store receipt: `payload` inside PKCS #7 SignedData by a leaf named as Apple's receipt
    // signer, under a developer relations intermediate (1.2.840.113635.100.6.2.1) under this root.
    // `byCodeLeaf`: signed by the Mac App Store code signing leaf instead, a signer that is not the
    // receipt signer.
    Bytes signReceipt(const Bytes& payload, bool byCodeLeaf = false) const;

private:
    TestIdentity root_, intermediate_, wwdrIntermediate_, expiredIntermediate_, timestampAuthority_;
    TestIdentity receiptLeaf_;
    std::map<std::pair<LeafKind, bool>, TestIdentity> leaves_;
    TicketSigners tickets_;
};

}  // namespace tessarin::test
