// The AppleDouble reader. Every field comes through the bounded reader; counts are bounded by the
// bytes that could hold them and values by the Mac's own limits before anything is copied.
#include "container/AppleDouble.h"

#include <algorithm>

#include "base/ByteCursor.h"
#include "base/ByteReader.h"

namespace tessarin {

namespace {

constexpr std::uint64_t kEntrySize = 12;
// The Mac writes an empty resource fork with this text in its system data area; it holds nothing.
constexpr std::string_view kEmptyForkTag = "This resource fork intentionally left blank";
constexpr std::uint64_t kForkSystemDataOffset = 16;

Error malformed(const std::string& what) { return fail("truncated or malformed AppleDouble file (" + what + ")"); }

bool allZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

std::string text(ByteSpan span) { return std::string(reinterpret_cast<const char*>(span.data()), span.size()); }

Status readAttributes(const ByteReader& r, std::uint64_t headerAt, std::vector<ExtendedAttribute>& out) {
    ByteCursor c(r, headerAt);
    const std::uint32_t magic = c.u32be();
    c.skip(4 + 4 + 4 + 4 + 12 + 2);  // debug_tag, total_size, data_start, data_length, reserved, flags
    const std::uint16_t count = c.u16be();
    if (!c) return malformed("the attribute header " + c.error());
    if (magic != ATTR_HDR_MAGIC) return malformed("no ATTR header after the Finder info");

    // Entries must lie in the header area; past it the Mac stops reading too.
    const ByteReader header = *r.sub(0, std::min<std::uint64_t>(r.size(), ATTR_MAX_HDR_SIZE));
    std::uint64_t at = c.offset();
    for (std::uint32_t i = 0; i < count; ++i) {
        ByteCursor e(header, at);
        const std::uint32_t offset = e.u32be();
        const std::uint32_t length = e.u32be();
        e.skip(2);
        const std::uint8_t nameLength = e.u8();
        const ByteSpan name = e.bytes(nameLength);
        const std::string which = "attribute entry " + std::to_string(i);
        if (!e) return malformed(which + " " + e.error());
        if (nameLength < 2 || nameLength > ATTR_MAX_NAME_LEN || name[nameLength - 1] != std::byte{0})
            return malformed(which + " has a name of " + std::to_string(nameLength) + " bytes without its NUL");
        if (length > ATTR_MAX_SIZE)
            return malformed(which + " is " + std::to_string(length) + " bytes, more than the largest attribute");
        const auto value = r.bytes(offset, length);
        if (!value) return malformed(which + "'s value extends past the end of the file");
        std::string n = text(name);
        n.resize(n.find('\0'));  // the name ends at its first NUL, as a C string does
        out.push_back({std::move(n), text(*value)});
        at += (ATTR_ENTRY_FIXED + nameLength + 3) & ~std::uint64_t{3};
    }
    return Ok{};
}

}  // namespace

Result<AppleDouble> parseAppleDouble(ByteSpan bytes) {
    const ByteReader r(bytes);
    ByteCursor c(r, 0);
    const std::uint32_t magic = c.u32be();
    const std::uint32_t version = c.u32be();
    c.skip(16);  // the home file system's name
    const std::uint16_t count = c.u16be();
    if (!c) return malformed("the header " + c.error());
    if (magic != ADH_MAGIC) return malformed("no AppleDouble magic number");
    if (version != ADH_VERSION) return malformed("version " + std::to_string(version >> 16) + " is not 2");
    if (count * kEntrySize > r.size() - c.offset()) return malformed(std::to_string(count) + " entries do not fit");

    AppleDouble ad;
    const AppleDoubleEntry* finderInfo = nullptr;
    const AppleDoubleEntry* fork = nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        AppleDoubleEntry e{c.u32be(), c.u32be(), c.u32be()};
        if (!r.contains(e.offset, e.length))
            return malformed("entry " + std::to_string(i) + " (id " + std::to_string(e.id) +
                             ") extends past the end of the file");
        ad.entries.push_back(e);
    }
    for (const auto& e : ad.entries) {
        if (e.id == AD_FINDERINFO && !finderInfo) finderInfo = &e;
        if (e.id == AD_RESOURCE && !fork) fork = &e;
    }
    if (finderInfo && finderInfo->length >= FINDERINFOSIZE) {
        ad.finderInfo = text(*r.bytes(finderInfo->offset, FINDERINFOSIZE));
        if (finderInfo->length > FINDERINFOSIZE) {
            const Status s =
                readAttributes(r, std::uint64_t{finderInfo->offset} + FINDERINFOSIZE + ATTR_HDR_PAD, ad.attributes);
            if (!s) return Error{s.error()};
        }
        if (!allZero(ad.finderInfo)) ad.attributes.push_back({XATTR_FINDERINFO_NAME, ad.finderInfo});
    }
    if (fork && fork->length > 0) {
        const std::string value = text(*r.bytes(fork->offset, fork->length));
        const bool emptyFork = value.size() >= kForkSystemDataOffset + kEmptyForkTag.size() &&
                               value.compare(kForkSystemDataOffset, kEmptyForkTag.size(), kEmptyForkTag) == 0;
        if (!emptyFork) ad.attributes.push_back({XATTR_RESOURCEFORK_NAME, value});
    }
    return ad;
}

std::optional<std::string> appleDoubleSubject(std::string_view path) {
    constexpr std::string_view kFolder = "__MACOSX/";
    if (path.substr(0, kFolder.size()) == kFolder) path.remove_prefix(kFolder.size());
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string_view::npos ? 0 : slash + 1;
    if (path.substr(nameAt, 2) != "._" || path.size() == nameAt + 2) return std::nullopt;
    return std::string(path.substr(0, nameAt)) + std::string(path.substr(nameAt + 2));
}

}  // namespace tessarin
