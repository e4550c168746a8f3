// Builds zip and tar archives in memory for tests (libarchive's writer), hostile names and all, and
// AppleDouble companions as a Mac writes them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tessarin::test {

struct ArchiveItem {
    enum Kind { File, Folder, Link, HardLink, Device, Fifo };
    ArchiveItem(std::string p = {}, Kind k = File, std::string d = {}, unsigned m = 0644)
        : path(std::move(p)), kind(k), data(std::move(d)), mode(m) {}
    std::string path;  // as stored, bytes: "../x", "/abs", "caf\xe9" are all written as given
    Kind kind = File;
    std::string data;  // file content, or a link's target
    unsigned mode = 0644;
};

enum class Packing { Zip, ZipStored, Tar, TarGz, TarBz2, TarXz };

std::string packArchive(Packing packing, const std::vector<ArchiveItem>& items);
// The items of a folder on disk (links as links), named from `prefix` (the folder's own name).
std::vector<ArchiveItem> itemsOfFolder(const std::string& folder, const std::string& prefix);
// An AppleDouble file carrying the given extended attributes (name, value) behind an ATTR header.
std::string appleDouble(const std::vector<std::pair<std::string, std::string>>& attributes);

}  // namespace tessarin::test
