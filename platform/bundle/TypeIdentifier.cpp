// Decides an opened path's type identifier from what it is on disk (following symbolic links),
// its extension and, for regular files, its first four bytes.
#include "bundle/TypeIdentifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cctype>
#include <cstdint>

namespace tessarin {

namespace {

std::string lowerExtension(const std::string& path) {
    std::string p = FileURL{path, false}.lastPathComponent();
    auto dot = p.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    std::string ext = p.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool machOMagic(const std::string& path) {
    // O_NONBLOCK: the caller has already checked for a regular file, but it may have been swapped.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    unsigned char m[8] = {};
    ssize_t n = ::read(fd, m, sizeof m);
    ::close(fd);
    if (n < 4) return false;
    auto be = [&](int at) {
        return (std::uint32_t(m[at]) << 24) | (std::uint32_t(m[at + 1]) << 16) | (std::uint32_t(m[at + 2]) << 8) |
               std::uint32_t(m[at + 3]);
    };
    std::uint32_t magic = be(0);
    if (magic == 0xFEEDFACE || magic == 0xFEEDFACF || magic == 0xCEFAEDFE || magic == 0xCFFAEDFE) return true;
    if (magic == 0xCAFEBABF) return true;
    // CA FE BA BE is also a Java class file, whose second word is a version far above any
    // plausible count of slices.
    return magic == 0xCAFEBABE && n >= 8 && be(4) > 0 && be(4) < 30;
}

}  // namespace

std::string typeIdentifierForPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "public.item";
    const std::string ext = lowerExtension(path);
    if (S_ISDIR(st.st_mode)) {
        if (ext == "app") return kApplicationBundleType;
        if (ext == "pkg" || ext == "mpkg") return kPackageType;
        if (ext == "framework") return "com.apple.framework";
        if (ext == "bundle" || ext == "plugin" || ext == "kext" || ext == "appex") return "com.apple.bundle";
        return "public.folder";
    }
    if (!S_ISREG(st.st_mode)) return "public.item";  // pipes, sockets, devices
    if (ext == "pkg" || ext == "mpkg") return kInstallerPackageArchiveType;
    if (machOMagic(path)) return ext == "dylib" ? "com.apple.mach-o-dylib" : "com.apple.mach-o-binary";
    if (ext == "txt" || ext == "text") return "public.plain-text";
    if (ext == "plist") return "com.apple.property-list";
    if (ext == "dmg") return "com.apple.disk-image-udif";
    if (ext == "zip") return "public.zip-archive";
    if (ext == "xip") return "com.apple.xip-archive";
    if (ext == "tar") return "public.tar-archive";
    if (ext == "tgz" || ext == "gz") return "org.gnu.gnu-zip-archive";
    if (ext == "tbz" || ext == "bz2") return "public.bzip2-archive";
    if (ext == "txz" || ext == "xz") return "org.tukaani.xz-archive";
    if (ext == "sh") return "public.shell-script";
    if (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return "public.unix-executable";
    return "public.data";
}

FileURL fileURLForPath(const std::string& path) {
    struct stat st {};
    FileURL url;
    url.filePath = path;
    url.directory = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return url;
}

}  // namespace tessarin
