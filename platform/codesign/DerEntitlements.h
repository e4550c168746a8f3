// The DER form of entitlements (the blob in special slot -7): a version and one dictionary, whose
// keys are UTF8Strings and whose values are booleans, integers, strings, arrays and dictionaries.
#pragma once

#include "base/ByteReader.h"
#include "base/Result.h"
#include "plist/Plist.h"

namespace tessarin {

// The payload of a CSMAGIC_EMBEDDED_DER_ENTITLEMENTS blob (after its 8-byte header), decoded into
// the same value tree an XML entitlements plist gives. Nesting deeper than 32 levels, more than
// 65,536 values or anything outside the form is an error that says where.
Result<PlistValue> decodeDerEntitlements(ByteSpan payload);

}  // namespace tessarin
