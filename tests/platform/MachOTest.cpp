// The Mach-O header reader over built files and hand-corrupted variants of them.
#include <gtest/gtest.h>

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

// --- thin files ------------------------------------------------------------------------------------

TEST(MachOThin, ReadsEachWordSizeAndByteOrder) {
    struct Case {
        bool is64, bigEndian;
    };
    for (Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.is64 ? "64" : "32") + (c.bigEndian ? " big" : " little"));
        test::SliceSpec slice{CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_7400, c.is64, c.bigEndian, MH_DYLIB};
        Bytes b = test::thinMachO(slice, 5000);
        MachOFile f = parsed(b);
        EXPECT_FALSE(f.fat);
        ASSERT_EQ(f.slices.size(), 1u);
        const MachOSlice& s = f.slices[0];
        EXPECT_EQ(s.cputype, CPU_TYPE_POWERPC);
        EXPECT_EQ(s.cpusubtype, CPU_SUBTYPE_POWERPC_7400);
        EXPECT_EQ(s.is64, c.is64);
        EXPECT_EQ(s.bigEndian, c.bigEndian);
        EXPECT_EQ(s.filetype, MH_DYLIB);
        EXPECT_EQ(s.ncmds, 1u);
        EXPECT_EQ(s.sizeofcmds, c.is64 ? 72u : 56u);
        EXPECT_EQ(s.offset, 0u);
        EXPECT_EQ(s.size, 5000u);
        EXPECT_TRUE(s.machO);
    }
}

// --- fat files -------------------------------------------------------------------------------------

TEST(MachOFat, ListsSlicesInEntryOrderWithTheirPlaces) {
    for (bool fat64 : {false, true}) {
        SCOPED_TRACE(fat64 ? "fat_arch_64" : "fat_arch");
        Bytes b = test::fatMachO({{CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E},
                                  {CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H},
                                  {CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_ALL}},
                                 fat64);
        MachOFile f = parsed(b);
        EXPECT_TRUE(f.fat);
        EXPECT_EQ(f.fat64, fat64);
        ASSERT_EQ(f.slices.size(), 3u);
        EXPECT_EQ(f.slices[0].cputype, CPU_TYPE_ARM64);
        EXPECT_EQ(f.slices[0].cpusubtype, CPU_SUBTYPE_ARM64E);
        EXPECT_EQ(f.slices[1].cputype, CPU_TYPE_X86_64);
        EXPECT_EQ(f.slices[1].cpusubtype, CPU_SUBTYPE_X86_64_H);
        EXPECT_EQ(f.slices[2].cputype, CPU_TYPE_POWERPC);
        EXPECT_TRUE(f.slices[2].bigEndian);
        EXPECT_FALSE(f.slices[2].is64);
        EXPECT_TRUE(f.slices[0].is64);
        EXPECT_FALSE(f.slices[0].bigEndian);
        EXPECT_EQ(f.slices[0].offset, 4096u);
        EXPECT_EQ(f.slices[1].offset, 8192u);
        EXPECT_EQ(f.slices[2].offset, 12288u);
        for (const auto& s : f.slices) EXPECT_EQ(s.size, 4096u);
        EXPECT_EQ(f.slices[1].sizeofcmds, 72u);
    }
}

TEST(MachOFat, AcceptsSlicesThatAreNotMachOImages) {
    // Universal static libraries: each slice is an ar archive.
    Bytes archive(200, 0);
    std::copy_n("!<arch>\n", 8, archive.begin());
    Bytes b = test::fatMachO({archive, test::thinMachO(CPU_TYPE_ARM64, 0)},
                             {{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL}, {CPU_TYPE_ARM64, 0}});
    MachOFile f = parsed(b);
    ASSERT_EQ(f.slices.size(), 2u);
    EXPECT_FALSE(f.slices[0].machO);
    EXPECT_TRUE(f.slices[0].is64);
    EXPECT_EQ(f.slices[0].cputype, CPU_TYPE_X86_64);
    EXPECT_TRUE(f.slices[1].machO);
    auto commands = parseLoadCommands(view(b), f.slices[0]);
    EXPECT_FALSE(commands.ok());
}

// Files whose slices are read as they stand: a subtype's capability bits kept, a bare header (lipo
// reads only headers), a fat entry's subtype where the header differs (the loader picks slices by
// their entries), and thirty entries.
TEST(MachOSlices, EachFileNamesItsFirstSliceAsItsHeadersSay) {
    Bytes bare(28, 0);
    putU32(bare, 0, MH_MAGIC, false);
    putU32(bare, 4, CPU_TYPE_I386, false);
    putU32(bare, 8, CPU_SUBTYPE_I386_ALL, false);
    std::vector<std::pair<std::int32_t, std::int32_t>> thirty;
    for (int i = 0; i < 30; ++i) thirty.push_back({100 + i, 0});
    const std::tuple<const char*, Bytes, std::int32_t, std::uint32_t, std::size_t> rows[] = {
        {"capability bits", test::thinMachO(CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E | CPU_SUBTYPE_PTRAUTH_ABI),
         CPU_TYPE_ARM64, 0x80000002u, 1},
        {"a bare header", bare, CPU_TYPE_I386, CPU_SUBTYPE_I386_ALL, 1},
        {"the entry's subtype",
         test::fatMachO({test::thinMachO(CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL)},
                        {{CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H}}),
         CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_H, 1},
        {"thirty entries", test::fatMachO(thirty), 100, 0, 30},
    };
    for (const auto& [what, bytes, cputype, cpusubtype, count] : rows) {
        SCOPED_TRACE(what);
        MachOFile f = parsed(bytes);
        ASSERT_EQ(f.slices.size(), count);
        EXPECT_EQ(f.slices[0].cputype, cputype);
        EXPECT_EQ(static_cast<std::uint32_t>(f.slices[0].cpusubtype), cpusubtype);
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
    const std::size_t uuid = test::addLoadCommand(image, LC_UUID, Bytes(16, 0xab));
    const std::size_t sig = test::addLoadCommand(image, LC_CODE_SIGNATURE, Bytes(8, 0));
    Bytes fat =
        test::fatMachO({test::thinMachO(CPU_TYPE_X86_64, 3), image}, {{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}});
    for (const Bytes* file : {&image, &fat}) {
        MachOFile f = parsed(*file);
        const MachOSlice& s = f.slices.back();
        auto commands = parseLoadCommands(view(*file), s);
        ASSERT_TRUE(commands.ok()) << commands.error();
        ASSERT_EQ(commands->size(), 3u);
        EXPECT_EQ((*commands)[0].cmd, LC_SEGMENT_64);
        EXPECT_EQ((*commands)[0].offset, 32u);
        EXPECT_EQ((*commands)[1].cmd, LC_UUID);
        EXPECT_EQ((*commands)[1].cmdsize, 24u);
        EXPECT_EQ((*commands)[1].offset, uuid);
        EXPECT_EQ((*commands)[2].cmd, LC_CODE_SIGNATURE);
        EXPECT_EQ((*commands)[2].offset, sig);
    }
}

TEST(MachOLoadCommands, BigEndian32BitCommands) {
    Bytes image = test::thinMachO(CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_970);
    test::addLoadCommand(image, LC_VERSION_MIN_MACOSX, Bytes(8, 0));
    MachOFile f = parsed(image);
    auto commands = parseLoadCommands(view(image), f.slices[0]);
    ASSERT_TRUE(commands.ok()) << commands.error();
    ASSERT_EQ(commands->size(), 2u);
    EXPECT_EQ((*commands)[0].cmd, LC_SEGMENT);
    EXPECT_EQ((*commands)[0].cmdsize, 56u);
    EXPECT_EQ((*commands)[1].cmd, LC_VERSION_MIN_MACOSX);
    EXPECT_EQ((*commands)[1].offset, 28u + 56u);
}

TEST(MachOLoadCommands, MalformedTables) {
    struct Case {
        const char* what;
        void (*corrupt)(Bytes&);
        const char* message;
    };
    const Case cases[] = {
        {"sizeofcmds past the file", [](Bytes& b) { putU32(b, 20, 5000, false); },
         "load commands extend past the end of the file"},
        {"zero cmdsize", [](Bytes& b) { putU32(b, 32 + 4, 0, false); }, "load command 0 with size less than 8 bytes"},
        {"cmdsize past sizeofcmds", [](Bytes& b) { putU32(b, 32 + 4, 80, false); },
         "load command 0 extends past the end of all load commands"},
        {"more commands than sizeofcmds holds", [](Bytes& b) { putU32(b, 16, 2, false); },
         "load command 1 extends past the end of all load commands"},
        {"ncmds in the billions", [](Bytes& b) { putU32(b, 16, 0xffffffffu, false); },
         "load command 1 extends past the end of all load commands"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = test::thinMachO(CPU_TYPE_X86_64, 3);  // 4096 bytes, one 72-byte segment
        c.corrupt(b);
        MachOFile f = parsed(b);
        ASSERT_EQ(f.slices.size(), 1u);
        auto commands = parseLoadCommands(view(b), f.slices[0]);
        ASSERT_FALSE(commands.ok());
        EXPECT_NE(commands.error().find(c.message), std::string::npos) << commands.error();
        EXPECT_EQ(commands.error().rfind("truncated or malformed object (", 0), 0u) << commands.error();
    }
}

TEST(MachOLoadCommands, SizeofcmdsIsBoundedByTheSliceNotTheFile) {
    Bytes first = test::thinMachO(CPU_TYPE_X86_64, 3);
    putU32(first, 20, 4096, false);  // fits in the file, not in the 4096-byte slice after its header
    Bytes fat =
        test::fatMachO({first, test::thinMachO(CPU_TYPE_ARM64, 0)}, {{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}});
    MachOFile f = parsed(fat);
    ASSERT_EQ(f.slices.size(), 2u);
    auto commands = parseLoadCommands(view(fat), f.slices[0]);
    ASSERT_FALSE(commands.ok());
    EXPECT_NE(commands.error().find("load commands extend past the end of the slice"), std::string::npos);
}

TEST(MachOLoadCommands, SliceOutsideTheBytesGiven) {
    MachOSlice s;
    s.offset = 4096;
    s.size = 4096;
    Bytes small(100, 0);
    EXPECT_FALSE(parseLoadCommands(view(small), s).ok());
}

// --- names -----------------------------------------------------------------------------------------

TEST(ArchitectureNames, CapabilityBitsAreIgnored) {
    EXPECT_EQ(architectureName(CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL | CPU_SUBTYPE_LIB64), "x86_64");
    EXPECT_EQ(architectureName(CPU_TYPE_ARM64, static_cast<std::int32_t>(0xc1000002)), "arm64e");
    EXPECT_EQ(architectureName(CPU_TYPE_ARM64, static_cast<std::int32_t>(0x80000003)), "unknown(16777228,3)");
}

TEST(ArchitectureNames, UnknownPairsPrintUnsignedNumbers) {
    EXPECT_EQ(architectureName(CPU_TYPE_ARM, 3), "unknown(12,3)");
    EXPECT_EQ(architectureName(CPU_TYPE_ANY, 0), "unknown(4294967295,0)");
    EXPECT_EQ(architectureName(0, 0x7fffffff), "unknown(0,16777215)");
}

}  // namespace
}  // namespace tessarin
