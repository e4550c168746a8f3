// Package signature verdicts on built packages signed with a test chain, each way of tampering with
// them, stapled tickets, bundle-style packages, and pkgutil's text for the verdicts.
#include "package/Package.h"

#include <gtest/gtest.h>

#include <ctime>

#include "SigningChain.h"
#include "TempDir.h"
#include "XarBuilder.h"
#include "package/Xar.h"
#include "tools/print/PackageReport.h"

using namespace tessarin;
using tessarin::test::buildXar;
using tessarin::test::LeafKind;
using tessarin::test::SigningChain;
using tessarin::test::XarBuild;
using tessarin::test::XarBuildOptions;

namespace {

ByteReader readerOf(const Bytes& b) { return ByteReader(b.data(), b.size()); }

const SigningChain& chain() { return SigningChain::shared(); }
XarBuildOptions signedWith(LeafKind kind = LeafKind::DeveloperIDInstaller, bool expired = false) {
    return test::signedProduct(chain(), kind, expired);
}

PackageSignatureCheck check(const Bytes& package, const TrustAnchors& anchors = chain().anchors()) {
    auto c = checkFlatPackageSignature(readerOf(package), anchors, std::time(nullptr));
    EXPECT_TRUE(c) << c.error();
    return c ? *c : PackageSignatureCheck{};
}

Bytes checksumOf(const XarBuild& b) {
    return Bytes(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                 b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize));
}

}  // namespace

// What signed, how, and what was done to the package after: the status and failure each gives; a
// Developer ID Installer chain to an anchor is for distribution, and against Apple's roots alone
// intact but untrusted, its chain shown as the package carries it.
TEST(PackageSignature, StatusFollowsTheSignerTheDigestAndEachTampering) {
    using Status = PackageSignatureStatus;
    const XarBuild good = buildXar(signedWith());
    Bytes checksumFlipped = good.bytes;
    checksumFlipped[good.checksumOffset] ^= 0x80;
    Bytes signatureFlipped = good.bytes;
    signatureFlipped[good.signatureOffset + good.signatureSize / 2] ^= 0x01;
    XarBuildOptions edited = signedWith();
    edited.editTocAfterSigning = [](std::string& toc) {
        toc.replace(toc.find("<size>1000</size>"), 17, "<size>1001</size>");
    };
    XarBuildOptions wrongCert = signedWith();  // signed by one key, carrying another signer's certificates
    wrongCert.certificates = test::signedProduct(SigningChain::unrelated()).certificates;
    XarBuildOptions noCerts = signedWith();
    noCerts.certificates.clear();
    XarBuildOptions unsignedPackage;
    unsignedPackage.files = test::sampleProductFiles();
    XarBuildOptions sha256 = test::signedProduct(chain(), LeafKind::DeveloperIDInstaller, false, "sha256");
    sha256.checksumAlgorithm = 3;
    sha256.checksumName = "sha256";
    const std::string tocChanged = "the table of contents does not match its checksum";
    const std::tuple<const char*, Bytes, Status, std::string> rows[] = {
        {"Developer ID Installer", good.bytes, Status::AppleDistribution, ""},
        {"unsigned", buildXar(unsignedPackage).bytes, Status::NoSignature, ""},
        {"Mac App Store installer leaf", buildXar(signedWith(LeafKind::MacAppStoreInstaller)).bytes, Status::Trusted,
         ""},
        {"Apple's software signing leaf", buildXar(signedWith(LeafKind::SoftwareSigning)).bytes, Status::AppleSoftware,
         ""},
        {"SHA-256 checksum", buildXar(sha256).bytes, Status::AppleDistribution, ""},
        {"expired leaf", buildXar(signedWith(LeafKind::DeveloperIDInstaller, true)).bytes, Status::Expired, ""},
        {"checksum altered", checksumFlipped, Status::Invalid, tocChanged},
        {"signature altered", signatureFlipped, Status::Invalid,
         "the signature does not match the checksum of the table of contents"},
        {"table edited after signing", buildXar(edited).bytes, Status::Invalid, tocChanged},
        {"another signer's certificates", buildXar(wrongCert).bytes, Status::Invalid, ""},
        {"no certificates", buildXar(noCerts).bytes, Status::Invalid, "the signature carries no certificates"},
    };
    for (const auto& [what, bytes, status, failure] : rows) {
        SCOPED_TRACE(what);
        PackageSignatureCheck c = check(bytes);
        EXPECT_EQ(c.status, status) << c.failure;
        EXPECT_EQ(isTrustedPackageStatus(c.status), status > Status::Expired);
        EXPECT_EQ(failure.empty() ? "" : c.failure, failure);
    }
    EXPECT_TRUE(check(checksumFlipped).chain.empty());
    EXPECT_EQ(check(buildXar(sha256).bytes).tocDigest.size(), 32u);

    const PackageSignatureCheck c = check(good.bytes);
    EXPECT_EQ(c.kind, PackageKind::Flat);
    ASSERT_EQ(c.chain.size(), 3u);
    EXPECT_EQ(c.chain[0].commonName, "Developer ID Installer: Test Corp (" + SigningChain::teamId() + ")");
    EXPECT_EQ(c.chain[2].commonName, "Tessarin Test Root CA");
    EXPECT_EQ(c.tocDigest, checksumOf(good));
    EXPECT_FALSE(c.trustedTimestamp || c.ticket.present);
    const PackageSignatureCheck apple = check(good.bytes, TrustAnchors::appleRoots());
    EXPECT_EQ(apple.status, Status::Untrusted);
    EXPECT_FALSE(apple.failure.empty());
    EXPECT_EQ(apple.chain.size(), 3u);
}

TEST(PackageSignature, CmsSignatureBesideOrInsteadOfXarsOwn) {
    test::CmsOptions plain;
    plain.timestamp = false;
    XarBuildOptions both = signedWith();
    both.signCms = [&](const Bytes& checksum) {
        return chain().signCms(checksum, chain().leaf(LeafKind::DeveloperIDInstaller), {}, plain);
    };
    PackageSignatureCheck c = check(buildXar(both).bytes);
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    EXPECT_FALSE(c.trustedTimestamp);  // no timestamp token: the signing time claimed is no proof

    XarBuildOptions cmsOnly = both;
    cmsOnly.sign = nullptr;
    // Genuine and alone it is valid (the signer table below); altered, it is not.
    XarBuild cmsBuild = buildXar(cmsOnly);
    cmsBuild.bytes[cmsBuild.cmsOffset + cmsBuild.cmsSize - 10] ^= 0x01;
    EXPECT_EQ(check(cmsBuild.bytes).status, PackageSignatureStatus::Invalid);
}

TEST(PackageSignature, TimestampedCmsSignatureVouchesForTheSigningTime) {
    // An expired leaf, signed while it was valid: the timestamp, not today, decides.
    const test::TestIdentity& leaf = chain().leaf(LeafKind::DeveloperIDInstaller, true);
    const std::time_t signedAt = std::time(nullptr) - 2 * 365 * 86400;
    XarBuildOptions o = signedWith(LeafKind::DeveloperIDInstaller, true);
    test::CmsOptions stamped;
    stamped.signingTime = signedAt;
    o.signCms = [&](const Bytes& checksum) { return chain().signCms(checksum, leaf, {}, stamped); };
    PackageSignatureCheck c = check(buildXar(o).bytes);
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    ASSERT_TRUE(c.trustedTimestamp);
    EXPECT_LE(std::abs(*c.trustedTimestamp - signedAt), 1);

    // A CMS signature by another signer lends its timestamp to nobody.
    const test::TestIdentity& other = chain().leaf(LeafKind::DeveloperIDApplication, false);
    o.signCms = [&](const Bytes& checksum) { return chain().signCms(checksum, other, {}, stamped); };
    o.cmsCertificates = {other.certificateDer, chain().intermediate().certificateDer, chain().root().certificateDer};
    EXPECT_EQ(check(buildXar(o).bytes).status, PackageSignatureStatus::Expired);
}

TEST(PackageSignature, OnlyTheCertificateThatMadeACmsSignatureSpeaksForIt) {
    // A CMS-only package: what signed is judged and named, whatever the table of contents lists.
    const test::TestIdentity& throwaway = chain().leaf(LeafKind::SelfSigned);
    const test::TestIdentity& installer = chain().leaf(LeafKind::DeveloperIDInstaller);
    const test::TestIdentity& apple = chain().leaf(LeafKind::SoftwareSigning);
    // Under a fixed clock inside every test certificate's validity.
    const std::time_t now = std::time(nullptr) - 3600;
    test::CmsOptions plain;
    plain.timestamp = false;
    const char* notTheSigner = "the certificate the package names as its signer did not make its signature";
    // Who signs, whose certificate is listed as the leaf (before the chain's intermediate and root), and
    // the status and failure that gives.
    using Identity = const test::TestIdentity*;
    const std::tuple<const char*, Identity, Identity, PackageSignatureStatus, const char*> cases[] = {
        {"a Developer ID chain listed for a throw-away key", &throwaway, &installer, PackageSignatureStatus::Invalid,
         notTheSigner},
        {"Apple's chain listed for a throw-away key", &throwaway, &apple, PackageSignatureStatus::Invalid,
         notTheSigner},
        {"the throw-away key listed with Apple's issuers", &throwaway, &throwaway, PackageSignatureStatus::Untrusted,
         ""},
        {"genuine Developer ID Installer", &installer, &installer, PackageSignatureStatus::AppleDistribution, ""},
        {"genuine Apple Software Signing", &apple, &apple, PackageSignatureStatus::AppleSoftware, ""},
    };
    for (const auto& [name, signer, listed, status, failure] : cases) {
        SCOPED_TRACE(name);
        XarBuildOptions o;
        o.files = test::sampleProductFiles();
        o.signCms = [&](const Bytes& checksum) { return chain().signCms(checksum, *signer, {}, plain); };
        o.certificates = {listed->certificateDer, chain().intermediate().certificateDer, chain().root().certificateDer};
        auto c = checkFlatPackageSignature(readerOf(buildXar(o).bytes), chain().anchors(), now);
        ASSERT_TRUE(c) << c.error();
        EXPECT_EQ(c->status, status) << c->failure;
        EXPECT_EQ(*failure ? c->failure : std::string(), failure);
        // The chain shown starts with the certificate that really signed.
        const bool shown = status != PackageSignatureStatus::Invalid;
        EXPECT_EQ(shown ? c->chain.at(0).der : signer->certificateDer, signer->certificateDer);
    }
}

TEST(PackageItems, BundlePackagesCarryNoSignatureAndOtherItemsAreErrors) {
    test::TempDir dir;
    test::writeFile(dir / "Old.pkg/Contents/Info.plist", "<plist/>");
    test::writeFile(dir / "Old.pkg/Contents/Archive.bom", "BOMStore");
    test::writeFile(dir / "Old.pkg/Contents/Archive.pax.gz", "");
    test::makeDirectories(dir / "Meta.mpkg/Contents/Packages");
    test::makeDirectories(dir / "Plain/Contents");
    test::writeFile(dir / "notes.txt", "not a package");

    for (const char* name : {"Old.pkg", "Meta.mpkg"}) {
        auto c = checkPackageSignature(dir / name, TrustAnchors::appleRoots(), std::time(nullptr));
        ASSERT_TRUE(c) << c.error();
        EXPECT_EQ(c->kind, PackageKind::Bundle);
        EXPECT_EQ(c->status, PackageSignatureStatus::NoSignature);
    }
    for (const auto& [name, sentence] : {std::pair{"Plain", " is not an Installer package."},
                                         {"notes.txt", " is not an Installer package."},
                                         {"gone.pkg", " does not exist."}}) {
        auto r = checkPackageSignature(dir / name, TrustAnchors::appleRoots(), 0);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error(), "The item " + (dir / name) + sentence);
    }

    Bytes damaged = buildXar(signedWith()).bytes;
    damaged.resize(100);
    test::writeFile(dir / "damaged.pkg", damaged);
    auto d = checkPackageSignature(dir / "damaged.pkg", TrustAnchors::appleRoots(), 0);
    ASSERT_FALSE(d);
    EXPECT_EQ(d.error().rfind("The package " + (dir / "damaged.pkg") + " cannot be read: truncated or malformed", 0),
              0u);
}

namespace {

CertificateInfo certificate(const std::string& name, std::time_t expires, const std::string& fingerprint) {
    CertificateInfo c;
    c.commonName = name;
    c.notAfter = expires;
    c.sha256Fingerprint = fingerprint;
    return c;
}

}  // namespace

TEST(PkgutilText, TrustedPackageShowsNotarizationTimestampAndTheChain) {
    PackageSignatureCheck c;
    c.status = PackageSignatureStatus::AppleDistribution;
    c.ticket.present = c.ticket.verified = c.ticket.namesItem = true;
    c.trustedTimestamp = 1686526427;  // 2023-06-11 23:33:47 UTC
    c.chain = {
        certificate("Developer ID Installer: Example Corp (ABCDE12345)", 1833330845,
                    "B106B626DA3BA84834F3DFD2CC5EAC039131053FA9A2B7BA2A5E333C3B05537A"),
        certificate("Apple Root CA", 2054670036, "B0B1730ECBC7FF4505142C49F1295E6EDA6BCAED7E2C68C5BE91B5A11001F024")};
    EXPECT_EQ(packageSignatureReport("/tmp/dir/Example-1.0.pkg", c),
              "Package \"Example-1.0.pkg\":\n"
              "   Status: signed by a developer certificate issued by Apple for distribution\n"
              "   Notarization: trusted by the Apple notary service\n"
              "   Signed with a trusted timestamp on: 2023-06-11 23:33:47 +0000\n"
              "   Certificate Chain:\n"
              "    1. Developer ID Installer: Example Corp (ABCDE12345)\n"
              "       Expires: 2028-02-05 02:34:05 +0000\n"
              "       SHA256 Fingerprint:\n"
              "           B1 06 B6 26 DA 3B A8 48 34 F3 DF D2 CC 5E AC 03 91 31 05 3F A9 A2\n"
              "           B7 BA 2A 5E 33 3C 3B 05 53 7A\n"
              "       ------------------------------------------------------------------------\n"
              "    2. Apple Root CA\n"
              "       Expires: 2035-02-09 21:40:36 +0000\n"
              "       SHA256 Fingerprint:\n"
              "           B0 B1 73 0E CB C7 FF 45 05 14 2C 49 F1 29 5E 6E DA 6B CA ED 7E 2C\n"
              "           68 C5 BE 91 B5 A1 10 01 F0 24\n"
              "\n");
}

TEST(PkgutilText, StatusLinesFollowTheVerdict) {
    using S = PackageSignatureStatus;
    PackageSignatureCheck c;
    const std::string tocChanged = "the table of contents does not match its checksum";
    for (const auto& [status, failure, line] :
         {std::tuple{S::NoSignature, "", "no signature"},
          {S::AppleSoftware, "", "signed Apple Software"},
          {S::Trusted, "", "signed by a certificate trusted by Mac OS X"},
          {S::Invalid, tocChanged.c_str(), "invalid signature (the table of contents does not match its checksum)"}}) {
        c.status = status;
        c.failure = failure;
        EXPECT_EQ(packageSignatureReport("Old.pkg/", c),
                  std::string("Package \"Old.pkg\":\n   Status: ") + line + "\n");
    }

    // A ticket or a timestamp vouches for nothing beside an untrusted signature.
    c.status = PackageSignatureStatus::Untrusted;
    c.ticket.present = c.ticket.verified = c.ticket.namesItem = true;
    c.trustedTimestamp = 0;
    c.chain = {certificate("Someone", 0, std::string(64, 'A'))};
    std::string text = packageSignatureReport("a.pkg", c);
    EXPECT_EQ(text.rfind("Package \"a.pkg\":\n   Status: signed by untrusted certificate\n   Certificate Chain:\n", 0),
              0u);
    EXPECT_EQ(text.find("Notarization"), std::string::npos);

    c.status = PackageSignatureStatus::AppleDistribution;
    c.ticket.namesItem = false;
    c.trustedTimestamp.reset();
    EXPECT_NE(
        packageSignatureReport("a.pkg", c).find("   Notarization: the stapled ticket does not name this package\n"),
        std::string::npos);
    // A ticket that fails verification says which step failed, whatever it names.
    c.ticket.namesItem = true;
    c.ticket.verified = false;
    c.ticket.failure = TicketFailure::SignatureInvalid;
    EXPECT_NE(packageSignatureReport("a.pkg", c)
                  .find("   Notarization: the stapled ticket is not valid (its signature does not verify)\n"),
              std::string::npos);
}
