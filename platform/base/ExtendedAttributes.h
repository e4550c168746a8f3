// Extended attribute reads over getxattr, with failures as POSIX-domain errors.
#pragma once

#include <string>
#include <vector>

namespace tessarin {

struct PosixError {
    static constexpr const char* domain = "NSPOSIXErrorDomain";
    int code = 0;                      // errno of the failed call
    std::string localizedDescription;  // strerror text for it
};

struct XattrResult {
    bool ok = false;
    std::vector<unsigned char> value;
    PosixError error;
};

// Reads the named attribute, following symbolic links. On Linux, macOS attributes live under the
// "user." namespace: the name as given is tried first, then "user." + name.
// Attributes found first in an overlay of the process's own: an archive's, where the file system it
// was expanded on refused them (ext4 keeps each attribute within one block).
XattrResult readExtendedAttribute(const char* path, const std::string& name);

// Makes readExtendedAttribute(path, name) give `value`, `path` spelled as readers will spell it
// (absolute, normalised).
void overlayExtendedAttribute(const std::string& path, const std::string& name, std::vector<unsigned char> value);
// Forgets the overlays of every path under `folder`, as its files go.
void dropExtendedAttributeOverlays(const std::string& folder);

}  // namespace tessarin
