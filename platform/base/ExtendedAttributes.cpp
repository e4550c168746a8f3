// getxattr in two calls (size, then value), as the platform's attribute API is used. Linux keeps
// attributes of other systems under "user.", and refuses names outside its namespaces with
// EOPNOTSUPP, so such a name is retried there.
#include "base/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

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

struct Overlay {
    std::mutex mutex;
    std::map<std::string, std::map<std::string, std::vector<unsigned char>>> byPath;
};

Overlay& overlay() {
    static Overlay o;
    return o;
}

}  // namespace

void overlayExtendedAttribute(const std::string& path, const std::string& name, std::vector<unsigned char> value) {
    Overlay& o = overlay();
    std::lock_guard<std::mutex> lock(o.mutex);
    o.byPath[path][name] = std::move(value);
}

void dropExtendedAttributeOverlays(const std::string& folder) {
    Overlay& o = overlay();
    std::lock_guard<std::mutex> lock(o.mutex);
    const std::string prefix = folder + "/";
    for (auto it = o.byPath.lower_bound(prefix); it != o.byPath.end() && it->first.rfind(prefix, 0) == 0;)
        it = o.byPath.erase(it);
}

XattrResult readExtendedAttribute(const char* path, const std::string& name) {
    {
        Overlay& o = overlay();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (auto file = o.byPath.find(path); file != o.byPath.end()) {
            if (auto it = file->second.find(name); it != file->second.end()) {
                XattrResult r;
                r.ok = true;
                r.value = it->second;
                return r;
            }
        }
    }
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
