// The lipo stand-in against llvm-lipo-14 on generated and real files, and its handling of bad input.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "MachOBuilder.h"
#include "TempDir.h"
#include "ToolRun.h"
#include "macho/MachO.h"

namespace tessarin {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

constexpr const char* kLlvmLipo = "/usr/bin/llvm-lipo-14";

using test::ToolRun;
ToolRun run(const std::string& program, const std::vector<std::string>& args) {
    return test::runProgram(program, args);
}
ToolRun lipo(const std::vector<std::string>& args) { return run(test::standinDirectory() + "/lipo", args); }
bool haveLlvmLipo() { return ::access(kLlvmLipo, X_OK) == 0; }

#define REQUIRE_LLVM_LIPO() \
    if (!haveLlvmLipo()) GTEST_SKIP() << kLlvmLipo << " is not installed (scripts/install-deps.sh installs llvm-14)"

struct Named {
    std::int32_t cputype;
    std::int32_t cpusubtype;
    const char* name;
};

// Every pair lipo has a name for, with the name it prints.
const Named kAppleNames[] = {
    {CPU_TYPE_I386, 3, "i386"},        {CPU_TYPE_I386, 4, "i486"},
    {CPU_TYPE_I386, 0x84, "i486SX"},   {CPU_TYPE_I386, 5, "pentium"},
    {CPU_TYPE_I386, 0x16, "pentpro"},  {CPU_TYPE_I386, 0x36, "pentIIm3"},
    {CPU_TYPE_I386, 0x56, "pentIIm5"}, {CPU_TYPE_I386, 10, "pentium4"},
    {CPU_TYPE_X86_64, 3, "x86_64"},    {CPU_TYPE_X86_64, 8, "x86_64h"},
    {CPU_TYPE_ARM64, 0, "arm64"},      {CPU_TYPE_ARM64, 1, "arm64v8"},
    {CPU_TYPE_ARM64, 2, "arm64e"},     {CPU_TYPE_ARM64_32, 1, "arm64_32"},
    {CPU_TYPE_ARM, 0, "arm"},          {CPU_TYPE_ARM, 5, "armv4t"},
    {CPU_TYPE_ARM, 6, "armv6"},        {CPU_TYPE_ARM, 7, "armv5"},
    {CPU_TYPE_ARM, 8, "xscale"},       {CPU_TYPE_ARM, 9, "armv7"},
    {CPU_TYPE_ARM, 10, "armv7f"},      {CPU_TYPE_ARM, 11, "armv7s"},
    {CPU_TYPE_ARM, 12, "armv7k"},      {CPU_TYPE_ARM, 14, "armv6m"},
    {CPU_TYPE_ARM, 15, "armv7m"},      {CPU_TYPE_ARM, 16, "armv7em"},
    {CPU_TYPE_POWERPC, 0, "ppc"},      {CPU_TYPE_POWERPC, 1, "ppc601"},
    {CPU_TYPE_POWERPC, 3, "ppc603"},   {CPU_TYPE_POWERPC, 4, "ppc603e"},
    {CPU_TYPE_POWERPC, 5, "ppc603ev"}, {CPU_TYPE_POWERPC, 6, "ppc604"},
    {CPU_TYPE_POWERPC, 7, "ppc604e"},  {CPU_TYPE_POWERPC, 8, "ppc620"},
    {CPU_TYPE_POWERPC, 9, "ppc750"},   {CPU_TYPE_POWERPC, 10, "ppc7400"},
    {CPU_TYPE_POWERPC, 11, "ppc7450"}, {CPU_TYPE_POWERPC, 100, "ppc970"},
    {CPU_TYPE_POWERPC64, 0, "ppc64"},  {CPU_TYPE_POWERPC64, 100, "ppc970-64"},
    {CPU_TYPE_MC680x0, 1, "m68k"},     {CPU_TYPE_MC680x0, 2, "m68040"},
    {CPU_TYPE_MC680x0, 3, "m68030"},   {CPU_TYPE_MC88000, 0, "m88k"},
    {CPU_TYPE_HPPA, 0, "hppa"},        {CPU_TYPE_HPPA, 1, "hppa7100LC"},
    {CPU_TYPE_SPARC, 0, "sparc"},      {CPU_TYPE_I860, 0, "i860"},
    {CPU_TYPE_VEO, 1, "veo1"},         {CPU_TYPE_VEO, 2, "veo"},
    {CPU_TYPE_VEO, 3, "veo3"},         {CPU_TYPE_VEO, 4, "veo4"},
};

// llvm-lipo's own spellings for three ARM subtypes; everywhere else a name it prints is lipo's.
const std::set<std::string> kLlvmOnlySpellings = {"armv5e", "thumbv7m", "thumbv7em"};

// Pairs no lipo has a name for, and named pairs with capability bits set.
// clang-format off
const std::pair<std::int32_t, std::int32_t> kUnnamedPairs[] = {
    {CPU_TYPE_I386, 0}, {CPU_TYPE_I386, 7}, {CPU_TYPE_X86_64, 4}, {CPU_TYPE_X86_64, std::int32_t(0x80000003)},
    {CPU_TYPE_X86_64, std::int32_t(0x80000008)}, {CPU_TYPE_ARM, 3}, {CPU_TYPE_ARM, 13}, {CPU_TYPE_ARM, 17},
    {CPU_TYPE_ARM, std::int32_t(0x01000009)}, {CPU_TYPE_ARM64, 3}, {CPU_TYPE_ARM64, std::int32_t(0x80000002)},
    {CPU_TYPE_ARM64, std::int32_t(0xc1000002)}, {CPU_TYPE_ARM64, std::int32_t(0x80000003)}, {CPU_TYPE_ARM64_32, 0},
    {CPU_TYPE_POWERPC, 2}, {CPU_TYPE_POWERPC64, 1}, {CPU_TYPE_VAX, 0}, {CPU_TYPE_MC98000, 0}, {16, 0}, {99, 3},
    {CPU_TYPE_ANY, 0}, {CPU_TYPE_ANY, 3}, {0x01000000, 0}, {0x0100000e, 0}};
// clang-format on

std::string writeTemp(const test::TempDir& dir, const std::string& name, const Bytes& bytes) {
    const std::string path = dir / name;
    test::writeFile(path, bytes);
    return path;
}

void expectSameAsLlvm(const std::string& path, const std::string& option = "-archs") {
    ToolRun ours = lipo({option, path});
    ToolRun theirs = run(kLlvmLipo, {option, path});
    EXPECT_EQ(ours.out, theirs.out) << path;
    EXPECT_EQ(ours.status, theirs.status) << path << ": " << ours.err << " / " << theirs.err;
}

// --- names, one thin file per pair -----------------------------------------------------------------

TEST(LipoArchs, PrintsLiposNameForEveryKnownPairAndLlvmLiposForTheRest) {
    REQUIRE_LLVM_LIPO();
    test::TempDir dir;
    int compared = 0, llvmUnnamed = 0, llvmRespelled = 0;
    for (const Named& n : kAppleNames) {
        SCOPED_TRACE(n.name);
        const std::string path = writeTemp(dir, n.name, test::thinMachO(n.cputype, n.cpusubtype));
        ToolRun ours = lipo({"-archs", path});
        EXPECT_EQ(ours.status, 0) << ours.err;
        EXPECT_EQ(ours.out, std::string(n.name) + " \n");
        EXPECT_EQ(ours.err, "");
        ToolRun theirs = run(kLlvmLipo, {"-archs", path});
        EXPECT_EQ(theirs.status, 0) << theirs.err;
        const std::string theirName = theirs.out.substr(0, theirs.out.find(' '));
        if (theirName.rfind("unknown(", 0) == 0) {
            ++llvmUnnamed;
        } else if (kLlvmOnlySpellings.count(theirName)) {
            ++llvmRespelled;
        } else {
            EXPECT_EQ(ours.out, theirs.out);
            ++compared;
        }
    }
    // Guards against llvm-lipo changing under us so that nothing is compared any more.
    EXPECT_GE(compared, 12);
    RecordProperty("compared", compared);
    RecordProperty("llvmUnnamed", llvmUnnamed);
    RecordProperty("llvmRespelled", llvmRespelled);
    // Pairs without a name print as llvm-lipo prints them.
    int i = 0;
    for (auto [type, subtype] : kUnnamedPairs) {
        SCOPED_TRACE(std::to_string(type) + "," + std::to_string(subtype));
        expectSameAsLlvm(writeTemp(dir, "pair" + std::to_string(i++), test::thinMachO(type, subtype)));
    }
}

// --- fat files -------------------------------------------------------------------------------------

TEST(LipoArchs, FatFilesListSlicesInFileOrder) {
    REQUIRE_LLVM_LIPO();
    test::TempDir dir;
    // All pairs llvm-lipo names as lipo does, plus unnamed ones, in one file of each entry size.
    // clang-format off
    std::vector<std::pair<std::int32_t, std::int32_t>> types = {
        {CPU_TYPE_ARM64, 2}, {CPU_TYPE_X86_64, 3}, {CPU_TYPE_X86_64, 8}, {CPU_TYPE_I386, 3}, {CPU_TYPE_ARM64, 0},
        {CPU_TYPE_ARM64_32, 1}, {CPU_TYPE_ARM, 9}, {CPU_TYPE_ARM, 11}, {CPU_TYPE_ARM, 12}, {CPU_TYPE_ARM, 6},
        {CPU_TYPE_ARM, 5}, {CPU_TYPE_ARM, 8}, {CPU_TYPE_ARM, 14}, {CPU_TYPE_POWERPC, 0}, {CPU_TYPE_POWERPC64, 0},
        {CPU_TYPE_ARM, 3}, {99, 7}, {CPU_TYPE_ANY, 0}};
    // clang-format on
    for (bool fat64 : {false, true}) {
        SCOPED_TRACE(fat64 ? "fat_arch_64" : "fat_arch");
        const std::string path = writeTemp(dir, "fat", test::fatMachO(types, fat64));
        expectSameAsLlvm(path);
        expectSameAsLlvm(path, "-info");
        ToolRun ours = lipo({"-archs", path});
        EXPECT_EQ(ours.out.rfind("arm64e x86_64 x86_64h i386 arm64 arm64_32 armv7 ", 0), 0u) << ours.out;
    }
    const std::string single = writeTemp(dir, "single", test::fatMachO({{CPU_TYPE_X86_64, 3}}));
    expectSameAsLlvm(single);
    expectSameAsLlvm(single, "-info");
}

TEST(LipoInfo, DescribesFatAndThinFilesWithNamesOnlyLipoKnows) {
    test::TempDir dir;
    const std::string fat = writeTemp(dir, "fat", test::fatMachO({{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}}));
    const std::string thin = writeTemp(dir, "thin", test::thinMachO(CPU_TYPE_X86_64, 3));
    ToolRun f = lipo({"-info", fat});
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.out, "Architectures in the fat file: " + fat + " are: x86_64 arm64 \n");
    // lipo ends the thin line at the name; llvm-lipo adds a blank there.
    ToolRun t = lipo({"-info", thin});
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.out, "Non-fat file: " + thin + " is architecture: x86_64\n");
    EXPECT_EQ(lipo({"-info", thin, fat}).out, t.out + f.out);
    // Options may follow the file, as lipo allows.
    EXPECT_EQ(lipo({thin, "-info"}).out, t.out);
    const std::string old = writeTemp(
        dir, "old",
        test::fatMachO({{CPU_TYPE_POWERPC, 10}, {CPU_TYPE_I386, 3}, {CPU_TYPE_POWERPC64, 100}, {CPU_TYPE_ARM, 7}}));
    EXPECT_EQ(lipo({"-archs", old}).out, "ppc7400 i386 ppc970-64 armv5 \n");
}

// --- files lipo refuses ----------------------------------------------------------------------------

// Each refusal is one line on standard error naming the file and why; a bad command line prints usage.
TEST(LipoRefuses, WhatIsNotAReadableMachOFileOrABadCommandLine) {
    test::TempDir dir;
    Bytes classFile = {0xca, 0xfe, 0xba, 0xbe, 0x00, 0x00, 0x00, 0x37};
    classFile.resize(300, 0);
    // A FIFO with no writer would block a plain open; the tool must refuse it at once.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string locked = writeTemp(dir, "locked", test::thinMachO(CPU_TYPE_X86_64, 3));
    ::chmod(locked.c_str(), 0);
    const std::pair<std::string, std::string> refused[] = {
        {writeTemp(dir, "script", Bytes{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}), "not a Mach-O file"},
        {writeTemp(dir, "empty", Bytes{}), "not a Mach-O file"},
        {writeTemp(dir, "Main.class", classFile), "not a Mach-O file"},
        {dir / "absent", "No such file or directory"},
        {dir.path(), "is a directory"},
        {dir / "fifo", "not a regular file"},
        {"/dev/null", "not a regular file"},
        {locked, ::geteuid() == 0 ? "" : "Permission denied"},  // root reads any file
    };
    for (const auto& [path, reason] : refused) {
        if (reason.empty()) continue;
        ToolRun ours = lipo({"-archs", path});
        EXPECT_NE(ours.status, 0) << path;
        EXPECT_EQ(ours.out, "");
        EXPECT_NE(ours.err.find(path), std::string::npos) << ours.err;
        EXPECT_NE(ours.err.find(reason), std::string::npos) << ours.err;
        EXPECT_EQ(std::count(ours.err.begin(), ours.err.end(), '\n'), 1) << ours.err;
        if (reason == "not a Mach-O file" && haveLlvmLipo()) {
            EXPECT_NE(run(kLlvmLipo, {"-archs", path}).status, 0);
        }
    }
    const std::string thin = writeTemp(dir, "thin", test::thinMachO(CPU_TYPE_X86_64, 3));
    const std::vector<std::vector<std::string>> lines = {
        {}, {"-archs"}, {thin}, {"-archs", thin, thin}, {"-bogus", thin}, {"-archs", "-info", thin}};
    for (const auto& args : lines) {
        ToolRun r = lipo(args);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: lipo -archs"), std::string::npos) << r.err;
    }
}

// --- real files made by others ---------------------------------------------------------------------

TEST(LipoSamples, AgreesWithLlvmLipoOnRealMachOFiles) {
    REQUIRE_LLVM_LIPO();
    const fs::path samples = fs::path(TESSARIN_MACHO_SAMPLES_DIR) / "macho";
    std::error_code ec;
    if (!fs::is_directory(samples, ec) || fs::is_empty(samples, ec))
        GTEST_SKIP() << "no real Mach-O samples in " << samples << " (scripts/fetch-samples.sh gathers them)";
    int compared = 0, llvmRejected = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ToolRun ours = lipo({"-archs", path});
        ToolRun theirs = run(kLlvmLipo, {"-archs", path});
        if (theirs.status == 0 || ours.status != 0) {
            EXPECT_EQ(ours.out, theirs.out);
            EXPECT_EQ(ours.status, theirs.status) << ours.err;
            ++compared;
            continue;
        }
        // llvm-lipo also checks symbol tables; lipo, reading headers only, still names the slices.
        EXPECT_NE(theirs.err.find("symbol table"), std::string::npos) << theirs.err;
        EXPECT_NE(ours.out, "");
        EXPECT_EQ(ours.out.back(), '\n');
        ++llvmRejected;
    }
    EXPECT_GT(compared, 0);
    RecordProperty("compared", compared);
    RecordProperty("llvmRejected", llvmRejected);
}

}  // namespace
}  // namespace tessarin
