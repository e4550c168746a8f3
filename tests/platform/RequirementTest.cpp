// Code requirements: compiled expressions read into trees and printed in Apple's text form, hostile
// blobs refused with a sentence, and requirements evaluated against chains shaped like Apple's.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MachOBuilder.h"
#include "MachOSigner.h"
#include "RequirementBuilder.h"
#include "SigningChain.h"
#include "TempDir.h"
#include "base/Hex.h"
#include "codesign/DesignatedRequirement.h"
#include "codesign/Requirement.h"
#include "codesign/RequirementEvaluator.h"
#include "codesign/RequirementParser.h"
#include "crypto/CertificateFields.h"
#include "crypto/Trust.h"
#include "tools/print/RequirementText.h"
#include "verify/Assessment.h"
#include "verify/CodeSignVerifier.h"

using namespace tessarin;
using Req = tessarin::test::RequirementBuilder;

namespace {

ByteSpan span(const std::vector<std::uint8_t>& v) { return asByteSpan(v); }

// The text of an expression, through a requirement blob and the reader.
std::string textOf(const Req& b) {
    auto blob = b.requirement();
    auto req = parseRequirement(span(blob));
    if (!req) return "error: " + req.error();
    return requirementText(*req);
}

// Text through the parser and the printer again; a parse error comes back as "error: ...".
std::string reprinted(const std::string& text) {
    auto req = parseRequirementText(text);
    return req ? requirementText(*req) : "error: " + req.error();
}

std::string textError(const std::string& text) {
    auto req = parseRequirementText(text);
    return req ? std::string() : req.error();
}

std::string errorOf(const std::vector<std::uint8_t>& blob) {
    auto req = parseRequirement(span(blob));
    return req ? std::string() : req.error();
}

Requirement parsed(const Req& b) {
    auto blob = b.requirement();
    auto req = parseRequirement(span(blob));
    EXPECT_TRUE(req) << req.error();
    return req ? *req : Requirement{};
}

// A Developer ID requirement for com.example.app of `team`, as codesign prints it.
std::string devIdText(const std::string& team) {
    return "identifier \"com.example.app\" and anchor apple generic and certificate "
           "1[field.1.2.840.113635.100.6.2.6] /* exists */ and certificate leaf[field.1.2.840.113635.100.6.1.13] "
           "/* exists */ and certificate leaf[subject.OU] = " +
           team;
}

}  // namespace

TEST(RequirementText, EveryOpcodePrintsAsCodesignWritesIt) {
    const std::vector<std::uint8_t> h20(20, 0xab);
    struct Case {
        Req b;
        std::string text;
        bool sameTree = true;  // the text compiles back to the very tree it was printed from
    };
    std::vector<Case> cases;
    auto add = [&](Req b, std::string text, bool sameTree = true) {
        cases.push_back({std::move(b), std::move(text), sameTree});
    };
    add(Req().op(opFalse), "never");
    add(Req().op(opTrue), "always");
    add(Req().ident("com.example.app"), "identifier \"com.example.app\"");
    add(Req().op(opAppleAnchor), "anchor apple");
    add(Req().op(opAppleGenericAnchor), "anchor apple generic");
    std::string ab;
    for (int i = 0; i < 20; ++i) ab += "ab";
    add(Req().anchorHash(kAnchorCertificate, h20), "certificate root = H\"" + ab + "\"");
    // Words after a complete expression are not part of it.
    add(Req().anchorHash(2, h20).op(opTrue).word(0), "certificate 2 = H\"" + ab + "\"");
    // The legacy key-value opcode prints as the key-field form it compiles to today.
    add(Req().word(opInfoKeyValue).data("CFBundleVersion").data("1.0"), "info[CFBundleVersion] = \"1.0\"", false);
    add(Req().cdhash({0x01, 0x02, 0xfe}), "cdhash H\"0102fe\"");
    add(Req().op(opNot).ident("a"), "! identifier a");
    add(Req().infoKey("CFBundleShortVersionString").matchWith(matchGreaterEqual, "2.1"),
        "info[CFBundleShortVersionString] >= \"2.1\"");
    add(Req().entitlement("com.apple.security.app-sandbox").matchWith(matchExists),
        "entitlement[\"com.apple.security.app-sandbox\"] /* exists */");
    add(Req().certField(kLeafCertificate, "subject.CN").matchWith(matchBeginsWith, "Developer ID"),
        "certificate leaf[subject.CN] = \"Developer ID\"*");
    add(Req().certField(kLeafCertificate, "subject.O").matchWith(matchEndsWith, "Corp"),
        "certificate leaf[subject.O] = *Corp");
    add(Req().certField(-2, "subject.CN").matchWith(matchContains, "Apple"), "certificate -2[subject.CN] ~ Apple");
    add(Req().certField(0, "email").matchWith(matchAbsent), "certificate leaf[email] absent");
    add(Req().infoKey("A").matchWith(matchLessThan, "3"), "info[A] < \"3\"");
    add(Req().infoKey("A").matchWith(matchGreaterThan, "x3"), "info[A] > x3");
    add(Req().infoKey("A").matchWith(matchLessEqual, "leaf"), "info[A] <= \"leaf\"");
    add(Req().word(opTrustedCert).word(static_cast<std::uint32_t>(kAnchorCertificate)), "certificate root trusted");
    add(Req().op(opTrustedCerts), "anchor trusted");
    add(Req().certGeneric(1, "1.2.840.113635.100.6.2.6").matchWith(matchExists),
        "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */");
    add(Req().certGeneric(0, "1.2.840.113635.100.5.1", opCertPolicy).matchWith(matchExists),
        "certificate leaf[policy.1.2.840.113635.100.5.1] /* exists */");
    add(Req().certGeneric(0, "1.2.840.113635.100.6.1.33", opCertFieldDate).matchWith(matchAbsent),
        "certificate leaf[timestamp.1.2.840.113635.100.6.1.33] absent");
    add(Req().certGeneric(0, "1.2.3", opCertFieldDate).word(matchBefore).word(0).word(0),
        "certificate leaf[timestamp.1.2.3] < <2001-01-01 00:00:00 +0000>");
    add(Req().word(opNamedAnchor).data("beta"), "anchor apple beta");
    add(Req().word(opNamedCode).data("helper"), "(helper)");
    add(Req().word(opPlatform).word(2), "platform = 2");
    add(Req().op(opNotarized), "notarized");
    add(Req().op(opLegacyDevID), "legacy");
    add(Req().word(opGenericFalse | 0x1234).word(5).raw({1, 2, 3, 4, 5, 0, 0, 0}), "false /* opcode 4660 */", false);
    // "and" binds tighter than "or": parentheses only where the tree differs from that reading.
    add(Req().op(opAnd).op(opOr).op(opTrue).op(opFalse).op(opNotarized), "(always or never) and notarized");
    add(Req().op(opOr).op(opAnd).op(opTrue).op(opFalse).op(opNotarized), "always and never or notarized");
    // Chains nest to the right, as codesign's own requirements do; one nested to the left prints the same.
    add(Req().op(opOr).cdhash({1}).op(opOr).cdhash({2}).cdhash({3}),
        "cdhash H\"01\" or cdhash H\"02\" or cdhash H\"03\"");
    add(Req().op(opOr).op(opOr).cdhash({1}).cdhash({2}).cdhash({3}),
        "cdhash H\"01\" or cdhash H\"02\" or cdhash H\"03\"", false);
    add(Req().op(opNot).op(opAnd).op(opTrue).op(opNotarized), "! (always and notarized)");
    add(Req::developerId("com.example.app", "ABCDE12345"), devIdText("ABCDE12345"));
    for (const auto& c : cases) {
        EXPECT_EQ(textOf(c.b), c.text);
        auto compiled = parseRequirementText(c.text);
        ASSERT_TRUE(compiled) << c.text << ": " << compiled.error();
        if (c.sameTree) {
            EXPECT_EQ(*compiled, parsed(c.b)) << c.text;
            EXPECT_EQ(requirementText(*compiled), c.text);
        } else {
            EXPECT_EQ(reprinted(requirementText(*compiled)), requirementText(*compiled));
        }
    }
}

TEST(RequirementText, StringsAreQuotedUnlessPlainWordsAndNeverBreakALine) {
    auto ident = [](const std::string& s) { return textOf(Req().ident(s)); };
    EXPECT_EQ(ident("Tool"), "identifier Tool");
    EXPECT_EQ(ident("com.example.app"), "identifier \"com.example.app\"");  // dots only bare in keys
    EXPECT_EQ(ident("9BNSXJN65R"), "identifier \"9BNSXJN65R\"");            // a bare word cannot start with a digit
    EXPECT_EQ(ident("anchor"), "identifier \"anchor\"");                    // nor be a keyword
    EXPECT_EQ(ident(""), "identifier \"\"");
    EXPECT_EQ(ident("say \"hi\" \\ bye"), "identifier \"say \\\"hi\\\" \\\\ bye\"");
    EXPECT_EQ(ident("a\nb"), "identifier 0x610a62");
    EXPECT_EQ(ident("x\r\ndesignated => always"), "identifier 0x780d0a64657369676e61746564203d3e20616c77617973");
    EXPECT_EQ(ident("caf\xc3\xa9"), "identifier 0x636166c3a9");
    EXPECT_EQ(textOf(Req().infoKey("a\tb").matchWith(matchEqual, "\x1b[2J")), "info[0x610962] = 0x1b5b324a");
    // Keys that are not plain words stay quoted, so the text compiles back to the same key.
    EXPECT_EQ(textOf(Req().infoKey(".hidden").matchWith(matchExists)), "info[\".hidden\"] /* exists */");
    for (const std::string s : {"Tool", "com.example.app", "9BNSXJN65R", "anchor", "", "say \"hi\" \\ bye", "a\nb",
                                "caf\xc3\xa9", "H", "0x12", ".hidden", "a..b"}) {
        auto text = textOf(Req().infoKey(s).matchWith(matchEqual, s));
        auto back = parseRequirementText(text);
        ASSERT_TRUE(back) << text << ": " << back.error();
        EXPECT_EQ(back->expression.text, s) << text;
        EXPECT_EQ(back->expression.match.value, s) << text;
    }

    RequirementSet set;
    set.entries.push_back({kSecHostRequirementType, parsed(Req().ident("h\nx"))});
    set.entries.push_back({kSecDesignatedRequirementType, parsed(Req().op(opTrue))});
    set.entries.push_back({0, parsed(Req().op(opFalse))});
    set.entries.push_back({77, parsed(Req().op(opFalse))});
    EXPECT_EQ(requirementSetText(set),
              "host => identifier 0x680a78\ndesignated => always\ninvalid => never\n/*unknown type*/ 77 => never\n");
    auto back = parseRequirementSetText(requirementSetText(set));
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(requirementSetText(*back), requirementSetText(set));
}

TEST(RequirementTextParser, AcceptsTheSpellingsCodesignAccepts) {
    const std::string h(40, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {"anchor generic apple", "anchor apple generic"},
        {"cert leaf[subject.CN] == \"x y\"", "certificate leaf[subject.CN] = \"x y\""},
        {"identifier = com.example.app;;", "identifier \"com.example.app\""},
        {"certificate trusted", "anchor trusted"},
        {"anchor = H\"" + h + "\"", "certificate root = H\"" + h + "\""},
        {"anchor [field.1.2.3] exists", "certificate root[field.1.2.3] /* exists */"},
        {"certificate 1[extension.1.2.840.113635.100.6.2.6]",
         "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */"},
        {"entitlement[\"com.apple.security.get-task-allow\"] absent",
         "entitlement[\"com.apple.security.get-task-allow\"] absent"},
        {"info[CFBundleName] = *Tool*", "info[CFBundleName] ~ Tool"},
        {"# a comment\nalways // another\n/* and a block */ or\tnever", "always or never"},
        {"cdhash = H\"" + h + "\" or platform 2", "cdhash H\"" + h + "\" or platform = 2"},
        {"((always)) and (never or notarized)", "always and (never or notarized)"},
        {"! ! legacy", "! ! legacy"},
        {"certificate 1[timestamp.1.2.3] >= <2024-02-29 12:00:00 +0000>",
         "certificate 1[timestamp.1.2.3] >= <2024-02-29 12:00:00 +0000>"},
        {"info[A] = 0x414243", "info[A] = ABC"},
    };
    for (const auto& [text, canonical] : cases) EXPECT_EQ(reprinted(text), canonical) << text;
}

TEST(RequirementTextParser, MalformedTextIsARefusalThatSaysWhere) {
    std::string chain = "always";
    for (int i = 0; i < 64; ++i) chain += " and always";
    // Shallow but broad: a balanced tree of "or"s eight levels deep is read, twelve hold too many terms.
    std::function<std::string(int)> broad = [&](int l) -> std::string {
        return l == 0 ? "always" : "(" + broad(l - 1) + " or " + broad(l - 1) + ")";
    };
    EXPECT_EQ(textError(broad(8)), "");
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"   /* only a comment */", "empty"},
        {"identifier", "expected an identifier, found the end of the text (at byte 10)"},
        {"identifier \"com.x", "never closed (at byte 11)"},
        {"always /* and", "comment is never closed (at byte 7)"},
        {"anchor apple and", "found the end of the text (at byte 16)"},
        {"cdhash H\"abc\"", "even number of hexadecimal digits"},
        {"cdhash 0x" + std::string(40, 'a'), "expected a hash"},
        {"(always", "expected ) or an operator, found the end of the text (at byte 7)"},
        {"always)", "unexpected ) after the requirement (at byte 6)"},
        {"always never", "unexpected \"never\" after the requirement (at byte 7)"},
        {"identifier and", "expected an identifier, found \"and\""},
        {"certificate 99999999999[subject.CN]", "too large"},
        {"certificate leaf[field.1.99.3]", "no well-formed OID"},
        {"certificate leaf[field.1.2.3] = <2024-02-30 00:00:00 +0000>", "<YYYY-MM-DD HH:MM:SS +0000>"},
        {"always ? never", "'?'"},
        {"identifier \x01", "byte 1"},
        {"info[k] = ", "expected a value"},
        {"certificate leaf", "expected [ before a key"},
        // Thirty thousand "!"s or "("s, or 65 "and"s, stop at the depth bound; the parser never
        // recurses that far. A hundred thousand "!"s are longer than any text read.
        {std::string(30000, '!') + "always", "nests deeper than 64 levels"},
        {std::string(100000, '!') + "always", "at most 65536 are read"},
        {std::string(30000, '(') + "always" + std::string(30000, ')'), "nests deeper"},
        {chain, "nests deeper than 64 levels"},
        {broad(12), "more than 4096 terms"},
    };
    for (const auto& [text, wanted] : cases)
        EXPECT_NE(textError(text).find(wanted), std::string::npos) << text.substr(0, 80) << " -> " << textError(text);

    auto twice = parseRequirementSetText("designated => always host => never designated => never");
    ASSERT_FALSE(twice);
    EXPECT_NE(twice.error().find("type 3 twice"), std::string::npos);
    EXPECT_FALSE(parseRequirementSetText("designated always"));
}

TEST(RequirementSetReader, ReadsEveryEntryByType) {
    auto dr = Req::developerId("com.example.app", "ABCDE12345").requirement();
    auto host = Req().op(opAppleAnchor).requirement();
    auto blob = Req::set({{kSecHostRequirementType, host}, {kSecDesignatedRequirementType, dr}});
    auto set = parseRequirementSet(span(blob));
    ASSERT_TRUE(set) << set.error();
    ASSERT_EQ(set->entries.size(), 2u);
    ASSERT_NE(set->find(kSecDesignatedRequirementType), nullptr);
    EXPECT_EQ(requirementText(*set->find(kSecDesignatedRequirementType)), devIdText("ABCDE12345"));
    EXPECT_EQ(set->find(kSecLibraryRequirementType), nullptr);
    auto empty = Req::set({});
    auto none = parseRequirementSet(span(empty));
    ASSERT_TRUE(none) << none.error();
    EXPECT_TRUE(none->entries.empty());
}

TEST(RequirementHostileInput, EachBrokenBlobIsAClearError) {
    // Ten thousand nested "not"s: refused at the depth bound, without recursing that far.
    Req deep;
    for (int i = 0; i < 10000; ++i) deep.op(opNot);
    deep.op(opTrue);
    Req wide;  // deep "and"s on the left
    for (int i = 0; i < 10000; ++i) wide.op(opAnd);
    // Shallow but broad: "or"s of "or"s eight levels deep hold 511 terms; twelve levels, too many.
    auto broad = [](int levels) {
        Req b;
        std::function<void(int)> tree = [&](int l) {
            if (l == 0) {
                b.op(opTrue);
                return;
            }
            b.op(opOr);
            tree(l - 1);
            tree(l - 1);
        };
        tree(levels);
        return b.requirement();
    };
    EXPECT_EQ(errorOf(broad(8)), "");

    auto truncated = Req().ident("com.example.app").requirement();
    truncated[7] = static_cast<std::uint8_t>(truncated[7] - 8);  // cut short by its own length, bytes behind
    auto lying = Req().op(opTrue).requirement();
    lying[4] = 0x7f;  // a length past the bytes
    auto kind = Req().op(opTrue).requirement();
    kind[11] = 2;
    const std::pair<std::vector<std::uint8_t>, const char*> rows[] = {
        {Req().word(opIdent).word(1000).raw({'a', 'b', 'c', 'd'}).requirement(),
         "runs past the end of the requirement"},
        {Req().word(opIdent).word(0xffffffff).requirement(), "4294967295 bytes"},
        {truncated, "runs past the end"},
        {Req().op(opAnd).op(opTrue).requirement(), "ends before an opcode"},
        {Req().infoKey("k").requirement(), "ends before a match operation"},
        {Req().word(99).requirement(), "opcode 99, which is not understood"},
        {Req().infoKey("k").word(40).requirement(), "match operation 40"},
        {Req().word(opGenericSkip | 99).word(4000).requirement(), "claims more bytes"},
        {lying, "does not fit"},
        {kind, "kind 2"},
        {{0xfa, 0xde}, "shorter than its header"},
        {deep.requirement(), "nests deeper than 64 levels"},
        {wide.requirement(), "nests deeper"},
        {broad(12), "more than 4096 terms"},
    };
    for (const auto& [blob, reason] : rows) EXPECT_NE(errorOf(blob).find(reason), std::string::npos) << reason;

    // Sets: a count of four billion, an entry pointing out of the set, a broken member, a type twice.
    auto req = Req().op(opTrue).requirement();
    auto billions = Req::set({{3, req}});
    billions[8] = billions[9] = billions[10] = billions[11] = 0xff;
    auto outside = Req::set({{3, req}});
    outside[19] = 0xf0;
    const std::pair<std::vector<std::uint8_t>, const char*> sets[] = {
        {billions, "claims 4294967295 requirements"},
        {outside, "lies outside it"},
        {Req::set({{3, Req().word(99).requirement()}}), "requirement 1 of the set: the requirement uses opcode 99"},
        {Req::set({{3, req}, {3, req}}), ""},
    };
    for (const auto& [blob, reason] : sets) {
        auto set = parseRequirementSet(span(blob));
        ASSERT_FALSE(set) << reason;
        EXPECT_NE(set.error().find(reason), std::string::npos) << set.error();
    }
}

namespace {

std::vector<CertificateFields> fieldsOf(const std::vector<CertificateInfo>& chain) {
    std::vector<CertificateFields> out;
    for (const auto& c : chain) {
        auto f = certificateFields(c.der);
        EXPECT_TRUE(f) << f.error();
        if (f) out.push_back(*f);
    }
    return out;
}

// The context a verifier fills for code signed by `chain`'s Developer ID leaf, with `appleRoots`
// standing for the roots Apple ships.
RequirementContext developerIdContext(const test::SigningChain& chain, const std::vector<Bytes>& appleRoots) {
    const auto& leaf = chain.leaf(test::LeafKind::DeveloperIDApplication);
    TrustAnchors own;
    own.rootsDer.push_back(chain.root().certificateDer);
    auto verdict = verifyChain({leaf.certificateDer, chain.intermediate().certificateDer, chain.root().certificateDer},
                               own, std::time(nullptr));
    EXPECT_TRUE(verdict.trusted) << verdict.failure;
    RequirementContext c;
    c.identifier = "com.example.app";
    c.teamId = test::SigningChain::teamId();
    c.chain = fieldsOf(verdict.chain);
    c.chainValid = verdict.trusted;
    c.appleRootsDer = appleRoots;
    return c;
}

bool holds(const Req& b, const RequirementContext& c) {
    auto r = evaluate(parsed(b), c);
    EXPECT_TRUE(r.error.empty()) << r.error;
    return r.holds;
}

}  // namespace

TEST(RequirementEvaluation, DeveloperIdRequirementHoldsOnlyUnderTheInjectedAppleRoot) {
    const auto& shared = test::SigningChain::shared();
    const auto dr = Req::developerId("com.example.app", test::SigningChain::teamId());
    auto context = developerIdContext(shared, {shared.root().certificateDer});
    ASSERT_EQ(context.chain.size(), 3u);
    EXPECT_TRUE(holds(dr, context));

    // Another identifier or team fails it.
    EXPECT_FALSE(holds(Req::developerId("com.example.other", test::SigningChain::teamId()), context));
    EXPECT_FALSE(holds(Req::developerId("com.example.app", "OTHERTEAM1"), context));

    // The same chain against Apple's real roots: not Apple's.
    auto real = developerIdContext(shared, TrustAnchors::appleRoots().rootsDer);
    EXPECT_FALSE(holds(dr, real));
    EXPECT_FALSE(holds(Req().op(opAppleGenericAnchor), real));

    // A home-made root that carries Apple's names, under the real roots or the test's: not Apple's.
    test::SigningChain fake("Apple Root CA", "Apple Inc.", "Apple Certification Authority");
    auto impostor = developerIdContext(fake, TrustAnchors::appleRoots().rootsDer);
    ASSERT_EQ(impostor.chain.back().subjectValue("CN") ? *impostor.chain.back().subjectValue("CN") : "",
              "Apple Root CA");
    EXPECT_FALSE(holds(dr, impostor));
    EXPECT_FALSE(holds(dr, developerIdContext(fake, {shared.root().certificateDer})));

    // The right root's bytes at the top of a chain whose signatures were not checked vouch for nothing.
    auto unchecked = context;
    unchecked.chainValid = false;
    EXPECT_FALSE(holds(dr, unchecked));
    EXPECT_FALSE(holds(Req().certField(0, "subject.OU").matchWith(matchExists), unchecked));
}

TEST(RequirementEvaluation, CertificateInfoAndEntitlementClausesFollowAppleMatching) {
    const auto& shared = test::SigningChain::shared();
    auto c = developerIdContext(shared, {});
    const auto& root = c.chain.back();
    EXPECT_TRUE(holds(Req().anchorHash(kAnchorCertificate, root.sha1), c));
    EXPECT_FALSE(holds(Req().anchorHash(kLeafCertificate, root.sha1), c));
    EXPECT_FALSE(holds(Req().anchorHash(7, root.sha1), c));  // no such certificate
    EXPECT_TRUE(holds(Req().certField(-2, "subject.O").matchWith(matchEqual, "Apple Inc."), c));
    EXPECT_TRUE(holds(Req().certField(0, "subject.CN").matchWith(matchBeginsWith, "Developer ID Application: "), c));
    EXPECT_TRUE(holds(Req().certField(0, "subject.CN").matchWith(matchEndsWith, "(TESTTEAM01)"), c));
    EXPECT_TRUE(holds(Req().certField(0, "subject.L").matchWith(matchAbsent), c));
    EXPECT_FALSE(holds(Req().certField(0, "issuer.CN").matchWith(matchExists), c));
    EXPECT_TRUE(holds(Req().certGeneric(0, "1.2.840.113635.100.6.1.13").matchWith(matchExists), c));
    EXPECT_FALSE(holds(Req().certGeneric(1, "1.2.840.113635.100.6.1.13").matchWith(matchExists), c));
    EXPECT_TRUE(holds(Req().certGeneric(1, "1.2.840.113635.100.6.1.13").matchWith(matchAbsent), c));
    // Apple's own code needs Apple's own signing authority under an Apple root.
    EXPECT_FALSE(holds(Req().op(opAppleAnchor), developerIdContext(shared, {shared.root().certificateDer})));

    PlistDict info;
    info["CFBundleVersion"] = PlistValue("1.10.2");
    info["LSMinimumSystemVersion"] = PlistValue("10.9");
    info["Flags"] = PlistValue(PlistArray{PlistValue("alpha"), PlistValue("beta")});
    PlistDict entitlements;
    entitlements["com.apple.security.app-sandbox"] = PlistValue(true);
    entitlements["com.apple.security.get-task-allow"] = PlistValue(false);
    c.info = info;
    c.entitlements = entitlements;
    EXPECT_TRUE(holds(Req().infoKey("CFBundleVersion").matchWith(matchGreaterThan, "1.9"), c));  // by number
    EXPECT_FALSE(holds(Req().infoKey("CFBundleVersion").matchWith(matchLessThan, "1.9.9"), c));
    EXPECT_TRUE(holds(Req().infoKey("LSMinimumSystemVersion").matchWith(matchGreaterEqual, "10.9"), c));
    EXPECT_TRUE(holds(Req().infoKey("Flags").matchWith(matchEqual, "beta"), c));
    EXPECT_TRUE(holds(Req().infoKey("Flags").matchWith(matchContains, "lph"), c));
    EXPECT_TRUE(holds(Req().word(opInfoKeyValue).data("CFBundleVersion").data("1.10.2"), c));
    EXPECT_TRUE(holds(Req().infoKey("Missing").matchWith(matchAbsent), c));
    EXPECT_FALSE(holds(Req().infoKey("Missing").matchWith(matchExists), c));
    EXPECT_TRUE(holds(Req().entitlement("com.apple.security.app-sandbox").matchWith(matchExists), c));
    EXPECT_FALSE(holds(Req().entitlement("com.apple.security.get-task-allow").matchWith(matchExists), c));
    EXPECT_FALSE(holds(Req().entitlement("com.apple.security.app-sandbox").matchWith(matchEqual, "true"), c));

    c.cdhashes = {Bytes(20, 7)};
    EXPECT_TRUE(holds(Req().cdhash(Bytes(20, 7)), c));
    EXPECT_FALSE(holds(Req().cdhash(Bytes(20, 8)), c));
    EXPECT_FALSE(holds(Req().op(opNotarized), c));
    c.notarized = true;
    EXPECT_TRUE(holds(Req().op(opNotarized), c));
    EXPECT_FALSE(holds(Req().word(opNamedAnchor).data("beta"), c));
    EXPECT_FALSE(holds(Req().word(opGenericFalse | 50).word(0), c));
    EXPECT_TRUE(holds(Req().word(opGenericSkip | 50).word(4).word(9).op(opTrue), c));

    // A malformed OID is an error, not a quiet "no".
    auto bad = evaluate(parsed(Req().word(opCertGeneric).word(0).data(Bytes{0x2a, 0x86}).word(matchExists)), c);
    EXPECT_FALSE(bad.holds);
    EXPECT_NE(bad.error.find("malformed OID"), std::string::npos);
}

TEST(ImplicitDesignatedRequirement, IsDerivedAsCodesignDoes) {
    ImplicitRequirementInput adhoc;
    adhoc.identifier = "tool";
    adhoc.adhoc = true;
    adhoc.cdhashes = {Bytes(20, 0x11), Bytes(20, 0x22), Bytes(20, 0x33)};
    auto req = implicitDesignatedRequirement(adhoc);
    ASSERT_TRUE(req) << req.error();
    EXPECT_EQ(requirementText(*req), "cdhash H\"" + std::string(40, '1') + "\" or cdhash H\"" + std::string(40, '2') +
                                         "\" or cdhash H\"" + std::string(40, '3') + "\"");

    const auto& shared = test::SigningChain::shared();
    auto context = developerIdContext(shared, {shared.root().certificateDer});
    ImplicitRequirementInput signed_;
    signed_.identifier = "com.example.app";
    signed_.chain = context.chain;
    signed_.appleRootsDer = {shared.root().certificateDer};
    req = implicitDesignatedRequirement(signed_);
    ASSERT_TRUE(req) << req.error();
    EXPECT_EQ(requirementText(*req), devIdText(test::SigningChain::teamId()));
    EXPECT_TRUE(evaluate(*req, context).holds);

    // Under another root the leaf's own certificate is pinned (its organization is its own).
    signed_.appleRootsDer.clear();
    req = implicitDesignatedRequirement(signed_);
    ASSERT_TRUE(req) << req.error();
    EXPECT_EQ(requirementText(*req),
              "identifier \"com.example.app\" and certificate leaf = H\"" + hex(context.chain.front().sha1) + "\"");
    EXPECT_TRUE(evaluate(*req, context).holds);

    signed_.chain.clear();
    EXPECT_FALSE(implicitDesignatedRequirement(signed_));
}

namespace {

// A thin arm64 tool signed by `chain`'s leaf of `kind` (Developer ID by default), with `requirements`
// as its set (else none); an expired leaf signs without a timestamp.
std::string signedTool(const test::TempDir& dir, const std::string& name, const test::SigningChain& chain,
                       std::optional<std::vector<std::uint8_t>> requirements,
                       test::LeafKind kind = test::LeafKind::DeveloperIDApplication, bool expired = false) {
    test::SignOptions o;
    o.identifier = "com.example.tool";
    o.teamId = test::SigningChain::teamId();
    test::CmsOptions cms;
    cms.timestamp = !expired;
    o.cms = chain.signer(kind, expired, cms);
    o.requirements = std::move(requirements);
    if (!o.requirements) o.designatedRequirement = false;
    const std::string path = dir / name;
    test::writeFile(path, test::signMachO(test::thinMachO(0x0100000C, 0), o));
    return path;
}

}  // namespace

// Gatekeeper's assessment accepts the code only while it satisfies its requirement.
TEST(DesignatedRequirementVerification, DeveloperIdCodeSatisfiesItsRequirementOnlyUnderAppleRoots) {
    test::TempDir dir;
    const auto& shared = test::SigningChain::shared();
    const test::SigningChain impostor("Apple Root CA", "Apple Inc.", "Apple Certification Authority");
    auto requiring = [](const std::string& identifier) {
        const auto dr = Req::developerId(identifier, test::SigningChain::teamId()).requirement();
        return Req::set({{kSecDesignatedRequirementType, dr}});
    };
    const std::string tool = signedTool(dir, "tool", shared, requiring("com.example.tool"));
    const std::string forged = signedTool(dir, "forged", impostor, requiring("com.example.tool"));
    const std::string renamed = signedTool(dir, "renamed", shared, requiring("com.example.other"));
    using R = RejectionReason;
    const std::tuple<const char*, std::string, TrustAnchors, bool, std::optional<R>> rows[] = {
        // The test root stands for Apple's.
        {"under the test root", tool, shared.anchors(), true, R::None},
        // Intact, chained to its own root: not Apple's.
        {"under Apple's root", tool, TrustAnchors::appleRoots(), false, std::nullopt},
        {"impostor root, under Apple's root", forged, TrustAnchors::appleRoots(), false, std::nullopt},
        {"impostor root, under the test root", forged, shared.anchors(), false, std::nullopt},
        {"another identifier required", renamed, shared.anchors(), false, R::RequirementNotSatisfied},
    };
    for (const auto& [what, path, anchors, satisfied, rejection] : rows) {
        SCOPED_TRACE(what);
        CodeVerdict v = verifyCode(path, {}, anchors);
        ASSERT_TRUE(v.valid) << static_cast<int>(v.cause);
        EXPECT_FALSE(v.designatedRequirementImplicit);
        EXPECT_EQ(v.designatedRequirementSatisfied, satisfied) << v.designatedRequirementProblem;
        if (!rejection) continue;
        Assessment a = assessCodeVerdict(v, TicketAnchors::apple());
        EXPECT_EQ(a.reason, *rejection);
        EXPECT_EQ(a.accepted, *rejection == R::None);
    }
}

TEST(DesignatedRequirementVerification, SelfSignedAndDevelopmentCodeSatisfiesItsRequirementYetIsNotAccepted) {
    test::TempDir dir;
    const auto& shared = test::SigningChain::shared();
    struct Case {
        test::LeafKind kind;
        TrustAnchors anchors;  // for development code the test root stands for Apple's
        std::string requirementStart;
    };
    const Case cases[] = {
        {test::LeafKind::SelfSigned, TrustAnchors::appleRoots(),
         "identifier \"com.example.tool\" and certificate root = H\""},
        {test::LeafKind::AppleDevelopment, shared.anchors(),
         "identifier \"com.example.tool\" and anchor apple generic and certificate leaf[subject.CN] = \"Apple "
         "Development: Test Developer (TESTDEV001)\" and certificate 1[field.1.2.840.113635.100.6.2.1] /* exists */"},
    };
    for (const Case& c : cases) {
        // Such certificates are short-lived and their signatures carry no timestamp: expired ones too.
        for (bool expired : {false, true}) {
            SCOPED_TRACE(c.requirementStart + (expired ? " (expired)" : ""));
            const std::string tool = signedTool(dir, expired ? "old" : "new", shared, std::nullopt, c.kind, expired);
            CodeVerdict v = verifyCode(tool, {}, c.anchors);
            ASSERT_TRUE(v.valid) << static_cast<int>(v.cause) << (v.cms ? " " + v.cms->failure : "");
            ASSERT_TRUE(v.designatedRequirement);
            EXPECT_TRUE(v.designatedRequirementImplicit);
            EXPECT_EQ(requirementText(*v.designatedRequirement).rfind(c.requirementStart, 0), 0u)
                << requirementText(*v.designatedRequirement);
            EXPECT_TRUE(v.designatedRequirementSatisfied) << v.designatedRequirementProblem;
            Assessment a = assessCodeVerdict(v, c.anchors.tickets);
            EXPECT_FALSE(a.accepted);
            EXPECT_EQ(a.source, AssessmentSource::NoUsableSignature);
        }
    }
}
