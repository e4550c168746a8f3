// A file URL as the document machinery hands it over: a path and whether it names a directory.
#pragma once

#include <string>

namespace tessarin {

struct FileURL {
    std::string filePath;    // as given; may end with a slash
    bool directory = false;  // a directory URL (the opener sets it for an existing directory)

    // The path without trailing slashes ("/" stays "/").
    std::string path() const {
        std::string p = filePath;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return p;
    }
    bool hasDirectoryPath() const { return directory || (!filePath.empty() && filePath.back() == '/'); }
    std::string lastPathComponent() const {
        std::string p = path();
        auto slash = p.rfind('/');
        return slash == std::string::npos ? p : p.substr(slash + 1);
    }
};

}  // namespace tessarin
