// Writes the requirement fuzzer's starting inputs: designated requirements as codesign writes them
// (Developer ID, ad hoc, Apple's own, self-signed), every opcode and match operation once, and sets.
#include <string>
#include <vector>

#include "CorpusFolder.h"
#include "RequirementBuilder.h"

using namespace tessarin;
using tessarin::test::RequirementBuilder;

int main(int argc, char** argv) {
    const auto folder = tessarin::fuzz::corpusFolder(argc, argv);
    if (!folder) return 2;
    std::vector<RequirementBuilder> exprs;
    exprs.push_back(RequirementBuilder::developerId("com.example.app", "ABCDE12345"));
    exprs.push_back(
        RequirementBuilder().op(opOr).op(opOr).cdhash(Bytes(20, 1)).cdhash(Bytes(20, 2)).cdhash(Bytes(20, 3)));
    exprs.push_back(RequirementBuilder().op(opAnd).ident("com.apple.ls").op(opAppleAnchor));
    exprs.push_back(RequirementBuilder().op(opAnd).ident("tool").anchorHash(kAnchorCertificate, Bytes(20, 9)));
    exprs.push_back(RequirementBuilder().op(opNot).op(opAnd).op(opNotarized).op(opLegacyDevID));
    exprs.push_back(RequirementBuilder().op(opAnd).word(opPlatform).word(1).op(opTrustedCerts));
    exprs.push_back(RequirementBuilder().op(opOr).word(opTrustedCert).word(0).word(opNamedAnchor).data("beta"));
    exprs.push_back(
        RequirementBuilder().op(opAnd).word(opNamedCode).data("x").word(opInfoKeyValue).data("k").data("v"));
    exprs.push_back(RequirementBuilder().certGeneric(0, "1.2.840.113635.100.5.1", opCertPolicy).matchWith(matchExists));
    exprs.push_back(RequirementBuilder()
                        .certGeneric(0, "1.2.840.113635.100.6.1.33", opCertFieldDate)
                        .word(matchAfter)
                        .word(0)
                        .word(600000000));
    exprs.push_back(RequirementBuilder()
                        .op(opAnd)
                        .entitlement("com.apple.security.app-sandbox")
                        .matchWith(matchExists)
                        .certField(0, "email")
                        .matchWith(matchAbsent));
    const MatchOperation stringOps[] = {matchEqual,    matchContains,    matchBeginsWith, matchEndsWith,
                                        matchLessThan, matchGreaterThan, matchLessEqual,  matchGreaterEqual};
    for (MatchOperation m : stringOps)
        exprs.push_back(RequirementBuilder().infoKey("CFBundleVersion").matchWith(m, "1.2"));
    exprs.push_back(RequirementBuilder().word(opGenericSkip | 40).word(4).word(0).op(opTrue));
    exprs.push_back(RequirementBuilder().word(opGenericFalse | 41).word(0));
    int written = 0;
    std::vector<std::pair<std::uint32_t, Bytes>> all;
    for (std::size_t i = 0; i < exprs.size(); ++i) {
        Bytes blob = exprs[i].requirement();
        if (tessarin::fuzz::writeInput(*folder + "/requirement-" + std::to_string(i), blob)) ++written;
        if (i < 5) all.emplace_back(static_cast<std::uint32_t>(i + 1), blob);
    }
    if (tessarin::fuzz::writeInput(*folder + "/set", RequirementBuilder::set(all))) ++written;
    return written == static_cast<int>(exprs.size()) + 1 ? 0 : 1;
}
