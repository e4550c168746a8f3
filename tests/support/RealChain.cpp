// Reads the chain from the CMS signature of the first slice of sentry-cli, a published universal binary.
#include "RealChain.h"

#include <fstream>
#include <iterator>

#include "base/ByteReader.h"
#include "crypto/Cms.h"

namespace tessarin::test {

std::vector<Bytes> realDeveloperIdChain() {
    std::ifstream in(std::string(TESSARIN_NPM_SAMPLES) + "/sentry_cli-darwin-3.8.0/package/bin/sentry-cli",
                     std::ios::binary);
    if (!in) return {};
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const ByteReader r(file.data(), file.size());
    // The first blob wrapper (0xfade0b01) of a plausible size holds the CMS signature.
    for (std::uint64_t at = 0; at + 8 < file.size(); ++at) {
        auto magic = r.u32be(at);
        auto length = r.u32be(at + 4);
        if (*magic != 0xfade0b01 || *length < 1000 || *length > 20000) continue;
        auto cms = r.bytes(at + 8, *length - 8);
        if (!cms) return {};
        return verifyDetachedCms(*cms, {}, TrustAnchors::appleRoots()).signerChain;
    }
    return {};
}

}  // namespace tessarin::test
