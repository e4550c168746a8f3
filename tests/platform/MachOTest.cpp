// The Mach-O header reader over built files and hand-corrupted variants of them.
#include <gtest/gtest.h>

#include <sstream>

#include "MachOBuilder.h"
#include "macho/MachO.h"

namespace tessarin {
namespace {

using test::Bytes;
using test::putU32;
using test::putU64;

std::span<const std::byte> view(const Bytes& b) { return std::as_bytes(std::span(b)); }

MachOFile parsed(const Bytes& b) {
    auto r = parseMachO(view(b));
    EXPECT_TRUE(r.ok()) << r.error();
    return r.ok() ? r.value() : MachOFile{};
}

// The error for a file that must be rejected; an empty string (and a test failure) if it was accepted.
std::string rejection(const Bytes& b) {
    auto r = parseMachO(view(b));
    EXPECT_FALSE(r.ok()) << "accepted a malformed file";
    return r.ok() ? std::string() : r.error();
}

Bytes twoSliceFat(bool fat64 = false) {
    return test::fatMachO({{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL}, {CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64_ALL}}, fat64);
}

// fat_arch field offsets of entry i in a 32-bit fat header.
std::size_t fatEntry(std::size_t i) { return 8 + 20 * i; }
std::size_t fat64Entry(std::size_t i) { return 8 + 32 * i; }

// The file's kind, then one line per slice: type,subtype at offset+size, word size and byte order,
// and for a Mach-O image its filetype and ncmds/sizeofcmds.
std::vector<std::string> described(const MachOFile& f) {
    std::vector<std::string> out{f.fat ? (f.fat64 ? "fat64" : "fat") : "thin"};
    for (const MachOSlice& s : f.slices) {
        std::ostringstream o;
        o << s.cputype << "," << static_cast<std::uint32_t>(s.cpusubtype) << " at " << s.offset << "+" << s.size
          << (s.is64 ? " 64" : " 32") << (s.bigEndian ? "be" : "le");
        if (s.machO) o << " type " << s.filetype << " cmds " << s.ncmds << "/" << s.sizeofcmds;
        out.push_back(o.str());
    }
    return out;
}

// Thin files of each word size and byte order; fat files listing slices in entry order with their
// places; slices read as they stand: an ar archive (universal static libraries), a subtype's
// capability bits kept, a bare header (lipo reads only headers), a fat entry's subtype where the header
// differs (the loader picks slices by their entries), and thirty entries.
TEST(MachOSlices, EachFileListsItsSlicesAsItsHeadersAndEntriesSay) {
    auto thin = [](bool is64, bool bigEndian) {
        return test::thinMachO({CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_7400, is64, bigEndian, MH_DYLIB}, 5000);
    };
    auto three = [](bool fat64) {
        return test::fatMachO({{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
                               {CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H},
                               {CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_ALL}},
                              fat64);
    };
    const std::vector<std::string> threeSlices = {"16777228,2 at 4096+4096 64le type 2 cmds 1/72",
                                                  "16777223,8 at 8192+4096 64le type 2 cmds 1/72",
                                                  "18,0 at 12288+4096 32be type 2 cmds 1/56"};
    auto with = [](std::vector<std::string> lines, const char* kind) {
        lines.insert(lines.begin(), kind);
        return lines;
    };
    Bytes archive(200, 0);
    std::copy_n("!<arch>\n", 8, archive.begin());
    Bytes bare(28, 0);
    putU32(bare, 0, MH_MAGIC, false);
    putU32(bare, 4, CPU_TYPE_I386, false);
    putU32(bare, 8, CPU_SUBTYPE_I386_ALL, false);
    std::vector<std::pair<std::int32_t, std::int32_t>> thirty;
    std::vector<std::string> thirtySlices{"fat"};
    for (int i = 0; i < 30; ++i) {
        thirty.push_back({100 + i, 0});
        thirtySlices.push_back(std::to_string(100 + i) + ",0 at " + std::to_string(4096 * (i + 1)) +
                               "+4096 32le type 2 cmds 1/56");
    }
    const std::tuple<const char*, Bytes, std::vector<std::string>> rows[] = {
        {"thin 32 little", thin(false, false), {"thin", "18,10 at 0+5000 32le type 6 cmds 1/56"}},
        {"thin 64 little", thin(true, false), {"thin", "18,10 at 0+5000 64le type 6 cmds 1/72"}},
        {"thin 32 big", thin(false, true), {"thin", "18,10 at 0+5000 32be type 6 cmds 1/56"}},
        {"thin 64 big", thin(true, true), {"thin", "18,10 at 0+5000 64be type 6 cmds 1/72"}},
        {"fat_arch", three(false), with(threeSlices, "fat")},
        {"fat_arch_64", three(true), with(threeSlices, "fat64")},
        {"an archive slice",
         test::fatMachO({archive, test::thinMachO(CPU_TYPE_ARM64, 0)},
                        {{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL}, {CPU_TYPE_ARM64, 0}}),
         {"fat", "16777223,3 at 4096+200 64le", "16777228,0 at 8192+4096 64le type 2 cmds 1/72"}},
        {"capability bits",
         test::thinMachO(CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E | CPU_SUBTYPE_PTRAUTH_ABI),
         {"thin", "16777228,2147483650 at 0+4096 64le type 2 cmds 1/72"}},
        {"a bare header", bare, {"thin", "7,3 at 0+28 32le type 0 cmds 0/0"}},
        {"the entry's subtype",
         test::fatMachO({test::thinMachO(CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL)},
                        {{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H}}),
         {"fat", "16777223,8 at 4096+4096 64le type 2 cmds 1/72"}},
        {"thirty entries", test::fatMachO(thirty), thirtySlices},
    };
    for (const auto& [what, bytes, slices] : rows) {
        SCOPED_TRACE(what);
        EXPECT_EQ(described(parsed(bytes)), slices);
    }
}

// --- malformed files -------------------------------------------------------------------------------

// Each malformed file is refused with a sentence naming what is wrong; counts and offsets are
// checked against the file's size before anything is sized by them, and 64-bit sums never wrap.
TEST(MachOMalformed, EachFlawIsRefusedWithItsSentence) {
    auto with = [](Bytes b, std::initializer_list<std::pair<std::size_t, std::uint32_t>> words) {
        for (auto [at, value] : words) putU32(b, at, value, true);
        return b;
    };
    auto cut = [](Bytes b, std::size_t size) {
        b.resize(size);
        return b;
    };
    Bytes swapped = twoSliceFat();
    putU32(swapped, 0, FAT_MAGIC, false);  // a fat magic in little-endian order is no fat header
    // cafebabe, minor version 0, major version 52 (Java 8): read as a fat count, 52.
    Bytes classFile = {0xca, 0xfe, 0xba, 0xbe, 0x00, 0x00, 0x00, 0x34, 0x00, 0x1d, 0x0a, 0x00, 0x06, 0x00, 0x0f};
    classFile.resize(400, 0);
    Bytes wrap = twoSliceFat(true);
    putU64(wrap, fat64Entry(0) + 8, 0xfffffffffffff000ull, true);
    putU64(wrap, fat64Entry(0) + 16, 0x2000, true);
    Bytes huge = twoSliceFat(true);
    putU64(huge, fat64Entry(1) + 16, ~0ull, true);
    // A slice inside a later-listed, longer one, found although the entries are not in file order.
    Bytes nested =
        with(test::fatMachO({{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}, {CPU_TYPE_I386, 3}}),
             {{fatEntry(1) + 8, 4096}, {fatEntry(1) + 12, 3 * 4096}, {fatEntry(0) + 8, 8192}, {fatEntry(0) + 12, 64}});
    Bytes shortSlice = cut(test::thinMachO(CPU_TYPE_X86_64, 3), 20);

    const std::pair<Bytes, std::string> cases[] = {
        {{}, "not a Mach-O file"},
        {{0xfe, 0xed, 0xfa}, "not a Mach-O file"},
        {{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, "not a Mach-O file"},
        {swapped, "not a Mach-O file"},
        {classFile, "not a Mach-O file"},
        {with(Bytes(8 + 20 * 31 + 4096, 0), {{0, FAT_MAGIC}, {4, 31}}), "Java class file"},
        {cut(test::thinMachO(CPU_TYPE_X86_64, 3), 31), "mach header extends past the end of the file"},
        {cut(test::thinMachO(CPU_TYPE_I386, 3), 27), "mach header extends past the end of the file"},
        {{0xca, 0xfe, 0xba, 0xbf, 0x00, 0x00}, "fat header extends past the end of the file"},
        {cut(twoSliceFat(), 8 + 20 + 10), "fat_arch structs would extend past the end of the file"},
        {cut(twoSliceFat(true), 8 + 32 + 10), "fat_arch_64 structs would extend past the end of the file"},
        {with(twoSliceFat(true), {{4, 0xfffffff0u}}), "fat_arch_64 structs would extend past the end of the file"},
        {with(twoSliceFat(), {{4, 0xfffffff0u}}), "not a Mach-O file"},
        {with(twoSliceFat(), {{4, 0}}), "contains zero architecture types"},
        {cut(twoSliceFat(), twoSliceFat().size() - 1),
         "truncated or malformed fat file (offset plus size of slice 1 extends past the end of the file)"},
        {wrap, "offset plus size of slice 0 extends past the end of the file"},
        {huge, "slice 1 extends past the end"},
        {with(twoSliceFat(), {{fatEntry(1) + 8, 4096 + 2048}, {fatEntry(1) + 16, 11}}), "slice 0 and slice 1 overlap"},
        {nested, "overlap"},
        {with(twoSliceFat(), {{fatEntry(0) + 8, 0}, {fatEntry(0) + 16, 0}}),
         "slice 0 at offset 0 overlaps the fat header"},
        {with(twoSliceFat(), {{fatEntry(0) + 16, 16}}), "align (2^16) too large for slice 0 (maximum 2^15)"},
        // 8192 is 2^13-aligned, 4096 is not.
        {with(twoSliceFat(), {{fatEntry(1) + 16, 13}, {fatEntry(0) + 16, 13}}),
         "offset 4096 of slice 0 is not aligned on its alignment (2^13)"},
        // 2^63 alignment in a fat_arch_64 file would shift past the word.
        {with(twoSliceFat(true), {{fat64Entry(0) + 24, 63}}), "too large"},
        {test::fatMachO({{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
                         {CPU_TYPE_X86_64, 3},
                         {CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E | CPU_SUBTYPE_PTRAUTH_ABI}}),
         "slice 0 and slice 2 are of the same architecture (arm64e)"},
        {test::fatMachO({test::thinMachO(CPU_TYPE_ARM64, 0), shortSlice}, {{CPU_TYPE_ARM64, 0}, {CPU_TYPE_X86_64, 3}}),
         "the mach header of slice 1 extends past the end of the slice"},
        {test::fatMachO({test::thinMachO(CPU_TYPE_ARM64, 0)}, {{CPU_TYPE_X86_64, 3}}),
         "slice 0 holds cputype 16777228 but its fat entry says 16777223"},
    };
    int i = 0;
    for (const auto& [bytes, message] : cases) EXPECT_NE(rejection(bytes).find(message), std::string::npos) << i++;
}

// --- load commands ---------------------------------------------------------------------------------

TEST(MachOLoadCommands, ListsCommandsInOrderWithSliceRelativeOffsets) {
    Bytes image = test::thinMachO(CPU_TYPE_ARM64, 0);
    test::addLoadCommand(image, LC_UUID, Bytes(16, 0xab));
    test::addLoadCommand(image, LC_CODE_SIGNATURE, Bytes(8, 0));
    Bytes ppc = test::thinMachO(CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_970);
    test::addLoadCommand(ppc, LC_VERSION_MIN_MACOSX, Bytes(8, 0));
    const std::vector<std::string> arm64 = {"25 at 32+72", "27 at 104+24", "29 at 128+16"};
    const std::tuple<const char*, Bytes, std::vector<std::string>> rows[] = {
        {"thin", image, arm64},
        {"second slice of a fat file",
         test::fatMachO({test::thinMachO(CPU_TYPE_X86_64, 3), image}, {{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}}),
         arm64},
        {"big-endian 32-bit", ppc, {"1 at 28+56", "36 at 84+16"}},
    };
    for (const auto& [what, file, expected] : rows) {
        SCOPED_TRACE(what);
        auto commands = parseLoadCommands(view(file), parsed(file).slices.back());
        ASSERT_TRUE(commands.ok()) << commands.error();
        std::vector<std::string> got;
        for (const auto& c : *commands)
            got.push_back(std::to_string(c.cmd) + " at " + std::to_string(c.offset) + "+" + std::to_string(c.cmdsize));
        EXPECT_EQ(got, expected);
    }
}

// Each table that lies is refused with its sentence; sizeofcmds is bounded by the slice, not the file.
TEST(MachOLoadCommands, MalformedTables) {
    auto thin = [](std::size_t at, std::uint32_t value) {
        Bytes b = test::thinMachO(CPU_TYPE_X86_64, 3);  // 4096 bytes, one 72-byte segment
        putU32(b, at, value, false);
        return b;
    };
    Bytes archive(200, 0);
    std::copy_n("!<arch>\n", 8, archive.begin());
    const std::vector<std::pair<std::int32_t, std::int32_t>> types = {{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}};
    const std::tuple<const char*, Bytes, const char*> rows[] = {
        {"sizeofcmds past the file", thin(20, 5000), "load commands extend past the end of the file"},
        {"zero cmdsize", thin(32 + 4, 0), "load command 0 with size less than 8 bytes"},
        {"cmdsize past sizeofcmds", thin(32 + 4, 80), "load command 0 extends past the end of all load commands"},
        {"more commands than sizeofcmds holds", thin(16, 2),
         "load command 1 extends past the end of all load commands"},
        {"ncmds in the billions", thin(16, 0xffffffffu), "load command 1 extends past the end of all load commands"},
        // Fits in the file, not in the 4096-byte slice after its header.
        {"sizeofcmds past the slice", test::fatMachO({thin(20, 4096), test::thinMachO(CPU_TYPE_ARM64, 0)}, types),
         "load commands extend past the end of the slice"},
        {"a slice that is no Mach-O image", test::fatMachO({archive, test::thinMachO(CPU_TYPE_ARM64, 0)}, types),
         "the slice holds no Mach-O image"},
    };
    for (const auto& [what, file, message] : rows) {
        SCOPED_TRACE(what);
        auto commands = parseLoadCommands(view(file), parsed(file).slices.at(0));
        ASSERT_FALSE(commands.ok());
        EXPECT_NE(commands.error().find(message), std::string::npos) << commands.error();
        EXPECT_EQ(commands.error().rfind("truncated or malformed object (", 0), 0u) << commands.error();
    }
    MachOSlice outside;
    outside.offset = outside.size = 4096;
    EXPECT_FALSE(parseLoadCommands(view(Bytes(100, 0)), outside).ok());
}

TEST(ArchitectureNames, CapabilityBitsAreIgnoredAndUnknownPairsPrintUnsignedNumbers) {
    const std::tuple<std::int32_t, std::uint32_t, const char*> rows[] = {
        {CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL | CPU_SUBTYPE_LIB64, "x86_64"},
        {CPU_TYPE_ARM64, 0xc1000002, "arm64e"},
        {CPU_TYPE_ARM64, 0x80000003, "unknown(16777228,3)"},
        {CPU_TYPE_ARM, 3, "unknown(12,3)"},
        {CPU_TYPE_ANY, 0, "unknown(4294967295,0)"},
        {0, 0x7fffffff, "unknown(0,16777215)"},
    };
    for (const auto& [type, subtype, name] : rows)
        EXPECT_EQ(architectureName(type, static_cast<std::int32_t>(subtype)), name) << subtype;
}

}  // namespace
}  // namespace tessarin
