// libFuzzer entry: DER from signatures: detached CMS SignedData over fixed content (with its signed
// attributes, CDHash list and timestamp token), and certificates as a chain carries them.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <vector>

#include "crypto/Cms.h"
#include "crypto/Trust.h"

namespace {
// The content the starting inputs are signed over, so that mutations reach past the signature check.
constexpr char kContent[] = "tessarin fuzz content";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto der = std::as_bytes(std::span(data, size));
    const auto content = std::as_bytes(std::span(kContent, sizeof kContent - 1));
    (void)tessarin::verifyDetachedCms(der, content, tessarin::TrustAnchors::appleRoots());
    const tessarin::Bytes certificate(data, data + size);
    (void)tessarin::describeCertificate(certificate);
    (void)tessarin::verifyChain({certificate}, tessarin::TrustAnchors::appleRoots(), std::time_t{1700000000});
    return 0;
}
