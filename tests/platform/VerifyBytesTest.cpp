// The verifier's pure checks on bytes in memory: what a slice's signature says, every problem a
// tampered slice has, and what a bundle hands over for its special slots. No files are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "SigningChain.h"
#include "codesign/CodeSignatureConstants.h"
#include "verify/CodeItem.h"
#include "verify/SliceCheck.h"

namespace tessarin {
namespace {

using test::LeafKind;
using test::SigningChain;

constexpr std::int32_t kArm64 = 0x0100000c;

ByteSpan span(const test::Bytes& b) { return asByteSpan(b); }

test::Bytes signedImage(test::SignOptions options = {}, std::size_t size = 3 * 4096) {
    test::SliceSpec arm64;
    arm64.cputype = kArm64;
    arm64.is64 = true;
    return test::signMachO(test::thinMachO(arm64, size), options);
}

std::vector<Problem> ofKind(const std::vector<Problem>& problems, ProblemKind kind) {
    std::vector<Problem> out;
    std::copy_if(problems.begin(), problems.end(), std::back_inserter(out),
                 [&](const Problem& p) { return p.kind == kind; });
    return out;
}

TEST(SliceBytes, ListsEveryModifiedPageOfEveryDirectoryWithBothDigests) {
    struct Case {
        std::uint8_t pageSizeLog2;
        std::vector<std::uint32_t> slots;  // the pages reported in each directory
    };
    // Page size 0 is one hash over everything up to the code limit, so both changes fall in page 0.
    const Case cases[] = {{12, {0, 2}}, {0, {0}}};
    for (const Case& c : cases) {
        test::SignOptions o;
        o.pageSizeLog2 = c.pageSizeLog2;
        test::Bytes image = signedImage(o);
        ASSERT_TRUE(checkSlice(span(image), {}, SigningChain::shared().anchors()).problems.empty());
        image[100] ^= 1;
        image[2 * 4096 + 5] ^= 1;
        SignatureDescription d = checkSlice(span(image), {}, SigningChain::shared().anchors());
        auto pages = ofKind(d.problems, ProblemKind::CodePageModified);
        ASSERT_EQ(pages.size(), 2 * c.slots.size());  // in each of two directories
        for (std::size_t i = 0; i < pages.size(); ++i) {
            EXPECT_EQ(pages[i].slot, c.slots[i % c.slots.size()]);
            EXPECT_FALSE(pages[i].expected.empty());
            EXPECT_EQ(pages[i].expected.size(), pages[i].actual.size());
            EXPECT_NE(pages[i].expected, pages[i].actual);
        }
        EXPECT_EQ(d.problems.front().kind, ProblemKind::CodePageModified);
    }
}

TEST(SliceBytes, BundleSlotsAreJudgedOnTheBytesTheCallerHandsOver) {
    const std::string plist = "<plist><dict/></plist>";
    const std::string seal = "<plist><dict><key>files</key><dict/></dict></plist>";
    test::SignOptions o;
    o.infoPlist = test::Bytes(plist.begin(), plist.end());
    o.codeResources = test::Bytes(seal.begin(), seal.end());
    test::Bytes image = signedImage(o);
    const auto& anchors = SigningChain::shared().anchors();

    SliceContext bundle;
    bundle.inBundle = true;
    bundle.infoPlist = span(*o.infoPlist);
    bundle.codeResources = span(*o.codeResources);
    EXPECT_TRUE(checkSlice(span(image), bundle, anchors).problems.empty());

    // Another Info.plist than the one signed, and no seal where the signature says there is one.
    const std::string changed = "<plist><dict><key>x</key><true/></dict></plist>";
    test::Bytes other(changed.begin(), changed.end());
    SliceContext altered = bundle, noSeal = bundle;
    altered.infoPlist = span(other);
    noSeal.codeResources.reset();
    for (const auto& [context, kind, slot] : {std::tuple{altered, ProblemKind::InfoPlistModified, CSSLOT_INFOSLOT},
                                              {noSeal, ProblemKind::ResourcesAbsent, CSSLOT_RESOURCEDIR}}) {
        auto problems = checkSlice(span(image), context, anchors).problems;
        ASSERT_FALSE(problems.empty());
        EXPECT_EQ(std::tuple(problems[0].kind, problems[0].slot), std::tuple(kind, slot));
    }
}

TEST(SliceBytes, CertificateSignatureIsJudgedAgainstTheGivenAnchors) {
    test::SignOptions o;
    o.cms = SigningChain::shared().signer(LeafKind::DeveloperIDApplication);
    test::Bytes image = signedImage(o);
    SignatureDescription trusted = checkSlice(span(image), {}, SigningChain::shared().anchors());
    ASSERT_TRUE(trusted.problems.empty());
    ASSERT_TRUE(trusted.facts.cms);
    EXPECT_TRUE(trusted.facts.cms->chainTrusted);
    SignatureDescription foreign = checkSlice(span(image), {}, SigningChain::unrelated().anchors());
    ASSERT_TRUE(foreign.facts.cms);
    EXPECT_FALSE(foreign.facts.cms->chainTrusted);
    EXPECT_TRUE(foreign.facts.cms->chainValid);  // verification asks only for a chain to its own root
    EXPECT_TRUE(foreign.problems.empty());
}

TEST(CodeItems, ItemCarriesKindSignatureAndNestedChildren) {
    CodeVerdict app, plugin, resources;
    app.kind = CodeKind::AppBundle;
    app.path = "/x/Example.app";
    app.executablePath = app.path + "/Contents/MacOS/Example";
    app.isSigned = plugin.isSigned = true;
    app.architectures = {"x86_64", "arm64"};
    plugin.kind = resources.kind = CodeKind::Bundle;
    plugin.path = app.path + "/Contents/PlugIns/Share.appex";
    plugin.executablePath = plugin.path + "/Contents/MacOS/Share";
    plugin.flags = CS_ADHOC | CS_LINKER_SIGNED;
    plugin.problems.resize(1);
    plugin.problems[0].kind = ProblemKind::FileModified;
    resources.path = app.path + "/Contents/Resources/Strings.bundle";
    app.children = {plugin, resources};
    CodeItem item = codeItemOf(app);
    EXPECT_EQ(std::tuple(item.kind, item.signature, item.slices),
              std::tuple(CodeItemKind::App, SignatureKind::AdHoc, std::vector<std::string>{"x86_64", "arm64"}));
    ASSERT_EQ(item.children.size(), 2u);
    EXPECT_EQ(std::tuple(item.children[0].kind, item.children[0].signature, item.children[0].problems.size()),
              std::tuple(CodeItemKind::PlugIn, SignatureKind::LinkerSigned, 1u));
    EXPECT_EQ(std::tuple(item.children[1].kind, item.children[1].signature),
              std::tuple(CodeItemKind::CodelessBundle, SignatureKind::Unsigned));
}

}  // namespace
}  // namespace tessarin
