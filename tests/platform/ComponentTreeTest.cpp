// The component tree of an app built with nested code of every kind: each item's kind, signer, team,
// entitlements and notarization, the loose Mach-O and links the walk adds, and the findings across it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "BundleBuilder.h"
#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "TicketBuilder.h"
#include "codesign/CodeSignatureConstants.h"
#include "tools/print/ComponentText.h"
#include "verify/ComponentTree.h"

namespace tessarin {
namespace {

using test::BundleBuilder;
using test::SigningChain;
using Kind = BundleBuilder::Kind;
constexpr std::int32_t kArm64 = 0x0100000C;

// {com.apple.security.get-task-allow: true} in the DER form: version 1, then a one-pair dictionary.
test::Bytes derGetTaskAllow() {
    const std::string key = "com.apple.security.get-task-allow";
    test::Bytes der{0x70, 45, 0x02, 0x01, 0x01, 0xb0, 40, 0x30, 38, 0x0c, static_cast<std::uint8_t>(key.size())};
    der.insert(der.end(), key.begin(), key.end());
    der.insert(der.end(), {0x01, 0x01, 0xff});
    return der;
}

test::SignOptions developerId(const std::string& team, bool runtime) {
    test::SignOptions o;
    // Each team signs with its own certificate: a leaf vouches only for its own team.
    static const test::TestIdentity otherTeam = SigningChain::shared().developerIdLeaf(std::nullopt, "OTHERTEAM2");
    o.cms = team == SigningChain::teamId() ? SigningChain::shared().signer(test::LeafKind::DeveloperIDApplication)
                                           : SigningChain::shared().signer(otherTeam);
    o.teamId = team;
    if (runtime) o.flags = CS_RUNTIME;
    return o;
}

void sign(const BundleBuilder& b, test::SignOptions code) {
    test::BundleSignOptions o;
    o.code = std::move(code);
    o.code.identifier = *b.infoDictionary().at("CFBundleIdentifier").string();
    test::signBundle(b.path(), o);
}

test::Bytes cdhashOf(const std::string& path) {
    const std::string bytes = test::readFile(path);
    return test::sealCdhash(test::Bytes(bytes.begin(), bytes.end()));
}

const CodeItem* find(const CodeItem& item, const std::string& relative) {
    if (item.relativePath == relative) return &item;
    for (const auto& c : item.children)
        if (const CodeItem* f = find(c, relative)) return f;
    return nullptr;
}

// A Developer ID app with the hardened runtime and a weakening entitlement, holding a framework of
// another team, an ad hoc XPC service with DER entitlements, a plug-in without the runtime, a login
// item its stapled ticket names, a loose 32-bit Mach-O and a link.
const std::string& mixedApp() {
    static const test::TempDir dir;
    static const std::string built = [] {
        BundleBuilder app(dir / "Mixed.app");
        test::Bytes exe = test::thinMachO(kArm64, 0);
        // Mac Catalyst, minimum 14.0, SDK 15.2.
        test::addLoadCommand(exe, 0x32, {6, 0, 0, 0, 0, 0, 14, 0, 0, 2, 15, 0, 0, 0, 0, 0});
        app.executable("Mixed", exe);
        app.info("CFBundleShortVersionString", PlistValue("2.1")).info("CFBundleVersion", PlistValue("210"));
        app.file("Contents/Resources/old.bin", test::thinMachO(7, 3));
        app.symlink("Contents/Resources/Shared", "../Frameworks");
        app.build();
        auto nested = [&](const std::string& rel, Kind kind, test::SignOptions o) {
            BundleBuilder n = app.nested(rel, kind);
            n.executable(std::filesystem::path(rel).stem().string(), test::thinMachO(kArm64, 0)).build();
            sign(n, std::move(o));
            return n;
        };
        nested("Contents/Frameworks/Other.framework", Kind::Framework, developerId("OTHERTEAM2", true));
        test::SignOptions adhoc;
        adhoc.entitlementsDer = derGetTaskAllow();
        nested("Contents/XPCServices/Fetch.xpc", Kind::App, adhoc);
        nested("Contents/PlugIns/Share.appex", Kind::App, developerId(SigningChain::teamId(), false));
        BundleBuilder login =
            nested("Contents/Library/LoginItems/Helper.app", Kind::App, developerId(SigningChain::teamId(), true));
        // Signed the old way: the executable carries nothing, _CodeSignature holds the signature.
        BundleBuilder legacy = app.nested("Contents/PlugIns/Legacy.bundle", Kind::App);
        legacy.executable("Legacy", test::thinMachO(kArm64, 0)).build();
        test::BundleSignOptions separate;
        separate.code = developerId(SigningChain::teamId(), true);
        separate.code.identifier = "com.example.Legacy";
        separate.separateSignature = true;
        test::signBundle(legacy.path(), separate);
        test::SignOptions main = developerId(SigningChain::teamId(), true);
        main.entitlementsXml = toXmlPlist(PlistValue(PlistDict{{"com.apple.security.cs.allow-jit", PlistValue(true)}}));
        test::BundleSignOptions o;
        o.code = main;
        o.code.identifier = "com.example.Mixed";
        o.signNested = false;
        test::signBundle(app.path(), o);
        const test::Bytes ticket = test::TicketBuilder()
                                       .naming(cdhashOf(app.executablePath()))
                                       .naming(cdhashOf(login.executablePath()))
                                       .build();
        test::writeFile(app.path() + "/Contents/CodeResources", ticket);
        return app.path();
    }();
    return built;
}

TEST(ComponentTree, EachItemShowsItsKindSignerTeamEntitlementsAndNotarization) {
    const ComponentTree tree = componentTreeOf(mixedApp(), SigningChain::shared().anchors());
    using C = CodeItemKind;
    using N = NotarizationStatus;
    const char* devId = "Developer ID Application";
    // Each item's path, kind, signer words' start, team, notarization and the one entitlement marked.
    // clang-format off
    const std::tuple<const char*, CodeItemKind, const char*, const char*, NotarizationStatus, const char*> rows[] = {
        {"", C::App, devId, "TESTTEAM01", N::StapledTicket, "com.apple.security.cs.allow-jit"},
        {"Contents/Frameworks/Other.framework", C::Framework, devId, "OTHERTEAM2", N::NotEstablished, ""},
        {"Contents/XPCServices/Fetch.xpc", C::XpcService, "ad hoc", "", N::NotApplicable, "com.apple.security.get-task-allow"},
        // Without the runtime, yet beside a genuine ticket: the assessment will not say it could not be notarized.
        {"Contents/PlugIns/Share.appex", C::PlugIn, devId, "TESTTEAM01", N::NotEstablished, ""},
        {"Contents/PlugIns/Legacy.bundle", C::DetachedSignature, devId, "TESTTEAM01", N::NotEstablished, ""},
        {"Contents/Library/LoginItems/Helper.app", C::LoginItem, devId, "TESTTEAM01", N::ContainerTicket, ""},
        {"Contents/Resources/old.bin", C::LooseMachO, "unsigned", "", N::NotApplicable, ""},
        {"Contents/Resources/Shared", C::Link, "", "", N::NotApplicable, ""},
    };
    // clang-format on
    for (const auto& [relative, kind, signer, team, notarization, weakening] : rows) {
        SCOPED_TRACE(relative);
        const CodeItem* item = find(tree.root, relative);
        ASSERT_NE(item, nullptr) << componentTreeText(tree);
        EXPECT_EQ(item->kind, kind);
        if (kind == CodeItemKind::Link) {
            EXPECT_EQ(item->linkTarget, "../Frameworks");
            continue;
        }
        EXPECT_EQ(signerWords(*item).rfind(signer, 0), 0u) << signerWords(*item);
        EXPECT_EQ(item->teamId, team);
        EXPECT_EQ(item->notarization, notarization) << notarizationWords(item->notarization);
        EXPECT_EQ(item->weakeningEntitlements,
                  *weakening ? std::vector<std::string>{weakening} : std::vector<std::string>{});
    }
    // What the files say beside the signature: the bundle's versions and each slice's platform.
    EXPECT_EQ(tree.root.bundleShortVersion, "2.1");
    EXPECT_EQ(tree.root.bundleVersion, "210");
    ASSERT_EQ(tree.root.sliceFacts.size(), 1u);
    ASSERT_TRUE(tree.root.sliceFacts[0].build);
    EXPECT_EQ(platformName(tree.root.sliceFacts[0].build->platform), "Mac Catalyst");
    EXPECT_EQ(osVersionText(tree.root.sliceFacts[0].build->minos), "14.0");
    EXPECT_EQ(osVersionText(tree.root.sliceFacts[0].build->sdk), "15.2");
    // Alone, a timestamped Developer ID tool without the runtime could never have been notarized.
    test::TempDir dir;
    test::writeFile(dir / "tool", test::signMachO(test::thinMachO(kArm64, 0), developerId("TESTTEAM01", false)));
    EXPECT_EQ(componentTreeOf(dir / "tool", SigningChain::shared().anchors()).root.notarization, N::NotPossible);
    // A framework's own layout links are not content.
    EXPECT_EQ(find(tree.root, "Contents/Frameworks/Other.framework/Versions/Current"), nullptr);

    // Online, a genuine ticket the service returns confirms the framework; the rest stays as it was.
    struct OneTicket : TicketService {
        test::Bytes named;
        TicketLookup lookUp(const test::Bytes& digest, std::uint8_t) override {
            TicketLookup l;
            const bool match = digest.size() >= 20 && std::equal(named.begin(), named.begin() + 20, digest.begin());
            l.status = match ? TicketLookup::Status::Found : TicketLookup::Status::NotFound;
            if (match) l.ticket = test::TicketBuilder().naming(named).build();
            return l;
        }
    } service;
    service.named = cdhashOf(mixedApp() + "/Contents/Frameworks/Other.framework/Versions/A/Other");
    const ComponentTree online = componentTreeOf(mixedApp(), SigningChain::shared().anchors(), &service);
    for (const auto& [relative, expected] :
         std::vector<std::pair<std::string, N>>{{"Contents/Frameworks/Other.framework", N::ConfirmedOnline},
                                                {"Contents/PlugIns/Share.appex", N::NotEstablished},
                                                {"", N::StapledTicket}}) {
        const CodeItem* item = find(online.root, relative);
        ASSERT_NE(item, nullptr) << relative;
        EXPECT_EQ(item->notarization, expected) << relative << ": " << notarizationWords(item->notarization);
    }
}

TEST(ComponentTree, FindingsNameEveryComponentThatFallsShort) {
    const ComponentTree tree = componentTreeOf(mixedApp(), SigningChain::shared().anchors());
    using K = TreeFindingKind;
    std::vector<std::tuple<K, std::string, std::string>> found;
    for (const auto& f : tree.findings) found.emplace_back(f.kind, f.relativePath, f.detail);
    std::sort(found.begin(), found.end());
    std::vector<std::tuple<K, std::string, std::string>> expected = {
        {K::OtherTeam, "Contents/Frameworks/Other.framework", "OTHERTEAM2"},
        {K::AdHocInDeveloperId, "Contents/XPCServices/Fetch.xpc", ""},
        {K::NoHardenedRuntime, "Contents/XPCServices/Fetch.xpc", ""},
        {K::NoHardenedRuntime, "Contents/PlugIns/Share.appex", ""},
        {K::UnsignedInDeveloperId, "Contents/Resources/old.bin", ""},
        {K::ThirtyTwoBitOnly, "Contents/Resources/old.bin", ""},
        {K::WeakeningEntitlement, "", "com.apple.security.cs.allow-jit"},
        {K::WeakeningEntitlement, "Contents/XPCServices/Fetch.xpc", "com.apple.security.get-task-allow"},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected) << componentTreeText(tree);

    // The walk is bounded: past its limit it stops and says so.
    ComponentTreeLimits tight;
    tight.maxEntries = 3;
    EXPECT_TRUE(componentTreeOf(mixedApp(), SigningChain::shared().anchors(), nullptr, tight).walkTruncated);
}

}  // namespace
}  // namespace tessarin
