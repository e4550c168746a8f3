// The text pkgutil --check-signature prints for a package signature check, in the real tool's layout.
#pragma once

#include <string>

#include "package/Package.h"

namespace tessarin {

// "Package "NAME":", the Status line, notarization and timestamp lines where they apply, and the
// certificate chain with expiry dates and SHA-256 fingerprints.
std::string packageSignatureReport(const std::string& path, const PackageSignatureCheck& check);

}  // namespace tessarin
