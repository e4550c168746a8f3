// Writes the requirement fuzzer's starting inputs: designated requirements as codesign writes them
// (Developer ID, ad hoc, Apple's own, self-signed), every opcode and match operation once, and sets.
#include <vector>

#include "CorpusFolder.h"
#include "RequirementBuilder.h"

using namespace tessarin;
using tessarin::test::RequirementBuilder;

int main(int argc, char** argv) {
    std::vector<RequirementBuilder> exprs = {
        RequirementBuilder::developerId("com.example.app", "ABCDE12345"),
        RequirementBuilder().op(opOr).op(opOr).cdhash(Bytes(20, 1)).cdhash(Bytes(20, 2)).cdhash(Bytes(20, 3)),
        RequirementBuilder().op(opAnd).ident("com.apple.ls").op(opAppleAnchor),
        RequirementBuilder().op(opAnd).ident("tool").anchorHash(kAnchorCertificate, Bytes(20, 9)),
        RequirementBuilder().op(opNot).op(opAnd).op(opNotarized).op(opLegacyDevID),
        RequirementBuilder().op(opAnd).word(opPlatform).word(1).op(opTrustedCerts),
        RequirementBuilder().op(opOr).word(opTrustedCert).word(0).word(opNamedAnchor).data("beta"),
        RequirementBuilder().op(opAnd).word(opNamedCode).data("x").word(opInfoKeyValue).data("k").data("v"),
        RequirementBuilder().certGeneric(0, "1.2.840.113635.100.5.1", opCertPolicy).matchWith(matchExists),
        RequirementBuilder()
            .certGeneric(0, "1.2.840.113635.100.6.1.33", opCertFieldDate)
            .word(matchAfter)
            .word(0)
            .word(600000000),
        RequirementBuilder()
            .op(opAnd)
            .entitlement("com.apple.security.app-sandbox")
            .matchWith(matchExists)
            .certField(0, "email")
            .matchWith(matchAbsent),
        RequirementBuilder().word(opGenericSkip | 40).word(4).word(0).op(opTrue),
        RequirementBuilder().word(opGenericFalse | 41).word(0),
    };
    for (MatchOperation m : {matchEqual, matchContains, matchBeginsWith, matchEndsWith, matchLessThan, matchGreaterThan,
                             matchLessEqual, matchGreaterEqual})
        exprs.push_back(RequirementBuilder().infoKey("CFBundleVersion").matchWith(m, "1.2"));
    std::vector<std::pair<std::string, Bytes>> inputs;
    std::vector<std::pair<std::uint32_t, Bytes>> set;
    for (const auto& e : exprs) {
        inputs.emplace_back("requirement-" + std::to_string(inputs.size()), e.requirement());
        if (set.size() < 5) set.emplace_back(static_cast<std::uint32_t>(set.size() + 1), e.requirement());
    }
    inputs.emplace_back("set", RequirementBuilder::set(set));
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
