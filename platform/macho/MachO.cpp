// Reads thin and fat Mach-O headers and load-command tables through the bounded reader.
#include "macho/MachO.h"
#include "base/ByteCursor.h"
#include "base/Bytes.h"

#include <algorithm>
#include <numeric>

namespace tessarin {

namespace {

// A count of fat entries above this is not a fat file: Java class files share the magic number and
// put their version (45 and up) where the count would be; real fat files hold a handful of slices.
constexpr std::uint32_t kMaxFatEntriesBeforeJava = 30;

Error malformedFat(const std::string& what) { return fail("truncated or malformed fat file (" + what + ")"); }
Error malformedObject(const std::string& what) { return fail("truncated or malformed object (" + what + ")"); }

std::string slice(std::size_t index) { return "slice " + std::to_string(index); }

bool isThinMagic(std::uint32_t beMagic) {
    return beMagic == MH_MAGIC || beMagic == MH_MAGIC_64 || beMagic == MH_CIGAM || beMagic == MH_CIGAM_64;
}

// Fills the header fields of a slice whose first four bytes hold a Mach-O magic; `truncated` is the
// message for a header cut short. The caller has already set the slice's offset and size.
std::optional<Error> readMachHeader(const ByteReader& image, MachOSlice& s, const std::string& truncated) {
    ByteCursor c(image, 0);
    const std::uint32_t magic = c.u32be();
    s.bigEndian = magic == MH_MAGIC || magic == MH_MAGIC_64;
    s.is64 = magic == MH_MAGIC_64 || magic == MH_CIGAM_64;
    const std::uint64_t headerSize = s.is64 ? MACH_HEADER_64_SIZE : MACH_HEADER_SIZE;
    if (!c || !image.contains(0, headerSize)) return malformedObject(truncated);
    const bool be = s.bigEndian;
    s.cputype = static_cast<std::int32_t>(c.u32(be));
    s.cpusubtype = static_cast<std::int32_t>(c.u32(be));
    s.filetype = c.u32(be);
    s.ncmds = c.u32(be);
    s.sizeofcmds = c.u32(be);
    s.flags = c.u32(be);
    if (!c) return malformedObject(truncated);
    s.machO = true;
    return std::nullopt;
}

struct FatEntry {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t align = 0;
};

Result<MachOFile> parseFat(const ByteReader& file, bool fat64) {
    auto count = file.u32be(4);
    if (!count) return malformedFat("the fat header extends past the end of the file");
    if (!fat64 && *count > kMaxFatEntriesBeforeJava)
        return fail("not a Mach-O file (magic 0xcafebabe with " + std::to_string(*count) +
                    " entries is taken for a Java class file)");
    if (*count == 0) return malformedFat("contains zero architecture types");
    const std::uint64_t entrySize = fat64 ? FAT_ARCH_64_SIZE : FAT_ARCH_SIZE;
    const std::uint64_t tableEnd = FAT_HEADER_SIZE + entrySize * *count;  // at most 2^37: no overflow
    if (tableEnd > file.size())
        return malformedFat(std::string(fat64 ? "fat_arch_64" : "fat_arch") +
                            " structs would extend past the end of the file");

    // The count is now bounded by the file's size, so it may size the lists.
    std::vector<FatEntry> entries(*count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ByteCursor c(file, FAT_HEADER_SIZE + entrySize * i);
        FatEntry& f = entries[i];
        f.cputype = static_cast<std::int32_t>(c.u32be());
        f.cpusubtype = static_cast<std::int32_t>(c.u32be());
        if (fat64) {
            f.offset = c.u64be();
            f.size = c.u64be();
            f.align = c.u32be();
        } else {
            f.offset = c.u32be();
            f.size = c.u32be();
            f.align = c.u32be();
        }
        if (!c)
            return malformedFat(std::string(fat64 ? "fat_arch_64" : "fat_arch") +
                                " structs would extend past the end of the file");
        if (!file.contains(f.offset, f.size))
            return malformedFat("offset plus size of " + slice(i) + " extends past the end of the file");
        if (f.align > MAXSECTALIGN)
            return malformedFat("align (2^" + std::to_string(f.align) + ") too large for " + slice(i) + " (maximum 2^" +
                                std::to_string(MAXSECTALIGN) + ")");
        if (f.offset % (std::uint64_t{1} << f.align) != 0)
            return malformedFat("offset " + std::to_string(f.offset) + " of " + slice(i) +
                                " is not aligned on its alignment (2^" + std::to_string(f.align) + ")");
        if (f.offset < tableEnd)
            return malformedFat(slice(i) + " at offset " + std::to_string(f.offset) + " overlaps the fat header");
    }

    // Overlaps and duplicates are found on sorted copies: the count may be large in a fat_arch_64 file.
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].offset != entries[b].offset ? entries[a].offset < entries[b].offset : a < b;
    });
    std::optional<std::size_t> reaching;  // the slice seen so far that ends furthest into the file
    for (std::size_t i : order) {
        const FatEntry& f = entries[i];
        if (f.size == 0) continue;
        if (reaching) {
            const FatEntry& r = entries[*reaching];
            if (r.offset + r.size > f.offset) {
                const std::size_t first = std::min(i, *reaching), second = std::max(i, *reaching);
                return malformedFat(slice(first) + " and " + slice(second) + " overlap");
            }
        }
        if (!reaching || f.offset + f.size > entries[*reaching].offset + entries[*reaching].size) reaching = i;
    }
    auto arch = [&](std::size_t i) {
        const FatEntry& f = entries[i];
        return std::pair{f.cputype, f.cpusubtype & ~CPU_SUBTYPE_MASK};
    };
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return arch(a) != arch(b) ? arch(a) < arch(b) : a < b; });
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (arch(order[k - 1]) == arch(order[k]))
            return malformedFat(slice(order[k - 1]) + " and " + slice(order[k]) + " are of the same architecture (" +
                                architectureName(arch(order[k]).first, arch(order[k]).second) + ")");
    }

    MachOFile out;
    out.fat = true;
    out.fat64 = fat64;
    out.slices.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FatEntry& f = entries[i];
        MachOSlice s;
        s.offset = f.offset;
        s.size = f.size;
        auto cut = file.sub(f.offset, f.size);
        if (!cut) return malformedFat("offset plus size of " + slice(i) + " extends past the end of the file");
        const ByteReader image = *cut;
        auto sliceMagic = image.u32be(0);
        if (sliceMagic && isThinMagic(*sliceMagic)) {
            if (auto error =
                    readMachHeader(image, s, "the mach header of " + slice(i) + " extends past the end of the slice"))
                return *error;
            if (s.cputype != f.cputype)
                return malformedFat(slice(i) + " holds cputype " + std::to_string(s.cputype) +
                                    " but its fat entry says " + std::to_string(f.cputype));
        } else {
            // Universal static libraries hold archives; their architecture is the fat entry's.
            s.machO = false;
            s.is64 = (f.cputype & CPU_ARCH_ABI64) != 0;
        }
        // The fat entry decides the slice's architecture, as the loader and lipo take it.
        s.cputype = f.cputype;
        s.cpusubtype = f.cpusubtype;
        out.slices.push_back(s);
    }
    return out;
}

}  // namespace

Result<MachOFile> parseMachO(ByteSpan bytes) {
    const ByteReader file(bytes);
    auto magic = file.u32be(0);
    if (!magic) return fail("not a Mach-O file (too short to hold a magic number)");
    if (*magic == FAT_MAGIC || *magic == FAT_MAGIC_64) return parseFat(file, *magic == FAT_MAGIC_64);
    if (!isThinMagic(*magic)) return fail("not a Mach-O file");
    MachOFile out;
    MachOSlice s;
    s.offset = 0;
    s.size = file.size();
    if (auto error = readMachHeader(file, s, "the mach header extends past the end of the file")) return *error;
    out.slices.push_back(s);
    return out;
}

Result<std::vector<LoadCommand>> parseLoadCommands(ByteSpan fileBytes, const MachOSlice& slice) {
    if (!slice.machO) return malformedObject("the slice holds no Mach-O image, so no load commands");
    const ByteReader file(fileBytes);
    auto image = file.sub(slice.offset, slice.size);
    if (!image) return malformedObject("the slice extends past the end of the file");
    const bool wholeFile = slice.offset == 0 && slice.size == file.size();
    const std::uint64_t headerSize = slice.is64 ? MACH_HEADER_64_SIZE : MACH_HEADER_SIZE;
    if (!image->contains(headerSize, slice.sizeofcmds))
        return malformedObject(std::string("load commands extend past the end of the ") +
                               (wholeFile ? "file" : "slice"));
    const std::uint64_t end = headerSize + slice.sizeofcmds;
    const bool be = slice.bigEndian;

    std::vector<LoadCommand> commands;
    // Each command takes at least 8 bytes, which bounds ncmds before it sizes anything.
    commands.reserve(std::min<std::uint64_t>(slice.ncmds, slice.sizeofcmds / LOAD_COMMAND_SIZE));
    std::uint64_t offset = headerSize;
    for (std::uint32_t i = 0; i < slice.ncmds; ++i) {
        const std::string name = "load command " + std::to_string(i);
        if (offset + LOAD_COMMAND_SIZE > end)
            return malformedObject(name + " extends past the end of all load commands in the file");
        ByteCursor fields(*image, offset);
        LoadCommand c;
        c.cmd = fields.u32(be);
        c.cmdsize = fields.u32(be);
        c.offset = offset;
        if (!fields) return malformedObject(name + " extends past the end of all load commands in the file");
        if (c.cmdsize < LOAD_COMMAND_SIZE) return malformedObject(name + " with size less than 8 bytes");
        if (c.cmdsize > end - offset)
            return malformedObject(name + " extends past the end of all load commands in the file");
        commands.push_back(c);
        offset += c.cmdsize;
    }
    return commands;
}

}  // namespace tessarin
