// The developer account's creation date that Apple writes into Developer ID leaves
// (1.2.840.113635.100.6.1.33), read through OpenSSL's extension lookup and time parsing.
#pragma once

#include <ctime>
#include <optional>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// The date when the leaf carries the extension once, holding a GeneralizedTime in RFC 5280's form
// (YYYYMMDDHHMMSSZ) as the text of a UTF8String, as real leaves have it and as Apple reads it;
// nothing when the leaf has no such extension. An error when the leaf is not one
// certificate, the extension appears twice or its value is anything else: the policy takes that as
// the newest account, never as none.
Result<std::optional<std::time_t>> developerAccountCreation(const Bytes& leafDer);

}  // namespace tessarin
