// getxattr in two calls (size, then value), as the platform's attribute API is used. Linux keeps
// attributes of other systems under "user.", and refuses names outside its namespaces with
// EOPNOTSUPP, so such a name is retried there.
#include "base/ExtendedAttributes.h"

#include <sys/xattr.h>
#include <cerrno>
#include <cstring>

namespace tessarin {

namespace {

XattrResult failure(int err) {
    XattrResult r;
    r.error.code = err;
    r.error.localizedDescription = std::strerror(err);
    return r;
}

bool hasLinuxNamespace(const std::string& name) {
    for (const char* ns : {"user.", "trusted.", "security.", "system."})
        if (name.rfind(ns, 0) == 0) return true;
    return false;
}

}  // namespace

XattrResult readExtendedAttribute(const char* path, const std::string& name) {
    std::string effective = name;
    // getxattr (not lgetxattr): a symbolic link is followed to its target.
    ssize_t size = ::getxattr(path, effective.c_str(), nullptr, 0);
    if (size < 0 && errno == EOPNOTSUPP && !hasLinuxNamespace(name)) {
        effective = "user." + name;
        size = ::getxattr(path, effective.c_str(), nullptr, 0);
    }
    if (size < 0) return failure(errno);

    XattrResult r;
    r.value.assign(static_cast<std::size_t>(size), 0);
    // The value keeps the size found first, even if the second call reports fewer bytes.
    if (::getxattr(path, effective.c_str(), r.value.data(), r.value.size()) < 0) return failure(errno);
    r.ok = true;
    return r;
}

}  // namespace tessarin
