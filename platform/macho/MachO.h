// Mach-O and fat (universal) headers: the slices of a file, their CPU types and load commands.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/Bytes.h"
#include "base/Result.h"
#include "macho/MachOConstants.h"

namespace tessarin {

struct LoadCommand {
    std::uint32_t cmd = 0;
    std::uint32_t cmdsize = 0;
    std::uint64_t offset = 0;  // of the command, from the start of its slice
};

struct MachOSlice {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;  // as stored, capability bits included
    std::uint64_t offset = 0;     // of the slice within the file (0 for a thin file)
    std::uint64_t size = 0;       // of the slice
    bool is64 = false;
    bool bigEndian = false;
    std::uint32_t filetype = 0;
    std::uint32_t ncmds = 0;
    std::uint32_t sizeofcmds = 0;
    std::uint32_t flags = 0;
    // False for a fat slice that holds something other than a Mach-O image (a static library
    // archive, say): only cputype, cpusubtype, offset and size are then meaningful.
    bool machO = true;
};

struct MachOFile {
    bool fat = false;
    bool fat64 = false;
    std::vector<MachOSlice> slices;  // in the order the file gives them
};

// Reads a thin or fat Mach-O file's headers. Malformed input gives an error sentence in the format's
// own terms; nothing is allocated from the file's counts before they are bounded by its size.
// Slices are numbered from 0 in messages, in the order of the fat entries.
Result<MachOFile> parseMachO(ByteSpan bytes);

// The load commands of one slice, checked against the slice's bounds and sizeofcmds.
Result<std::vector<LoadCommand>> parseLoadCommands(ByteSpan fileBytes, const MachOSlice& slice);

// The name Apple's lipo prints for a CPU type and subtype (capability bits are masked off here).
std::string architectureName(std::int32_t cputype, std::int32_t cpusubtype);

}  // namespace tessarin
