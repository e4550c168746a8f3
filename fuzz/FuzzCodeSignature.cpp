// libFuzzer entry: hostile SuperBlobs, CodeDirectories, DER entitlements and resource seals must
// parse or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <span>

#include "codesign/CodeResources.h"
#include "codesign/CodeSignature.h"
#include "codesign/DerEntitlements.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    auto sig = tessarin::parseEmbeddedSignature(bytes);
    if (sig) {
        // Touch every range the parser vouched for, so that a wrong bound shows as a read overflow.
        for (const auto& cd : sig->codeDirectories) {
            for (std::uint32_t i = 0; i < cd.nCodeSlots; ++i) (void)cd.codeSlot(i)[0];
            for (std::uint32_t k = 1; k <= cd.nSpecialSlots; ++k) (void)cd.specialSlot(k)[0];
            (void)tessarin::codeDirectoryHash(cd);
        }
    }
    (void)tessarin::parseCodeDirectory(bytes, 0);
    (void)tessarin::decodeDerEntitlements(bytes);
    if (size < 1u << 16) {
        auto seal = tessarin::parseCodeResources(bytes);
        if (seal) {
            auto rules = tessarin::ResourceRuleSet::compile(seal->rulesInForce());
            if (rules)
                for (const auto& [path, entry] : seal->filesInForce()) (void)rules->match(path);
        }
    }
    return 0;
}
