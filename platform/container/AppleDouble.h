// AppleDouble header files, as a Mac writes them into archives beside each file that has extended
// attributes ("._NAME", or "__MACOSX/DIR/._NAME" in zips): the entry table, the Finder info and
// the extended attributes that ride in the Finder info entry behind an "ATTR" header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// The format's own names, as in the AppleDouble developer's note and the Mac's copyfile and xattr code.
constexpr std::uint32_t ADH_MAGIC = 0x00051607;
constexpr std::uint32_t ADH_VERSION = 0x00020000;
constexpr std::uint32_t AD_RESOURCE = 2;
constexpr std::uint32_t AD_FINDERINFO = 9;
constexpr std::uint32_t ATTR_HDR_MAGIC = 0x41545452;  // 'ATTR'
constexpr std::uint64_t FINDERINFOSIZE = 32;
// The attribute header follows the Finder info and two bytes of padding (apple_double_header_t.pad).
constexpr std::uint64_t ATTR_HDR_PAD = 2;
constexpr std::uint64_t ATTR_HDR_SIZE = 36;              // magic to num_attrs
constexpr std::uint64_t ATTR_ENTRY_FIXED = 11;           // offset, length, flags, namelen
constexpr std::uint64_t ATTR_MAX_SIZE = 16u << 20;       // largest attribute value the Mac writes
constexpr std::uint64_t ATTR_MAX_HDR_SIZE = 65536 + 18;  // header and entries lie within this
constexpr std::uint64_t ATTR_MAX_NAME_LEN = 128;         // with its NUL
constexpr const char* XATTR_FINDERINFO_NAME = "com.apple.FinderInfo";
constexpr const char* XATTR_RESOURCEFORK_NAME = "com.apple.ResourceFork";

struct AppleDoubleEntry {
    std::uint32_t id = 0;
    std::uint32_t offset = 0;  // from the start of the file
    std::uint32_t length = 0;
};

struct ExtendedAttribute {
    std::string name;   // as the Mac names it, e.g. "com.apple.quarantine"
    std::string value;  // bytes
};

struct AppleDouble {
    std::vector<AppleDoubleEntry> entries;
    std::string finderInfo;  // the 32 bytes; empty when the file has none
    // The attributes of the file it stands for: those of the ATTR list, then the Finder info and
    // the resource fork under their attribute names when they hold anything.
    std::vector<ExtendedAttribute> attributes;
};

Result<AppleDouble> parseAppleDouble(ByteSpan bytes);

// The path of the file an AppleDouble entry stands for: "a/._b" and "__MACOSX/a/._b" give "a/b";
// nothing for other paths.
std::optional<std::string> appleDoubleSubject(std::string_view path);

}  // namespace tessarin
