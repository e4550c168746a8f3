// What tests compare of a certificate chain: its common names and kinds, in order.
#pragma once

#include <string>
#include <vector>

#include "crypto/Trust.h"

namespace tessarin::test {

inline std::vector<std::string> commonNames(const std::vector<CertificateInfo>& chain) {
    std::vector<std::string> out;
    for (const auto& c : chain) out.push_back(c.commonName);
    return out;
}

inline std::vector<CertificateKind> kinds(const std::vector<CertificateInfo>& chain) {
    std::vector<CertificateKind> out;
    for (const auto& c : chain) out.push_back(c.kind);
    return out;
}

}  // namespace tessarin::test
