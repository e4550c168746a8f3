// Archive and AppleDouble fixtures. The AppleDouble layout is the Mac's: two entries (Finder info,
// resource fork), 32 bytes of Finder info, two of padding, the ATTR header, 4-aligned attribute
// entries, then the values.
#include "ArchiveBuilder.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "TempDir.h"

namespace tessarin::test {

namespace {

la_ssize_t append(archive*, void* out, const void* data, size_t size) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
    return static_cast<la_ssize_t>(size);
}

void be(std::string& s, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

}  // namespace

std::string packArchive(Packing packing, const std::vector<ArchiveItem>& items) {
    std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), archive_write_free);
    const bool zip = packing == Packing::Zip || packing == Packing::ZipStored;
    if (zip) {
        archive_write_set_format_zip(a.get());
        if (packing == Packing::ZipStored) archive_write_set_options(a.get(), "zip:compression=store");
    } else {
        archive_write_set_format_pax_restricted(a.get());
    }
    if (packing == Packing::TarGz) archive_write_add_filter_gzip(a.get());
    if (packing == Packing::TarBz2) archive_write_add_filter_bzip2(a.get());
    if (packing == Packing::TarXz) archive_write_add_filter_xz(a.get());
    std::string out;
    archive_write_set_bytes_in_last_block(a.get(), 1);
    if (archive_write_open(a.get(), &out, nullptr, append, nullptr) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(a.get()));
    for (const auto& item : items) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> e(archive_entry_new(), archive_entry_free);
        archive_entry_copy_pathname(e.get(), item.path.c_str());
        archive_entry_set_perm(e.get(), item.mode);
        archive_entry_set_mtime(e.get(), 1700000000, 0);
        switch (item.kind) {
        case ArchiveItem::File:
            archive_entry_set_filetype(e.get(), AE_IFREG);
            archive_entry_set_size(e.get(), static_cast<la_int64_t>(item.data.size()));
            break;
        case ArchiveItem::Folder: archive_entry_set_filetype(e.get(), AE_IFDIR); break;
        case ArchiveItem::Link:
            archive_entry_set_filetype(e.get(), AE_IFLNK);
            archive_entry_copy_symlink(e.get(), item.data.c_str());
            break;
        case ArchiveItem::HardLink:
            archive_entry_set_filetype(e.get(), AE_IFREG);
            archive_entry_copy_hardlink(e.get(), item.data.c_str());
            break;
        case ArchiveItem::Device:
            archive_entry_set_filetype(e.get(), AE_IFCHR);
            archive_entry_set_rdev(e.get(), makedev(1, 3));
            break;
        case ArchiveItem::Fifo: archive_entry_set_filetype(e.get(), AE_IFIFO); break;
        }
        if (archive_write_header(a.get(), e.get()) < ARCHIVE_WARN)
            throw std::runtime_error(archive_error_string(a.get()));
        if (item.kind == ArchiveItem::File && !item.data.empty())
            archive_write_data(a.get(), item.data.data(), item.data.size());
    }
    archive_write_close(a.get());
    return out;
}

std::vector<ArchiveItem> itemsOfFolder(const std::string& folder, const std::string& prefix) {
    namespace fs = std::filesystem;
    std::vector<ArchiveItem> items{{prefix, ArchiveItem::Folder, {}, 0755}};
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const auto status = e.symlink_status();
        ArchiveItem item;
        item.path = prefix + "/" + e.path().lexically_relative(folder).string();
        item.mode = static_cast<unsigned>(status.permissions()) & 07777;
        if (fs::is_symlink(status)) {
            item.kind = ArchiveItem::Link;
            item.data = fs::read_symlink(e.path()).string();
        } else if (fs::is_directory(status)) {
            item.kind = ArchiveItem::Folder;
        } else {
            item.data = readFile(e.path().string());
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::string appleDouble(const std::vector<std::pair<std::string, std::string>>& attributes) {
    constexpr std::uint32_t kFinderInfoAt = 50, kAttrHeaderAt = 84, kEntriesAt = 120;
    std::string entries, data;
    std::uint32_t entriesEnd = kEntriesAt;
    for (const auto& [name, value] : attributes) entriesEnd += (11 + name.size() + 1 + 3) & ~3u;
    for (const auto& [name, value] : attributes) {
        be(entries, entriesEnd + data.size(), 4);
        be(entries, value.size(), 4);
        be(entries, 0, 2);
        be(entries, name.size() + 1, 1);
        entries += name;
        entries.push_back('\0');
        while (entries.size() % 4) entries.push_back('\0');
        data += value;
    }
    const std::uint32_t end = entriesEnd + static_cast<std::uint32_t>(data.size());
    std::string s;
    be(s, 0x00051607, 4);
    be(s, 0x00020000, 4);
    s += "Mac OS X        ";
    be(s, 2, 2);
    for (std::uint32_t v : {9u, kFinderInfoAt, end - kFinderInfoAt, 2u, end, 0u}) be(s, v, 4);
    s.append(kAttrHeaderAt - s.size(), '\0');  // Finder info and padding
    be(s, 0x41545452, 4);                      // 'ATTR'
    for (std::uint32_t v : {0u, end, entriesEnd, static_cast<std::uint32_t>(data.size()), 0u, 0u, 0u}) be(s, v, 4);
    be(s, 0, 2);
    be(s, attributes.size(), 2);
    return s + entries + data;
}

}  // namespace tessarin::test
