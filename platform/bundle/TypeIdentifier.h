// Type identifiers and directory-ness of an opened path, as the platform's opener decides them.
#pragma once

#include <string>

#include "base/FileURL.h"

namespace tessarin {

inline constexpr const char* kApplicationBundleType = "com.apple.application-bundle";
inline constexpr const char* kInstallerPackageArchiveType = "com.apple.installer-package-archive";
inline constexpr const char* kPackageType = "com.apple.package";

// The type identifier for a path: ".app" directories, ".pkg"/".mpkg" files and directories as the
// three identifiers above (extensions compare without regard to case), others as public.folder,
// com.apple.mach-o-binary, public.data and so on.
std::string typeIdentifierForPath(const std::string& path);

// The file URL the opener hands over: a directory URL for an existing directory.
FileURL fileURLForPath(const std::string& path);

}  // namespace tessarin
