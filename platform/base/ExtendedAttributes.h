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
XattrResult readExtendedAttribute(const char* path, const std::string& name);

}  // namespace tessarin
