// Builds Mach-O and fat files for tests, in either byte order and word size.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tessarin::test {

using Bytes = std::vector<std::uint8_t>;

struct SliceSpec {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
    bool is64 = false;
    bool bigEndian = false;
    std::uint32_t filetype = 2;  // MH_EXECUTE
};

// A minimal thin file: header, one LC_SEGMENT(_64) "__TEXT" covering the file, padded to `size`
// bytes (at least the header and its command).
Bytes thinMachO(const SliceSpec& slice, std::size_t size = 4096);
// Word size and byte order follow the CPU type (64-bit for ABI64 types; PowerPC big-endian).
Bytes thinMachO(std::int32_t cputype, std::int32_t cpusubtype);

// A fat file holding the given slices, each aligned to 2^align bytes; `fat64` writes fat_arch_64.
Bytes fatMachO(const std::vector<Bytes>& slices, const std::vector<std::pair<std::int32_t, std::int32_t>>& types,
               bool fat64 = false, std::uint32_t align = 12);
// A fat file of thin slices for the given (cputype, cpusubtype) pairs.
Bytes fatMachO(const std::vector<std::pair<std::int32_t, std::int32_t>>& types, bool fat64 = false);

// Appends a load command (cmd, cmdsize, then `payload`, padded to the word size) after the image's
// existing commands, writing over the zero padding that follows them, and updates ncmds and
// sizeofcmds. The image's magic tells its word size and byte order. Returns the command's offset.
std::size_t addLoadCommand(Bytes& image, std::uint32_t cmd, const Bytes& payload = {});

// An LC_SEGMENT(_64) command named `name` at `at`: vmaddr, vmsize, fileoff and filesize (`ranges`),
// then maxprot and initprot both `prot`, no sections.
void putSegment(Bytes& b, std::size_t at, const char* name, std::initializer_list<std::uint64_t> ranges,
                std::uint32_t prot, bool is64, bool bigEndian);

// Byte-order helpers for hand-built hostile files.
void putU32(Bytes& b, std::size_t offset, std::uint32_t v, bool bigEndian);
void putU64(Bytes& b, std::size_t offset, std::uint64_t v, bool bigEndian);
std::uint32_t getU32(const Bytes& b, std::size_t offset, bool bigEndian);

}  // namespace tessarin::test
