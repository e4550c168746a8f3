// What code requirements ask of a certificate: its subject's components, the extensions and
// policies it carries, its e-mail addresses and its digests, read once from its DER.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

struct CertificateFields {
    Bytes der;
    Bytes sha1;  // of the DER: what "certificate root = H\"...\"" names
    Bytes sha256;
    // Subject components by the short names requirements use ("CN", "OU", "O", "C", "L", "ST",
    // "STREET", "D"), in the order the name lists them.
    std::vector<std::pair<std::string, std::string>> subject;
    std::vector<std::string> extensionOids;  // dotted, every extension present
    std::vector<std::string> policyOids;     // dotted, from the certificate policies extension
    std::vector<std::string> emails;         // subject e-mail and rfc822 alternative names

    // The first value of a subject component, or nothing.
    const std::string* subjectValue(const std::string& shortName) const {
        for (const auto& [k, v] : subject)
            if (k == shortName) return &v;
        return nullptr;
    }
};

Result<CertificateFields> certificateFields(const Bytes& der);

}  // namespace tessarin
