// Package signature verdicts on built packages signed with a test chain, each way of tampering with
// them, stapled tickets, bundle-style packages, and pkgutil's text for the verdicts.
#include "package/Package.h"

#include <gtest/gtest.h>

#include <ctime>

#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "XarBuilder.h"
#include "package/Xar.h"
#include "tools/print/PackageReport.h"

using namespace tessarin;
using tessarin::test::buildXar;
using tessarin::test::TestChain;
using tessarin::test::TestChainOptions;
using tessarin::test::TicketBuilder;
using tessarin::test::XarBuild;
using tessarin::test::XarBuildOptions;

namespace {

ByteReader readerOf(const Bytes& b) { return ByteReader(b.data(), b.size()); }

const TestChain& developerIdChain() {
    static TestChain chain;
    return chain;
}

// The chain's root for packages; the shared test ticket signer's root for stapled tickets.
TrustAnchors anchorsOf(const TestChain& chain) {
    return TrustAnchors{{chain.rootDer()}, test::SigningChain::shared().ticketSigners().anchors()};
}

XarBuildOptions signedWith(const TestChain& chain) {
    XarBuildOptions o;
    o.files = test::sampleProductFiles();
    o.sign = [&chain](const Bytes& checksum) { return chain.signDigest(checksum); };
    o.certificates = chain.certificates();
    return o;
}

PackageSignatureCheck check(const Bytes& package, const TrustAnchors& anchors) {
    auto c = checkFlatPackageSignature(readerOf(package), anchors, std::time(nullptr));
    EXPECT_TRUE(c) << c.error();
    return c ? *c : PackageSignatureCheck{};
}

}  // namespace

TEST(PackageSignature, UnsignedPackageHasNoSignature) {
    XarBuildOptions o;
    o.files = test::sampleProductFiles();
    PackageSignatureCheck c = check(buildXar(o).bytes, anchorsOf(developerIdChain()));
    EXPECT_EQ(c.kind, PackageKind::Flat);
    EXPECT_EQ(c.status, PackageSignatureStatus::NoSignature);
    EXPECT_TRUE(c.chain.empty());
}

TEST(PackageSignature, DeveloperIdInstallerChainToAnAnchorIsForDistribution) {
    const TestChain& chain = developerIdChain();
    XarBuild b = buildXar(signedWith(chain));
    PackageSignatureCheck c = check(b.bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    ASSERT_EQ(c.chain.size(), 3u);
    EXPECT_EQ(c.chain[0].commonName, "Developer ID Installer: Example Corp (ABCDE12345)");
    EXPECT_EQ(c.chain[2].commonName, "Tessarin Test Root CA");
    EXPECT_EQ(c.tocDigest, Bytes(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                                 b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize)));
    EXPECT_FALSE(c.trustedTimestamp);
    EXPECT_FALSE(c.ticket.present);

    // The same package judged against Apple's roots alone: intact, but not trusted.
    PackageSignatureCheck apple = check(b.bytes, TrustAnchors::appleRoots());
    EXPECT_EQ(apple.status, PackageSignatureStatus::Untrusted);
    EXPECT_FALSE(apple.failure.empty());
    EXPECT_EQ(apple.chain.size(), 3u);  // shown as the package carries it
}

TEST(PackageSignature, LeafKindDecidesTheTrustedStatus) {
    TestChainOptions store;
    store.leafOid = "1.2.840.113635.100.6.1.10";  // Mac App Store installer
    store.leafName = "3rd Party Mac Developer Installer: Example Corp (ABCDE12345)";
    TestChain chain(store);
    PackageSignatureCheck c = check(buildXar(signedWith(chain)).bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::Trusted) << c.failure;

    const test::SigningChain& apple = test::SigningChain::shared();
    const test::TestIdentity& software = apple.leaf(test::LeafKind::SoftwareSigning);
    XarBuildOptions o;
    o.files = test::sampleProductFiles();
    o.sign = [&](const Bytes& checksum) { return test::signDigestWithKey(software.privateKeyDer, checksum); };
    o.certificates = {software.certificateDer, apple.intermediate().certificateDer, apple.root().certificateDer};
    c = check(buildXar(o).bytes, apple.anchors());
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleSoftware) << c.failure;
}

TEST(PackageSignature, SignedWithASha256Checksum) {
    const TestChain& chain = developerIdChain();
    XarBuildOptions o = signedWith(chain);
    o.checksumAlgorithm = 3;
    o.checksumName = "sha256";
    o.sign = [&chain](const Bytes& checksum) { return chain.signDigest(checksum, "sha256"); };
    PackageSignatureCheck c = check(buildXar(o).bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    EXPECT_EQ(c.tocDigest.size(), 32u);
}

TEST(PackageSignature, EveryTamperingMakesTheSignatureInvalid) {
    const TestChain& chain = developerIdChain();
    const TrustAnchors anchors = anchorsOf(chain);
    const XarBuild good = buildXar(signedWith(chain));

    Bytes checksumFlipped = good.bytes;
    checksumFlipped[good.checksumOffset] ^= 0x80;
    PackageSignatureCheck c = check(checksumFlipped, anchors);
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);
    EXPECT_EQ(c.failure, "the table of contents does not match its checksum");
    EXPECT_TRUE(c.chain.empty());

    Bytes signatureFlipped = good.bytes;
    signatureFlipped[good.signatureOffset + good.signatureSize / 2] ^= 0x01;
    c = check(signatureFlipped, anchors);
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);
    EXPECT_EQ(c.failure, "the signature does not match the checksum of the table of contents");

    XarBuildOptions edited = signedWith(chain);
    edited.editTocAfterSigning = [](std::string& toc) {
        toc.replace(toc.find("<size>1000</size>"), 17, "<size>1001</size>");
    };
    c = check(buildXar(edited).bytes, anchors);
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);
    EXPECT_EQ(c.failure, "the table of contents does not match its checksum");

    // Signed by one key, carrying another signer's certificates.
    TestChainOptions otherKeys;
    otherKeys.keySet = 1;
    TestChain other(otherKeys);
    XarBuildOptions wrongCert = signedWith(chain);
    wrongCert.certificates = other.certificates();
    c = check(buildXar(wrongCert).bytes, anchors);
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);

    XarBuildOptions noCerts = signedWith(chain);
    noCerts.certificates.clear();
    c = check(buildXar(noCerts).bytes, anchors);
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);
    EXPECT_EQ(c.failure, "the signature carries no certificates");
}

TEST(PackageSignature, ChainWhoseLeafHasExpiredIsReportedAsExpired) {
    TestChainOptions old;
    old.leafNotBefore = std::time(nullptr) - 3 * 365 * 86400;
    old.leafNotAfter = std::time(nullptr) - 365 * 86400;
    TestChain chain(old);
    PackageSignatureCheck c = check(buildXar(signedWith(chain)).bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::Expired) << c.failure;
    EXPECT_FALSE(isTrustedPackageStatus(c.status));
}

TEST(PackageSignature, CmsSignatureBesideOrInsteadOfRsa) {
    const TestChain& chain = developerIdChain();
    XarBuildOptions both = signedWith(chain);
    both.signCms = [&chain](const Bytes& checksum) { return chain.signCms(checksum); };
    PackageSignatureCheck c = check(buildXar(both).bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    EXPECT_FALSE(c.trustedTimestamp);  // no timestamp token: the signing time claimed is no proof

    XarBuildOptions cmsOnly = both;
    cmsOnly.sign = nullptr;
    c = check(buildXar(cmsOnly).bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;

    XarBuild cmsBuild = buildXar(cmsOnly);
    cmsBuild.bytes[cmsBuild.cmsOffset + cmsBuild.cmsSize - 10] ^= 0x01;
    c = check(cmsBuild.bytes, anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::Invalid);
}

TEST(PackageSignature, TimestampedCmsSignatureVouchesForTheSigningTime) {
    // An expired leaf, signed while it was valid: the timestamp, not today, decides.
    const test::SigningChain& chain = test::SigningChain::shared();
    const test::TestIdentity& leaf = chain.leaf(test::LeafKind::DeveloperIDInstaller, true);
    const std::time_t signedAt = std::time(nullptr) - 2 * 365 * 86400;
    XarBuildOptions o;
    o.files = test::sampleProductFiles();
    o.sign = [&](const Bytes& checksum) { return test::signDigestWithKey(leaf.privateKeyDer, checksum); };
    o.certificates = {leaf.certificateDer, chain.intermediate().certificateDer, chain.root().certificateDer};
    test::CmsOptions stamped;
    stamped.signingTime = signedAt;
    o.signCms = [&](const Bytes& checksum) { return chain.signCms(checksum, leaf, {}, stamped); };
    PackageSignatureCheck c = check(buildXar(o).bytes, chain.anchors());
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution) << c.failure;
    ASSERT_TRUE(c.trustedTimestamp);
    EXPECT_LE(std::abs(*c.trustedTimestamp - signedAt), 1);

    // Without the timestamp the same chain has simply expired.
    o.signCms = nullptr;
    EXPECT_EQ(check(buildXar(o).bytes, chain.anchors()).status, PackageSignatureStatus::Expired);

    // A CMS signature by another signer lends its timestamp to nobody.
    const test::TestIdentity& other = chain.leaf(test::LeafKind::DeveloperIDApplication, false);
    o.signCms = [&](const Bytes& checksum) { return chain.signCms(checksum, other, {}, stamped); };
    o.cmsCertificates = {other.certificateDer, chain.intermediate().certificateDer, chain.root().certificateDer};
    EXPECT_EQ(check(buildXar(o).bytes, chain.anchors()).status, PackageSignatureStatus::Expired);
}

TEST(PackageSignature, OnlyTheCertificateThatMadeACmsSignatureSpeaksForIt) {
    // A CMS-only package: what signed is judged and named, whatever the table of contents lists.
    const test::SigningChain& chain = test::SigningChain::shared();
    const test::TestIdentity& throwaway = chain.leaf(test::LeafKind::SelfSigned);
    const test::TestIdentity& installer = chain.leaf(test::LeafKind::DeveloperIDInstaller);
    const test::TestIdentity& apple = chain.leaf(test::LeafKind::SoftwareSigning);
    const Bytes intermediate = chain.intermediate().certificateDer, root = chain.root().certificateDer;
    // Under a fixed clock inside every test certificate's validity.
    const std::time_t now = std::time(nullptr) - 3600;
    test::CmsOptions plain;
    plain.timestamp = false;
    struct Case {
        const char* name;
        const test::TestIdentity* signer;
        std::vector<Bytes> listed;
        PackageSignatureStatus status;
        const char* failure;
    };
    const char* notTheSigner = "the certificate the package names as its signer did not make its signature";
    const Case cases[] = {
        {"a Developer ID chain listed for a throw-away key",
         &throwaway,
         {installer.certificateDer, intermediate, root},
         PackageSignatureStatus::Invalid,
         notTheSigner},
        {"Apple's chain listed for a throw-away key",
         &throwaway,
         {apple.certificateDer, intermediate, root},
         PackageSignatureStatus::Invalid,
         notTheSigner},
        {"the throw-away key listed with Apple's issuers",
         &throwaway,
         {throwaway.certificateDer, intermediate, root},
         PackageSignatureStatus::Untrusted,
         ""},
        {"genuine Developer ID Installer",
         &installer,
         {installer.certificateDer, intermediate, root},
         PackageSignatureStatus::AppleDistribution,
         ""},
        {"genuine Apple Software Signing",
         &apple,
         {apple.certificateDer, intermediate, root},
         PackageSignatureStatus::AppleSoftware,
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        XarBuildOptions o;
        o.files = test::sampleProductFiles();
        o.signCms = [&](const Bytes& checksum) { return chain.signCms(checksum, *k.signer, {}, plain); };
        o.certificates = k.listed;
        auto c = checkFlatPackageSignature(readerOf(buildXar(o).bytes), chain.anchors(), now);
        ASSERT_TRUE(c) << c.error();
        EXPECT_EQ(c->status, k.status) << c->failure;
        if (*k.failure) EXPECT_EQ(c->failure, k.failure);
        if (k.status == PackageSignatureStatus::Untrusted) {
            ASSERT_FALSE(c->chain.empty());
            EXPECT_EQ(c->chain.front().der, throwaway.certificateDer);
        }
        if (isTrustedPackageStatus(k.status)) {
            ASSERT_FALSE(c->chain.empty());
            EXPECT_EQ(c->chain.front().der, k.signer->certificateDer);
        }
    }
}

TEST(PackageSignature, OnlyAGenuineStapledTicketThatNamesThePackageNotarizesIt) {
    const TestChain& chain = developerIdChain();
    XarBuild unstapled = buildXar(signedWith(chain));
    Bytes digest(unstapled.bytes.begin() + static_cast<long>(unstapled.checksumOffset),
                 unstapled.bytes.begin() + static_cast<long>(unstapled.checksumOffset + unstapled.checksumSize));
    auto stapled = [&](const Bytes& ticket) { return test::stapleTicket(unstapled.bytes, ticket); };

    PackageSignatureCheck c = check(stapled(TicketBuilder().naming(digest).build()), anchorsOf(chain));
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution);
    EXPECT_TRUE(c.ticket.present);
    EXPECT_TRUE(c.ticket.notarized()) << c.ticket.detail;

    Bytes elsewhere = digest;
    elsewhere[19] ^= 1;
    c = check(stapled(TicketBuilder().naming(elsewhere).build()), anchorsOf(chain));
    EXPECT_TRUE(c.ticket.verified);
    EXPECT_FALSE(c.ticket.namesItem);
    EXPECT_FALSE(c.ticket.notarized());

    // Bytes that merely begin with the magic and hold the digest, a ticket signed under a root that
    // copies Apple's names, and a genuine test ticket where only Apple's ticket root is trusted.
    Bytes shaped = {'s', '8', 'c', 'h', 1, 0, 0, 0};
    shaped.insert(shaped.end(), digest.begin(), digest.end());
    shaped.resize(200, 0x22);
    c = check(stapled(shaped), anchorsOf(chain));
    EXPECT_TRUE(c.ticket.present);
    EXPECT_EQ(c.ticket.failure, TicketFailure::Malformed);
    EXPECT_FALSE(c.ticket.notarized());
    c = check(stapled(TicketBuilder(test::makeTicketSigners(true)).naming(digest).build()), anchorsOf(chain));
    EXPECT_EQ(c.ticket.failure, TicketFailure::ChainUntrusted);
    EXPECT_FALSE(c.ticket.notarized());
    TrustAnchors appleTickets{{chain.rootDer()}, TicketAnchors::apple()};
    c = check(stapled(TicketBuilder().naming(digest).build()), appleTickets);
    EXPECT_EQ(c.status, PackageSignatureStatus::AppleDistribution);
    EXPECT_EQ(c.ticket.failure, TicketFailure::ChainUntrusted);
    EXPECT_FALSE(c.ticket.notarized());
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
    auto plain = checkPackageSignature(dir / "Plain", TrustAnchors::appleRoots(), 0);
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error(), "The item " + (dir / "Plain") + " is not an Installer package.");
    auto text = checkPackageSignature(dir / "notes.txt", TrustAnchors::appleRoots(), 0);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error(), "The item " + (dir / "notes.txt") + " is not an Installer package.");
    auto missing = checkPackageSignature(dir / "gone.pkg", TrustAnchors::appleRoots(), 0);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "The item " + (dir / "gone.pkg") + " does not exist.");

    Bytes damaged = buildXar(signedWith(developerIdChain())).bytes;
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
    PackageSignatureCheck c;
    EXPECT_EQ(packageSignatureReport("Old.pkg/", c), "Package \"Old.pkg\":\n   Status: no signature\n");
    c.status = PackageSignatureStatus::AppleSoftware;
    EXPECT_EQ(packageSignatureReport("a.pkg", c), "Package \"a.pkg\":\n   Status: signed Apple Software\n");
    c.status = PackageSignatureStatus::Trusted;
    EXPECT_EQ(packageSignatureReport("a.pkg", c),
              "Package \"a.pkg\":\n   Status: signed by a certificate trusted by Mac OS X\n");
    c.status = PackageSignatureStatus::Invalid;
    c.failure = "the table of contents does not match its checksum";
    EXPECT_EQ(packageSignatureReport("a.pkg", c),
              "Package \"a.pkg\":\n   Status: invalid signature (the table of contents does not match its checksum)\n");

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
