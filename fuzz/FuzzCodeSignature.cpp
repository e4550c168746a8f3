// libFuzzer entry: hostile SuperBlobs, CodeDirectories, DER entitlements and resource seals must
// parse or fail cleanly.
#include "FuzzEntry.h"
#include "codesign/CodeResources.h"
#include "codesign/CodeSignature.h"
#include "codesign/DerEntitlements.h"

void tessarin::fuzz::fuzzOne(Input in) {
    if (auto sig = parseEmbeddedSignature(in.bytes())) {
        // Touch every range the parser vouched for, so that a wrong bound shows as a read overflow.
        for (const auto& cd : sig->codeDirectories) {
            for (std::uint32_t i = 0; i < cd.nCodeSlots; ++i) (void)cd.codeSlot(i)[0];
            for (std::uint32_t k = 1; k <= cd.nSpecialSlots; ++k) (void)cd.specialSlot(k)[0];
            (void)codeDirectoryHash(cd);
        }
    }
    (void)parseCodeDirectory(in.bytes(), 0);
    (void)decodeDerEntitlements(in.bytes());
    if (in.size >= 1u << 16) return;
    if (auto seal = parseCodeResources(in.bytes())) {
        if (auto rules = ResourceRuleSet::compile(seal->rulesInForce()))
            for (const auto& [path, entry] : seal->filesInForce()) (void)rules->match(path);
    }
}
