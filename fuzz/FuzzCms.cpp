// libFuzzer entry: DER from signatures: detached CMS SignedData over fixed content (with its signed
// attributes, CDHash list and timestamp token), and certificates as a chain carries them.
#include <ctime>

#include "FuzzEntry.h"
#include "crypto/Cms.h"
#include "crypto/Trust.h"

void tessarin::fuzz::fuzzOne(Input in) {
    // The content the starting inputs are signed over, so that mutations reach past the signature check.
    static constexpr char kContent[] = "tessarin fuzz content";
    const auto content = std::as_bytes(std::span(kContent, sizeof kContent - 1));
    (void)verifyDetachedCms(in.bytes(), content, TrustAnchors::appleRoots());
    const Bytes certificate(in.data, in.data + in.size);
    (void)describeCertificate(certificate);
    (void)verifyChain({certificate}, TrustAnchors::appleRoots(), std::time_t{1700000000});
}
